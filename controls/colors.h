#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>

// HLS colour arithmetic behind the oval button's bevel shading.
namespace kelvora {

// Three components in 0..1: (red, green, blue) or (hue, luminance, saturation).
using ColorTriple = std::array<double, 3>;

// Raised when an input component lies outside 0..1 (NaN included).
class EColorConv : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Hue sector corners, one row per sector starting at red, in (R, G, B) order.
inline constexpr std::array<std::array<int, 3>, 6> kHexagonCorners{{
    {1, -1, -1},  // red
    {1, 1, -1},   // yellow
    {-1, 1, -1},  // green
    {-1, 1, 1},   // cyan
    {-1, -1, 1},  // blue
    {1, -1, 1},   // magenta
}};

// (hue, luminance, saturation) -> (red, green, blue). Hue 1 and hue 0 are both red.
ColorTriple HLS2RGB(const ColorTriple &hls);
// (red, green, blue) -> (hue, luminance, saturation). Pure red gives hue 1.
ColorTriple RGB2HLS(const ColorTriple &rgb);

struct Rgb8 {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const Rgb8 &, const Rgb8 &) = default;
};

struct BevelColors {
    Rgb8 highlight;
    Rgb8 shadow;
};

// The light and dark bevel colours of a face colour; the button passes 5 and 4.
// Steps outside 0..10 are clamped, and so are channels, so any input is safe.
BevelColors ComputeBevelColors(Rgb8 colour, int lightSteps, int darkSteps);

// Rounds to the nearest integer, halves to the even neighbour (0.5 -> 0, 1.5 -> 2).
double RoundHalfEven(double value);

} // namespace kelvora

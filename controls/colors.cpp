#include "controls/colors.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace kelvora {

namespace {

constexpr double kGreyTolerance = 1e-8;
constexpr int kMaxSteps = 10;

// Written so that NaN fails too.
bool inUnitRange(double value)
{
    return value >= 0.0 && value <= 1.0;
}

void checkComponents(const ColorTriple &components, const char *function,
                     const std::array<const char *, 3> &names)
{
    for (std::size_t k = 0; k < components.size(); ++k) {
        if (!inUnitRange(components[k]))
            throw EColorConv(std::string(function) + ": 0 <= " + names[k] + " value <= 1 required");
    }
}

double clampUnit(double value)
{
    return std::clamp(value, 0.0, 1.0);
}

std::uint8_t toByte(double value)
{
    return static_cast<std::uint8_t>(std::clamp(RoundHalfEven(value), 0.0, 255.0));
}

} // namespace

double RoundHalfEven(double value)
{
    const double lower = std::floor(value);
    const double fraction = value - lower;
    if (fraction > 0.5)
        return lower + 1.0;
    if (fraction < 0.5)
        return lower;
    return std::fmod(lower, 2.0) == 0.0 ? lower : lower + 1.0;
}

ColorTriple HLS2RGB(const ColorTriple &hls)
{
    checkComponents(hls, "HLS2RGB", {"Hue", "Luminance", "Saturation"});
    const auto [hue, luminance, saturation] = hls;

    const double scaled = 6.0 * hue;
    const int sector = static_cast<int>(scaled) % 6;
    const int next = (sector + 1) % 6;
    const double fraction = scaled - std::trunc(scaled);

    ColorTriple rgb{};
    for (std::size_t k = 0; k < rgb.size(); ++k) {
        const double from = kHexagonCorners[sector][k];
        const double to = kHexagonCorners[next][k];
        double channel = ((to - from) * fraction + from) * saturation;
        if (luminance > 0.5)
            channel = luminance + (1.0 - luminance) * channel;
        else
            channel = (channel + 1.0) * luminance;
        rgb[k] = clampUnit(channel);
    }
    return rgb;
}

ColorTriple RGB2HLS(const ColorTriple &rgb)
{
    checkComponents(rgb, "RGB2HLS", {"Red", "Green", "Blue"});
    const auto [red, green, blue] = rgb;

    // Greys have no hue; compare on the -1..1 scale around mid-grey.
    const ColorTriple centred{2 * red - 1, 2 * green - 1, 2 * blue - 1};
    const double largestMagnitude =
        std::max({std::fabs(centred[0]), std::fabs(centred[1]), std::fabs(centred[2])});
    if (largestMagnitude < kGreyTolerance)
        return {0.0, 0.5, 0.0};
    const auto [lowest, highest] = std::minmax({centred[0], centred[1], centred[2]});
    if ((highest - lowest) / largestMagnitude < kGreyTolerance)
        return {0.0, red, 0.0};

    const double maximum = std::max({red, green, blue});
    const double minimum = std::min({red, green, blue});
    const double range = maximum - minimum;
    const double luminance = (maximum + minimum) / 2;
    const double saturation =
        luminance <= 0.5 ? range / (maximum + minimum) : range / (2 - maximum - minimum);

    const auto f = [&](double component) { return (component - minimum) / range; };
    double hue = 0;
    if (red <= green && red <= blue)
        hue = green > blue ? (2 + f(blue)) / 6 : (4 - f(green)) / 6;
    else if (green <= blue)
        hue = blue > red ? (4 + f(red)) / 6 : (6 - f(blue)) / 6;
    else
        hue = green < red ? f(green) / 6 : (2 - f(red)) / 6;

    return {clampUnit(hue), clampUnit(luminance), clampUnit(saturation)};
}

BevelColors ComputeBevelColors(Rgb8 colour, int lightSteps, int darkSteps)
{
    // Beyond 10 steps the factors leave 0..1 and byte arithmetic would wrap.
    const double light = (kMaxSteps - std::clamp(lightSteps, 0, kMaxSteps)) / 10.0;
    const double dark = (kMaxSteps - std::clamp(darkSteps, 0, kMaxSteps)) / 10.0;

    const auto lighten = [light](std::uint8_t channel) {
        return toByte(255.0 - RoundHalfEven((256.0 - channel) * light));
    };
    BevelColors colors;
    colors.highlight = {lighten(colour.red), lighten(colour.green), lighten(colour.blue)};

    ColorTriple hls = RGB2HLS({colour.red / 255.0, colour.green / 255.0, colour.blue / 255.0});
    hls[1] *= dark;
    const ColorTriple rgb = HLS2RGB(hls);
    colors.shadow = {toByte(rgb[0] * 255.0), toByte(rgb[1] * 255.0), toByte(rgb[2] * 255.0)};
    return colors;
}

} // namespace kelvora

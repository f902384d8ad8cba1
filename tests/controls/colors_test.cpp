#include "controls/colors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace kelvora {
namespace {

std::string messageOf(void (*call)())
{
    try {
        call();
    } catch (const EColorConv &error) {
        return error.what();
    }
    return "no exception";
}

TEST(Colors, BevelColorsOfFaceWhiteAndBlack)
{
    struct Case {
        Rgb8 face;
        Rgb8 highlight;
        Rgb8 shadow;
    };
    const Case cases[] = {
        {{192, 192, 192}, {223, 223, 223}, {115, 115, 115}},
        // (256 - 255) * 0.5 = 0.5 rounds to 0, so white stays white.
        {{255, 255, 255}, {255, 255, 255}, {153, 153, 153}},
        {{0, 0, 0}, {127, 127, 127}, {0, 0, 0}},
    };
    for (const Case &c : cases) {
        const BevelColors colors = ComputeBevelColors(c.face, 5, 4);
        EXPECT_EQ(colors.highlight, c.highlight) << int(c.face.red);
        EXPECT_EQ(colors.shadow, c.shadow) << int(c.face.red);
    }
}

TEST(Colors, ShadowKeepsHueOfAColouredFace)
{
    // Pure red darkened to 60 % luminance stays pure red in hue.
    const BevelColors colors = ComputeBevelColors({255, 0, 0}, 5, 4);
    EXPECT_EQ(colors.shadow, (Rgb8{153, 0, 0}));
    EXPECT_EQ(colors.highlight, (Rgb8{255, 127, 127}));
}

TEST(Colors, StepsOutsideRangeDoNotWrapBytes)
{
    const BevelColors noLight = ComputeBevelColors({0, 0, 0}, -3, 0);
    EXPECT_EQ(noLight.highlight, (Rgb8{0, 0, 0}));
    const BevelColors allLight = ComputeBevelColors({0, 0, 0}, 25, 20);
    EXPECT_EQ(allLight.highlight, (Rgb8{255, 255, 255}));
    EXPECT_EQ(allLight.shadow, (Rgb8{0, 0, 0}));
}

TEST(Colors, HueOneAndZeroAreBothRed)
{
    for (double hue : {0.0, 1.0}) {
        const ColorTriple rgb = HLS2RGB({hue, 0.5, 1.0});
        EXPECT_DOUBLE_EQ(rgb[0], 1.0);
        EXPECT_DOUBLE_EQ(rgb[1], 0.0);
        EXPECT_DOUBLE_EQ(rgb[2], 0.0);
    }
    const ColorTriple hls = RGB2HLS({1.0, 0.0, 0.0});
    EXPECT_DOUBLE_EQ(hls[0], 1.0);
    EXPECT_DOUBLE_EQ(hls[1], 0.5);
    EXPECT_DOUBLE_EQ(hls[2], 1.0);
}

TEST(Colors, SectorCornersRoundTrip)
{
    // Each hexagon corner at full saturation, then a few mixed colours.
    const ColorTriple colours[] = {
        {1, 1, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}, {1, 0, 1},
        {0.2, 0.4, 0.8}, {0.9, 0.3, 0.5}, {0.1, 0.7, 0.2}, {0.6, 0.6, 0.1}, {0.75, 0.5, 0.25},
    };
    for (const ColorTriple &rgb : colours) {
        const ColorTriple back = HLS2RGB(RGB2HLS(rgb));
        for (std::size_t k = 0; k < 3; ++k)
            EXPECT_NEAR(back[k], rgb[k], 1e-9) << rgb[0] << ' ' << rgb[1] << ' ' << rgb[2];
    }
    EXPECT_NEAR(RGB2HLS({1, 1, 0})[0], 1.0 / 6, 1e-12);
    EXPECT_NEAR(RGB2HLS({0, 1, 1})[0], 0.5, 1e-12);
    EXPECT_NEAR(RGB2HLS({0, 0, 1})[0], 4.0 / 6, 1e-12);
}

TEST(Colors, GreysHaveNoHueOrSaturation)
{
    const ColorTriple mid = RGB2HLS({0.5, 0.5, 0.5});
    EXPECT_EQ(mid, (ColorTriple{0.0, 0.5, 0.0}));
    const ColorTriple light = RGB2HLS({0.8, 0.8, 0.8});
    EXPECT_EQ(light, (ColorTriple{0.0, 0.8, 0.0}));
    const ColorTriple grey = HLS2RGB({0.3, 0.25, 0.0});
    EXPECT_EQ(grey, (ColorTriple{0.25, 0.25, 0.25}));
}

TEST(Colors, OutOfRangeComponentsRaiseWithTheirName)
{
    EXPECT_EQ(messageOf([] { HLS2RGB({0.5, 1.5, 0.5}); }), "HLS2RGB: 0 <= Luminance value <= 1 required");
    EXPECT_EQ(messageOf([] { HLS2RGB({-0.1, 1.5, 0.5}); }), "HLS2RGB: 0 <= Hue value <= 1 required");
    EXPECT_EQ(messageOf([] { HLS2RGB({0.5, 0.5, 2.0}); }), "HLS2RGB: 0 <= Saturation value <= 1 required");
    EXPECT_EQ(messageOf([] { RGB2HLS({1.0001, 0, 0}); }), "RGB2HLS: 0 <= Red value <= 1 required");
    EXPECT_EQ(messageOf([] { RGB2HLS({0, -1e-9, 0}); }), "RGB2HLS: 0 <= Green value <= 1 required");
    EXPECT_EQ(messageOf([] { RGB2HLS({0, 0, std::numeric_limits<double>::quiet_NaN()}); }),
              "RGB2HLS: 0 <= Blue value <= 1 required");
    EXPECT_EQ(messageOf([] { HLS2RGB({std::numeric_limits<double>::quiet_NaN(), 0.5, 0.5}); }),
              "HLS2RGB: 0 <= Hue value <= 1 required");
    EXPECT_EQ(messageOf([] { HLS2RGB({1, 1, 1}); RGB2HLS({0, 1, 0}); }), "no exception");
}

TEST(Colors, RoundHalfEven)
{
    const double cases[][2] = {{0.5, 0}, {1.5, 2}, {2.5, 2}, {2.5000001, 3}, {114.9, 115}, {-1.5, -2}};
    for (const auto &c : cases)
        EXPECT_EQ(RoundHalfEven(c[0]), c[1]) << c[0];
}

} // namespace
} // namespace kelvora

// Pictures resampled for the screen's dots per inch: smooth when they grow, averaged when
// they shrink, alpha kept apart from colour, and sizes bounded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

#include "framework/ImageScale.h"

namespace ks {
namespace {

CImageRgba Image(int width, int height, std::vector<std::uint32_t> pixels) {
    return CImageRgba{width, height, std::move(pixels)};
}

int Channel(std::uint32_t argb, int shift) {
    return static_cast<int>((argb >> shift) & 0xFF);
}

TEST(ImageScaleTest, AGrowingPictureIsInterpolatedNotRepeatedInBlocks) {
    // Black | white, grown to twice its size and to one and a half times it.
    const CImageRgba edge = Image(2, 1, {0xFF000000u, 0xFFFFFFFFu});
    const CImageRgba doubled = ScaleImage(edge, 4, 2);
    ASSERT_EQ(doubled.width, 4);
    ASSERT_EQ(doubled.pixels.size(), 8u);
    // The outer pixels keep the source's colours; the two at the edge lie between them.
    EXPECT_EQ(doubled.pixels[0], 0xFF000000u);
    EXPECT_EQ(doubled.pixels[3], 0xFFFFFFFFu);
    EXPECT_EQ(doubled.pixels[1], 0xFF404040u);
    EXPECT_EQ(doubled.pixels[2], 0xFFBFBFBFu);
    EXPECT_EQ(doubled.pixels[4], doubled.pixels[0]) << "both rows alike";

    const CImageRgba grown = ScaleImage(edge, 3, 1);
    EXPECT_EQ(grown.pixels[1], 0xFF808080u);

    // A plain colour stays that colour everywhere, edges included.
    const CImageRgba plain(Image(3, 2, std::vector<std::uint32_t>(6, 0xFF2A6B8Cu)));
    for (auto [w, h] : {std::pair{7, 5}, {4, 3}, {2, 1}, {12, 9}}) {
        const CImageRgba out = ScaleImage(plain, w, h);
        ASSERT_EQ(out.pixels.size(), static_cast<std::size_t>(w * h));
        EXPECT_EQ(std::set<std::uint32_t>(out.pixels.begin(), out.pixels.end()),
                  std::set<std::uint32_t>{0xFF2A6B8Cu})
            << w << " x " << h;
    }
}

TEST(ImageScaleTest, AShrinkingPictureAveragesEveryPixelItCovers) {
    // Black and white stripes, four to one: grey, not one of the stripes.
    const CImageRgba stripes = Image(8, 1,
                                     {0xFF000000u, 0xFFFFFFFFu, 0xFF000000u, 0xFFFFFFFFu,
                                      0xFF000000u, 0xFFFFFFFFu, 0xFF000000u, 0xFFFFFFFFu});
    const CImageRgba out = ScaleImage(stripes, 2, 1);
    ASSERT_EQ(out.pixels.size(), 2u);
    for (std::uint32_t p : out.pixels) {
        EXPECT_LE(std::abs(Channel(p, 16) - 128), 16) << std::hex << p;
        EXPECT_EQ(Channel(p, 24), 0xFF);
    }
}

TEST(ImageScaleTest, TransparentPixelsLendNoColourToTheirNeighbours) {
    // Opaque red beside fully transparent (black) pixels: the blend is red, less opaque.
    const CImageRgba icon = Image(2, 1, {0xFFFF0000u, 0x00000000u});
    const CImageRgba out = ScaleImage(icon, 4, 1);
    EXPECT_EQ(out.pixels[0], 0xFFFF0000u);
    EXPECT_EQ(out.pixels[1] & 0x00FFFFFFu, 0x00FF0000u) << std::hex << out.pixels[1];
    EXPECT_EQ(Channel(out.pixels[1], 24), 0xBF);
    EXPECT_EQ(out.pixels[3], 0u);
}

TEST(ImageScaleTest, SizesOutsideTheBoundsOrPixelsThatDoNotMatchGiveNothing) {
    const CImageRgba dot = Image(1, 1, {0xFF102030u});
    for (auto [w, h] : {std::pair{0, 1}, {1, 0}, {-3, 4}, {kMaxDibSide + 1, 1}, {1, 1 << 30}}) {
        const CImageRgba out = ScaleImage(dot, w, h);
        EXPECT_EQ(out.width, 0);
        EXPECT_TRUE(out.pixels.empty());
    }
    EXPECT_TRUE(ScaleImage(Image(2, 2, {1, 2, 3}), 4, 4).pixels.empty());
    EXPECT_EQ(ScaleImage(dot, kMaxDibSide, 1).pixels.size(), static_cast<std::size_t>(kMaxDibSide));
}

TEST(ImageScaleTest, SizesForTheDotsPerInchRoundAsWindowsDoes) {
    EXPECT_EQ(ScaleForDpi(160, 96), 160);
    EXPECT_EQ(ScaleForDpi(160, 120), 200);
    EXPECT_EQ(ScaleForDpi(320, 144), 480);
    EXPECT_EQ(ScaleForDpi(160, 192), 320);
    EXPECT_EQ(ScaleForDpi(33, 144), 50);  // 49.5 rounds up
    EXPECT_EQ(ScaleForDpi(5, 0), 1);
    EXPECT_EQ(ScaleForDpi(320, 1 << 30), kMaxDibSide);
}

}  // namespace
}  // namespace ks

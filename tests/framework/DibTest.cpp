// Packed DIBs as bitmap and icon resources store them, written by hand: every depth, both
// row orders, palettes, masks and alpha, group icons, and headers that lie.
#include <gtest/gtest.h>

#include "framework/ResourceFile.h"
#include "tests/framework/ByteWriter.h"

namespace ks {
namespace {

using test::CByteWriter;

struct CDibHeader {
    std::int32_t width = 2;
    std::int32_t height = 2;  // doubled for icons by the caller
    WORD bitCount = 24;
    DWORD compression = 0;
    DWORD colorsUsed = 0;
    DWORD headerSize = 40;
};

// Header, then `after` (masks, palette, rows) as given.
std::vector<BYTE> Dib(const CDibHeader& h, const std::vector<BYTE>& after) {
    CByteWriter out;
    out.Dword(h.headerSize).Dword(static_cast<DWORD>(h.width)).Dword(static_cast<DWORD>(h.height));
    out.Word(1).Word(h.bitCount).Dword(h.compression).Dword(0).Dword(0).Dword(0);
    out.Dword(h.colorsUsed).Dword(0);
    while (out.Size() < h.headerSize)
        out.Byte(0);
    return out.Bytes(after).Get();
}

std::vector<BYTE> Cat(std::vector<std::vector<BYTE>> parts) {
    std::vector<BYTE> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

const std::vector<BYTE> kRedGreenPalette = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0};  // BGRX: red, green
constexpr std::uint32_t kRed = 0xFFFF0000u;
constexpr std::uint32_t kGreen = 0xFF00FF00u;

TEST(DibTest, PalettedAndTrueColourRowsInBothOrders) {
    // 1 bpp, 3 x 2, bottom-up: the stored first row is the picture's bottom row; the most
    // significant bit is the leftmost pixel.
    auto image =
        DecodeDib(Dib({3, 2, 1}, Cat({kRedGreenPalette, {0xA0, 0, 0, 0, 0x40, 0, 0, 0}})), false);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 3);
    EXPECT_EQ(image->pixels,
              (std::vector<std::uint32_t>{kRed, kGreen, kRed, kGreen, kRed, kGreen}));

    // 4 bpp, top-down, a palette of biClrUsed = 2 colours: index 3 lies past it and is black.
    image = DecodeDib(Dib({3, -1, 4, 0, 2}, Cat({kRedGreenPalette, {0x10, 0x30, 0, 0}})), false);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, (std::vector<std::uint32_t>{kGreen, kRed, 0xFF000000u}));

    // 8 bpp with a palette of 2, one row.
    image = DecodeDib(Dib({2, 1, 8, 0, 2}, Cat({kRedGreenPalette, {1, 0, 0, 0}})), false);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, (std::vector<std::uint32_t>{kGreen, kRed}));

    // 24 bpp: BGR, rows padded to 8 bytes.
    image = DecodeDib(Dib({2, 2, 24}, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}), false);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels,
              (std::vector<std::uint32_t>{0xFF090807u, 0xFF0C0B0Au, 0xFF030201u, 0xFF060504u}));
}

TEST(DibTest, ThirtyTwoBitBitmapsAreOpaqueUnlessTheHeaderDeclaresAlpha) {
    const std::vector<BYTE> pixels = {0x10, 0x20, 0x30, 0x00, 0x10, 0x20, 0x30, 0x80};
    auto image = DecodeDib(Dib({2, 1, 32}, pixels), false);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, (std::vector<std::uint32_t>{0xFF302010u, 0xFF302010u}));

    // BI_BITFIELDS after a plain header: the masks follow it.
    const std::vector<BYTE> masks = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};
    image = DecodeDib(Dib({2, 1, 32, 3}, Cat({masks, pixels})), false);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels[1], 0xFF302010u);

    // A V5 header with an alpha mask: straight alpha, and alpha 0 is transparent black.
    std::vector<BYTE> v5 = Dib({2, 1, 32, 3, 0, 124}, pixels);
    const std::vector<BYTE> v5Masks = Cat({masks, {0, 0, 0, 0xFF}});
    std::copy(v5Masks.begin(), v5Masks.end(), v5.begin() + 40);
    image = DecodeDib(v5, false);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, (std::vector<std::uint32_t>{0u, 0x80302010u}));

    // Masks other than 8-8-8, 16 bpp and RLE are refused.
    const std::vector<BYTE> rgb565 = {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
    EXPECT_FALSE(DecodeDib(Dib({2, 1, 32, 3}, Cat({rgb565, pixels})), false));
    EXPECT_FALSE(DecodeDib(Dib({2, 1, 16}, pixels), false));
    EXPECT_FALSE(DecodeDib(Dib({2, 1, 8, 1}, Cat({kRedGreenPalette, pixels})), false));
}

TEST(DibTest, IconImagesTakeTheMaskOrTheirAlpha) {
    // 4 bpp, 2 x 2 (biHeight 4), mask bit set on the bottom-left pixel.
    const std::vector<BYTE> mask = {0x80, 0, 0, 0, 0x00, 0, 0, 0};
    auto image = DecodeDib(Dib({2, 4, 4}, Cat({kRedGreenPalette,
                                               std::vector<BYTE>(56, 0),
                                               {0x01, 0, 0, 0, 0x10, 0, 0, 0},
                                               mask})),
                           true);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->height, 2);
    EXPECT_EQ(image->pixels, (std::vector<std::uint32_t>{kGreen, kRed, 0u, kGreen}));

    // 32 bpp with alpha: the alpha wins over the mask, and stays straight.
    const std::vector<BYTE> argb = {1, 2, 3, 0xFF, 1, 2, 3, 0x40, 1, 2, 3, 0, 1, 2, 3, 0xFF};
    image = DecodeDib(Dib({2, 4, 32}, Cat({argb, {0xC0, 0, 0, 0, 0xC0, 0, 0, 0}})), true);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels,
              (std::vector<std::uint32_t>{0u, 0xFF030201u, 0xFF030201u, 0x40030201u}));

    // 32 bpp whose alpha is all 0: an icon from before alpha, the mask decides.
    const std::vector<BYTE> noAlpha = {5, 5, 5, 0, 5, 5, 5, 0, 5, 5, 5, 0, 5, 5, 5, 0};
    image = DecodeDib(Dib({2, 4, 32}, Cat({noAlpha, mask})), true);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels,
              (std::vector<std::uint32_t>{0xFF050505u, 0xFF050505u, 0u, 0xFF050505u}));

    // Odd or negative doubled heights and a missing mask are refused.
    EXPECT_FALSE(DecodeDib(Dib({2, 3, 32}, Cat({noAlpha, mask})), true));
    EXPECT_FALSE(DecodeDib(Dib({2, -4, 32}, Cat({noAlpha, mask})), true));
    EXPECT_FALSE(DecodeDib(Dib({2, 4, 32}, noAlpha), true));
}

TEST(DibTest, HeadersThatLieFailWithoutReadingOrAllocatingPastTheBytes) {
    const std::vector<BYTE> few(64, 0);
    const CDibHeader lies[] = {
        {4097, 1, 24},        {1, 4097, 24}, {1, -4097, 24},    {1, INT32_MIN, 24},
        {0x7FFFFFFF, 1, 1},   {-2, 1, 24},   {2, 2, 8, 0, 257}, {2, 2, 24, 0, 0xFFFFFFFFu},
        {2, 2, 24, 0, 0, 12},
    };
    for (const CDibHeader& h : lies)
        EXPECT_FALSE(DecodeDib(Dib(h, few), false)) << h.width << "x" << h.height;
    std::vector<BYTE> longHeader = Dib({}, few);
    longHeader[1] = 0x10;  // biSize 4136, past the bytes
    EXPECT_FALSE(DecodeDib(longHeader, false));
    // A PNG-compressed icon entry.
    const std::vector<BYTE> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13};
    EXPECT_FALSE(DecodeDib(png, true));

    // Every prefix of a valid icon image is refused; the whole decodes.
    const std::vector<BYTE> icon =
        Dib({3, 6, 8, 0, 2},
            Cat({kRedGreenPalette, std::vector<BYTE>(12, 1), std::vector<BYTE>(12, 0)}));
    ASSERT_TRUE(DecodeDib(icon, true));
    for (std::size_t n = 0; n < icon.size(); ++n)
        EXPECT_FALSE(DecodeDib(std::vector<BYTE>(icon.begin(), icon.begin() + n), true)) << n;
}

TEST(DibTest, GroupIconImagesInTheGroupsOrderSkippingWhatDoesNotDecode) {
    const std::vector<BYTE> small =
        Dib({1, 2, 1}, Cat({kRedGreenPalette, {0x80, 0, 0, 0}, {0, 0, 0, 0}}));
    const std::vector<BYTE> wide =
        Dib({3, 2, 1}, Cat({kRedGreenPalette, {0x80, 0, 0, 0}, {0, 0, 0, 0}}));
    CByteWriter group;
    group.Word(0).Word(1).Word(5);  // five entries announced, four present
    for (WORD id : {2, 9, 3, 1})    // 9 is missing, 3 is a PNG
        group.Dword(0).Word(1).Word(1).Dword(0).Word(id);
    CByteWriter image = test::ResourceFileStart();
    test::AppendResource(image, RT_ICON, 1, small);
    test::AppendResource(image, RT_ICON, 2, wide);
    test::AppendResource(image, RT_ICON, 3, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
    test::AppendResource(image, RT_GROUP_ICON, 128, group.Get());
    std::vector<BYTE> cursorGroup = group.Get();
    cursorGroup[2] = 2;
    test::AppendResource(image, RT_GROUP_ICON, 129, cursorGroup);
    const CResourceFile file(image.Get());

    const auto images = LoadIconImages(file, 128);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].width, 3);
    EXPECT_EQ(images[1].width, 1);
    EXPECT_EQ(images[1].pixels, std::vector<std::uint32_t>{kGreen});
    EXPECT_TRUE(LoadIconImages(file, 129).empty());
    EXPECT_TRUE(LoadIconImages(file, 130).empty());
}

}  // namespace
}  // namespace ks

// KeyScout's own compiled resources, read through ProgramResources(): the string, both
// dialog templates as KeyScout.rc writes them, and the icon and bitmap compared with the
// artwork files they were compiled from.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "framework/DialogTemplate.h"
#include "framework/ResourceFile.h"
#include "framework/WinUser.h"
#include "res/Version.h"
#include "tests/support/TestData.h"

namespace ks {
namespace {

const CResourceFile& Resources() {
    const CResourceFile* resources = detail::ProgramResources();
    if (resources == nullptr) {
        ADD_FAILURE() << "no resources registered";
        std::abort();
    }
    return *resources;
}

std::vector<BYTE> ReadArtwork(const char* name) {
    std::ifstream in(test::DataPath(std::string("../../res/") + name), std::ios::binary);
    EXPECT_TRUE(in) << name;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

DWORD Le32(const std::vector<BYTE>& b, std::size_t at) {
    return b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16) | (DWORD{b.at(at + 3)} << 24);
}

// A 32-bit bottom-up BGRA pixel array read straight from the file's bytes, in the decoder's
// form (top row first, fully transparent as 0).
std::vector<std::uint32_t> RawBgra(const std::vector<BYTE>& file, std::size_t at, int w, int h,
                                   bool alpha) {
    std::vector<std::uint32_t> pixels;
    for (int y = h - 1; y >= 0; --y) {
        for (int x = 0; x < w; ++x) {
            const DWORD p = Le32(file, at + (static_cast<std::size_t>(y) * w + x) * 4);
            pixels.push_back(!alpha ? (p | 0xFF000000u) : (p >> 24) == 0 ? 0 : p);
        }
    }
    return pixels;
}

TEST(ProgramResourcesTest, TheStringAndTheManifest) {
    EXPECT_EQ(FindString(Resources(), 101), u"KeyScout のバージョン情報(&A)...");
    const auto manifest = Resources().Find(RT_MANIFEST, 1);
    // The manifest as written, with the program's version in its identity.
    std::vector<BYTE> expected = ReadArtwork("KeyScout.manifest.in");
    const std::string placeholder = "@PROJECT_VERSION@", version = KS_VERSION_TEXT;
    const auto at =
        std::search(expected.begin(), expected.end(), placeholder.begin(), placeholder.end());
    ASSERT_NE(at, expected.end());
    expected.insert(expected.erase(at, at + placeholder.size()), version.begin(), version.end());
    EXPECT_EQ(std::vector<BYTE>(manifest.begin(), manifest.end()), expected);
    // One image per program: a second registration does not replace it.
    const BYTE other[32] = {};
    detail::RegisterResourceImage(other, sizeof other);
    EXPECT_NE(detail::ProgramResources()->Image().data(), other);
}

TEST(ProgramResourcesTest, TheVersionIsTheProjects) {
    const auto version = Resources().Find(RT_VERSION, 1);
    const std::vector<BYTE> bytes(version.begin(), version.end());
    // VS_FIXEDFILEINFO follows its signature: structure version, then the file and product
    // versions, each as a most and a least significant DWORD.
    std::size_t at = 0;
    while (at + 4 <= bytes.size() && Le32(bytes, at) != 0xFEEF04BDu)
        at += 4;
    ASSERT_LE(at + 24, bytes.size()) << "no fixed file information";
    constexpr DWORD kMostSignificant = (KS_VERSION_MAJOR << 16) | KS_VERSION_MINOR;
    constexpr DWORD kLeastSignificant = KS_VERSION_PATCH << 16;
    EXPECT_EQ(Le32(bytes, at + 8), kMostSignificant);  // file version
    EXPECT_EQ(Le32(bytes, at + 12), kLeastSignificant);
    EXPECT_EQ(Le32(bytes, at + 16), kMostSignificant);  // product version
    EXPECT_EQ(Le32(bytes, at + 20), kLeastSignificant);
    // The texts a user sees in the file's properties.
    const std::u16string text(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
    EXPECT_NE(text.find(u"FileVersion"), std::u16string::npos);
    const std::string number = KS_VERSION_TEXT;
    EXPECT_NE(text.find(std::u16string(number.begin(), number.end())), std::u16string::npos);
    EXPECT_NE(text.find(u"KeyScout.exe"), std::u16string::npos);
}

void ExpectItem(const CDialogItemTemplate& item, DWORD id, std::u16string_view className,
                DWORD style, std::array<int, 4> rect) {
    EXPECT_EQ(item.id, id);
    EXPECT_TRUE(item.IsClass(className)) << std::string(className.begin(), className.end());
    EXPECT_EQ(item.style, WS_CHILD | WS_VISIBLE | style) << "id " << id;
    EXPECT_EQ((std::array<int, 4>{item.x, item.y, item.cx, item.cy}), rect);
    EXPECT_EQ(item.exStyle, 0u);
}

constexpr DWORD kStatic = 0xFFFFFFFFu;  // IDC_STATIC in the extended layout
const CDialogFont kFont{9, 0, false, 0x80, u"ＭＳ Ｐゴシック"};

TEST(ProgramResourcesTest, AboutBoxTemplate) {
    const auto about = ParseDialogTemplate(Resources().Find(RT_DIALOG, 100));
    ASSERT_TRUE(about);
    EXPECT_EQ(about->style, DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(about->exStyle, 0u);
    EXPECT_EQ((std::array<int, 4>{about->x, about->y, about->cx, about->cy}),
              (std::array<int, 4>{0, 0, 235, 55}));
    EXPECT_TRUE(about->caption.IsName(u"KeyScoutのバージョン情報"));
    EXPECT_EQ(about->font, kFont);
    ASSERT_EQ(about->items.size(), 4u);
    // The resource compiler drops the size of an ICON statement; a static icon control
    // takes the size of its icon.
    ExpectItem(about->items[0], kStatic, u"Static", SS_ICON, {11, 17, 0, 0});
    EXPECT_TRUE(about->items[0].title.IsOrdinal(128));
    // An explicit style replaces LTEXT's default WS_GROUP.
    ExpectItem(about->items[1], kStatic, u"Static", SS_NOPREFIX, {40, 10, 119, 8});
    const std::string line = KS_ABOUT_VERSION_TEXT;  // "KeyScout Version 5.0.1"
    EXPECT_TRUE(about->items[1].title.IsName(std::u16string(line.begin(), line.end())));
    ExpectItem(about->items[2], kStatic, u"Static", WS_GROUP, {40, 25, 188, 8});
    ExpectItem(about->items[3], IDOK, u"Button", BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP,
               {178, 7, 50, 14});
    EXPECT_TRUE(about->items[3].title.IsName(u"OK"));
}

TEST(ProgramResourcesTest, MainWindowTemplate) {
    const auto main = ParseDialogTemplate(Resources().Find(RT_DIALOG, 102));
    ASSERT_TRUE(main);
    EXPECT_EQ(main->style,
              DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(main->exStyle, WS_EX_APPWINDOW);
    EXPECT_EQ(main->cx, 357);
    EXPECT_EQ(main->cy, 214);
    EXPECT_TRUE(main->caption.IsName(u"KeyScout"));
    EXPECT_EQ(main->font, kFont);
    ASSERT_EQ(main->items.size(), 13u);
    const auto& it = main->items;
    ExpectItem(it[0], IDOK, u"Button", BS_DEFPUSHBUTTON | WS_TABSTOP, {300, 196, 50, 14});
    EXPECT_TRUE(it[0].title.IsName(u"終了(&Q)"));
    ExpectItem(it[1], kStatic, u"Static", SS_BITMAP, {0, 0, 91, 214});
    EXPECT_TRUE(it[1].title.IsOrdinal(130));
    ExpectItem(it[2], kStatic, u"Static", WS_GROUP, {98, 2, 252, 17});
    EXPECT_TRUE(
        it[2].title.IsName(u"Latchguardの鍵に使用したいデバイスをコンピュータに接続してください。\n"
                           u"接続したデバイスがハードウェア一覧に表示されれば鍵として使用することが"
                           u"できます。"));
    const DWORD list = LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOCOLUMNHEADER |
                       LVS_NOLABELWRAP | WS_BORDER | WS_TABSTOP;
    const DWORD edit = ES_AUTOHSCROLL | ES_READONLY | WS_BORDER | WS_TABSTOP;
    ExpectItem(it[3], kStatic, u"Static", WS_GROUP, {98, 22, 51, 8});
    ExpectItem(it[4], 1003, u"SysListView32", list, {98, 34, 252, 68});
    ExpectItem(it[5], kStatic, u"Static", WS_GROUP, {98, 106, 28, 8});
    ExpectItem(it[6], 1002, u"SysTreeView32", TVS_HASLINES | WS_BORDER | WS_TABSTOP,
               {98, 116, 252, 51});
    ExpectItem(it[7], kStatic, u"Static", WS_GROUP, {98, 172, 34, 8});
    ExpectItem(it[8], 1008, u"Edit", edit, {146, 172, 122, 12});
    ExpectItem(it[9], kStatic, u"Static", WS_GROUP, {98, 186, 37, 8});
    ExpectItem(it[10], 1009, u"Edit", edit, {146, 186, 122, 12});
    ExpectItem(it[11], kStatic, u"Static", WS_GROUP, {98, 200, 40, 8});
    ExpectItem(it[12], 1010, u"Edit", edit, {146, 200, 122, 12});
    const std::u16string labels[] = {u"ハードウェア一覧", u"詳細情報", u"ベンダーID:",
                                     u"プロダクトID:", u"シリアル番号:"};
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(it[3 + 2 * i].title.IsName(labels[i])) << i;
    for (int i : {4, 6, 8, 10, 12})
        EXPECT_TRUE(it[i].title.IsNone() || it[i].title.IsName(u"")) << i;
}

TEST(ProgramResourcesTest, IconImagesMatchTheIconFile) {
    const auto images = LoadIconImages(Resources(), 128);
    ASSERT_EQ(images.size(), 9u);
    const std::vector<BYTE> ico = ReadArtwork("KeyScout.ico");
    ASSERT_GE(ico.size(), 6u + 9 * 16);
    const auto group = Resources().Find(RT_GROUP_ICON, 128);
    ASSERT_EQ(group.size(), 6u + 9 * 14);
    for (std::size_t i = 0; i < 9; ++i) {
        constexpr int kSides[] = {48, 32, 16};  // each at 32, 8 and 4 bits per pixel
        const int side = kSides[i / 3];
        const CImageRgba& image = images[i];
        EXPECT_EQ(image.width, side);
        EXPECT_EQ(image.height, side);
        const std::size_t entry = 6 + 16 * i;
        constexpr BYTE kDepths[] = {32, 8, 4};
        EXPECT_EQ(group[6 + 14 * i + 6], kDepths[i % 3]);
        const CImageRgba& deep = images[i - i % 3];
        if (i % 3 == 0) {
            // The true-colour image, pixel for pixel as the file stores it.
            EXPECT_EQ(image.pixels, RawBgra(ico, Le32(ico, entry + 12) + 40, side, side, true));
            continue;
        }
        // The paletted ones are the same picture: transparent where it is, and close in
        // colour where it is opaque (the 16 colours of the 4-bit images are far apart).
        int shapeMisses = 0;
        long colourError = 0;
        int opaque = 0;
        for (std::size_t p = 0; p < image.pixels.size(); ++p) {
            const std::uint32_t a = image.pixels[p];
            const std::uint32_t b = deep.pixels[p];
            if ((b >> 24) == 0xFF && (a >> 24) == 0xFF) {
                ++opaque;
                for (int shift : {0, 8, 16})
                    colourError += std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF));
            } else if (((b >> 24) == 0 && a != 0) || (b >> 24) == 0xFF) {
                ++shapeMisses;
            }
        }
        EXPECT_LE(shapeMisses, side * side / 50) << "image " << i;
        EXPECT_GT(opaque, side * side / 4) << "image " << i;
        EXPECT_LE(colourError / (3 * opaque), (i % 3 == 1) ? 4 : 56) << "image " << i;
    }
}

TEST(ProgramResourcesTest, BitmapMatchesTheBitmapFile) {
    const auto bitmap = DecodeDib(Resources().Find(RT_BITMAP, 130), false);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->width, 160);
    EXPECT_EQ(bitmap->height, 320);
    const std::vector<BYTE> bmp = ReadArtwork("KeyScout.bmp");
    EXPECT_EQ(bitmap->pixels, RawBgra(bmp, Le32(bmp, 10), 160, 320, false));
}

}  // namespace
}  // namespace ks

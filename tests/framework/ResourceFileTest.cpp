// The resource-file walk and the string table on hand-built images: lookups, and input
// that is truncated or lies about its sizes.
#include <gtest/gtest.h>

#include "framework/ResourceFile.h"
#include "tests/framework/ByteWriter.h"

namespace ks {
namespace {

using test::AppendResource;
using test::CByteWriter;

TEST(ResourceFileTest, FindsTheFirstEntryOfTypeAndNameInAnyLanguage) {
    CByteWriter image = test::ResourceFileStart();
    // A string-named entry first: its longer header must be walked past correctly.
    const std::size_t named = image.Size();
    image.Dword(3).Dword(0).String(u"PNG").String(u"LOGO").Align(4);
    image.Dword(0).Word(0).Word(0x409).Dword(0).Dword(0);
    image.PatchDword(named + 4, static_cast<DWORD>(image.Size() - named));
    image.Bytes({1, 2, 3}).Align(4);
    AppendResource(image, RT_STRING, 7, {0xA1}, 0x409);
    AppendResource(image, RT_STRING, 7, {0xB1, 0xB2}, 0x411);
    AppendResource(image, RT_DIALOG, 7, {0xC1});
    const CResourceFile file(image.Get());

    ASSERT_EQ(file.Find(RT_STRING, 7).size(), 1u);
    EXPECT_EQ(file.Find(RT_STRING, 7)[0], 0xA1);
    EXPECT_EQ(file.Find(RT_DIALOG, 7)[0], 0xC1);
    EXPECT_TRUE(file.Find(RT_ICON, 7).empty());
    const auto entries = file.Entries();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_TRUE(entries[0].type.IsName(u"PNG"));
    EXPECT_TRUE(entries[0].name.IsName(u"LOGO"));
    EXPECT_EQ(entries[0].language, 0x409);
    EXPECT_EQ(entries[0].data.size(), 3u);
    EXPECT_EQ(entries[2].language, 0x411);

    // Without the leading empty entry the bytes are no 32-bit resource file.
    CByteWriter bare;
    AppendResource(bare, RT_DIALOG, 7, {0xC1});
    EXPECT_TRUE(CResourceFile(bare.Get()).Entries().empty());
    EXPECT_TRUE(CResourceFile().Find(RT_DIALOG, 7).empty());
}

TEST(ResourceFileTest, AMalformedEntryEndsTheWalkAndKeepsTheOnesBefore) {
    struct Case {
        const char* what;
        DWORD dataSize;
        DWORD headerSize;
        bool terminatedName;
    };
    const Case cases[] = {
        {"data past the end", 64, 32, true},
        {"header past the end", 0, 4096, true},
        {"header smaller than its fields", 0, 24, true},
        {"sizes that wrap around", 0xFFFFFFF0u, 32, true},
        {"unterminated name", 0, 16, false},
    };
    for (const Case& c : cases) {
        CByteWriter image = test::ResourceFileStart();
        AppendResource(image, RT_ICON, 1, {9, 9, 9, 9});
        image.Dword(c.dataSize).Dword(c.headerSize);
        if (c.terminatedName)
            image.Ordinal(RT_ICON).Ordinal(2).Dword(0).Word(0).Word(0).Dword(0).Dword(0);
        else
            image.Ordinal(RT_ICON).Word('A').Word('B').Word('C').Word('D');
        AppendResource(image, RT_ICON, 3, {7});
        const CResourceFile file(image.Get());
        EXPECT_EQ(file.Find(RT_ICON, 1).size(), 4u) << c.what;
        EXPECT_TRUE(file.Find(RT_ICON, 2).empty()) << c.what;
        EXPECT_TRUE(file.Find(RT_ICON, 3).empty()) << c.what;
    }
}

TEST(ResourceFileTest, TruncatedImagesKeepExactlyTheEntriesThatFit) {
    CByteWriter image = test::ResourceFileStart();
    std::vector<std::size_t> ends;  // where each entry's data ends
    for (WORD name = 1; name <= 4; ++name) {
        AppendResource(image, RT_BITMAP, name, std::vector<BYTE>(name * 3u, BYTE(name)));
        ends.push_back(image.Size() - (4 - (name * 3u) % 4) % 4);
    }
    for (std::size_t n = 0; n <= image.Size(); ++n) {
        // A copy of exactly n bytes, so that the sanitizers see any read past them.
        const std::vector<BYTE> prefix(image.Get().begin(), image.Get().begin() + n);
        const CResourceFile file(prefix);
        for (WORD name = 1; name <= 4; ++name) {
            const auto data = file.Find(RT_BITMAP, name);
            EXPECT_EQ(!data.empty(), ends[name - 1] <= n) << "n=" << n << " name=" << name;
        }
    }
}

TEST(ResourceFileTest, StringTableBlocksOfSixteenCountedStrings) {
    // Block 7 holds ids 96..111: 97 is "ab", 101 "KeyScout", the rest empty.
    CByteWriter block;
    for (int index = 0; index < 16; ++index) {
        const std::u16string text = index == 1 ? u"ab" : index == 5 ? u"KeyScout" : u"";
        block.Word(static_cast<WORD>(text.size()));
        for (char16_t c : text)
            block.Word(c);
    }
    CByteWriter image = test::ResourceFileStart();
    AppendResource(image, RT_STRING, 7, block.Get());
    // Block 8 claims 50 units for its first string but ends after 2.
    AppendResource(image, RT_STRING, 8, CByteWriter().Word(50).Word('x').Word('y').Get());
    const CResourceFile file(image.Get());

    EXPECT_EQ(FindString(file, 101), u"KeyScout");
    EXPECT_EQ(FindString(file, 97), u"ab");
    EXPECT_EQ(FindString(file, 96), std::nullopt);   // empty: no such string
    EXPECT_EQ(FindString(file, 112), std::nullopt);  // malformed block
    EXPECT_EQ(FindString(file, 200), std::nullopt);  // no block
    EXPECT_EQ(FindString(file, 0x10065), std::nullopt);
}

}  // namespace
}  // namespace ks

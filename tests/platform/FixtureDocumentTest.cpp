// The fixture's document: the plain reader and the JSON library's parser make the same
// document of every text the plain reader reads, and the plain reader gives every other
// text to the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/FixtureDocument.h"
#include "platform/sim/FixtureLoader.h"
#include "tests/support/TestData.h"

namespace ks {
namespace {

// How a text was read, with its message when it was refused.
struct CRead {
    std::optional<bool> m_plain;  // none: refused
    std::string m_strError;
};

// Reads `text` both ways. Fails the test when the documents (or the messages) differ.
CRead ReadBothWays(const std::string& text) {
    CRead out;
    std::string libraryError;
    std::optional<CFixtureDocument> library;
    try {
        library.emplace(text, "d.json", EFixtureParser::LibraryOnly);
    } catch (const CFixtureError& e) {
        libraryError = e.what();
    }
    try {
        const CFixtureDocument document(text, "d.json");
        out.m_plain = document.ReadPlain();
        if (!library)
            ADD_FAILURE() << "read, the library refuses it (" << libraryError << "): " << text;
        else if (!SameFixtureValue(document.Root(), library->Root()))
            ADD_FAILURE() << "documents differ: " << text;
    } catch (const CFixtureError& e) {
        out.m_strError = e.what();
        EXPECT_EQ(out.m_strError, libraryError) << text;
    }
    return out;
}

// The fixtures of the tests, the malformed ones with `malformed`.
std::vector<std::string> FixtureTexts(bool malformed = true) {
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(test::DataPath("")))
        if (entry.path().extension() == ".json" &&
            (malformed || entry.path().filename().string().rfind("malformed-", 0) != 0))
            paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    std::vector<std::string> out;
    for (const auto& path : paths) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        out.push_back(text.str());
    }
    return out;
}

TEST(FixtureDocument, ThePlainReaderReadsTheFixturesAsTheLibraryDoes) {
    const std::vector<std::string> texts = FixtureTexts(false);
    ASSERT_GE(texts.size(), 25u);
    for (const std::string& text : texts)
        EXPECT_EQ(ReadBothWays(text).m_plain, std::optional<bool>(true)) << text.substr(0, 200);
}

TEST(FixtureDocument, WhatThePlainReaderLeavesTheLibraryReads) {
    using namespace std::string_view_literals;
    const struct {
        std::string_view text;
        bool plain;
    } cases[] = {
        // Numbers: integers at the bounds of 64 bits are the reader's, beyond them (doubles
        // to the library) and every fraction or exponent the library's.
        {"[0, -0, 18446744073709551615, -9223372036854775808, 9223372036854775808]", true},
        {"[18446744073709551616]", false},
        {"[-9223372036854775809]", false},
        {"[1.5]", false},
        {"[1e2]", false},
        {"[-1E-2]", false},
        {"[01]", false},
        {"[-]", false},
        {"[-a]", false},
        {"[1.]", false},
        {"[1e]", false},
        {"[-1e6861]", false},
        // Strings: escapes and UTF-8 as the library has them.
        {R"(["\"\\\/\b\f\n\r\t", "\u0000\u00e9\u20AC", "\ud83d\ude00", "\uDBFF\uDFFF"])", true},
        {"[\"\xE3\x82\xAD\xF0\x9F\x98\x80\x7F\"]", true},
        {R"(["\ud83d"])", false},
        {R"(["\ud83d\u0041"])", false},
        {R"(["\ude00"])", false},
        {R"(["\u12"])", false},
        {R"(["\u12G4"])", false},
        {R"(["\x"])", false},
        {"[\"\x01\"]", false},
        {"[\"\xC0\xAF\"]", false},
        {"[\"\xED\xA0\x80\"]", false},
        {"[\"\xF4\x90\x80\x80\"]", false},
        {"[\"\xE3\x82\"]", false},
        {"[\"\x80\"]", false},
        {"[\"abc", false},
        {"[\"abc\\", false},
        // Space and comments, and what may follow the value.
        {" \t\r\n// a\r/* b * / */ {\"a\" /**/ : // c\n [ 1 , 2 ] } // end", true},
        {"{} /* open", false},
        {"{} / x", false},
        {"// x\0{}"sv, false},
        {"{}\0"sv, false},
        {"/* \0 */ {}"sv, false},
        {"\xEF\xBB\xBF{}", false},
        {"\xEF{}", false},
        {"", false},
        {" ", false},
        {"{} {}", false},
        {"{}}", false},
        // Structure.
        {"[true, false, null, {}, [], {\"\": 0}]", true},
        {"[tru]", false},
        {"[truex]", false},
        {"[nul]", false},
        {"[1,]", false},
        {"[,1]", false},
        {"{\"a\":1,}", false},
        {"{\"a\" 1}", false},
        {"{1: 1}", false},
        {"{\"a\": 1 \"b\": 2}", false},
        {"[1 2]", false},
        {"[", false},
        {"{\"a\":", false},
        {"]", false},
        // A key given twice, and the nesting bound: the library's messages.
        {R"({"a": 1, "b": {"a": 1}, "\u0061x": 2})", true},
        {R"({"a": 1, "\u0061": 2})", false},
        {R"({"x": [{"k": 1, "k": 2}]})", false},
    };
    for (const auto& c : cases) {
        const CRead read = ReadBothWays(std::string(c.text));
        EXPECT_EQ(read.m_plain.value_or(false), c.plain) << c.text << " " << read.m_strError;
    }
    // Each byte alone in a string: the controls and the bytes that begin no character are
    // the library's to refuse ("\b" is an escape).
    for (int b = 0; b < 256; ++b) {
        const std::string text = "[\"a" + std::string(1, static_cast<char>(b)) + "b\"]";
        EXPECT_EQ(ReadBothWays(text).m_plain.value_or(false), b >= 0x20 && b < 0x80 && b != '"')
            << b;
    }
    // A large object finds a key given twice among many, late or early.
    std::string large = "{";
    for (int i = 0; i < 100; ++i)
        large += "\"k" + std::to_string(i) + "\": " + std::to_string(i) + ", ";
    EXPECT_EQ(ReadBothWays(large + "\"k100\": 0}").m_plain, std::optional<bool>(true));
    EXPECT_NE(ReadBothWays(large + "\"k0\": 0}").m_strError.find("/k0: the key is given twice"),
              std::string::npos);
    EXPECT_NE(ReadBothWays(large + "\"k99\": 0}").m_strError.find("/k99: the key is given twice"),
              std::string::npos);
    // At the bound the reader reads; one level beyond, the library says where.
    const std::string deepest =
        std::string(kMaxFixtureNesting, '[') + std::string(kMaxFixtureNesting, ']');
    EXPECT_EQ(ReadBothWays(deepest).m_plain, std::optional<bool>(true));
    const CRead deeper = ReadBothWays("[" + deepest + "]");
    EXPECT_NE(deeper.m_strError.find("nested deeper than"), std::string::npos);
}

// Every fixture broken at many places reads the same both ways, or is refused with the same
// message.
TEST(FixtureDocument, BrokenFixturesReadTheSameBothWays) {
    using namespace std::string_view_literals;
    const std::string_view bytes = "\"{}[],:-01x\\/*\n\0\x80\xC3"sv;
    std::size_t plain = 0, refused = 0;
    for (const std::string& text : FixtureTexts()) {
        const std::size_t step = std::max<std::size_t>(1, text.size() / 60);
        for (std::size_t at = 0; at < text.size(); at += step) {
            for (std::string changed :
                 {text.substr(0, at), text.substr(0, at) + text.substr(at + 1)}) {
                const CRead read = ReadBothWays(changed);
                (read.m_plain ? plain : refused) += 1;
            }
            for (char c : bytes) {
                std::string changed = text;
                changed[at] = c;
                const CRead read = ReadBothWays(changed);
                (read.m_plain ? plain : refused) += 1;
            }
        }
    }
    // Both kinds of text were many.
    EXPECT_GT(plain, 2000u);
    EXPECT_GT(refused, 5000u);
}

}  // namespace
}  // namespace ks

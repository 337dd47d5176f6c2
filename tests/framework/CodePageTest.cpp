// Multibyte-aware case folding and comparison in code page 932 and UTF-8, and the text
// conversions the machine models and the console tool rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/CString.h"
#include "framework/CodePage.h"

namespace ks {
namespace {

std::string Upper(std::string s, UINT cp) {
    MbMakeUpper(s, cp);
    return s;
}

TEST(CodePageTest, ShiftJisFoldsWholeCharactersOnly) {
    // "ャ" is 83 83 and "ア" 83 41, "ab" 83 61 62: trail bytes that look like letters stay.
    EXPECT_EQ(Upper("usb\\vid_0781\x83\x61x", kCodePageShiftJis), "USB\\VID_0781\x83\x61X");
    EXPECT_EQ(Upper("\x83\x41\x83\x62", kCodePageShiftJis), "\x83\x41\x83\x62");
    // Full-width a (82 81) becomes full-width A (82 60); a lead byte at the end stands alone.
    EXPECT_EQ(Upper("\x82\x81z\x82", kCodePageShiftJis), "\x82\x60Z\x82");
    EXPECT_EQ(MbCompareNoCase("{36fc}\\0001\x83\x61", "{36FC}\\0001\x83\x61", kCodePageShiftJis),
              0);
    EXPECT_NE(MbCompareNoCase("\x83\x61", "\x83\x41", kCodePageShiftJis), 0);
    EXPECT_EQ(MbCharLength("\x83\x61", 0, kCodePageShiftJis), 2u);
    EXPECT_EQ(MbCharLength(std::string_view("\x83\0", 2), 0, kCodePageShiftJis), 1u);
}

TEST(CodePageTest, Utf8FoldsAsciiLatinAndFullWidth) {
    EXPECT_EQ(Upper("stick-\xC3\xA9\xEF\xBD\x81", kCodePageUtf8),
              "STICK-\xC3\x89\xEF\xBC\xA1");                  // é, ａ
    EXPECT_EQ(Upper("\xC3\xB7", kCodePageUtf8), "\xC3\xB7");  // the division sign has no case
    // A malformed sequence: each byte stands alone, and the ASCII letter after it folds.
    EXPECT_EQ(Upper("\xC3"
                    "a\xFF"
                    "b",
                    kCodePageUtf8),
              "\xC3"
              "A\xFF"
              "B");
    EXPECT_EQ(MbCompareNoCase("abc", "ABD", kCodePageUtf8), -1);
    EXPECT_EQ(MbCompareNoCase("\xE3\x81\x82x", "\xE3\x81\x82X", kCodePageUtf8), 0);
}

// The comparisons read the upper case a character at a time from the texts themselves; they
// must agree with upper-cased copies compared byte by byte, on every pair of texts made of
// pieces where segmenting goes wrong most easily: lead bytes with trail bytes that look like
// letters, a lead byte at the end, full-width letters, malformed UTF-8, a NUL.
TEST(CodePageTest, ComparisonsWithoutCopiesAgreeWithUpperCasedCopies) {
    const struct {
        UINT m_codePage;
        std::vector<std::string> m_pieces;
    } sets[] = {
        {kCodePageShiftJis,
         {"a", "A", "\\", "\x83\x61", "\x83\x41", "\x82\x81", "\x82\x60", "\x82", "\xA1",
          std::string(1, '\0')}},
        {kCodePageUtf8,
         {"a", "A", "\xC3\xA9", "\xC3\x89", "\xEF\xBD\x81", "\xEF\xBC\xA1", "\xC3", "\xFF",
          "\xE3\x81", std::string(1, '\0')}},
    };
    for (const auto& set : sets) {
        // Every text of up to three pieces, and its upper-cased copy.
        std::vector<std::string> texts{""};
        for (std::size_t from = 0, round = 0; round < 3; ++round) {
            const std::size_t to = texts.size();
            for (std::size_t t = from; t < to; ++t)
                for (const std::string& piece : set.m_pieces)
                    texts.push_back(texts[t] + piece);
            from = to;
        }
        std::vector<std::string> uppers;
        for (const std::string& t : texts)
            uppers.push_back(Upper(t, set.m_codePage));
        std::size_t equal = 0;
        for (std::size_t i = 0; i < texts.size(); ++i) {
            const std::string& a = texts[i];
            const std::string& ua = uppers[i];
            for (std::size_t j = 0; j < texts.size(); ++j) {
                const std::string& b = texts[j];
                const std::string& ub = uppers[j];
                const int expected = ua < ub ? -1 : (ua > ub ? 1 : 0);
                ASSERT_EQ(MbCompareNoCase(a, b, set.m_codePage), expected)
                    << "code page " << set.m_codePage << ": \"" << a << "\" and \"" << b << '"';
                ASSERT_EQ(MbEqualsUpperCased(a, ub, set.m_codePage), expected == 0)
                    << "code page " << set.m_codePage << ": \"" << a << "\" and \"" << b << '"';
                equal += expected == 0 ? 1 : 0;
            }
        }
        EXPECT_GT(equal, texts.size());  // texts equal but for case were among them
    }
}

TEST(CodePageTest, Utf16AndUtf8ConversionsReplaceWhatIsBroken) {
    std::u16string text = u"USB\u30C7\U0001F600";
    EXPECT_EQ(Utf16ToUtf8(text), "USB\xE3\x83\x87\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8ToUtf16("USB\xE3\x83\x87\xF0\x9F\x98\x80"), text);
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToUtf16("a\xFF"), u"a\uFFFD");
    // The ANSI conversion stops at the first NUL.
    const char16_t withNul[] = {u'A', u'B', 0, u'C'};
    EXPECT_EQ(Utf16ToAnsi(withNul, 4), "AB");
    // Whatever the code page, the UTF-8 form is valid.
    EXPECT_EQ(AnsiToUtf8("plain"), "plain");
}

TEST(CStringTest, FormatBufferAndCaseInsensitiveCompare) {
    CString s;
    s.Format("\\\\.\\HCD%d", 7);
    EXPECT_EQ(s, "\\\\.\\HCD7");
    CString big;
    big.Format("%0300d", 1);
    EXPECT_EQ(big.GetLength(), 300);
    CString buf;
    char* p = buf.GetBuffer(8);
    std::memcpy(p, "abc\0def", 8);
    buf.ReleaseBuffer();
    EXPECT_EQ(buf, "abc");
    EXPECT_EQ(CString("usb\\ROOT").CompareNoCase("USB\\root"), 0);
    EXPECT_EQ(CString("a").MakeUpper(), "A");
    EXPECT_EQ(CString("abcdef").Mid(2, 3), "cde");
    EXPECT_EQ(CString("abcdef").Find('z'), -1);
}

}  // namespace
}  // namespace ks

namespace ks {
namespace {

TEST(EscapeControlCharactersTest, WhatActsBecomesVisibleAndWhatPrintsStaysByteForByte) {
    // C0 controls, DEL, an escape sequence: each byte visible, the rest as it was.
    EXPECT_EQ(EscapeControlCharacters("A\x1B[31mB\r\n\tC\x7F", kCodePageUtf8, EEscape::Visible),
              "A\\x1B[31mB\\x0D\\x0A\\x09C\\x7F");
    // C1 controls (CSI, NEL), the line separator and a right-to-left override.
    EXPECT_EQ(EscapeControlCharacters("\xC2\x9B"
                                      "2J\xC2\x85|\xE2\x80\xA8|\xE2\x80\xAEtxt",
                                      kCodePageUtf8, EEscape::Visible),
              "\\u009B2J\\u0085|\\u2028|\\u202Etxt");
    // Printable text of any script, and a serial number with a backslash, untouched.
    const char* printable = "0719AB34CD56EF7890AB \xE9\x8D\xB5 \\ \xF0\x9F\x94\x91";
    EXPECT_EQ(EscapeControlCharacters(printable, kCodePageUtf8, EEscape::Visible), printable);
    EXPECT_EQ(EscapeControlCharacters("a\\b", kCodePageUtf8, EEscape::VisibleAndBackslash),
              "a\\\\b");
    // Bytes that are no character: a lone continuation byte, a sequence cut short.
    EXPECT_EQ(EscapeControlCharacters("\x80x\xE3\x83", kCodePageUtf8, EEscape::Visible),
              "\\x80x\\xE3\\x83");
    // In JSON text the same characters become escapes that JSON reads as those characters.
    EXPECT_EQ(EscapeControlCharacters("{\"a\":\"\x7F\xC2\x9B\\\\n\xE9\x8D\xB5\"}", kCodePageUtf8,
                                      EEscape::Json),
              "{\"a\":\"\\u007F\\u009B\\\\n\xE9\x8D\xB5\"}");
}

TEST(EscapeControlCharactersTest, ShiftJisPairsStayWholeAndControlsDoNotHideInThem) {
    // 表 is 0x95 0x5C: its trail byte is no backslash. Half-width katakana stand alone.
    EXPECT_EQ(
        EscapeControlCharacters("\x95\x5C\xB1", kCodePageShiftJis, EEscape::VisibleAndBackslash),
        "\x95\x5C\xB1");
    // A lead byte before a line feed or at the end is no character; the line feed shows.
    EXPECT_EQ(EscapeControlCharacters("\x83\x0A", kCodePageShiftJis, EEscape::Visible),
              "\\x83\\x0A");
    EXPECT_EQ(EscapeControlCharacters("ab\x83", kCodePageShiftJis, EEscape::Visible), "ab\\x83");
    EXPECT_EQ(EscapeControlCharacters("\x80\xA0\xFD", kCodePageShiftJis, EEscape::Visible),
              "\\x80\\xA0\\xFD");
}

}  // namespace
}  // namespace ks

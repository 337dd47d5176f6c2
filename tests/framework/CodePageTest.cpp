// Multibyte-aware case folding and comparison in code page 932 and UTF-8, and the text
// conversions the machine models and the console tool rely on.
#include <gtest/gtest.h>

#include <cstring>

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

// The active ANSI code page and the multibyte rules of the code pages the program meets:
// code page 932 (Shift-JIS, the target systems') and UTF-8 (the ANSI code page of the
// Linux build). Any thread may call these; they keep no state beyond the code page, which
// is fixed for the life of the process.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "framework/WinTypes.h"

namespace ks {

inline constexpr UINT kCodePageShiftJis = 932;
inline constexpr UINT kCodePageUtf8 = 65001;

// The system's ANSI code page on Windows (GetACP), UTF-8 on Linux.
UINT GetAnsiCodePage();

// Length in bytes of the character that starts at s[i] (1 or more, never past the end).
// In code page 932 a lead byte takes the next byte as its trail byte, whatever it looks
// like; in UTF-8 a well-formed sequence is one character and every byte of a malformed one
// stands alone.
std::size_t MbCharLength(std::string_view s, std::size_t i, UINT codePage);

// Upper-cases letters, one whole character at a time: ASCII letters, and the full-width
// Latin letters of the code page; the bytes of a multibyte character are never folded one
// by one, so a trail byte that looks like an ASCII letter stays as it is.
void MbMakeUpper(std::string& s, UINT codePage);
void MbMakeUpper(char* s, std::size_t size, UINT codePage);

// Case-insensitive comparison of two texts in the code page: <0, 0 or >0, as the
// upper-cased forms compare byte by byte. Neither text is copied.
int MbCompareNoCase(std::string_view a, std::string_view b, UINT codePage);

// Whether `text`, upper-cased, equals `upper`, a text upper-cased beforehand (MbMakeUpper):
// the comparison of many texts with one, which is folded once. No copy is made.
bool MbEqualsUpperCased(std::string_view text, std::string_view upper, UINT codePage);

// A text of the code page made safe to show: every character that would act instead of
// show (C0 controls, DEL, the C1 controls, the line and paragraph separators, the controls
// of bidirectional text) becomes a visible escape, "\x1B" for a byte, "\u009B" for a
// character beyond ASCII, and so does every byte that is no character of the code page.
// Everything printable stays exactly as it is, byte for byte.
//  - Visible: as above, for a window, where a text is shown as it is.
//  - VisibleAndBackslash: a backslash is doubled too, so that escapes can be told from text
//    (a terminal's output).
//  - Json: for JSON text in UTF-8 made by a serialiser (which escapes the C0 controls
//    itself): DEL and the acting characters become "\u" escapes, which inside a JSON string
//    mean the same characters; bytes that are no character become "\uFFFD".
enum class EEscape { Visible, VisibleAndBackslash, Json };
std::string EscapeControlCharacters(std::string_view text, UINT codePage, EEscape style);

// The well-formed UTF-8 sequence that begins at text[i] (one byte for ASCII): its length, with
// its character in `cp`; 0 when the bytes there form none (a stray byte, an overlong form, a
// surrogate, beyond U+10FFFF, cut short). i < text.size().
std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& cp);
// Appends the UTF-8 form of a character (cp <= U+10FFFF).
void AppendUtf8(std::string& out, char32_t cp);

// Whether a terminal or a text layout acts on the character rather than shows it: the C1
// controls, the line and paragraph separators, the marks, embeddings, overrides and
// isolates of bidirectional text.
bool IsActingCharacter(char32_t cp);

// UTF-16 to the ANSI code page. Conversion stops at the first NUL code unit or after
// `count` units; characters the code page lacks (and unpaired surrogates) become '?'.
std::string Utf16ToAnsi(const char16_t* text, std::size_t count, bool* usedDefault = nullptr);

// ANSI code page to UTF-8. Bytes that do not form a character of the code page become
// U+FFFD, so the result is always valid UTF-8.
std::string AnsiToUtf8(std::string_view text);

// UTF-16 to UTF-8 and UTF-8 to UTF-16, host-independent (used by the machine models, whose
// fixtures are UTF-8 files). Invalid input becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
std::u16string Utf8ToUtf16(std::string_view text);

}  // namespace ks

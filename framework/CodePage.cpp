// The code-page rules that do not depend on the host: character lengths and case folding
// for code page 932 and UTF-8, and UTF-16/UTF-8 conversion.
#include "framework/CodePage.h"

#include <cstdio>
#include <cstring>

#include "framework/detail/CodePageBackend.h"

namespace ks {

namespace {

bool IsSjisLead(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Decodes one well-formed UTF-8 sequence at s[i]; 0 when the bytes there do not form one.
std::size_t Utf8Sequence(std::string_view s, std::size_t i, char32_t* out) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t n;
    char32_t cp;
    char32_t min;
    if (b0 < 0x80) {
        *out = b0;
        return 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        n = 2, cp = b0 & 0x1F, min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        n = 3, cp = b0 & 0x0F, min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        n = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() - i < n)
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    *out = cp;
    return n;
}

// Upper-case mapping of the letters whose upper case has the same UTF-8 length: ASCII,
// Latin-1 (but for the division sign), and the full-width Latin letters.
char32_t UpperCodePoint(char32_t cp) {
    if (cp >= 'a' && cp <= 'z')
        return cp - 0x20;
    if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7)
        return cp - 0x20;
    if (cp >= 0xFF41 && cp <= 0xFF5A)
        return cp - 0x20;
    return cp;
}

}  // namespace

std::size_t MbCharLength(std::string_view s, std::size_t i, UINT codePage) {
    if (i >= s.size())
        return 0;
    const auto b = static_cast<unsigned char>(s[i]);
    if (b < 0x80)
        return 1;
    if (codePage == kCodePageUtf8) {
        char32_t cp;
        std::size_t n = Utf8Sequence(s, i, &cp);
        return n == 0 ? 1 : n;
    }
    bool lead = codePage == kCodePageShiftJis ? IsSjisLead(b) : detail::IsDbcsLeadByte(codePage, b);
    // A lead byte takes the next byte as its trail byte; at the very end it stands alone,
    // and it never swallows the terminating NUL of a C string.
    if (lead && i + 1 < s.size() && s[i + 1] != '\0')
        return 2;
    return 1;
}

namespace {

// Writes the upper case of the character of n bytes at c into out (n bytes; c and out may be
// the same): ASCII letters, and the full-width Latin letters of the code page. The bytes of
// a multibyte character are never folded one by one.
void UpperCaseChar(const char* c, std::size_t n, UINT codePage, char* out) {
    const auto b = static_cast<unsigned char>(c[0]);
    if (n == 1) {
        out[0] = (b >= 'a' && b <= 'z') ? static_cast<char>(b - 0x20) : c[0];
        return;
    }
    if (out != c)
        std::memcpy(out, c, n);
    if (codePage == kCodePageUtf8) {
        char32_t cp;
        Utf8Sequence(std::string_view(c, n), 0, &cp);
        const char32_t up = UpperCodePoint(cp);
        if (up != cp) {
            std::string enc;  // same length by construction of UpperCodePoint; at most 3 bytes
            AppendUtf8(enc, up);
            std::memcpy(out, enc.data(), n);
        }
    } else if (codePage == kCodePageShiftJis) {
        // Full-width a..z (82 81..82 9A) to A..Z (82 60..82 79).
        const auto t = static_cast<unsigned char>(c[1]);
        if (b == 0x82 && t >= 0x81 && t <= 0x9A)
            out[1] = static_cast<char>(t - 0x21);
    }
}

// The upper-cased form of a text, made one character at a time as it is read, without a
// copy of the text: the comparisons below read it byte by byte.
class CUpperBytes {
  public:
    CUpperBytes(std::string_view s, UINT codePage) : m_s(s), m_codePage(codePage) {}
    // The next byte of the upper-cased text, or -1 at its end.
    int Next() {
        if (m_at == m_count) {
            if (m_next == m_s.size())
                return -1;
            const auto b = static_cast<unsigned char>(m_s[m_next]);
            if (b < 0x80) {  // a single-byte character: no window needed
                ++m_next;
                return (b >= 'a' && b <= 'z') ? b - 0x20 : b;
            }
            m_count = MbCharLength(m_s, m_next, m_codePage);
            UpperCaseChar(m_s.data() + m_next, m_count, m_codePage, m_window);
            m_next += m_count;
            m_at = 0;
        }
        return static_cast<unsigned char>(m_window[m_at++]);
    }

  private:
    std::string_view m_s;
    UINT m_codePage;
    std::size_t m_next = 0;  // where the next character begins
    char m_window[4] = {};   // the current character, upper-cased
    std::size_t m_count = 0;
    std::size_t m_at = 0;
};

}  // namespace

void MbMakeUpper(char* s, std::size_t size, UINT codePage) {
    const std::string_view view(s, size);
    std::size_t i = 0;
    while (i < size) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            if (b >= 'a' && b <= 'z')
                s[i] = static_cast<char>(b - 0x20);
            ++i;
            continue;
        }
        const std::size_t n = MbCharLength(view, i, codePage);
        UpperCaseChar(s + i, n, codePage, s + i);
        i += n;
    }
}

void MbMakeUpper(std::string& s, UINT codePage) {
    MbMakeUpper(s.data(), s.size(), codePage);
}

int MbCompareNoCase(std::string_view a, std::string_view b, UINT codePage) {
    CUpperBytes ua(a, codePage), ub(b, codePage);
    for (;;) {
        const int ca = ua.Next();
        const int cb = ub.Next();
        if (ca != cb)
            return ca < cb ? -1 : 1;  // the end (-1) orders before every byte
        if (ca < 0)
            return 0;
    }
}

bool MbEqualsUpperCased(std::string_view text, std::string_view upper, UINT codePage) {
    // Upper-casing keeps every character's length, so texts of other lengths never match.
    if (text.size() != upper.size())
        return false;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            if (((b >= 'a' && b <= 'z') ? b - 0x20 : b) != static_cast<unsigned char>(upper[i]))
                return false;
            ++i;
            continue;
        }
        const std::size_t n = MbCharLength(text, i, codePage);
        char folded[4];
        UpperCaseChar(text.data() + i, n, codePage, folded);
        if (std::memcmp(folded, upper.data() + i, n) != 0)
            return false;
        i += n;
    }
    return true;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = 0xFFFD;
        }
        AppendUtf8(out, u);
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t cp;
        std::size_t n = Utf8Sequence(text, i, &cp);
        if (n == 0) {
            cp = 0xFFFD;
            n = 1;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += n;
    }
    return out;
}

std::size_t DecodeUtf8(std::string_view text, std::size_t i, char32_t& cp) {
    return Utf8Sequence(text, i, &cp);
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

namespace detail {

std::string ValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t cp;
        std::size_t n = Utf8Sequence(text, i, &cp);
        if (n == 0) {
            AppendUtf8(out, 0xFFFD);
            i += 1;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

}  // namespace detail

bool IsActingCharacter(char32_t cp) {
    return (cp >= 0x80 && cp <= 0x9F) ||                    // C1 controls (CSI, NEL, ...)
           cp == 0x2028 || cp == 0x2029 ||                  // line and paragraph separators
           cp == 0x200E || cp == 0x200F || cp == 0x061C ||  // direction marks
           (cp >= 0x202A && cp <= 0x202E) ||                // embeddings and overrides
           (cp >= 0x2066 && cp <= 0x2069);                  // isolates
}

std::string EscapeControlCharacters(std::string_view text, UINT codePage, EEscape style) {
    const bool json = style == EEscape::Json;
    std::string out;
    out.reserve(text.size());
    char buf[16];
    auto byte = [&](unsigned char b) {
        std::snprintf(buf, sizeof buf, json ? "\\u%04X" : "\\x%02X", b);
        out += buf;
    };
    auto character = [&](char32_t cp) {
        std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(cp));
        out += buf;
    };
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        // Printable ASCII stays as it is, in every code page (no lead byte is below 0x80):
        // the run up to the next byte that may need more is copied at once.
        if (b >= 0x20 && b < 0x7F && (b != '\\' || style != EEscape::VisibleAndBackslash)) {
            std::size_t end = i + 1;
            while (end < text.size()) {
                const auto c = static_cast<unsigned char>(text[end]);
                if (c < 0x20 || c >= 0x7F || (c == '\\' && style == EEscape::VisibleAndBackslash))
                    break;
                ++end;
            }
            out.append(text.substr(i, end - i));
            i = end;
            continue;
        }
        std::size_t n = MbCharLength(text, i, codePage);
        if (codePage == kCodePageShiftJis && n == 2) {
            // A lead byte whose next byte cannot be a trail byte stands alone: the control
            // character after it must not hide in a pair.
            const auto t = static_cast<unsigned char>(text[i + 1]);
            if (t < 0x40 || t == 0x7F || t > 0xFC)
                n = 1;
        }
        if (b < 0x20 || b == 0x7F) {
            byte(b);
        } else if (b == '\\' && style == EEscape::VisibleAndBackslash) {
            out += "\\\\";
        } else if (codePage == kCodePageUtf8 && b >= 0x80) {
            char32_t cp = 0;
            if (Utf8Sequence(text, i, &cp) == 0) {
                if (json)
                    character(0xFFFD);  // not part of a character
                else
                    byte(b);
            } else if (IsActingCharacter(cp)) {
                character(cp);
            } else {
                out.append(text.substr(i, n));
            }
        } else if (codePage == kCodePageShiftJis && n == 1 && b >= 0x80 &&
                   !(b >= 0xA1 && b <= 0xDF)) {
            // A byte that is neither ASCII, a half-width katakana nor the lead of a pair.
            byte(b);
        } else {
            out.append(text.substr(i, n));
        }
        i += n;
    }
    return out;
}

}  // namespace ks

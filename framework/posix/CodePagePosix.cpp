// On Linux the ANSI code page is UTF-8.
#include "framework/CodePage.h"
#include "framework/detail/CodePageBackend.h"

namespace ks {

UINT GetAnsiCodePage() {
    return kCodePageUtf8;
}

std::string Utf16ToAnsi(const char16_t* text, std::size_t count, bool* usedDefault) {
    if (usedDefault != nullptr)
        *usedDefault = false;
    if (text == nullptr)
        return {};
    std::size_t n = 0;
    while (n < count && text[n] != 0)
        ++n;
    std::string out;
    std::u16string_view view(text, n);
    // Unpaired surrogates have no UTF-8 form: they become the default character.
    std::size_t start = 0;
    for (std::size_t i = 0; i < view.size(); ++i) {
        char16_t u = view[i];
        bool high = u >= 0xD800 && u <= 0xDBFF;
        bool low = u >= 0xDC00 && u <= 0xDFFF;
        if (high && i + 1 < view.size() && view[i + 1] >= 0xDC00 && view[i + 1] <= 0xDFFF) {
            ++i;
            continue;
        }
        if (high || low) {
            out += Utf16ToUtf8(view.substr(start, i - start));
            out += '?';
            if (usedDefault != nullptr)
                *usedDefault = true;
            start = i + 1;
        }
    }
    out += Utf16ToUtf8(view.substr(start));
    return out;
}

std::string AnsiToUtf8(std::string_view text) {
    return detail::ValidUtf8(text);
}

namespace detail {
bool IsDbcsLeadByte(UINT, unsigned char) {
    return false;
}
}  // namespace detail

}  // namespace ks

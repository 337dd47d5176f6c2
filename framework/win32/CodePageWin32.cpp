// On Windows the ANSI code page is the system's (932 on the target systems).
#include <vector>

#include "framework/CodePage.h"
#include "framework/detail/CodePageBackend.h"
// After the framework's headers: their constants would otherwise meet the SDK's macros.
#include "framework/win32/Win.h"

namespace ks {

UINT GetAnsiCodePage() {
    return ::GetACP();
}

std::string Utf16ToAnsi(const char16_t* text, std::size_t count, bool* usedDefault) {
    if (usedDefault != nullptr)
        *usedDefault = false;
    if (text == nullptr)
        return {};
    std::size_t n = 0;
    while (n < count && text[n] != 0)
        ++n;
    if (n == 0)
        return {};
    const auto* w = reinterpret_cast<const wchar_t*>(text);
    BOOL def = FALSE;
    int needed =
        ::WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return {};
    std::string out(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(n), out.data(), needed, nullptr, &def);
    if (usedDefault != nullptr)
        *usedDefault = def != FALSE;
    return out;
}

std::string AnsiToUtf8(std::string_view text) {
    if (text.empty())
        return {};
    int wide =
        ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (wide <= 0)
        return detail::ValidUtf8(text);
    std::vector<wchar_t> w(static_cast<std::size_t>(wide));
    ::MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), w.data(), wide);
    std::u16string u(reinterpret_cast<const char16_t*>(w.data()), w.size());
    return Utf16ToUtf8(u);
}

namespace detail {
bool IsDbcsLeadByte(UINT codePage, unsigned char byte) {
    return ::IsDBCSLeadByteEx(codePage, byte) != FALSE;
}
}  // namespace detail

}  // namespace ks

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>

#include "framework/DialogTemplate.h"
#include "framework/ImageScale.h"
#include "framework/ResourceFile.h"
#include "framework/WinTypes.h"

// After the framework's headers (see Win.h).
#include "framework/win32/DialogDpi.h"

namespace ks::win32 {

namespace {

// Resource types by number (the SDK's RT_ names are macros of another type).
constexpr WORD kDialogResource = 5;
constexpr WORD kBitmapResource = 2;

std::span<const BYTE> ModuleResource(WORD type, WORD id) {
    ::HMODULE module = ::GetModuleHandleW(nullptr);
    ::HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
    if (found == nullptr)
        return {};
    ::HGLOBAL loaded = ::LoadResource(module, found);
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr)
        return {};
    return {static_cast<const BYTE*>(bytes), ::SizeofResource(module, found)};
}

bool IsStatic(::HWND window) {
    wchar_t name[16] = {};
    return ::GetClassNameW(window, name, 16) > 0 && ::lstrcmpiW(name, L"Static") == 0;
}

DWORD StyleOf(::HWND window) {
    return static_cast<DWORD>(::GetWindowLongW(window, GWL_STYLE));
}

// A 24-bit top-down DIB section of the picture, its alpha (if any) laid over `face`. A
// bitmap without alpha is one the static control shows as it is, without a copy of its own.
::HBITMAP MakeBitmap(const CImageRgba& image, COLORREF face) {
    ::BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    ::HBITMAP bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr || bits == nullptr)
        return bitmap;
    const auto stride = (static_cast<std::size_t>(image.width) * 3 + 3) & ~std::size_t{3};
    auto* rows = static_cast<BYTE*>(bits);
    const unsigned faceRgb[3] = {GetBValue(face), GetGValue(face), GetRValue(face)};
    for (int y = 0; y < image.height; ++y) {
        BYTE* out = rows + static_cast<std::size_t>(y) * stride;
        for (int x = 0; x < image.width; ++x) {
            const std::uint32_t p =
                image.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) +
                             static_cast<std::size_t>(x)];
            const unsigned a = p >> 24;
            const unsigned bgr[3] = {p & 0xFF, (p >> 8) & 0xFF, (p >> 16) & 0xFF};
            for (int c = 0; c < 3; ++c)
                *out++ = static_cast<BYTE>((bgr[c] * a + faceRgb[c] * (255 - a) + 127) / 255);
        }
    }
    ::GdiFlush();
    return bitmap;
}

// The control's rectangle in its dialog's client coordinates.
::RECT RectIn(::HWND dialog, ::HWND control) {
    ::RECT r{};
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<::POINT*>(&r), 2);
    return r;
}

// Widens a one-line left-aligned label whose text its rectangle cuts off (see DialogDpi.h).
void FitLabel(::HWND dialog, ::HWND label) {
    const DWORD style = StyleOf(label);
    const int length = ::GetWindowTextLengthW(label);
    if (length <= 0)
        return;
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(::GetWindowTextW(label, text.data(), length + 1)));
    ::RECT client{};
    ::GetClientRect(label, &client);
    ::HDC dc = ::GetDC(label);
    if (dc == nullptr)
        return;
    ::HGDIOBJ previous =
        ::SelectObject(dc, reinterpret_cast<::HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0)));
    const UINT prefix = (style & SS_NOPREFIX) != 0 ? DT_NOPREFIX : 0;
    ::RECT wrapped{0, 0, client.right, 0};
    ::DrawTextW(dc, text.c_str(), -1, &wrapped,
                DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | prefix);
    ::RECT unwrapped{0, 0, 0, 0};
    ::DrawTextW(dc, text.c_str(), -1, &unwrapped, DT_CALCRECT | DT_EXPANDTABS | prefix);
    ::SelectObject(dc, previous);
    ::ReleaseDC(label, dc);
    // Only a text that its lines would show whole, were they not broken at the edge.
    if (wrapped.bottom <= client.bottom || unwrapped.bottom > client.bottom ||
        unwrapped.right <= client.right)
        return;
    const ::RECT at = RectIn(dialog, label);
    ::RECT dialogClient{};
    ::GetClientRect(dialog, &dialogClient);
    long limit = dialogClient.right;
    for (::HWND c = ::GetWindow(dialog, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT)) {
        if (c == label || (StyleOf(c) & WS_VISIBLE) == 0)
            continue;
        const ::RECT other = RectIn(dialog, c);
        if (other.left >= at.right && other.top < at.bottom && other.bottom > at.top)
            limit = std::min<long>(limit, other.left);
    }
    const long border = (at.right - at.left) - client.right;
    const long width = std::min<long>(unwrapped.right + border, limit - at.left);
    if (width > at.right - at.left)
        ::SetWindowPos(label, nullptr, 0, 0, static_cast<int>(width), at.bottom - at.top,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

CDialogDpi::~CDialogDpi() {
    for (auto& [picture, bitmap] : m_pictures)
        ::DeleteObject(bitmap);
    if (m_font != nullptr)
        ::DeleteObject(m_font);
}

void CDialogDpi::Created(::HWND dialog, UINT templateId) {
    if (templateId <= 0xFFFF)
        m_template =
            ParseDialogTemplate(ModuleResource(kDialogResource, static_cast<WORD>(templateId)));
    Fit(dialog);
}

void CDialogDpi::DpiChanged(::HWND dialog, UINT dpi, const ::RECT* suggested) {
    if (!m_template || !m_template->font || dpi == 0)
        return;
    // Has the dialog manager laid the dialog out anew? Then its font is made for the new
    // DPI. Where it has not, it never does, and every later move is laid out here too.
    if (!m_units) {
        ::LOGFONTW font{};
        auto current = reinterpret_cast<::HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
        const int wanted = -::MulDiv(m_template->font->pointSize, static_cast<int>(dpi), 72);
        if (current != nullptr && ::GetObjectW(current, sizeof font, &font) == sizeof font &&
            font.lfHeight == wanted) {
            Fit(dialog);
            return;
        }
    }
    Relayout(dialog, dpi, suggested);
    Fit(dialog);
}

void CDialogDpi::Relayout(::HWND dialog, UINT dpi, const ::RECT* suggested) {
    const CDialogFont& face = *m_template->font;
    ::LOGFONTW lf{};
    lf.lfHeight = -::MulDiv(face.pointSize, static_cast<int>(dpi), 72);
    lf.lfWeight = face.weight != 0 ? face.weight : FW_NORMAL;
    lf.lfItalic = face.italic ? TRUE : FALSE;
    lf.lfCharSet = face.charset;
    const std::u16string& name = face.typeface;
    std::copy_n(name.data(), std::min<std::size_t>(name.size(), LF_FACESIZE - 1),
                reinterpret_cast<char16_t*>(lf.lfFaceName));
    ::HFONT made = ::CreateFontIndirectW(&lf);
    if (made == nullptr)
        return;
    // The units Windows takes from a dialog's font: the average width of the 52 Latin
    // letters, rounded as (width / 26 + 1) / 2, and the character height.
    ::HDC dc = ::GetDC(dialog);
    if (dc == nullptr) {
        ::DeleteObject(made);
        return;
    }
    ::HGDIOBJ previous = ::SelectObject(dc, made);
    ::TEXTMETRICW metrics{};
    ::SIZE letters{};
    const wchar_t kLetters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    const bool measured =
        ::GetTextMetricsW(dc, &metrics) && ::GetTextExtentPoint32W(dc, kLetters, 52, &letters);
    ::SelectObject(dc, previous);
    ::ReleaseDC(dialog, dc);
    if (!measured || metrics.tmHeight <= 0 || letters.cx <= 0) {
        ::DeleteObject(made);
        return;
    }
    const CUnits units{static_cast<int>((letters.cx / 26 + 1) / 2),
                       static_cast<int>(metrics.tmHeight)};

    // The controls, made in template order, in the template's rectangles.
    std::size_t i = 0;
    for (::HWND c = ::GetWindow(dialog, GW_CHILD); c != nullptr && i < m_template->items.size();
         c = ::GetWindow(c, GW_HWNDNEXT), ++i) {
        const CDialogItemTemplate& item = m_template->items[i];
        ::SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(made), FALSE);
        ::SetWindowPos(c, nullptr, ::MulDiv(item.x, units.x, 4), ::MulDiv(item.y, units.y, 8),
                       ::MulDiv(item.cx, units.x, 4), ::MulDiv(item.cy, units.y, 8),
                       SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The dialog keeps the font it made itself, which it deletes when it goes.
    if (m_font != nullptr)
        ::DeleteObject(m_font);
    m_font = made;
    m_units = units;

    // The window: the template's client area in the new units, inside the frame, where the
    // system suggests.
    ::RECT frame{0, 0, ::MulDiv(m_template->cx, units.x, 4), ::MulDiv(m_template->cy, units.y, 8)};
    ::AdjustWindowRectEx(&frame, StyleOf(dialog), FALSE,
                         static_cast<DWORD>(::GetWindowLongW(dialog, GWL_EXSTYLE)));
    ::RECT now{};
    ::GetWindowRect(dialog, &now);
    const ::POINT at = suggested != nullptr ? ::POINT{suggested->left, suggested->top}
                                            : ::POINT{now.left, now.top};
    ::SetWindowPos(dialog, nullptr, at.x, at.y, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
    ::InvalidateRect(dialog, nullptr, TRUE);
}

::SIZE CDialogDpi::Pixels(::HWND dialog, int cx, int cy) const {
    if (m_units)
        return ::SIZE{::MulDiv(cx, m_units->x, 4), ::MulDiv(cy, m_units->y, 8)};
    // The dialog manager's own units.
    ::RECT r{0, 0, cx, cy};
    ::MapDialogRect(dialog, &r);
    return ::SIZE{r.right, r.bottom};
}

void CDialogDpi::Fit(::HWND dialog) {
    // The template says which bitmap each picture shows and where: the n-th bitmap picture
    // of the template is the dialog's n-th, as the dialog manager made them in its order.
    std::vector<const CDialogItemTemplate*> bitmaps;
    if (m_template)
        for (const CDialogItemTemplate& item : m_template->items)
            if (item.IsClass(u"Static") && (item.style & SS_TYPEMASK) == SS_BITMAP &&
                item.title.kind == CNameOrOrdinal::Kind::Ordinal)
                bitmaps.push_back(&item);
    std::size_t picture = 0;
    for (::HWND c = ::GetWindow(dialog, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT)) {
        if (!IsStatic(c))
            continue;
        const DWORD type = StyleOf(c) & SS_TYPEMASK;
        if (type == SS_BITMAP && picture < bitmaps.size()) {
            const CDialogItemTemplate& item = *bitmaps[picture++];
            FitPicture(c, item.title.ordinal, Pixels(dialog, item.cx, item.cy));
        } else if (type == SS_LEFT) {
            FitLabel(dialog, c);
        }
    }
}

void CDialogDpi::FitPicture(::HWND picture, WORD bitmapId, ::SIZE panel) {
    std::optional<CImageRgba> image = DecodeDib(ModuleResource(kBitmapResource, bitmapId), false);
    if (!image || panel.cx <= 0 || panel.cy <= 0)
        return;
    auto mine = std::find_if(m_pictures.begin(), m_pictures.end(),
                             [picture](const auto& p) { return p.first == picture; });
    // The bitmap was drawn for its panel at 96 dpi: within a pixel of that it stays as it is.
    const bool own =
        std::abs(panel.cx - image->width) <= 1 && std::abs(panel.cy - image->height) <= 1;
    if (own && mine == m_pictures.end())
        return;
    const CImageRgba scaled = own ? *image : ScaleImage(*image, panel.cx, panel.cy);
    if (scaled.pixels.empty())
        return;
    ::HBITMAP bitmap = MakeBitmap(scaled, ::GetSysColor(COLOR_3DFACE));
    if (bitmap == nullptr)
        return;
    // The static shows the new bitmap at its size and gives back the one it showed, which
    // nobody else holds: the one it loaded from the template, or one of ours.
    auto previous = reinterpret_cast<::HBITMAP>(
        ::SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
    if (previous != nullptr && previous != bitmap)
        ::DeleteObject(previous);
    if (mine != m_pictures.end())
        mine->second = bitmap;
    else
        m_pictures.emplace_back(picture, bitmap);
}

}  // namespace ks::win32

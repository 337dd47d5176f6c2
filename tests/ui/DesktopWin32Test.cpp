// The main window as Windows itself reports it, through the system's own calls on the real
// window: the common controls the program runs with, and the font its texts are drawn in.
// The Windows build only (run under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "framework/CodePage.h"
#include "framework/ResourceFile.h"
#include "res/resource.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/KeyScoutDlg.h"

// After the framework's headers (see Win.h).
#include "framework/win32/Win.h"

#include <commctrl.h>
#include <shlwapi.h>

namespace ks::test {
namespace {

::HWND Win(HWND h) {
    return reinterpret_cast<::HWND>(static_cast<std::uintptr_t>(h));
}

class DesktopWin32Test : public CThreeDevicesWindowTest {};

// Under Wine every copy of comctl32 is the same built-in library, and its DllGetVersion
// answers 5.81 even where the manifest activated the version 6 assembly.
bool UnderWine() {
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

TEST_F(DesktopWin32Test, TheCommonControlsInUseAreVersion6) {
    // The module that the list view's window class comes from: the one the manifest chose.
    ::HMODULE comctl = nullptr;
    ASSERT_TRUE(::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(
            ::GetClassLongPtrW(Win(m_dialog.m_listHardware.m_hWnd), GCLP_WNDPROC)),
        &comctl));
    EXPECT_EQ(::GetModuleHandleW(L"comctl32.dll"), comctl) << "two comctl32 in one process";
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(comctl, path, MAX_PATH);
    std::string where = Utf16ToUtf8(reinterpret_cast<const char16_t*>(path));
    for (char& c : where)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(where.find("\\winsxs\\x86_microsoft.windows.common-controls_6595b64144ccf1df_6."),
              std::string::npos)
        << where << " is not the side-by-side assembly of the common controls 6";

    auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
        reinterpret_cast<void*>(::GetProcAddress(comctl, "DllGetVersion")));
    ASSERT_NE(getVersion, nullptr);
    DLLVERSIONINFO info{};
    info.cbSize = sizeof info;
    ASSERT_EQ(getVersion(&info), S_OK);
    if (!UnderWine()) {
        EXPECT_EQ(info.dwMajorVersion, 6u) << "minor " << info.dwMinorVersion;
    }

    // A request that only the version 6 controls know: the Quit button's ideal size.
    ::SIZE ideal{};
    EXPECT_TRUE(::SendMessageW(Win(GetDlgItem(m_dialog.m_hWnd, IDOK)), BCM_GETIDEALSIZE, 0,
                               reinterpret_cast<LPARAM>(&ideal)))
        << "the buttons are not those of the common controls 6";
    EXPECT_GT(ideal.cx, 0);
}

// Every Japanese text of the template, drawn with the dialog's font: the face must have a
// glyph for each of its characters, whatever name the system gave the font.
TEST_F(DesktopWin32Test, TheDialogFontIsTheTemplatesOrOneWithJapaneseGlyphs) {
    ::HWND dialog = Win(m_dialog.m_hWnd);
    auto font = reinterpret_cast<::HFONT>(::SendMessageW(dialog, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    ::HDC dc = ::GetDC(dialog);
    ASSERT_NE(dc, nullptr);
    ::HGDIOBJ previous = ::SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = {};
    ASSERT_GT(::GetTextFaceW(dc, LF_FACESIZE, face), 0);
    const std::u16string named = u"ＭＳ Ｐゴシック";
    const std::u16string got(reinterpret_cast<const char16_t*>(face));
    std::u16string texts;
    for (::HWND c = ::GetWindow(dialog, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT)) {
        wchar_t text[512] = {};
        ::GetWindowTextW(c, text, 512);
        texts += reinterpret_cast<const char16_t*>(text);
    }
    std::u16string japanese;
    // Kana, kanji and the full-width forms (a picture's text is its image's ordinal).
    for (char16_t ch : texts)
        if ((ch >= 0x3000 && ch < 0xA000) || (ch >= 0xFF00 && ch < 0xFFF0))
            japanese += ch;
    ASSERT_GT(japanese.size(), 80u) << "the template's texts did not come back as UTF-16";
    std::vector<WORD> glyphs(japanese.size());
    ASSERT_EQ(::GetGlyphIndicesW(dc, reinterpret_cast<LPCWSTR>(japanese.c_str()),
                                 static_cast<int>(japanese.size()), glyphs.data(),
                                 GGI_MARK_NONEXISTING_GLYPHS),
              static_cast<DWORD>(japanese.size()));
    std::string missing;
    for (std::size_t i = 0; i < glyphs.size(); ++i)
        if (glyphs[i] == 0xFFFF)
            missing += Utf16ToUtf8(japanese.substr(i, 1));
    EXPECT_TRUE(missing.empty()) << "the face " << Utf16ToUtf8(got) << " has no glyph for "
                                 << missing;
    ::TEXTMETRICW metrics{};
    ASSERT_TRUE(::GetTextMetricsW(dc, &metrics));
    EXPECT_EQ(metrics.tmCharSet, SHIFTJIS_CHARSET) << Utf16ToUtf8(got);
    ::SelectObject(dc, previous);
    ::ReleaseDC(dialog, dc);
    RecordProperty("face", Utf16ToUtf8(got));
    if (got != named)
        std::printf("the dialog font is %s, standing in for %s\n", Utf16ToUtf8(got).c_str(),
                    Utf16ToUtf8(named).c_str());
}

// --- The screen's dots per inch ----------------------------------------------------------
// Run at 96 dpi with the other window tests, and in Wine prefixes of 120, 144 and 192 dpi
// (ui_win32_tests_dpi*, with KS_EXPECT_DPI naming the prefix's).

int ExpectedDpi() {
    const char* expected = std::getenv("KS_EXPECT_DPI");
    return expected != nullptr ? std::atoi(expected) : 0;
}

std::u16string Text(::HWND window) {
    wchar_t text[1024] = {};
    ::GetWindowTextW(window, text, 1024);
    return std::u16string(reinterpret_cast<const char16_t*>(text));
}

std::string ClassOf(::HWND window) {
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

// Texts that their control cuts off, as the control draws them: a static breaks its text
// into lines at its width, a button centres one line inside its edges.
std::vector<std::string> ClippedTexts(::HWND dialog) {
    std::vector<std::string> clipped;
    for (::HWND c = ::GetWindow(dialog, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT)) {
        const std::string cls = ClassOf(c);
        const auto style = static_cast<DWORD>(::GetWindowLongW(c, GWL_STYLE));
        const bool text = cls == "Static" && (style & SS_TYPEMASK) <= SS_RIGHT;
        const bool button = cls == "Button";
        if (!text && !button)
            continue;
        const std::u16string content = Text(c);
        ::RECT client{};
        ::GetClientRect(c, &client);
        ::HDC dc = ::GetDC(c);
        ::HGDIOBJ previous =
            ::SelectObject(dc, reinterpret_cast<::HFONT>(::SendMessageW(c, WM_GETFONT, 0, 0)));
        ::RECT need{0, 0, client.right, 0};
        UINT flags = DT_CALCRECT | DT_EXPANDTABS;
        flags |= button ? DT_SINGLELINE : DT_WORDBREAK;
        if ((style & SS_NOPREFIX) != 0 && !button)
            flags |= DT_NOPREFIX;
        ::DrawTextW(dc, reinterpret_cast<LPCWSTR>(content.c_str()), -1, &need, flags);
        ::SelectObject(dc, previous);
        ::ReleaseDC(c, dc);
        const int room = button ? client.right - 2 * ::GetSystemMetrics(SM_CXEDGE) : client.right;
        if (need.right > room || need.bottom > client.bottom)
            clipped.push_back(Utf16ToUtf8(content) + " needs " + std::to_string(need.right) +
                              " x " + std::to_string(need.bottom) + ", has " +
                              std::to_string(room) + " x " + std::to_string(client.bottom));
    }
    return clipped;
}

TEST_F(DesktopWin32Test, NoTextIsClippedAtTheScreensDotsPerInch) {
    const UINT dpi = GetDpiForWindow(m_dialog.m_hWnd);
    if (ExpectedDpi() != 0) {
        ASSERT_EQ(dpi, static_cast<UINT>(ExpectedDpi())) << "the prefix's DPI did not take";
    }
    RecordProperty("dpi", static_cast<int>(dpi));
    std::vector<std::string> clipped = ClippedTexts(Win(m_dialog.m_hWnd));
    // The About box, while it runs.
    CScriptWindow script;
    ASSERT_TRUE(script.CreateMessageOnly());
    bool seen = false;
    script.Post([&] {
        ::HWND about = ::FindWindowW(nullptr, L"KeyScoutのバージョン情報");
        seen = about != nullptr;
        if (about == nullptr) {
            ::PostMessageW(::GetActiveWindow(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
            return;
        }
        for (std::string& c : ClippedTexts(about))
            clipped.push_back("About box: " + c);
        ::PostMessageW(about, WM_COMMAND, IDOK, 0);
    });
    m_dialog.SendMessage(WM_SYSCOMMAND, 0x0010, 0);
    EXPECT_TRUE(seen) << "the About box did not open";
    std::string all;
    for (const std::string& c : clipped)
        all += "\n  " + c;
    EXPECT_TRUE(clipped.empty()) << "at " << dpi << " dpi:" << all;
}

// The pixels of a bitmap, 0xAARRGGBB, top row first.
CImageRgba PixelsOf(::HBITMAP bitmap) {
    ::BITMAP info{};
    if (bitmap == nullptr || ::GetObjectW(bitmap, sizeof info, &info) != sizeof info)
        return {};
    ::BITMAPINFO want{};
    want.bmiHeader.biSize = sizeof want.bmiHeader;
    want.bmiHeader.biWidth = info.bmWidth;
    want.bmiHeader.biHeight = -info.bmHeight;
    want.bmiHeader.biPlanes = 1;
    want.bmiHeader.biBitCount = 32;
    want.bmiHeader.biCompression = BI_RGB;
    CImageRgba image{info.bmWidth, info.bmHeight,
                     std::vector<std::uint32_t>(static_cast<std::size_t>(info.bmWidth) *
                                                static_cast<std::size_t>(info.bmHeight))};
    ::HDC dc = ::GetDC(nullptr);
    const int rows = ::GetDIBits(dc, bitmap, 0, static_cast<UINT>(info.bmHeight),
                                 image.pixels.data(), &want, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, dc);
    if (rows != info.bmHeight)
        return {};
    for (std::uint32_t& p : image.pixels)
        p |= 0xFF000000u;
    return image;
}

::HWND Picture(::HWND dialog) {
    for (::HWND c = ::GetWindow(dialog, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT))
        if (ClassOf(c) == "Static" && (::GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            return c;
    return nullptr;
}

// Bitmap 130 as the resources hold it.
CImageRgba Source() {
    ::HBITMAP own = static_cast<::HBITMAP>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                        MAKEINTRESOURCEW(IDB_PICTURE), IMAGE_BITMAP,
                                                        0, 0, LR_CREATEDIBSECTION));
    CImageRgba image = PixelsOf(own);
    ::DeleteObject(own);
    return image;
}

// The panel the template gives bitmap 130: 91 x 214 dialog units, in pixels.
::SIZE Panel(::HWND dialog) {
    ::RECT r{0, 0, 91, 214};
    ::MapDialogRect(dialog, &r);
    return ::SIZE{r.right, r.bottom};
}

TEST_F(DesktopWin32Test, TheBitmapFillsItsPanelDrawnSmoothly) {
    ::HWND dialog = Win(m_dialog.m_hWnd);
    ::HWND picture = Picture(dialog);
    ASSERT_NE(picture, nullptr);
    const CImageRgba source = Source();
    ASSERT_EQ(source.width, 160);
    ASSERT_EQ(source.height, 320);
    const CImageRgba shown = PixelsOf(
        reinterpret_cast<::HBITMAP>(::SendMessageW(picture, STM_GETIMAGE, IMAGE_BITMAP, 0)));
    const ::SIZE panel = Panel(dialog);
    const UINT dpi = GetDpiForWindow(m_dialog.m_hWnd);
    SCOPED_TRACE("at " + std::to_string(dpi) + " dpi, panel " + std::to_string(panel.cx) + " x " +
                 std::to_string(panel.cy));
    if (std::abs(panel.cx - 160) <= 1 && std::abs(panel.cy - 320) <= 1) {
        // Drawn for this panel: shown as it is.
        EXPECT_EQ(shown.pixels, source.pixels);
        return;
    }
    EXPECT_EQ(shown.width, panel.cx);
    EXPECT_EQ(shown.height, panel.cy);
    ::RECT at{};
    ::GetClientRect(picture, &at);
    EXPECT_EQ(at.right, panel.cx);
    EXPECT_EQ(at.bottom, panel.cy);
    ExpectSmoothCopyOf(shown, source);
}

// Everything the window shows, as rectangles in the dialog's client area.
std::vector<::RECT> Layout(::HWND dialog) {
    std::vector<::RECT> out;
    ::RECT client{};
    ::GetClientRect(dialog, &client);
    out.push_back(client);
    for (::HWND c = ::GetWindow(dialog, GW_CHILD); c != nullptr; c = ::GetWindow(c, GW_HWNDNEXT)) {
        ::RECT r{};
        ::GetWindowRect(c, &r);
        ::MapWindowPoints(nullptr, dialog, reinterpret_cast<::POINT*>(&r), 2);
        out.push_back(r);
    }
    return out;
}

std::string Show(const std::vector<::RECT>& layout) {
    std::ostringstream out;
    for (const ::RECT& r : layout)
        out << '(' << r.left << ',' << r.top << ")-(" << r.right << ',' << r.bottom << ") ";
    return out.str();
}

int FontHeight(::HWND control) {
    ::LOGFONTW lf{};
    auto font = reinterpret_cast<::HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    return font != nullptr && ::GetObjectW(font, sizeof lf, &lf) == sizeof lf ? lf.lfHeight : 0;
}

// The system tells the window it is now on a monitor of `dpi`, with the rectangle it
// suggests there.
void MoveToMonitorOf(::HWND dialog, UINT dpi, UINT from) {
    ::RECT now{};
    ::GetWindowRect(dialog, &now);
    ::RECT suggested{
        now.left, now.top,
        now.left + ::MulDiv(now.right - now.left, static_cast<int>(dpi), static_cast<int>(from)),
        now.top + ::MulDiv(now.bottom - now.top, static_cast<int>(dpi), static_cast<int>(from))};
    ::SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                   reinterpret_cast<LPARAM>(&suggested));
}

TEST_F(DesktopWin32Test, AMoveToAMonitorOfAnotherDpiLaysTheWindowOutForIt) {
    ::HWND dialog = Win(m_dialog.m_hWnd);
    const UINT dpi = GetDpiForWindow(m_dialog.m_hWnd);
    const UINT other = dpi * 3 / 2;
    const std::vector<::RECT> before = Layout(dialog);
    ::HWND list = Win(m_dialog.m_listHardware.m_hWnd);
    ASSERT_EQ(FontHeight(list), -::MulDiv(9, static_cast<int>(dpi), 72));

    MoveToMonitorOf(dialog, other, dpi);
    SCOPED_TRACE("from " + std::to_string(dpi) + " to " + std::to_string(other) + " dpi");
    // The controls have the template's font at the new size, and the window and the
    // controls grew with it, in the template's proportions.
    EXPECT_EQ(FontHeight(list), -::MulDiv(9, static_cast<int>(other), 72));
    const std::vector<::RECT> after = Layout(dialog);
    ASSERT_EQ(after.size(), before.size());
    const double grown = static_cast<double>(after[0].right) / before[0].right;
    EXPECT_NEAR(grown, 1.5, 0.12) << Show(after);
    EXPECT_NEAR(static_cast<double>(after[0].bottom) / before[0].bottom, 1.5, 0.12);
    ::RECT listAt{};
    ::GetWindowRect(list, &listAt);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<::POINT*>(&listAt), 2);
    EXPECT_NEAR(static_cast<double>(listAt.right - listAt.left) / after[0].right, 252.0 / 357.0,
                0.01);
    // Its one column still spans the list.
    ::RECT listClient{};
    ::GetClientRect(list, &listClient);
    EXPECT_EQ(::SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0), listClient.right);
    // The bitmap fills its panel there, drawn smoothly, and no text is cut off.
    const CImageRgba shown = PixelsOf(reinterpret_cast<::HBITMAP>(
        ::SendMessageW(Picture(dialog), STM_GETIMAGE, IMAGE_BITMAP, 0)));
    EXPECT_NEAR(shown.height, after[0].bottom, 1) << "the picture's panel is as high as the window";
    EXPECT_NEAR(static_cast<double>(shown.width) / after[0].right, 91.0 / 357.0, 0.01);
    ExpectSmoothCopyOf(shown, Source());
    EXPECT_EQ(ClippedTexts(dialog), std::vector<std::string>{});

    // And back: the window is as it was.
    MoveToMonitorOf(dialog, dpi, other);
    EXPECT_EQ(FontHeight(list), -::MulDiv(9, static_cast<int>(dpi), 72));
    EXPECT_EQ(Show(Layout(dialog)), Show(before));
}

// The manifest asks for per-monitor (v2) awareness, which Windows 10 1703 and later give, and
// for system awareness on the systems before: in the list that 1607 reads, and in the older
// setting that the systems before it read.
TEST_F(DesktopWin32Test, TheManifestAsksForPerMonitorAwarenessAndSystemAwarenessBeforeIt) {
    ::HMODULE module = ::GetModuleHandleW(nullptr);
    ::HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr);
    const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(module, found)));
    const std::string manifest(bytes, ::SizeofResource(module, found));
    auto squeezed = [](std::string text) {
        text.erase(std::remove_if(text.begin(), text.end(),
                                  [](char c) { return c == ' ' || c == '\n' || c == '\r'; }),
                   text.end());
        return text;
    };
    const std::string flat = squeezed(manifest);
    EXPECT_NE(flat.find(squeezed(R"(<application xmlns="urn:schemas-microsoft-com:asm.v3">
        <windowsSettings>)")),
              std::string::npos)
        << manifest;
    EXPECT_NE(
        flat.find(squeezed(
            R"(<dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">true</dpiAware>)")),
        std::string::npos)
        << manifest;
    EXPECT_NE(
        flat.find(squeezed(
            R"(<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2,System</dpiAwareness>)")),
        std::string::npos)
        << manifest;

    // Where the system honours it (Windows; Wine makes every program per-monitor aware of
    // its own), the window thread runs per-monitor (v2) aware.
    using Context = void*;
    auto current = reinterpret_cast<Context(WINAPI*)()>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetThreadDpiAwarenessContext")));
    auto equal = reinterpret_cast<BOOL(WINAPI*)(Context, Context)>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "AreDpiAwarenessContextsEqual")));
    auto valid = reinterpret_cast<BOOL(WINAPI*)(Context)>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "IsValidDpiAwarenessContext")));
    const auto perMonitorV2 = reinterpret_cast<Context>(static_cast<std::intptr_t>(-4));
    if (!UnderWine() && current != nullptr && equal != nullptr && valid != nullptr &&
        valid(perMonitorV2)) {
        EXPECT_TRUE(equal(current(), perMonitorV2));
    }
}

}  // namespace
}  // namespace ks::test

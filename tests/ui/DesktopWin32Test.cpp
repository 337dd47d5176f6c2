// The main window as Windows itself reports it, through the system's own calls on the real
// window: the common controls the program runs with, and the font its texts are drawn in.
// The Windows build only (run under Wine).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "framework/CodePage.h"
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

class DesktopWin32Test : public ::testing::Test {
  protected:
    void SetUp() override {
        m_machine.emplace("ui-three-devices.json");
        TheApp().StartScanThread();
        ASSERT_NE(TheApp().m_pScanThread, nullptr);
        TheApp().m_pMainWnd = &m_dialog;
        ASSERT_TRUE(m_dialog.Create(IDD_KEYSCOUT_DIALOG));
        ASSERT_TRUE(PumpUntil([&] { return m_dialog.m_listHardware.GetItemCount() == 3; },
                              m_dialog.m_hWnd));
    }
    void TearDown() override {
        if (m_dialog.m_hWnd != 0)
            m_dialog.DestroyWindow();
        TheApp().StopScanThread();
    }

    std::optional<CSimulatedMachine> m_machine;
    CKeyScoutDlg m_dialog;
};

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

}  // namespace
}  // namespace ks::test

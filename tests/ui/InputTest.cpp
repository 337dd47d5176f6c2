// The main window driven as a user drives it: mouse clicks and keys that come from the X
// server (xdotool, on the display of the test run) into the real window, on a simulated
// machine with the worker scanning it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "res/resource.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/KeyScoutDlg.h"
#include "worker/KeyScoutThread.h"

namespace ks::test {
namespace {

// Runs xdotool with the arguments; its output, or the empty text when it failed.
std::string Xdotool(const std::string& arguments) {
    std::string out;
    // "e": the pipe is not inherited by the xdotool that another thread starts meanwhile,
    // which would hold it open.
    if (FILE* pipe = ::popen(("xdotool " + arguments + " 2>/dev/null").c_str(), "re")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
            out += buffer;
        ::pclose(pipe);
    }
    return out;
}

class InputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr)
            GTEST_SKIP() << "no X display: real input needs one";
    }
    void TearDown() override {
        if (m_dialog.m_hWnd != 0)
            m_dialog.DestroyWindow();
        TheApp().StopScanThread();
    }

    void Open() {
        m_machine.emplace("ui-three-devices.json");
        TheApp().StartScanThread();
        ASSERT_NE(TheApp().m_pScanThread, nullptr);
        TheApp().m_pMainWnd = &m_dialog;
        ASSERT_TRUE(m_dialog.Create(IDD_KEYSCOUT_DIALOG));
        ASSERT_TRUE(PumpUntil([&] { return List().GetItemCount() == 3; }, m_dialog.m_hWnd));
        WaitUntilShown();
    }

    // The window is on the X server, and the pointer is over it (without a window manager
    // the keyboard follows the pointer).
    void WaitUntilShown() {
        // Mapped on the X server: the window's thread must go on running meanwhile.
        ASSERT_TRUE(
            PumpUntil([&] { return !Xdotool("search --onlyvisible --name '^KeyScout$'").empty(); },
                      m_dialog.m_hWnd));
        POINT p = ScreenPoint(m_dialog.m_hWnd, 300, 170);
        Xdotool("mousemove " + std::to_string(p.x) + " " + std::to_string(p.y));
        PumpPending(m_dialog.m_hWnd);
    }

    // A point of a window in screen coordinates, from a point in dialog units (the dialog)
    // or in the window's client pixels (a control).
    POINT ScreenPoint(HWND window, LONG x, LONG y, bool dialogUnits = true) {
        RECT r{x, y, x, y};
        if (dialogUnits)
            MapDialogRect(window, &r);
        POINT p{r.left, r.top};
        MapWindowPoints(window, 0, &p, 1);
        return p;
    }

    void Click(POINT p, int button = 1) {
        Xdotool("mousemove " + std::to_string(p.x) + " " + std::to_string(p.y) + " click " +
                std::to_string(button));
    }

    HWND Item(int id) const { return GetDlgItem(m_dialog.m_hWnd, id); }
    std::string Field(int id) const { return WindowText(Item(id)); }
    CListCtrl& List() { return m_dialog.m_listHardware; }

    std::optional<CSimulatedMachine> m_machine;
    CKeyScoutDlg m_dialog;
};

TEST_F(InputTest, AClickOnTheSecondLineShowsItAndOneOnEmptySpaceShowsNothing) {
    Open();
    CTextLog vendorLog;
    ASSERT_TRUE(vendorLog.SubclassWindow(Item(IDC_EDIT_VENDOR_ID)));

    RECT line;
    ASSERT_TRUE(List().GetItemRect(1, &line, LVIR_BOUNDS));
    Click(ScreenPoint(List().m_hWnd, line.left + 20, (line.top + line.bottom) / 2, false));
    ASSERT_TRUE(
        PumpUntil([&] { return List().GetNextItem(-1, LVNI_SELECTED) == 1; }, m_dialog.m_hWnd));
    EXPECT_EQ(Field(IDC_EDIT_VENDOR_ID), "0x3F0C");
    EXPECT_EQ(Field(IDC_EDIT_PRODUCT_ID), "0xA201");
    // Cleared by the first line's deselection, then filled by the second's selection.
    ASSERT_GE(vendorLog.m_texts.size(), 2u);
    EXPECT_EQ(vendorLog.m_texts[0], "");
    EXPECT_EQ(vendorLog.m_texts.back(), "0x3F0C");

    // Below the last line: nothing is selected, and the details are empty.
    RECT list;
    GetClientRect(List().m_hWnd, &list);
    Click(ScreenPoint(List().m_hWnd, 20, list.bottom - 5, false));
    ASSERT_TRUE(
        PumpUntil([&] { return List().GetNextItem(-1, LVNI_SELECTED) == -1; }, m_dialog.m_hWnd));
    EXPECT_EQ(Field(IDC_EDIT_VENDOR_ID), "");
    EXPECT_EQ(Field(IDC_EDIT_SERIAL), "");
    EXPECT_EQ(m_dialog.m_treeDetails.GetCount(), 0u);
    vendorLog.UnsubclassWindow();
}

TEST_F(InputTest, TheLineClickedStaysChosenWhenADeviceChangeRefillsTheList) {
    Open();
    RECT line;
    ASSERT_TRUE(List().GetItemRect(2, &line, LVIR_BOUNDS));
    Click(ScreenPoint(List().m_hWnd, line.left + 20, (line.top + line.bottom) / 2, false));
    ASSERT_TRUE(
        PumpUntil([&] { return List().GetNextItem(-1, LVNI_SELECTED) == 2; }, m_dialog.m_hWnd));
    const std::string serial = Field(IDC_EDIT_SERIAL);

    // The headset is plugged into the hub, after the phone: the list grows to four lines.
    m_machine->Replace(ThreeDevicesPlusHeadset());
    ASSERT_TRUE(ks::PostMessage(m_dialog.m_hWnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0));
    ASSERT_TRUE(PumpUntil([&] { return List().GetItemCount() == 4; }, m_dialog.m_hWnd));
    EXPECT_EQ(List().GetNextItem(-1, LVNI_SELECTED), 2);
    EXPECT_EQ(Field(IDC_EDIT_SERIAL), serial) << "the phone's serial number, still";
}

TEST_F(InputTest, TheSerialNumberCanBeSelectedAndCopiedButNotChanged) {
    Open();
    HWND serial = Item(IDC_EDIT_SERIAL);
    const std::string shown = Field(IDC_EDIT_SERIAL);
    ASSERT_FALSE(shown.empty());
    Click(ScreenPoint(serial, 5, 5, false));
    Xdotool("key ctrl+a BackSpace x");
    PumpPending(m_dialog.m_hWnd);
    EXPECT_EQ(Field(IDC_EDIT_SERIAL), shown) << "the field is read-only";
    DWORD start = 0;
    DWORD end = 0;
    SendMessage(serial, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, static_cast<DWORD>(shown.size())) << "Ctrl+A selected the whole serial number";
}

// The modal run, ended by keys from the X server.
class InputModalTest : public InputTest {
  protected:
    INT_PTR RunWithKeys(const std::string& keys) {
        m_machine.emplace("ui-three-devices.json");
        TheApp().StartScanThread();
        TheApp().m_pMainWnd = &m_dialog;
        CScriptWindow script;
        EXPECT_TRUE(script.CreateMessageOnly());
        script.Post([&] {
            EXPECT_TRUE(PumpUntil([&] { return List().GetItemCount() == 3; }, m_dialog.m_hWnd));
            WaitUntilShown();
            Xdotool("key " + keys);
        });
        return m_dialog.DoModal();
    }
};

TEST_F(InputModalTest, EscapeCancels) {
    EXPECT_EQ(RunWithKeys("Escape"), IDCANCEL);
}

TEST_F(InputModalTest, EnterPressesTheQuitButton) {
    EXPECT_EQ(RunWithKeys("Return"), IDOK);
}

TEST_F(InputModalTest, AltQPressesTheQuitButton) {
    EXPECT_EQ(RunWithKeys("alt+q"), IDOK);
}

// The windows of this program on the X server (the dialog, a menu, the About box).
int ProgramWindows() {
    const std::string ids = Xdotool("search --onlyvisible --classname keyscout");
    return static_cast<int>(std::count(ids.begin(), ids.end(), '\n'));
}

TEST_F(InputTest, TheContextMenuOffersTheAboutBox) {
    Open();
    const int before = ProgramWindows();
    const std::string about = "'^KeyScoutのバージョン情報$'";
    // A user's hand, on its own thread: it waits for what the screen shows and answers it
    // while the window's thread runs the menu and then the About box.
    std::atomic<bool> sawMenu{false};
    std::atomic<bool> sawAbout{false};
    std::thread hand([&] {
        for (int i = 0; i < 200 && !sawMenu; ++i) {
            sawMenu = ProgramWindows() > before;
            if (!sawMenu)
                Xdotool("sleep 0.05");
        }
        // The button comes up once the menu shows, as a hand's does; then the menu has the
        // keyboard, and its last item is About.
        Xdotool("mouseup 3");
        Xdotool("key Up Return");
        for (int i = 0; i < 200 && !sawAbout; ++i) {
            sawAbout = !Xdotool("search --onlyvisible --name " + about).empty();
            if (!sawAbout)
                Xdotool("sleep 0.05");
        }
        // Escape closes the About box (or, when something failed, the menu).
        Xdotool("key Escape");
    });
    const POINT at = ScreenPoint(m_dialog.m_hWnd, 300, 170);
    Xdotool("mousemove " + std::to_string(at.x) + " " + std::to_string(at.y) + " mousedown 3");
    const bool done = PumpUntil(
        [&] { return sawAbout.load() && FindWindowA(nullptr, "KeyScoutのバージョン情報") == 0; },
        m_dialog.m_hWnd);
    hand.join();
    EXPECT_TRUE(sawMenu) << "a right click opens the window's menu";
    EXPECT_TRUE(done) << "its last item opens the About box, which Escape closes";
    EXPECT_TRUE(IsWindowEnabled(m_dialog.m_hWnd));
}

}  // namespace
}  // namespace ks::test

// The main window and the About box on simulated machines: the real dialog code with the
// real controls of the window system, checked through the controls' own requests (list-view
// and tree-view messages, window texts), with the worker scanning the machine as it does in
// the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "framework/CodePage.h"
#include "platform/sim/FixtureLoader.h"
#include "res/Version.h"
#include "res/resource.h"
#include "tests/support/TestData.h"
#include "tests/support/WaitBound.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/KeyScoutDlg.h"
#include "worker/KeyScoutThread.h"

namespace ks {
// The worker's table of registered windows, as the worker tests read it.
struct CKeyScoutThreadProbe {
    static std::map<HWND, UINT> Windows(CKeyScoutThread& t) {
        CSingleLock lock(&t.m_windowsLock, TRUE);
        return t.m_windows;
    }
};

// For the failure messages of rectangle comparisons.
std::ostream& operator<<(std::ostream& out, const RECT& r) {
    return out << '(' << r.left << ',' << r.top << ")-(" << r.right << ',' << r.bottom << ')';
}
}  // namespace ks

namespace ks::test {
namespace {

// The device lines of ui-three-devices.json, in the order the scan finds them.
const char* const kThreeDevices[] = {"USB 大容量記憶装置", "USB 複合デバイス", "Corvid X2"};

// One item of a tree view or a details tree, as text with its children.
struct TreeShape {
    std::string text;
    std::vector<TreeShape> children;
    friend bool operator==(const TreeShape&, const TreeShape&) = default;
};

std::ostream& operator<<(std::ostream& out, const TreeShape& t) {
    out << '"' << t.text << "\" {";
    for (const TreeShape& c : t.children)
        out << c << ' ';
    return out << '}';
}

TreeShape FromDetails(const CDetailNode& node) {
    TreeShape shape{Utf8(node.m_strText.Str()), {}};
    for (const CDetailNode& child : node.m_children)
        shape.children.push_back(FromDetails(child));
    return shape;
}

// Reads the tree view item by item; records every item with children that is not expanded.
TreeShape FromTreeView(const CTreeCtrl& tree, HTREEITEM item, std::vector<std::string>* collapsed) {
    TreeShape shape{Utf8(tree.GetItemText(item).Str()), {}};
    for (HTREEITEM c = tree.GetChildItem(item); c != nullptr; c = tree.GetNextSiblingItem(c))
        shape.children.push_back(FromTreeView(tree, c, collapsed));
    if (!shape.children.empty() && (tree.GetItemState(item, TVIS_EXPANDED) & TVIS_EXPANDED) == 0)
        collapsed->push_back(shape.text);
    return shape;
}

// The main window as it is, counting the device-change broadcasts it receives (the system
// may broadcast some of its own while a test runs) and the results it has been told of.
class CObservedDlg : public CKeyScoutDlg {
  public:
    int m_deviceChanges = 0;
    int m_results = 0;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_DEVICECHANGE)
            ++m_deviceChanges;
        const LRESULT result = CKeyScoutDlg::WindowProc(message, wParam, lParam);
        if (message == WM_KEYSCOUT_SCAN)
            ++m_results;
        return result;
    }
};

class KeyScoutDlgTest : public ::testing::Test {
  protected:
    void TearDown() override {
        if (m_dialog.m_hWnd != 0)
            m_dialog.DestroyWindow();
        TheApp().StopScanThread();
    }

    // Starts the worker and creates the window, as start-up does, on the machine given. A
    // test calls it through ASSERT_NO_FATAL_FAILURE: a window that shows no scan has nothing
    // for the rest of the test to look at.
    void Open(const std::string& fixture) { Open(LoadMachineFile(DataPath(fixture))); }
    void Open(CMachineModel machine) {
        m_machine.emplace(std::make_unique<CModelPlatform>(std::move(machine)));
        TheApp().StartScanThread();
        ASSERT_NE(TheApp().m_pScanThread, nullptr) << "the worker could not be started";
        // The program's main window, as start-up makes it.
        TheApp().m_pMainWnd = &m_dialog;
        ASSERT_TRUE(m_dialog.Create(IDD_KEYSCOUT_DIALOG)) << "the main window was not created";
        ASSERT_TRUE(WaitForPublishedScan())
            << "the worker did not finish the window's first scan (its bound ran out)";
    }

    // Waits until the worker has finished a pass, then runs what it posted to the window.
    bool WaitForPublishedScan() {
        if (BoundedWait(TheApp().m_pScanThread->m_scanDoneEvent.m_hObject, 20000) != WAIT_OBJECT_0)
            return false;
        PumpPending(m_dialog.m_hWnd);
        return true;
    }

    // The machine changes (a device plugged in or pulled out) and the system broadcasts it;
    // succeeds once the window has refilled its list with `lines` lines.
    ::testing::AssertionResult Rescan(std::optional<CMachineModel> next, int lines) {
        if (next)
            m_machine->Replace(std::move(*next));
        const int before = m_dialog.m_results;
        // Only the events that carry no data can be posted; the window treats every kind
        // alike.
        if (!ks::PostMessage(m_dialog.m_hWnd, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0))
            return ::testing::AssertionFailure() << "the device-change broadcast was not posted";
        if (PumpUntil([&] { return m_dialog.m_results > before && List().GetItemCount() == lines; },
                      m_dialog.m_hWnd))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "after a device-change broadcast the window did not show " << lines
               << " lines: " << m_dialog.m_results - before << " results came, "
               << List().GetItemCount() << " lines shown";
    }
    void Select(int line) {
        List().SetItemState(line, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }
    // The one selected line, which also has the focus; -1 when none is selected.
    int Selected() {
        const int line = List().GetNextItem(-1, LVNI_SELECTED);
        EXPECT_EQ(List().GetNextItem(line, LVNI_SELECTED), -1) << "a second selected line";
        if (line != -1) {
            EXPECT_EQ(List().GetNextItem(-1, LVNI_FOCUSED), line) << "the focus is elsewhere";
        }
        return line;
    }

    HWND Item(int id) const { return GetDlgItem(m_dialog.m_hWnd, id); }
    std::string Field(int id) const { return WindowText(Item(id)); }
    CListCtrl& List() { return m_dialog.m_listHardware; }
    CTreeCtrl& Tree() { return m_dialog.m_treeDetails; }

    std::vector<std::string> Lines() {
        std::vector<std::string> lines;
        for (int i = 0; i < List().GetItemCount(); ++i)
            lines.push_back(Utf8(List().GetItemText(i, 0).Str()));
        return lines;
    }

    // The published records, fetched the way the window fetches them.
    CDeviceRecordList Published() {
        CDeviceRecordList records;
        TheApp().m_pScanThread->GetResults(records);
        return records;
    }

    void ExpectShows(const CDeviceRecord& record) {
        char vendor[16];
        char product[16];
        std::snprintf(vendor, sizeof vendor, "0x%04X", record.m_wVendorId);
        std::snprintf(product, sizeof product, "0x%04X", record.m_wProductId);
        EXPECT_EQ(Field(IDC_EDIT_VENDOR_ID), vendor);
        EXPECT_EQ(Field(IDC_EDIT_PRODUCT_ID), product);
        EXPECT_EQ(Field(IDC_EDIT_SERIAL), record.m_strSerial.Str());
        std::vector<std::string> collapsed;
        ASSERT_NE(Tree().GetRootItem(), nullptr);
        EXPECT_EQ(Tree().GetNextSiblingItem(Tree().GetRootItem()), nullptr) << "one root";
        EXPECT_EQ(FromTreeView(Tree(), Tree().GetRootItem(), &collapsed),
                  FromDetails(record.m_details));
        EXPECT_TRUE(collapsed.empty()) << "not expanded: " << collapsed.front();
    }

    void ExpectShowsNothing() {
        EXPECT_EQ(Field(IDC_EDIT_VENDOR_ID), "");
        EXPECT_EQ(Field(IDC_EDIT_PRODUCT_ID), "");
        EXPECT_EQ(Field(IDC_EDIT_SERIAL), "");
        EXPECT_EQ(Tree().GetCount(), 0u);
    }

    std::optional<CSimulatedMachine> m_machine;
    CObservedDlg m_dialog;
};

TEST_F(KeyScoutDlgTest, AMachineWithoutDevicesShowsAnEmptyListAndEmptyDetails) {
    ASSERT_NO_FATAL_FAILURE(Open("ui-no-devices.json"));
    EXPECT_EQ(List().GetItemCount(), 0);
    EXPECT_EQ(List().GetNextItem(-1, LVNI_SELECTED), -1);
    ExpectShowsNothing();
}

TEST_F(KeyScoutDlgTest, ThreeDevicesAreListedInScanOrderWithTheFirstSelectedAndShown) {
    ASSERT_NO_FATAL_FAILURE(Open("ui-three-devices.json"));
    EXPECT_EQ(Lines(),
              std::vector<std::string>(std::begin(kThreeDevices), std::end(kThreeDevices)));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(List().GetItemData(i), static_cast<DWORD_PTR>(i));
    EXPECT_EQ(List().GetNextItem(-1, LVNI_SELECTED), 0);
    EXPECT_EQ(List().GetItemState(0, LVIS_SELECTED | LVIS_FOCUSED), LVIS_SELECTED | LVIS_FOCUSED);
    CDeviceRecordList records = Published();
    ASSERT_EQ(records.GetCount(), 3);
    ExpectShows(*records.GetAt(0));
    // The ids keep their leading zeros: four uppercase hexadecimal digits after 0x.
    EXPECT_EQ(Field(IDC_EDIT_VENDOR_ID), "0x00AB");
    EXPECT_EQ(Field(IDC_EDIT_PRODUCT_ID), "0x0012");
    // Three levels, the drive letter on the volume alone.
    EXPECT_EQ(FromDetails(records.GetAt(0)->m_details),
              (TreeShape{"USB 大容量記憶装置",
                         {{"Tanager Flash 32GB USB Device", {{"汎用ボリューム - (D:)", {}}}}}}));
}

TEST_F(KeyScoutDlgTest, SelectingTheSecondLineClearsTheFieldsThenShowsIt) {
    ASSERT_NO_FATAL_FAILURE(Open("ui-three-devices.json"));
    CTextLog vendorLog;
    ASSERT_TRUE(vendorLog.SubclassWindow(Item(IDC_EDIT_VENDOR_ID)));

    List().SetItemState(1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);

    vendorLog.UnsubclassWindow();
    // The first line's deselection comes first and clears the field; then the second line's
    // selection fills it.
    EXPECT_EQ(vendorLog.m_texts, (std::vector<std::string>{"", "0x3F0C"}));
    EXPECT_EQ(List().GetNextItem(-1, LVNI_SELECTED), 1);
    ExpectShows(*Published().GetAt(1));
    // The composite device has no serial number: the field is empty, the tree is not.
    EXPECT_EQ(Field(IDC_EDIT_SERIAL), "");
}

TEST_F(KeyScoutDlgTest, DeselectingEveryLineLeavesTheDetailsEmpty) {
    ASSERT_NO_FATAL_FAILURE(Open("ui-three-devices.json"));
    List().SetItemState(0, 0, LVIS_SELECTED);
    EXPECT_EQ(List().GetNextItem(-1, LVNI_SELECTED), -1);
    ExpectShowsNothing();
}

TEST_F(KeyScoutDlgTest, AnItemWhoseDataNamesNoRecordShowsNothing) {
    ASSERT_NO_FATAL_FAILURE(Open("ui-three-devices.json"));
    ASSERT_TRUE(List().SetItemData(2, 3));  // one past the last record
    List().SetItemState(2, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    EXPECT_EQ(List().GetNextItem(-1, LVNI_SELECTED), 2);
    ExpectShowsNothing();
    ASSERT_TRUE(List().SetItemData(1, static_cast<DWORD_PTR>(-1)));
    List().SetItemState(1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ExpectShowsNothing();
}

TEST_F(KeyScoutDlgTest, ADeviceChangeBroadcastRefillsTheListAndKeepsTheChosenDevice) {
    ASSERT_NO_FATAL_FAILURE(Open("ui-three-devices.json"));
    Select(2);
    ASSERT_TRUE(Rescan(ThreeDevicesPlusHeadset(), 4));
    std::vector<std::string> expected(std::begin(kThreeDevices), std::end(kThreeDevices));
    expected.emplace_back("USB 複合デバイス");  // the headset, on the hub's port 3
    EXPECT_EQ(Lines(), expected);
    EXPECT_EQ(Selected(), 2);
    ExpectShows(*Published().GetAt(2));
}

TEST_F(KeyScoutDlgTest, TheChosenDeviceStaysChosenWhereverTheRescanFindsIt) {
    // The flash drive, pulled out: the keyboard and mouse, then the phone.
    CMachineJson machine = ThreeDevicesJson();
    PullOut(machine, kRootHub, 1);
    ASSERT_NO_FATAL_FAILURE(Open(LoadMachineJson(machine)));
    ASSERT_EQ(Lines(), (std::vector<std::string>{kThreeDevices[1], kThreeDevices[2]}));
    EXPECT_EQ(Selected(), 0) << "the first fill selects the first line";
    Select(1);

    // A broadcast about some other device: nothing changes for the phone.
    ASSERT_TRUE(Rescan(std::nullopt, 2));
    EXPECT_EQ(Selected(), 1);
    ExpectShows(*Published().GetAt(1));

    // The flash drive comes back on the first port, before the phone in the walk.
    ASSERT_TRUE(Rescan(LoadMachineJson(ThreeDevicesJson()), 3));
    EXPECT_EQ(Lines(),
              std::vector<std::string>(std::begin(kThreeDevices), std::end(kThreeDevices)));
    EXPECT_EQ(Selected(), 2);
    ExpectShows(*Published().GetAt(2));

    // The phone is pulled out: the first line is selected, as after the first fill.
    machine = ThreeDevicesJson();
    PullOut(machine, kPhoneHub, 1);
    ASSERT_TRUE(Rescan(LoadMachineJson(machine), 2));
    EXPECT_EQ(Selected(), 0);
    ExpectShows(*Published().GetAt(0));
}

TEST_F(KeyScoutDlgTest, OfIdenticalDrivesTheChosenOneStaysChosenAndInView) {
    // Eight identical flash drives: the first on root port 1, its copies on ports 5 to 11.
    CMachineJson machine = ThreeDevicesJson();
    for (int port = 5; port <= 11; ++port)
        PlugCopyOfFlashDrive(machine, port);
    ASSERT_NO_FATAL_FAILURE(Open(LoadMachineJson(machine)));
    ASSERT_EQ(List().GetItemCount(), 10);
    // The last of them, below the lines the list has room for.
    Select(9);
    RECT line;
    RECT client;
    GetClientRect(List().m_hWnd, &client);
    auto inView = [&](int item) {
        return List().GetItemRect(item, &line, LVIR_BOUNDS) && line.top >= 0 &&
               line.bottom <= client.bottom;
    };
    ASSERT_FALSE(inView(9) && inView(0)) << "the list shows every line: the test needs more";

    ASSERT_TRUE(Rescan(std::nullopt, 10));
    EXPECT_EQ(Selected(), 9) << "the eighth of eight identical drives";
    EXPECT_TRUE(inView(9)) << "the selected line is scrolled into view";

    // The headset arrives on the hub, before the copies in the walk.
    PlugHeadset(machine);
    ASSERT_TRUE(Rescan(LoadMachineJson(machine), 11));
    EXPECT_EQ(Selected(), 10);
    EXPECT_TRUE(inView(10));
    ExpectShows(*Published().GetAt(10));
}

TEST_F(KeyScoutDlgTest, TwoSticksOfOneModelAreToldApartByTheirSerialNumbers) {
    CMachineJson machine = ThreeDevicesJson();
    PlugCopyOfFlashDrive(machine, 6, "SECOND0001");
    ASSERT_NO_FATAL_FAILURE(Open(LoadMachineJson(machine)));
    Select(3);
    ASSERT_EQ(Field(IDC_EDIT_SERIAL), "SECOND0001");
    // A third stick of the model, with a serial number of its own, arrives before it.
    PlugCopyOfFlashDrive(machine, 5, "THIRD00001");
    ASSERT_TRUE(Rescan(LoadMachineJson(machine), 5));
    EXPECT_EQ(Selected(), 4);
    EXPECT_EQ(Field(IDC_EDIT_SERIAL), "SECOND0001");
}

TEST_F(KeyScoutDlgTest, TheDetailsGoWithTheLastDeviceAndComeBackWithTheNext) {
    ASSERT_NO_FATAL_FAILURE(Open("ui-three-devices.json"));
    Select(1);
    ASSERT_TRUE(Rescan(LoadMachineFile(DataPath("ui-no-devices.json")), 0));
    EXPECT_EQ(Selected(), -1);
    // Deleting the lines told the window nothing: it must not go on showing a device
    // that is gone.
    ExpectShowsNothing();

    CMachineJson machine = ThreeDevicesJson();
    PullOut(machine, kRootHub, 1);
    PullOut(machine, kRootHub, 3);
    ASSERT_TRUE(Rescan(LoadMachineJson(machine), 1));
    EXPECT_EQ(Lines(), std::vector<std::string>{kThreeDevices[1]});
    EXPECT_EQ(Selected(), 0);
    ExpectShows(*Published().GetAt(0));
}

TEST_F(KeyScoutDlgTest, AStormOfDeviceChangesDuringAScanCostsOneMoreScanAndNeverBlocks) {
    auto gated = std::make_unique<CGatedModelPlatform>(ThreeDevicesPlusHeadset());
    CPassGate& gate = gated->m_gate;
    m_machine.emplace(std::move(gated));
    TheApp().StartScanThread();
    CObservedDlg dialog;
    ASSERT_TRUE(dialog.Create(IDD_KEYSCOUT_DIALOG));
    ASSERT_TRUE(gate.WaitForPassesStarted(1)) << "the first scan did not start";  // held

    // Three hundred broadcasts while the scan runs: each returns at once (the window thread
    // never waits for a scan), and they all fold into one further pass.
    const int before = dialog.m_deviceChanges;
    for (int i = 0; i < 300; ++i)
        dialog.SendMessage(WM_DEVICECHANGE, i % 2 == 0 ? DBT_DEVICEARRIVAL : DBT_DEVNODES_CHANGED,
                           0);
    EXPECT_EQ(dialog.m_deviceChanges - before, 300);
    gate.ReleaseOne();
    ASSERT_TRUE(gate.WaitForPassesStarted(2)) << "the folded broadcasts started no further pass";
    gate.ReleaseOne();
    ASSERT_TRUE(PumpUntil([&] { return dialog.m_listHardware.GetItemCount() == 4; }, dialog.m_hWnd))
        << "the window did not show the 4 devices after the folded pass";
    gate.Open();
    PumpPending(dialog.m_hWnd);
    TheApp().StopScanThread();
    // Broadcasts of the system's own (beyond the test's 300) may each have asked for a scan.
    const int others = dialog.m_deviceChanges - 300;
    EXPECT_GE(gate.PassesStarted(), 2);
    EXPECT_LE(gate.PassesStarted(), 2 + others) << others << " broadcasts from the system";
    dialog.DestroyWindow();
}

TEST_F(KeyScoutDlgTest, TheSystemMenuOpensTheAboutBoxWhoseOkClosesIt) {
    ASSERT_NO_FATAL_FAILURE(Open("ui-three-devices.json"));

    // The last two items of the system menu: a separator and the About command.
    HMENU menu = GetSystemMenu(m_dialog.m_hWnd, FALSE);
    ASSERT_NE(menu, nullptr);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    EXPECT_NE(GetMenuState(menu, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR, 0u);
    EXPECT_EQ(GetMenuItemID(menu, count - 1), 0x0010u);
    char text[128] = {};
    GetMenuStringA(menu, static_cast<UINT>(count - 1), text, sizeof text, MF_BYPOSITION);
    EXPECT_EQ(Utf8(text), "KeyScout のバージョン情報(&A)...");

    // 0x0013 differs from the About command only in the low four bits, which the system
    // keeps for itself.
    const std::string caption = Ansi("KeyScoutのバージョン情報");
    m_dialog.PostMessage(WM_SYSCOMMAND, 0x0013, 0);
    CScriptWindow script;
    ASSERT_TRUE(script.CreateMessageOnly());
    bool sawAbout = false;
    script.Post([&] {
        HWND about = FindWindowA(nullptr, caption.c_str());
        ASSERT_NE(about, 0u);
        sawAbout = true;
        EXPECT_FALSE(IsWindowEnabled(m_dialog.m_hWnd)) << "the About box is modal";
        std::vector<std::string> texts;
        for (HWND c = GetWindow(GetWindow(about, GW_CHILD), GW_HWNDNEXT); c != 0;
             c = GetWindow(c, GW_HWNDNEXT))
            texts.push_back(Utf8(WindowText(c)));
        EXPECT_EQ(texts,
                  (std::vector<std::string>{KS_ABOUT_VERSION_TEXT,
                                            "Copyright (C) 2026 KeyScout Developers", "OK"}));
        EXPECT_NE(SendMessage(GetWindow(about, GW_CHILD), STM_GETICON, 0, 0), 0) << "the icon";
        SendMessage(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
    });
    ASSERT_TRUE(PumpUntil([&] { return sawAbout && FindWindowA(nullptr, caption.c_str()) == 0; },
                          m_dialog.m_hWnd))
        << (sawAbout ? "the About box did not close on its OK button"
                     : "the system menu's command opened no About box");

    EXPECT_TRUE(IsWindowEnabled(m_dialog.m_hWnd));
    EXPECT_EQ(List().GetItemCount(), 3);
    EXPECT_EQ(List().GetNextItem(-1, LVNI_SELECTED), 0);
    ExpectShows(*Published().GetAt(0));
}

// Run also where the ANSI code page cannot spell Japanese (ui_menu_text_1252, _936 under
// Wine): the item reads as the string table holds it, not as the code page would garble it.
TEST_F(KeyScoutDlgTest, TheAboutItemIsTheResourcesOwnTextWhateverTheCodePage) {
    if (const char* expected = std::getenv("KS_EXPECT_CODE_PAGE")) {
        ASSERT_EQ(GetAnsiCodePage(), static_cast<UINT>(std::atoi(expected)))
            << "the run does not have the code page it asks for";
    }
    ASSERT_NO_FATAL_FAILURE(Open("ui-no-devices.json"));
    const std::u16string resource = u"KeyScout のバージョン情報(&A)...";
    char16_t loaded[64] = {};
    EXPECT_EQ(LoadStringW(IDS_ABOUTBOX, loaded, 64), static_cast<int>(resource.size()));
    EXPECT_EQ(std::u16string(loaded), resource);
    HMENU menu = GetSystemMenu(m_dialog.m_hWnd, FALSE);
    ASSERT_NE(menu, nullptr);
    const int count = GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    ASSERT_EQ(GetMenuItemID(menu, count - 1), 0x0010u);
    char16_t text[64] = {};
    EXPECT_EQ(GetMenuStringW(menu, static_cast<UINT>(count - 1), text, 64, MF_BYPOSITION),
              static_cast<int>(resource.size()));
    EXPECT_EQ(std::u16string(text), resource) << Utf16ToUtf8(text);
    // The same item by its command.
    std::fill(std::begin(text), std::end(text), u'\0');
    GetMenuStringW(menu, 0x0010, text, 64, MF_BYCOMMAND);
    EXPECT_EQ(std::u16string(text), resource);
}

// A text on one line, with nothing in it that acts on the display.
bool Showable(const std::string& text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return false;
    return Utf8(text).find("\xC2\x9B") == std::string::npos &&
           Utf8(text).find("\xE2\x80\xAE") == std::string::npos;
}

TEST_F(KeyScoutDlgTest, DeviceStringsAreShownOnOneLineAndPrintableSerialsAsTheDevicesGiveThem) {
    ASSERT_NO_FATAL_FAILURE(Open("strings-hostile.json"));
    ASSERT_EQ(List().GetItemCount(), 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("line " + std::to_string(i));
        List().SetItemState(i, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        EXPECT_TRUE(Showable(List().GetItemText(i, 0).Str())) << List().GetItemText(i, 0).Str();
        EXPECT_TRUE(Showable(Field(IDC_EDIT_SERIAL))) << Field(IDC_EDIT_SERIAL);
        for (HTREEITEM t = Tree().GetRootItem(); t != nullptr; t = Tree().GetChildItem(t))
            EXPECT_TRUE(Showable(Tree().GetItemText(t).Str())) << Tree().GetItemText(t).Str();
    }
    // The escape sequence and the line breaks of a serial number show as what they are.
    List().SetItemState(0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    EXPECT_EQ(Field(IDC_EDIT_SERIAL), "AB\\x1B[31mC\\x0DD\\x0AE\\x09F\\x7FG");
    EXPECT_EQ(Utf8(List().GetItemText(0, 0).Str()),
              "Evil\\x1B]0;owned\\x07 Drive\\x0D\\x0ASecond line");
    // A printable serial number, backslash and all, is the device's own, byte for byte.
    List().SetItemState(2, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    EXPECT_EQ(Field(IDC_EDIT_SERIAL), "0123456789-ABCdef_\\/");
}

TEST_F(KeyScoutDlgTest, TheWindowCarriesTheProgramIcon) {
    ASSERT_NO_FATAL_FAILURE(Open("ui-no-devices.json"));
    const LRESULT big = m_dialog.SendMessage(WM_GETICON, ICON_BIG, 0);
    const LRESULT small = m_dialog.SendMessage(WM_GETICON, ICON_SMALL, 0);
    EXPECT_NE(big, 0);
    EXPECT_EQ(small, big);
    EXPECT_EQ(m_dialog.SendMessage(WM_QUERYDRAGICON, 0, 0), big);
}

TEST_F(KeyScoutDlgTest, TheWindowUnregistersWhenItGoesAndGetsNoMoreNotifications) {
    ASSERT_NO_FATAL_FAILURE(Open("ui-three-devices.json"));
    HWND gone = m_dialog.m_hWnd;
    CKeyScoutThread& worker = *TheApp().m_pScanThread;
    EXPECT_EQ(CKeyScoutThreadProbe::Windows(worker), (std::map<HWND, UINT>{{gone, 0x8001}}));
    m_dialog.DestroyWindow();
    EXPECT_FALSE(IsWindow(gone));
    // Gone from the worker's table at once, not only when the next pass prunes it.
    EXPECT_TRUE(CKeyScoutThreadProbe::Windows(worker).empty());
    TheApp().m_pScanThread->RequestScan();
    ASSERT_EQ(BoundedWait(TheApp().m_pScanThread->m_scanDoneEvent.m_hObject, 20000), WAIT_OBJECT_0)
        << "the scan asked for after the window went did not finish";
    MSG msg;
    int toGone = 0;
    while (PeekMessage(&msg, TRUE))
        toGone += msg.hwnd == gone ? 1 : 0;
    EXPECT_EQ(toGone, 0);
}

// --- Keyboard: the modal run ends with OK or Cancel --------------------------------------

class KeyScoutDlgModalTest : public KeyScoutDlgTest {
  protected:
    // Runs the dialog modally; `keys` runs inside its loop once the first scan is shown.
    INT_PTR RunWith(const std::function<void(HWND)>& keys) {
        m_machine.emplace("ui-three-devices.json");
        TheApp().StartScanThread();
        CScriptWindow script;
        EXPECT_TRUE(script.CreateMessageOnly());
        script.Post([&] {
            HWND dialog = FindWindowA(nullptr, "KeyScout");
            EXPECT_NE(dialog, 0u) << "the modal window is not found by its caption";
            if (dialog == 0) {
                m_dialog.EndDialog(0);  // else the modal run would never end
                return;
            }
            EXPECT_TRUE(PumpUntil([&] { return List().GetItemCount() == 3; }, dialog))
                << "the modal window did not show the machine's 3 devices";
            keys(dialog);
        });
        return m_dialog.DoModal();
    }
};

TEST_F(KeyScoutDlgModalTest, EscapeEndsTheDialogWithCancel) {
    EXPECT_EQ(RunWith([](HWND) { PostMessage(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0x00010001); }),
              IDCANCEL);
    EXPECT_EQ(m_dialog.m_hWnd, 0u);
}

TEST_F(KeyScoutDlgModalTest, EnterEndsTheDialogWithOk) {
    EXPECT_EQ(RunWith([](HWND) { PostMessage(GetFocus(), WM_KEYDOWN, VK_RETURN, 0x001C0001); }),
              IDOK);
}

TEST_F(KeyScoutDlgModalTest, AltQPressesTheQuitButton) {
    // Alt held: bit 29 of the key data.
    EXPECT_EQ(RunWith([](HWND) { PostMessage(GetFocus(), WM_SYSCHAR, 'q', 0x20100001); }), IDOK);
}

TEST_F(KeyScoutDlgModalTest, TheCloseBoxEndsTheDialogWithCancel) {
    EXPECT_EQ(RunWith([](HWND dialog) { PostMessage(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }),
              IDCANCEL);
}

// --- The templates, as the window system built them --------------------------------------

struct ExpectedControl {
    int id;
    const char* className;
    const char* text;  // UTF-8; nullptr for a picture, whose template text names its image
    DWORD style;       // bits that must be set
    DWORD typeMask;    // for statics and buttons: the type bits to compare with `style`
    DWORD absent;      // bits that must be clear
    RECT units;        // x, y, width, height in dialog units
};

constexpr DWORD kBorder = 0x80000000u;  // WS_BORDER or a client edge: the control has a border

const ExpectedControl kMainControls[] = {
    {IDOK, "Button", "終了(&Q)", BS_DEFPUSHBUTTON | WS_TABSTOP, 0x0F, 0, {300, 196, 50, 14}},
    {IDC_STATIC, "Static", nullptr, SS_BITMAP, SS_TYPEMASK, 0, {0, 0, 91, 214}},
    {IDC_STATIC,
     "Static",
     "Latchguardの鍵に使用したいデバイスをコンピュータに接続してください。\n"
     "接続したデバイスがハードウェア一覧に表示されれば鍵として使用することができます。",
     SS_LEFT,
     SS_TYPEMASK,
     0,
     {98, 2, 252, 17}},
    {IDC_STATIC, "Static", "ハードウェア一覧", SS_LEFT, SS_TYPEMASK, 0, {98, 22, 51, 8}},
    {IDC_LIST_HARDWARE,
     "SysListView32",
     "",
     LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOCOLUMNHEADER | LVS_NOLABELWRAP |
         WS_TABSTOP | kBorder,
     0,
     0,
     {98, 34, 252, 68}},
    {IDC_STATIC, "Static", "詳細情報", SS_LEFT, SS_TYPEMASK, 0, {98, 106, 28, 8}},
    {IDC_TREE_DETAILS,
     "SysTreeView32",
     "",
     TVS_HASLINES | WS_TABSTOP | kBorder,
     0,
     TVS_HASBUTTONS | TVS_LINESATROOT,
     {98, 116, 252, 51}},
    {IDC_STATIC, "Static", "ベンダーID:", SS_LEFT, SS_TYPEMASK, 0, {98, 172, 34, 8}},
    {IDC_EDIT_VENDOR_ID,
     "Edit",
     "",
     ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP | kBorder,
     0,
     0,
     {146, 172, 122, 12}},
    {IDC_STATIC, "Static", "プロダクトID:", SS_LEFT, SS_TYPEMASK, 0, {98, 186, 37, 8}},
    {IDC_EDIT_PRODUCT_ID,
     "Edit",
     "",
     ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP | kBorder,
     0,
     0,
     {146, 186, 122, 12}},
    {IDC_STATIC, "Static", "シリアル番号:", SS_LEFT, SS_TYPEMASK, 0, {98, 200, 40, 8}},
    {IDC_EDIT_SERIAL,
     "Edit",
     "",
     ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP | kBorder,
     0,
     0,
     {146, 200, 122, 12}},
};

const ExpectedControl kAboutControls[] = {
    {IDC_STATIC, "Static", nullptr, SS_ICON, SS_TYPEMASK, 0, {11, 17, 20, 20}},
    {IDC_STATIC,
     "Static",
     KS_ABOUT_VERSION_TEXT,
     SS_LEFT | SS_NOPREFIX,
     SS_TYPEMASK | SS_NOPREFIX,
     0,
     {40, 10, 119, 8}},
    {IDC_STATIC,
     "Static",
     "Copyright (C) 2026 KeyScout Developers",
     SS_LEFT,
     SS_TYPEMASK,
     0,
     {40, 25, 188, 8}},
    {IDOK, "Button", "OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 0x0F, 0, {178, 7, 50, 14}},
};

// The dialog manager converts a control's origin and its size separately.
RECT Pixels(HWND dialog, RECT units) {
    RECT r = units;  // x, y, width, height
    MapDialogRect(dialog, &r);
    return RECT{r.left, r.top, r.left + r.right, r.top + r.bottom};
}

RECT ClientRectOf(HWND control, HWND dialog) {
    RECT r;
    GetWindowRect(control, &r);
    POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
    MapWindowPoints(0, dialog, corners, 2);
    return RECT{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

void ExpectControls(HWND dialog, const ExpectedControl* expected, std::size_t count) {
    const int dpi = static_cast<int>(GetDpiForWindow(dialog));
    std::vector<RECT> others;
    for (HWND c = GetWindow(dialog, GW_CHILD); c != 0; c = GetWindow(c, GW_HWNDNEXT))
        others.push_back(ClientRectOf(c, dialog));
    std::size_t i = 0;
    for (HWND c = GetWindow(dialog, GW_CHILD); c != 0; c = GetWindow(c, GW_HWNDNEXT), ++i) {
        ASSERT_LT(i, count) << "a control the template does not have: " << ClassName(c);
        const ExpectedControl& e = expected[i];
        SCOPED_TRACE(std::string("control ") + std::to_string(i) + " " + e.className);
        EXPECT_EQ(GetDlgCtrlID(c), e.id);
        EXPECT_EQ(ClassName(c), e.className);
        if (e.text != nullptr) {
            EXPECT_EQ(Utf8(WindowText(c)), e.text);
        }
        const auto style = static_cast<DWORD>(GetWindowLongA(c, GWL_STYLE));
        const auto exStyle = static_cast<DWORD>(GetWindowLongA(c, GWL_EXSTYLE));
        const DWORD wanted = e.style & ~kBorder;
        if (e.typeMask != 0) {
            EXPECT_EQ(style & e.typeMask, wanted & e.typeMask);
        }
        EXPECT_EQ(style & (wanted & ~e.typeMask), wanted & ~e.typeMask);
        EXPECT_EQ(style & e.absent, 0u);
        EXPECT_NE(style & WS_CHILD, 0u);
        EXPECT_NE(style & WS_VISIBLE, 0u);
        if ((e.style & kBorder) != 0) {
            EXPECT_TRUE((style & WS_BORDER) != 0 || (exStyle & WS_EX_CLIENTEDGE) != 0);
        }
        const RECT actual = ClientRectOf(c, dialog);
        const RECT wantedRect = Pixels(dialog, e.units);
        const DWORD type = e.typeMask == SS_TYPEMASK ? (style & SS_TYPEMASK) : 0xFFFF;
        if (type == SS_BITMAP) {
            // Bitmap 130 fills its panel, the template's rectangle, at any DPI; where that is
            // within a pixel of the bitmap's own 160 x 320, it is shown at its own size.
            EXPECT_EQ(actual.left, wantedRect.left);
            EXPECT_EQ(actual.top, wantedRect.top);
            const LONG w = wantedRect.right - wantedRect.left;
            const LONG h = wantedRect.bottom - wantedRect.top;
            const bool own = std::abs(w - 160) <= 1 && std::abs(h - 320) <= 1;
            EXPECT_EQ(actual.right - actual.left, own ? 160 : w) << "at " << dpi << " dpi";
            EXPECT_EQ(actual.bottom - actual.top, own ? 320 : h) << "at " << dpi << " dpi";
            EXPECT_NE(SendMessage(c, STM_GETIMAGE, 0, 0), 0);
        } else if (type == SS_ICON) {
            // An icon takes the system's icon size.
            EXPECT_EQ(actual.left, wantedRect.left);
            EXPECT_EQ(actual.top, wantedRect.top);
            EXPECT_EQ(actual.right - actual.left, GetSystemMetrics(SM_CXICON));
            EXPECT_EQ(actual.bottom - actual.top, GetSystemMetrics(SM_CYICON));
            EXPECT_NE(SendMessage(c, STM_GETICON, 0, 0), 0);
        } else if (type == SS_LEFT && actual.right > wantedRect.right) {
            // A label that its text, in the font at this size, makes wider than the template
            // grows to the right into free space, and only there.
            EXPECT_EQ(actual.left, wantedRect.left);
            EXPECT_EQ(actual.top, wantedRect.top);
            EXPECT_EQ(actual.bottom, wantedRect.bottom);
            for (std::size_t o = 0; o < others.size(); ++o) {
                const RECT& r = others[o];
                if (o != i && r.left >= wantedRect.right && r.top < actual.bottom &&
                    r.bottom > actual.top) {
                    EXPECT_LE(actual.right, r.left) << "over control " << o;
                }
            }
        } else {
            EXPECT_EQ(actual, wantedRect);
        }
    }
    EXPECT_EQ(i, count);
}

void ExpectDialogFrame(HWND dialog, const char* caption, int width, int height,
                       bool visibleAtCreate, DWORD exStyle) {
    EXPECT_EQ(Utf8(WindowText(dialog)), caption);
    const auto style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
    const DWORD required = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    EXPECT_EQ(style & required, required);
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0u) << "fixed size";
    if (visibleAtCreate) {
        EXPECT_NE(style & WS_VISIBLE, 0u);
    }
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(dialog, GWL_EXSTYLE)) & exStyle, exStyle);
    RECT client;
    GetClientRect(dialog, &client);
    EXPECT_EQ(client, Pixels(dialog, RECT{0, 0, width, height}));
    // The dialog font: ＭＳ Ｐゴシック at 9 points (12 pixels at 96 dpi, 18 at 144).
    auto font = reinterpret_cast<HFONT>(SendMessage(dialog, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTA lf;
    ASSERT_EQ(GetObjectA(font, sizeof lf, &lf), static_cast<int>(sizeof lf));
    EXPECT_EQ(Utf8(lf.lfFaceName), "ＭＳ Ｐゴシック");
    const int dpi = static_cast<int>(GetDpiForWindow(dialog));
    EXPECT_EQ(lf.lfHeight, -(9 * dpi + 36) / 72) << "at " << dpi << " dpi";
}

TEST_F(KeyScoutDlgTest, TheMainWindowIsBuiltAsItsTemplateSays) {
    ASSERT_NO_FATAL_FAILURE(Open("ui-no-devices.json"));
    ExpectDialogFrame(m_dialog.m_hWnd, "KeyScout", 357, 214, true, WS_EX_APPWINDOW);
    ExpectControls(m_dialog.m_hWnd, kMainControls, std::size(kMainControls));
}

TEST_F(KeyScoutDlgTest, TheAboutBoxIsBuiltAsItsTemplateSays) {
    ASSERT_NO_FATAL_FAILURE(Open("ui-no-devices.json"));
    const std::string caption = Ansi("KeyScoutのバージョン情報");
    CScriptWindow script;
    ASSERT_TRUE(script.CreateMessageOnly());
    bool checked = false;
    script.Post([&] {
        HWND about = FindWindowA(nullptr, caption.c_str());
        ASSERT_NE(about, 0u);
        ExpectDialogFrame(about, "KeyScoutのバージョン情報", 235, 55, false, 0);
        ExpectControls(about, kAboutControls, std::size(kAboutControls));
        checked = true;
        PostMessage(about, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    });
    m_dialog.SendMessage(WM_SYSCOMMAND, 0x0010, 0);
    EXPECT_TRUE(checked);
    EXPECT_EQ(FindWindowA(nullptr, caption.c_str()), 0u);
}

}  // namespace
}  // namespace ks::test

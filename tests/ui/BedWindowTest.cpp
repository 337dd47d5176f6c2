// The main window on a umockdev test bed (run under umockdev-wrapper): this machine as the
// Linux backend reads it, and device changes from udev. A device plugged in or pulled out
// changes the window's list by itself.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>

#include <string>

#include "res/resource.h"
#include "tests/support/UsbBed.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/KeyScoutDlg.h"

// After the framework's types: glib defines TRUE and FALSE as macros.
#include <umockdev.h>

namespace ks::test {
namespace {

class BedWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_pBed = umockdev_testbed_new();
        // Without the preload library the bed would be a folder nobody reads.
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run under umockdev-wrapper";
        ASSERT_TRUE(Add(kBedRootHub));
        ASSERT_TRUE(Add(BedDevice(1)));
    }
    void TearDown() override {
        if (m_dialog.m_hWnd != 0)
            m_dialog.DestroyWindow();
        m_watch.reset();
        TheApp().StopScanThread();
        if (m_pBed != nullptr)
            g_object_unref(m_pBed);
    }
    bool Add(const std::string& text) {
        GError* error = nullptr;
        const bool ok = umockdev_testbed_add_from_string(m_pBed, text.c_str(), &error);
        if (error != nullptr) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
        }
        return ok;
    }
    std::string Serials() {
        // The serial of each line, as the window shows it when the line is selected.
        std::string out;
        for (int i = 0; i < List().GetItemCount(); ++i) {
            List().SetItemState(i, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
            out += WindowText(GetDlgItem(m_dialog.m_hWnd, IDC_EDIT_SERIAL)) + " ";
        }
        return out;
    }
    // Waits for the list to show `serials`, sending the device's event again now and then:
    // the watch may not have subscribed yet when the first one goes out.
    bool WaitFor(const std::string& serials, const std::string& path, const char* action) {
        for (int attempt = 0; attempt < 5; ++attempt) {
            umockdev_testbed_uevent(m_pBed, path.c_str(), action);
            if (PumpUntil([&] { return Serials() == serials; }, m_dialog.m_hWnd, 4000))
                return true;
        }
        return false;
    }
    CListCtrl& List() { return m_dialog.m_listHardware; }
    std::string Field(int id) { return WindowText(GetDlgItem(m_dialog.m_hWnd, id)); }
    // The selected line and the serial number the window shows, without touching the list.
    std::string Shown() {
        return std::to_string(List().GetNextItem(-1, LVNI_SELECTED)) + " " + Field(IDC_EDIT_SERIAL);
    }
    // Waits for `lines` lines, line `selected` selected and `serial` shown, sending the
    // device's event again now and then (see WaitFor).
    bool WaitForShown(int lines, const std::string& shown, const std::string& path,
                      const char* action) {
        auto done = [&] { return List().GetItemCount() == lines && Shown() == shown; };
        for (int attempt = 0; attempt < 5; ++attempt) {
            umockdev_testbed_uevent(m_pBed, path.c_str(), action);
            if (PumpUntil(done, m_dialog.m_hWnd, 4000))
                return true;
        }
        return false;
    }
    void Remove(int port) {
        umockdev_testbed_uevent(m_pBed, BedDevicePath(port).c_str(), "remove");
        umockdev_testbed_remove_device(m_pBed, BedDevicePath(port).c_str());
    }
    void Open() {
        TheApp().StartScanThread();
        ASSERT_NE(TheApp().m_pScanThread, nullptr);
        m_watch = TheApp().WatchDeviceChanges();
        ASSERT_NE(m_watch, nullptr) << "Linux has no broadcasts of its own: the watch makes them";
        TheApp().m_pMainWnd = &m_dialog;
        ASSERT_TRUE(m_dialog.Create(IDD_KEYSCOUT_DIALOG));
    }

    UMockdevTestbed* m_pBed = nullptr;
    std::unique_ptr<IDeviceChangeWatch> m_watch;
    CKeyScoutDlg m_dialog;
};

TEST_F(BedWindowTest, ADevicePluggedInOrPulledOutChangesTheListByItself) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_TRUE(PumpUntil([&] { return Serials() == "SER1 "; }, m_dialog.m_hWnd));

    ASSERT_TRUE(Add(BedDevice(2)));
    EXPECT_TRUE(WaitFor("SER1 SER2 ", BedDevicePath(2), "add")) << Serials();

    umockdev_testbed_uevent(m_pBed, BedDevicePath(1).c_str(), "remove");
    umockdev_testbed_remove_device(m_pBed, BedDevicePath(1).c_str());
    // Should the scan have run before the device went, a change of the hub asks again.
    EXPECT_TRUE(WaitFor("SER2 ", "/sys/devices/pci0000:00/0000:00:14.0/usb1", "change"))
        << Serials();
}

// Run with a preload library that refuses netlink sockets (ui_bed_no_netlink_tests): no
// watch can be had, and the window's list is kept fresh by scans it asks for itself.
using BedWindowNoNetlinkTest = BedWindowTest;

TEST_F(BedWindowNoNetlinkTest, TheListRefreshesByItselfWithoutAWatch) {
    const int probe = ::socket(AF_NETLINK, SOCK_RAW, 15 /* NETLINK_KOBJECT_UEVENT */);
    ASSERT_LT(probe, 0) << "netlink is not refused: run with the ks_no_netlink preload";
    TheApp().StartScanThread();
    ASSERT_NE(TheApp().m_pScanThread, nullptr);
    ::testing::internal::CaptureStderr();
    m_watch = TheApp().WatchDeviceChanges();
    const std::string said = ::testing::internal::GetCapturedStderr();
    ASSERT_NE(m_watch, nullptr) << "no watch, and nothing in its place";
    EXPECT_NE(said.find("device changes cannot be watched here"), std::string::npos) << said;
    EXPECT_NE(said.find("every 2 s"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    TheApp().m_pMainWnd = &m_dialog;
    ASSERT_TRUE(m_dialog.Create(IDD_KEYSCOUT_DIALOG));
    ASSERT_TRUE(PumpUntil([&] { return Serials() == "SER1 "; }, m_dialog.m_hWnd));

    // No event is sent: the scans the window asks for find the changes.
    ASSERT_TRUE(Add(BedDevice(2)));
    EXPECT_TRUE(PumpUntil([&] { return Serials() == "SER1 SER2 "; }, m_dialog.m_hWnd, 10000))
        << Serials();
    umockdev_testbed_remove_device(m_pBed, BedDevicePath(1).c_str());
    EXPECT_TRUE(PumpUntil([&] { return Serials() == "SER2 "; }, m_dialog.m_hWnd, 10000))
        << Serials();
}

TEST_F(BedWindowTest, TheChosenStickStaysChosenAndTheDetailsGoWithTheLastOne) {
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_TRUE(Add(BedDevice(3)));
    const std::string hub = "/sys/devices/pci0000:00/0000:00:14.0/usb1";
    ASSERT_TRUE(WaitForShown(2, "0 SER1", BedDevicePath(3), "add")) << Shown();
    List().SetItemState(1, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ASSERT_EQ(Shown(), "1 SER3");

    // A stick on port 2 comes before it in the walk: the window follows SER3 to line 2.
    ASSERT_TRUE(Add(BedDevice(2)));
    EXPECT_TRUE(WaitForShown(3, "2 SER3", BedDevicePath(2), "add")) << Shown();

    // SER3 is pulled out: the first line is shown.
    Remove(3);
    EXPECT_TRUE(WaitForShown(2, "0 SER1", hub, "change")) << Shown();

    // The last sticks go: nothing is selected and nothing is shown.
    Remove(1);
    Remove(2);
    EXPECT_TRUE(WaitForShown(0, "-1 ", hub, "change")) << Shown();
    EXPECT_EQ(Field(IDC_EDIT_VENDOR_ID), "");
    EXPECT_EQ(Field(IDC_EDIT_PRODUCT_ID), "");
    EXPECT_EQ(m_dialog.m_treeDetails.GetCount(), 0u);

    // One comes back: its line is selected and shown.
    ASSERT_TRUE(Add(BedDevice(2)));
    EXPECT_TRUE(WaitForShown(1, "0 SER2", BedDevicePath(2), "add")) << Shown();
    EXPECT_EQ(Field(IDC_EDIT_VENDOR_ID), "0x2E1A");
    EXPECT_EQ(Field(IDC_EDIT_PRODUCT_ID), "0x1002");
    EXPECT_NE(m_dialog.m_treeDetails.GetCount(), 0u);
}

}  // namespace
}  // namespace ks::test

// The main window on a umockdev test bed (run under umockdev-wrapper): this machine as the
// Linux backend reads it, and device changes from udev. A device plugged in or pulled out
// changes the window's list by itself.
#include <gtest/gtest.h>

#include <string>

#include "res/resource.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/KeyScoutDlg.h"

// After the framework's types: glib defines TRUE and FALSE as macros.
#include <umockdev.h>

namespace ks::test {
namespace {

const char kRootHub[] =
    "P: /devices/pci0000:00/0000:00:14.0/usb1\n"
    "N: bus/usb/001/001\n"
    "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/bus/usb/001/001\n"
    "A: busnum=1\\n\nA: devnum=1\\n\nA: maxchild=4\\n\nA: speed=480\\n\n"
    "H: descriptors=12010002090000406b1d020000010302010109021900010100e0000904000001090000000705"
    "8103040000ff\n";

// A flash drive on root port `port`: vendor 0x2E1A, product 0x1000 + port, serial SER<port>.
std::string Device(int port) {
    char text[1024];
    std::snprintf(
        text, sizeof text,
        "P: /devices/pci0000:00/0000:00:14.0/usb1/1-%d\n"
        "N: bus/usb/001/%03d\n"
        "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/bus/usb/001/%03d\n"
        "A: devnum=%d\\n\nA: speed=480\\n\nA: serial=SER%d\\n\nA: product=Kestrel Flash\\n\n"
        "H: descriptors=1201000200000040"
        "1a2e%02x10000100020301\n",
        port, port + 1, port + 1, port + 1, port, port);
    return text;
}

std::string PathOf(int port) {
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(port);
}

class BedWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_pBed = umockdev_testbed_new();
        // Without the preload library the bed would be a folder nobody reads.
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run under umockdev-wrapper";
        ASSERT_TRUE(Add(kRootHub));
        ASSERT_TRUE(Add(Device(1)));
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

    UMockdevTestbed* m_pBed = nullptr;
    std::unique_ptr<IDeviceChangeWatch> m_watch;
    CKeyScoutDlg m_dialog;
};

TEST_F(BedWindowTest, ADevicePluggedInOrPulledOutChangesTheListByItself) {
    TheApp().StartScanThread();
    ASSERT_NE(TheApp().m_pScanThread, nullptr);
    m_watch = CKeyScoutApp::WatchDeviceChanges();
    ASSERT_NE(m_watch, nullptr) << "Linux has no broadcasts of its own: the watch makes them";
    TheApp().m_pMainWnd = &m_dialog;
    ASSERT_TRUE(m_dialog.Create(IDD_KEYSCOUT_DIALOG));
    ASSERT_TRUE(PumpUntil([&] { return Serials() == "SER1 "; }, m_dialog.m_hWnd));

    ASSERT_TRUE(Add(Device(2)));
    EXPECT_TRUE(WaitFor("SER1 SER2 ", PathOf(2), "add")) << Serials();

    umockdev_testbed_uevent(m_pBed, PathOf(1).c_str(), "remove");
    umockdev_testbed_remove_device(m_pBed, PathOf(1).c_str());
    // Should the scan have run before the device went, a change of the hub asks again.
    EXPECT_TRUE(WaitFor("SER2 ", "/sys/devices/pci0000:00/0000:00:14.0/usb1", "change"))
        << Serials();
}

}  // namespace
}  // namespace ks::test

// The worker end to end over a simulated machine: started as the program starts it, asked
// for a scan by a registered window, and read back once the window is notified.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "framework/CodePage.h"
#include "framework/Messages.h"
#include "framework/Wnd.h"
#include "listing/ScanThreadControl.h"
#include "platform/Platform.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "tests/support/TestData.h"
#include "tests/support/WaitBound.h"
#include "worker/KeyScoutThread.h"

namespace ks {
namespace {

class CResultsWindow : public CWnd {
  public:
    int m_notifications = 0;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_KEYSCOUT_SCAN && wParam == 0 && lParam == 0)
            ++m_notifications;
        return 0;
    }
};

// One scan of the fixture through the worker; the published records.
CDeviceRecordList ScanThroughWorker(const std::string& fixture) {
    CModelPlatform platform(LoadMachineFile(test::DataPath(fixture)));
    CPlatformScope scope(platform);
    CDeviceRecordList records;
    CResultsWindow window;
    EXPECT_TRUE(window.CreateMessageOnly());
    CKeyScoutThread* worker = nullptr;
    StartScanThread(worker);
    EXPECT_NE(worker, nullptr);
    if (worker == nullptr)
        return records;
    worker->RegisterWindow(window.GetSafeHwnd(), WM_KEYSCOUT_SCAN);
    worker->RequestScan();
    // Bounded: a worker that never notifies fails here, with a message.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(test::WaitBound(30000));
    MSG msg;
    while (window.m_notifications == 0 && std::chrono::steady_clock::now() < deadline) {
        while (PeekMessage(&msg, TRUE))
            DispatchMessage(&msg);
        Sleep(1);
    }
    if (window.m_notifications == 0)
        test::NoteStall();
    EXPECT_EQ(window.m_notifications, 1) << "the worker did not announce its results";
    worker->GetResults(records);
    worker->UnregisterWindow(window.GetSafeHwnd());
    const bool ended = StopScanThread(worker, test::WaitBound(30000));
    if (!ended)
        test::NoteStall();
    EXPECT_TRUE(ended) << "the worker did not end after its quit";
    window.DestroyWindow();
    EXPECT_EQ(platform.OpenHandleCount(), 0u);
    EXPECT_EQ(platform.OpenDeviceInfoSetCount(), 0u);
    return records;
}

// The details tree, one line per node, two blanks of indent per level, texts in UTF-8.
void Render(const CDetailNode& node, int depth, std::string& out) {
    out.append(static_cast<std::size_t>(2 * depth), ' ');
    out += AnsiToUtf8(node.m_strText.View());
    out += '\n';
    for (const CDetailNode& child : node.m_children)
        Render(child, depth + 1, out);
}
std::string Render(const CDeviceRecord& record) {
    std::string out;
    Render(record.m_details, 0, out);
    return out;
}

std::vector<const CDeviceRecord*> All(const CDeviceRecordList& list) {
    std::vector<const CDeviceRecord*> out;
    for (POSITION pos = list.GetHeadPosition(); pos != nullptr;)
        out.push_back(&list.GetNext(pos));
    return out;
}

TEST(WorkerScan, AWindowsDesktopGivesOneRecordPerDeviceWithItsLabelledTree) {
    const CDeviceRecordList list = ScanThroughWorker("scan-windows-desktop.json");
    const auto records = All(list);
    ASSERT_EQ(records.size(), 4u);

    // The flash drive: the volume is the disk's removal relation and shows its letter.
    EXPECT_EQ(records[0]->m_wVendorId, 0x3A11);
    EXPECT_EQ(records[0]->m_wProductId, 0x1F02);
    EXPECT_EQ(records[0]->m_strSerial, "0719AB34CD56EF7890AB");
    EXPECT_EQ(Render(*records[0]),
              "USB 大容量記憶装置\n"
              "  Tanager Flash 32GB USB Device\n"
              "    汎用ボリューム - (D:)\n");

    // The composite keyboard/mouse has no serial number.
    EXPECT_EQ(records[1]->m_wVendorId, 0x3F0C);
    EXPECT_EQ(records[1]->m_wProductId, 0xA201);
    EXPECT_TRUE(records[1]->m_strSerial.IsEmpty());
    EXPECT_EQ(Render(*records[1]),
              "USB 複合デバイス\n"
              "  USB 入力デバイス\n"
              "    HID キーボード デバイス\n"
              "  USB 入力デバイス\n"
              "    HID 準拠マウス\n");

    // Behind the hub, which is no record of its own: the phone, with its friendly name and
    // all 40 characters of its serial number, and the headset, whose serial number comes
    // from its instance ID.
    EXPECT_EQ(records[2]->m_wVendorId, 0x4B2E);
    EXPECT_EQ(records[2]->m_strSerial, "R5CT90ABX2KQ7M3N4P8W1Z6YH0JD5FLG2SV9E7UC");
    EXPECT_EQ(Render(*records[2]), "Corvid X2\n");
    EXPECT_EQ(records[3]->m_wVendorId, 0x5C1D);
    EXPECT_EQ(records[3]->m_wProductId, 0x0A12);
    EXPECT_EQ(records[3]->m_strSerial, "HS2019A0001");
    EXPECT_EQ(Render(*records[3]),
              "USB 複合デバイス\n"
              "  Ptarmigan USB Headset H2\n"
              "  USB 入力デバイス\n"
              "    HID 準拠コンシューマー制御デバイス\n");
}

TEST(WorkerScan, LabelsAreTheFriendlyNameElseTheDescriptionAndTheDriveSuffix) {
    const CDeviceRecordList list = ScanThroughWorker("scan-labels.json");
    const auto records = All(list);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]->m_wVendorId, 0xFFFF);
    EXPECT_EQ(records[0]->m_strSerial, "LBL-1");
    EXPECT_EQ(Render(*records[0]),
              "the friendly name\n"
              "  description only\n"
              "    \n"
              "   - (E:)\n");
}

}  // namespace
}  // namespace ks

#include "listing/ListScan.h"

#include <cstdio>
#include <string>

#include "framework/Kernel.h"
#include "framework/Wnd.h"
#include "listing/ScanThreadControl.h"
#include "platform/DeviceChanges.h"
#include "platform/Interrupt.h"
#include "platform/capture/MachineRecorder.h"

namespace ks {

namespace {
class CResultsWindow : public CWnd {
  public:
    bool m_bNotified = false;
    LRESULT WindowProc(UINT message, WPARAM, LPARAM) override {
        if (message == WM_KEYSCOUT_SCAN)
            m_bNotified = true;
        return 0;
    }
};

// A device change, posted by the watch's thread to the main thread.
constexpr UINT kWmDevicesChanged = WM_APP + 2;

class CWatchWindow : public CWnd {
  public:
    CKeyScoutThread* m_pThread = nullptr;
    const ScanResultsHandler* m_pOnResults = nullptr;
    LRESULT WindowProc(UINT message, WPARAM, LPARAM) override {
        if (message == WM_KEYSCOUT_SCAN) {
            CDeviceRecordList records;
            std::vector<CUsbDeviceEntry> entries;
            m_pThread->GetResults(records);
            m_pThread->GetEntries(entries);
            (*m_pOnResults)(records, entries);
        } else if (message == kWmDevicesChanged) {
            // Bursts need no folding here: the watch folds them, and the worker folds
            // requests that come while it scans.
            m_pThread->RequestScan();
        }
        return 0;
    }
};

}  // namespace

bool RunOneScan(CDeviceRecordList& records, std::vector<CUsbDeviceEntry>* entries) {
    CKeyScoutThread* thread = nullptr;
    StartScanThread(thread);
    if (thread == nullptr)
        return false;
    if (entries != nullptr)
        thread->PublishEntries();
    CResultsWindow window;
    if (!window.CreateMessageOnly()) {
        StopScanThread(thread);
        return false;
    }
    thread->RegisterWindow(window.GetSafeHwnd(), WM_KEYSCOUT_SCAN);
    thread->RequestScan();
    MSG msg;
    while (!window.m_bNotified && GetMessage(&msg))
        DispatchMessage(&msg);
    // One request, one pass: the records and the entries are of the same pass.
    thread->GetResults(records);
    if (entries != nullptr)
        thread->GetEntries(*entries);
    thread->UnregisterWindow(window.GetSafeHwnd());
    window.DestroyWindow();
    StopScanThread(thread);
    return true;
}

bool WatchScans(const ScanResultsHandler& onResults) {
    // First, before the worker's thread exists: the interruption reaches only its watch.
    EnsureMessageQueue();
    const DWORD mainThread = GetCurrentThreadId();
    std::unique_ptr<IInterruptWatch> interrupt =
        StartInterruptWatch([mainThread] { PostThreadMessage(mainThread, WM_QUIT, 0, 0); });

    CKeyScoutThread* thread = nullptr;
    StartScanThread(thread);
    if (thread == nullptr)
        return false;
    thread->PublishEntries();
    CWatchWindow window;
    window.m_pThread = thread;
    window.m_pOnResults = &onResults;
    if (!window.CreateMessageOnly()) {
        StopScanThread(thread);
        return false;
    }
    const HWND hwnd = window.GetSafeHwnd();
    std::string failure;
    std::unique_ptr<IDeviceChangeWatch> changes = StartDeviceChangeWatch(
        [hwnd](DWORD type) { PostMessage(hwnd, kWmDevicesChanged, type, 0); }, &failure);
    std::unique_ptr<CScanRequestTimer> poll;
    if (changes == nullptr) {
        // Windows broadcasts its changes to top-level windows only: scanning at intervals is
        // this tool's way there, and nothing to tell. Elsewhere the watch has failed.
        if (!failure.empty())
            std::fprintf(stderr,
                         "keyscout-list: device changes cannot be watched here (%s): "
                         "scanning every %u s\n",
                         failure.c_str(), static_cast<unsigned>(kWatchPollInterval / 1000));
        poll = std::make_unique<CScanRequestTimer>(thread, kWatchPollInterval);
    }

    thread->RegisterWindow(hwnd, WM_KEYSCOUT_SCAN);
    thread->RequestScan();
    MSG msg;
    while (GetMessage(&msg))
        DispatchMessage(&msg);

    // The sources of messages go first, then the window they post to, then the worker.
    changes.reset();
    poll.reset();
    thread->UnregisterWindow(hwnd);
    window.DestroyWindow();
    StopScanThread(thread);
    return true;
}

bool RunCapturedScan(IPlatform& platform, CDeviceRecordList& records, std::string& fixture,
                     std::vector<CUsbDeviceEntry>* entries) {
    CMachineRecorder recorder(platform);
    {
        CPlatformScope scope(recorder);
        if (!RunOneScan(records, entries))
            return false;
    }
    // The worker has ended: the recorder asks the backend on this thread alone.
    fixture = CaptureFixtureText(recorder);
    return true;
}

}  // namespace ks

#include "listing/ListScan.h"

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

// A device change, posted by the watch's thread (or the poll thread) to the main thread.
constexpr UINT kWmDevicesChanged = WM_APP + 2;

class CWatchWindow : public CWnd {
  public:
    CKeyScoutThread* m_pThread = nullptr;
    const std::function<void(const CDeviceRecordList&)>* m_pOnResults = nullptr;
    LRESULT WindowProc(UINT message, WPARAM, LPARAM) override {
        if (message == WM_KEYSCOUT_SCAN) {
            CDeviceRecordList records;
            m_pThread->GetResults(records);
            (*m_pOnResults)(records);
        } else if (message == kWmDevicesChanged) {
            // Bursts need no folding here: the watch folds them, and the worker folds
            // requests that come while it scans.
            m_pThread->RequestScan();
        }
        return 0;
    }
};

// Where no watch is to be had: a thread that asks for a scan at a fixed interval.
struct CPollThread {
    HANDLE m_hStop = nullptr;
    HANDLE m_hThread = nullptr;
    HWND m_hWindow = 0;

    static unsigned Run(void* argument) {
        auto* self = static_cast<CPollThread*>(argument);
        while (WaitForSingleObject(self->m_hStop, kWatchPollInterval) == WAIT_TIMEOUT)
            PostMessage(self->m_hWindow, kWmDevicesChanged, kDbtDevNodesChanged, 0);
        return 0;
    }
    bool Start(HWND window) {
        m_hWindow = window;
        m_hStop = CreateEventObject(TRUE, FALSE);
        if (m_hStop == nullptr)
            return false;
        m_hThread = CreateThread(&CPollThread::Run, this, nullptr);
        return m_hThread != nullptr;
    }
    ~CPollThread() {
        if (m_hThread != nullptr) {
            SetEvent(m_hStop);
            WaitForSingleObject(m_hThread, INFINITE);
            CloseHandle(m_hThread);
        }
        if (m_hStop != nullptr)
            CloseHandle(m_hStop);
    }
};

}  // namespace

bool RunOneScan(CDeviceRecordList& records) {
    CKeyScoutThread* thread = nullptr;
    StartScanThread(thread);
    if (thread == nullptr)
        return false;
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
    thread->GetResults(records);
    thread->UnregisterWindow(window.GetSafeHwnd());
    window.DestroyWindow();
    StopScanThread(thread);
    return true;
}

bool WatchScans(const std::function<void(const CDeviceRecordList&)>& onResults) {
    // First, before the worker's thread exists: the interruption reaches only its watch.
    EnsureMessageQueue();
    const DWORD mainThread = GetCurrentThreadId();
    std::unique_ptr<IInterruptWatch> interrupt =
        StartInterruptWatch([mainThread] { PostThreadMessage(mainThread, WM_QUIT, 0, 0); });

    CKeyScoutThread* thread = nullptr;
    StartScanThread(thread);
    if (thread == nullptr)
        return false;
    CWatchWindow window;
    window.m_pThread = thread;
    window.m_pOnResults = &onResults;
    if (!window.CreateMessageOnly()) {
        StopScanThread(thread);
        return false;
    }
    const HWND hwnd = window.GetSafeHwnd();
    std::unique_ptr<IDeviceChangeWatch> changes = StartDeviceChangeWatch(
        [hwnd](DWORD type) { PostMessage(hwnd, kWmDevicesChanged, type, 0); });
    std::unique_ptr<CPollThread> poll;
    if (changes == nullptr) {
        poll = std::make_unique<CPollThread>();
        poll->Start(hwnd);
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

bool RunCapturedScan(IPlatform& platform, CDeviceRecordList& records, std::string& fixture) {
    CMachineRecorder recorder(platform);
    {
        CPlatformScope scope(recorder);
        if (!RunOneScan(records))
            return false;
    }
    // The worker has ended: the recorder asks the backend on this thread alone.
    fixture = CaptureFixtureText(recorder);
    return true;
}

}  // namespace ks

// CKeyScoutThread: the one scan worker. It serves scan requests (thread message 0x8001)
// one pass at a time, folds the requests that arrive during a pass into one further pass,
// publishes each pass's device records, and posts every registered window its message.
//
// Threads: RegisterWindow, UnregisterWindow, RequestScan and GetResults are called on a
// window thread (any thread); InitInstance, ExitInstance and OnScanRequest run on the
// worker's own thread. The window map, the published list, the busy, rescan and queued
// flags each have their own guard, and no code holds two of them at once.
#pragma once

#include <map>
#include <vector>

#include "devices/UsbDeviceScanner.h"
#include "framework/Sync.h"
#include "framework/WinThread.h"
#include "worker/DeviceRecord.h"
#include "worker/GuardedValue.h"

namespace ks {

inline constexpr UINT WM_KEYSCOUT_SCAN =
    WM_APP + 1;  // scan request to the worker; results ready to a window
inline constexpr int kScannerFields = 0x13;  // vendor id, product id, serial number
inline constexpr unsigned kScannerNodeFields =
    0x419;  // instance id with drive letter, names, service

class CKeyScoutThread : public CWinThread {
    DECLARE_DYNCREATE(CKeyScoutThread)

  public:
    CKeyScoutThread();
    ~CKeyScoutThread() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // A window registered twice keeps its first message.
    void RegisterWindow(HWND window, UINT message);
    void UnregisterWindow(HWND window);
    void RequestScan();
    // Replaces `records` with a deep copy of the last published list (empty before the
    // first pass has finished).
    void GetResults(CDeviceRecordList& records);

    // The console companion also writes what the scanner's entries know beyond the records
    // (each node's instance ID, names, service and drive letter). A worker asked for them
    // publishes each pass's entries as well, under a guard of their own, after the list;
    // the window never asks, and no pass of its worker copies more than the list. Call
    // PublishEntries before the first RequestScan, on the thread that started the worker.
    void PublishEntries();
    // Replaces `entries` with a deep copy of the entries of the last pass published since
    // PublishEntries (empty before).
    void GetEntries(std::vector<CUsbDeviceEntry>& entries);

  protected:
    void OnScanRequest(WPARAM wParam, LPARAM lParam);
    DECLARE_MESSAGE_MAP()

  private:
    friend struct CKeyScoutThreadProbe;  // tests reach the guarded flags through it
    void PruneWindows();
    void RunScan();
    void BuildRecords(CDeviceRecordList& records);
    void PublishResults(const CDeviceRecordList& records);
    void NotifyWindows();
    void PostPass();

    std::map<HWND, UINT> m_windows;
    CSemaphore m_windowsLock{1, 1};
    CGuardedValue<CDeviceRecordList> m_results;
    CGuardedValue<int> m_busy{0};
    CGuardedValue<int> m_rescan{0};
    // Set while a scan message is in the worker's queue and its pass has not yet begun:
    // every request that finds the worker idle meanwhile is served by that pass, so a
    // storm of requests queues one pass, not one per request.
    CGuardedValue<int> m_queued{0};
    CGuardedValue<int> m_publishEntries{0};
    CGuardedValue<std::vector<CUsbDeviceEntry>> m_publishedEntries;
    CUsbDeviceScanner m_scanner;
    std::vector<CUsbDeviceEntry> m_entries;

  public:
    // Signals the worker offers: set once when the thread has started, and after each
    // pass once its notifications are posted. Nothing in the program waits on them.
    CEvent m_startedEvent{FALSE, FALSE};
    CEvent m_scanDoneEvent{FALSE, FALSE};
};

}  // namespace ks

#include "worker/KeyScoutThread.h"

namespace ks {

IMPLEMENT_DYNCREATE(CKeyScoutThread, CWinThread)

BEGIN_MESSAGE_MAP(CKeyScoutThread, CWinThread)
ON_THREAD_MESSAGE(WM_KEYSCOUT_SCAN, OnScanRequest)
END_MESSAGE_MAP()

CKeyScoutThread::CKeyScoutThread() : m_scanner(&m_entries) {
    m_scanner.m_fields = kScannerFields;
    m_scanner.m_nodeFieldMask = kScannerNodeFields;
    m_busy.Write(0);
    m_rescan.Write(0);
    m_queued.Write(0);
}

CKeyScoutThread::~CKeyScoutThread() = default;

BOOL CKeyScoutThread::InitInstance() {
    m_startedEvent.SetEvent();
    return TRUE;
}

int CKeyScoutThread::ExitInstance() {
    return CWinThread::ExitInstance();
}

void CKeyScoutThread::RegisterWindow(HWND window, UINT message) {
    CSingleLock lock(&m_windowsLock, TRUE);
    m_windows.emplace(window, message);  // keeps an existing key's first message
}

void CKeyScoutThread::UnregisterWindow(HWND window) {
    CSingleLock lock(&m_windowsLock, TRUE);
    m_windows.erase(window);
}

void CKeyScoutThread::RequestScan() {
    if (m_busy.Read() != 1) {
        PostPass();
        return;
    }
    m_rescan.Write(1);
    // The worker may have left its pass loop and cleared the busy flag between our read
    // of it and the write above, after its own last look at the rescan flag: then this
    // request would wait for the next one. Whoever clears the flag first posts the pass.
    if (m_busy.Read() == 0 && m_rescan.Exchange(0) == 1)
        PostPass();
}

void CKeyScoutThread::PostPass() {
    // A pass that is queued and has not begun serves this request too: it begins after it.
    if (m_queued.Exchange(1) == 1)
        return;
    if (PostThreadMessage(WM_KEYSCOUT_SCAN, 0, 0) == FALSE)
        m_queued.Write(0);  // the queue is gone (the worker is ending): nothing is queued
}

void CKeyScoutThread::GetResults(CDeviceRecordList& records) {
    m_results.CopyTo(records);
}

void CKeyScoutThread::PublishEntries() {
    m_publishEntries.Write(1);
}

void CKeyScoutThread::GetEntries(std::vector<CUsbDeviceEntry>& entries) {
    m_publishedEntries.CopyTo(entries);
}

void CKeyScoutThread::OnScanRequest(WPARAM, LPARAM) {
    PruneWindows();
    m_busy.Write(1);
    // From here a request finds the worker busy and leaves the rescan flag instead; one
    // that found it idle a moment ago may still post a pass of its own (at most one).
    m_queued.Write(0);
    do {
        m_rescan.Write(0);
        RunScan();
        NotifyWindows();
        m_scanDoneEvent.SetEvent();
    } while (m_rescan.Read() == 1);
    m_busy.Write(0);
    // A request that came in after the last look above, while busy was still set, left
    // only the rescan flag behind: serve it with a fresh request to ourselves.
    if (m_rescan.Exchange(0) == 1)
        PostPass();
}

void CKeyScoutThread::PruneWindows() {
    CSingleLock lock(&m_windowsLock, TRUE);
    for (auto it = m_windows.begin(); it != m_windows.end();) {
        it = IsWindow(it->first) ? std::next(it) : m_windows.erase(it);
    }
}

void CKeyScoutThread::RunScan() {
    CDeviceRecordList records;
    BuildRecords(records);
    PublishResults(records);
}

void CKeyScoutThread::BuildRecords(CDeviceRecordList& records) {
    records.RemoveAll();
    m_scanner.Scan();
    for (const CUsbDeviceEntry& entry : m_entries)
        records.Add(BuildDeviceRecord(entry));
}

void CKeyScoutThread::PublishResults(const CDeviceRecordList& records) {
    // The copy is made outside the guard; under it only one list is assigned to another.
    CDeviceRecordList copy(records);
    m_results.Write(copy);
    if (m_publishEntries.Read() == 1)
        m_publishedEntries.Write(m_entries);
}

void CKeyScoutThread::NotifyWindows() {
    CSingleLock lock(&m_windowsLock, TRUE);
    for (const auto& [window, message] : m_windows) {
        if (IsWindow(window) == TRUE)
            PostMessage(window, message, 0, 0);
    }
}

}  // namespace ks

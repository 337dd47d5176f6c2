#include "listing/ScanThreadControl.h"

#include "framework/Kernel.h"

namespace ks {

void StartScanThread(CKeyScoutThread*& thread, const CRuntimeClass* threadClass) {
    if (thread != nullptr)
        return;
    if (threadClass == nullptr || !threadClass->IsDerivedFrom(RUNTIME_CLASS(CKeyScoutThread)))
        return;
    thread = static_cast<CKeyScoutThread*>(
        AfxBeginThread(threadClass, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, nullptr));
    if (thread != nullptr)
        thread->ResumeThread();
}

bool StopScanThread(CKeyScoutThread*& thread, DWORD timeout) {
    if (thread == nullptr)
        return true;
    HANDLE handle = DuplicateHandle(thread->m_hThread);
    thread->PostThreadMessage(WM_QUIT, 0, 0);
    thread = nullptr;  // from here on the object may be gone
    bool ended = true;
    if (handle != nullptr) {
        if (WaitForSingleObject(handle, timeout) == WAIT_TIMEOUT) {
            TerminateThread(handle, 0xFFFFFFFFu);
            ended = false;
        }
        CloseHandle(handle);
    }
    return ended;
}

CScanRequestTimer::CScanRequestTimer(CKeyScoutThread* worker, DWORD interval)
    : m_pWorker(worker), m_dwInterval(interval) {
    if (m_pWorker == nullptr)
        return;
    m_hStop = CreateEventObject(TRUE, FALSE);
    if (m_hStop != nullptr)
        m_hThread = CreateThread(&CScanRequestTimer::Run, this, nullptr);
}

CScanRequestTimer::~CScanRequestTimer() {
    if (m_hThread != nullptr) {
        SetEvent(m_hStop);
        WaitForSingleObject(m_hThread, INFINITE);
        CloseHandle(m_hThread);
    }
    if (m_hStop != nullptr)
        CloseHandle(m_hStop);
}

unsigned CScanRequestTimer::Run(void* argument) {
    auto* self = static_cast<CScanRequestTimer*>(argument);
    while (WaitForSingleObject(self->m_hStop, self->m_dwInterval) == WAIT_TIMEOUT)
        self->m_pWorker->RequestScan();
    return 0;
}

}  // namespace ks

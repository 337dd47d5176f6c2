#include "listing/ScanThreadControl.h"

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

}  // namespace ks

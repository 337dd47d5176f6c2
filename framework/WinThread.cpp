#include "framework/WinThread.h"

#include "framework/Sync.h"

namespace ks {

IMPLEMENT_DYNAMIC(CWinThread, CCmdTarget)

CWinThread::CWinThread() = default;

CWinThread::~CWinThread() {
    if (m_hThread != nullptr)
        CloseHandle(m_hThread);
    if (m_hStarted != nullptr)
        CloseHandle(m_hStarted);
    if (m_hResume != nullptr)
        CloseHandle(m_hResume);
}

BOOL CWinThread::CreateThread(DWORD createFlags, UINT /*stackSize*/) {
    if (m_hThread != nullptr)
        return FALSE;
    m_hStarted = CreateEventObject(TRUE, FALSE);
    m_hResume = CreateEventObject(TRUE, FALSE);
    if (m_hStarted == nullptr || m_hResume == nullptr)
        return FALSE;
    DWORD id = 0;
    m_hThread = ks::CreateThread(&CWinThread::ThreadEntry, this, &id);
    if (m_hThread == nullptr)
        return FALSE;
    m_nThreadID = id;
    // The new thread makes its queue and then waits for the resume event, so messages
    // posted from here on are kept even while it is suspended.
    WaitForSingleObject(m_hStarted, INFINITE);
    if ((createFlags & CREATE_SUSPENDED) == 0)
        ResumeThread();
    return TRUE;
}

DWORD CWinThread::ResumeThread() {
    if (m_bResumed || m_hResume == nullptr)
        return 0;
    m_bResumed = true;
    SetEvent(m_hResume);
    return 1;
}

BOOL CWinThread::PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ks::PostThreadMessage(m_nThreadID, message, wParam, lParam);
}

BOOL CWinThread::InitInstance() {
    return FALSE;
}

int CWinThread::ExitInstance() {
    return static_cast<int>(m_msgCur.wParam);
}

int CWinThread::Run() {
    for (;;) {
        MSG msg;
        if (!GetMessage(&msg)) {
            m_msgCur = msg;
            return ExitInstance();
        }
        m_msgCur = msg;
        if (msg.hwnd == 0) {
            DispatchThreadMessage(msg);
        } else {
            DispatchMessage(&msg);
        }
    }
}

BOOL CWinThread::DispatchThreadMessage(const MSG& msg) {
    const AFX_MSGMAP_ENTRY* e = FindMessageEntry(AfxSig_thread, msg.message);
    if (e == nullptr)
        return FALSE;
    LRESULT ignored = 0;
    return e->pfn(this, msg.wParam, msg.lParam, &ignored);
}

void CWinThread::Delete() {
    if (m_bAutoDelete)
        delete this;
}

unsigned CWinThread::ThreadEntry(void* self) {
    auto* thread = static_cast<CWinThread*>(self);
    EnsureMessageQueue();
    HANDLE resume = thread->m_hResume;
    SetEvent(thread->m_hStarted);
    WaitForSingleObject(resume, INFINITE);
    int result = thread->InitInstance() ? thread->Run() : thread->ExitInstance();
    // Nothing of the object is touched after Delete: it may be gone.
    thread->Delete();
    return static_cast<unsigned>(result);
}

CWinThread* AfxBeginThread(const CRuntimeClass* threadClass, int /*priority*/, UINT stackSize,
                           DWORD createFlags, void* /*security*/) {
    if (threadClass == nullptr || !threadClass->IsDerivedFrom(RUNTIME_CLASS(CWinThread)))
        return nullptr;
    // A thread object whose members cannot get their system resources raises the resource
    // exception from its constructor: then there is no thread, and the caller learns it from
    // the null answer, not from an exception it cannot expect.
    CObject* object = nullptr;
    try {
        object = threadClass->CreateObject();
    } catch (const CResourceException&) {
        return nullptr;
    }
    if (object == nullptr)
        return nullptr;
    auto* thread = static_cast<CWinThread*>(object);
    if (!thread->CreateThread(createFlags | CREATE_SUSPENDED, stackSize)) {
        delete thread;
        return nullptr;
    }
    if ((createFlags & CREATE_SUSPENDED) == 0)
        thread->ResumeThread();
    return thread;
}

}  // namespace ks

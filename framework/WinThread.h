// CWinThread: a thread with a message queue whose thread messages are served by the
// handlers of its message map, one at a time. A WM_QUIT posted to it is seen only between
// handler runs, and ends the loop; the object then deletes itself (m_bAutoDelete).
//
// Threads: CreateThread, ResumeThread and PostThreadMessage may be called from any thread;
// InitInstance, Run, ExitInstance and the handlers run on the thread itself.
#pragma once

#include "framework/Kernel.h"
#include "framework/Messages.h"
#include "framework/Object.h"

namespace ks {

class CWnd;

class CWinThread : public CCmdTarget {
  public:
    DECLARE_DYNAMIC(CWinThread)
    CWinThread();
    ~CWinThread() override;
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // Creates the thread. It has its message queue (so PostThreadMessage works) before
    // this returns; with CREATE_SUSPENDED it then waits for ResumeThread before it runs
    // InitInstance. FALSE when the thread cannot be created.
    BOOL CreateThread(DWORD createFlags = 0, UINT stackSize = 0);
    // Lets a suspended thread run; returns the previous suspend count (1, then 0).
    DWORD ResumeThread();
    BOOL PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam);

    virtual BOOL InitInstance();
    // The message loop: returns ExitInstance's result when WM_QUIT arrives.
    virtual int Run();
    // Default: the wParam of the quit message.
    virtual int ExitInstance();
    // Called as the thread ends: deletes the object when m_bAutoDelete is set.
    virtual void Delete();

    HANDLE m_hThread = nullptr;
    DWORD m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;
    CWnd* m_pMainWnd = nullptr;
    MSG m_msgCur;

  protected:
    // Runs the message map's ON_THREAD_MESSAGE handler; FALSE when there is none.
    virtual BOOL DispatchThreadMessage(const MSG& msg);

  private:
    static unsigned ThreadEntry(void* self);
    HANDLE m_hStarted = nullptr;
    HANDLE m_hResume = nullptr;
    bool m_bResumed = false;
};

// Creates a thread object of a run-time class and its thread (see CWinThread::CreateThread).
// nullptr when the class cannot be created or is no CWinThread, when its construction raises
// the resource exception, or when the thread fails.
CWinThread* AfxBeginThread(const CRuntimeClass* threadClass, int priority = THREAD_PRIORITY_NORMAL,
                           UINT stackSize = 0, DWORD createFlags = 0, void* security = nullptr);

}  // namespace ks

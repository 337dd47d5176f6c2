// Threads with message maps, message queues and windows, and the synchronisation objects.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "framework/Collections.h"
#include "framework/Sync.h"
#include "framework/WinThread.h"
#include "framework/WinUser.h"
#include "framework/Wnd.h"

namespace ks {
namespace {

constexpr UINT kWork = WM_APP + 10;
constexpr DWORD kLimit = 30000;  // ms: every wait here has a bound, far beyond what it takes
constexpr UINT kOther = WM_APP + 11;

std::atomic<int> g_deleted{0};

// Its first handler run blocks until released; it records what it ran in order.
class CRecordingThread : public CWinThread {
    DECLARE_DYNCREATE(CRecordingThread)

  public:
    ~CRecordingThread() override { ++g_deleted; }
    BOOL InitInstance() override { return TRUE; }
    static HANDLE s_release;
    static std::vector<int>* s_log;

  protected:
    void OnWork(WPARAM w, LPARAM) {
        if (w == 1 && WaitForSingleObject(s_release, kLimit) != WAIT_OBJECT_0)
            s_log->push_back(-1);  // never released
        s_log->push_back(static_cast<int>(w));
    }
    DECLARE_MESSAGE_MAP()
};
HANDLE CRecordingThread::s_release = nullptr;
std::vector<int>* CRecordingThread::s_log = nullptr;

IMPLEMENT_DYNCREATE(CRecordingThread, CWinThread)
BEGIN_MESSAGE_MAP(CRecordingThread, CWinThread)
ON_THREAD_MESSAGE(kWork, OnWork)
END_MESSAGE_MAP()

TEST(WinThreadTest, HandlersRunInOrderAndQuitWaitsForTheRunningOne) {
    std::vector<int> log;
    CRecordingThread::s_log = &log;
    CRecordingThread::s_release = CreateEventObject(TRUE, FALSE);
    g_deleted = 0;
    auto* t = static_cast<CRecordingThread*>(
        AfxBeginThread(RUNTIME_CLASS(CRecordingThread), 0, 0, CREATE_SUSPENDED));
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->GetRuntimeClass()->m_lpszClassName, "CRecordingThread");
    // Posted while suspended: kept in its queue.
    ASSERT_TRUE(t->PostThreadMessage(kWork, 1, 0));
    ASSERT_TRUE(t->PostThreadMessage(kOther, 9, 0));  // no handler: ignored
    ASSERT_TRUE(t->PostThreadMessage(kWork, 2, 0));
    HANDLE h = DuplicateHandle(t->m_hThread);
    t->ResumeThread();
    ASSERT_TRUE(t->PostThreadMessage(WM_QUIT, 0, 0));
    EXPECT_EQ(WaitForSingleObject(h, 50), WAIT_TIMEOUT);  // still in its first handler
    SetEvent(CRecordingThread::s_release);
    ASSERT_EQ(WaitForSingleObject(h, kLimit), WAIT_OBJECT_0) << "the thread did not end";
    EXPECT_EQ(log, (std::vector<int>{1, 2}));
    EXPECT_EQ(g_deleted.load(), 1);  // deleted itself as it ended
    CloseHandle(h);
    CloseHandle(CRecordingThread::s_release);
}

class CEchoWindow : public CWnd {
  public:
    std::vector<WPARAM> m_got;
    LRESULT WindowProc(UINT message, WPARAM w, LPARAM) override {
        if (message == kWork)
            m_got.push_back(w);
        return 0;
    }
};

TEST(WindowTest, PostsAreAsynchronousAndDestroyedWindowsGetNothing) {
    EnsureMessageQueue();
    CEchoWindow a, b;
    ASSERT_TRUE(a.CreateMessageOnly());
    ASSERT_TRUE(b.CreateMessageOnly());
    EXPECT_NE(a.GetSafeHwnd(), b.GetSafeHwnd());
    EXPECT_TRUE(IsWindow(a.GetSafeHwnd()));
    EXPECT_TRUE(PostMessage(a.GetSafeHwnd(), kWork, 1, 0));
    EXPECT_TRUE(PostMessage(b.GetSafeHwnd(), kWork, 2, 0));
    EXPECT_TRUE(a.m_got.empty());  // nothing is delivered until this thread dispatches
    HWND gone = b.GetSafeHwnd();
    b.DestroyWindow();  // its queued message is dropped
    EXPECT_FALSE(IsWindow(gone));
    EXPECT_FALSE(PostMessage(gone, kWork, 3, 0));
    MSG msg;
    while (PeekMessage(&msg, TRUE))
        DispatchMessage(&msg);
    EXPECT_EQ(a.m_got, (std::vector<WPARAM>{1}));
    EXPECT_TRUE(b.m_got.empty());
}

// Answers twice the wParam, and notes the thread that ran it.
class CAnsweringWindow : public CWnd {
  public:
    std::atomic<DWORD> m_ranOn{0};
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM) override {
        if (message != kWork)
            return 0;
        m_ranOn = GetCurrentThreadId();
        return static_cast<LRESULT>(wParam * 2);
    }
};

struct SendFromAnotherThread {
    HWND window;
    std::atomic<LRESULT> result{-1};
    std::atomic<bool> done{false};
};

unsigned SendToWindow(void* arg) {
    auto* s = static_cast<SendFromAnotherThread*>(arg);
    s->result = SendMessage(s->window, kWork, 21, 0);
    s->done = true;
    return 0;
}

TEST(WindowTest, ASendFromAnotherThreadWaitsForTheWindowsThreadAndGetsItsAnswer) {
    EnsureMessageQueue();
    CAnsweringWindow window;
    ASSERT_TRUE(window.CreateMessageOnly());
    SendFromAnotherThread s;
    s.window = window.GetSafeHwnd();
    HANDLE sender = CreateThread(&SendToWindow, &s, nullptr);
    ASSERT_NE(sender, nullptr);
    // The message runs on this thread, when it looks at its queue.
    MSG msg;
    for (int i = 0; i < 20000 && !s.done; ++i) {
        while (PeekMessage(&msg, TRUE))
            DispatchMessage(&msg);
        Sleep(1);
    }
    EXPECT_EQ(WaitForSingleObject(sender, 10000), WAIT_OBJECT_0);
    CloseHandle(sender);
    EXPECT_TRUE(s.done);
    EXPECT_EQ(s.result, 42);
    EXPECT_EQ(window.m_ranOn, GetCurrentThreadId());
}

unsigned HoldNamedMutex(void* arg) {
    auto* result = static_cast<DWORD*>(arg);
    BOOL existed = FALSE;
    HANDLE m = CreateMutexObject(TRUE, "ks-test-mutex-{7A1E}", &existed);
    result[0] = existed;
    result[1] = WaitForSingleObject(m, 10);  // another thread owns it
    CloseHandle(m);
    return 0;
}

TEST(SyncTest, NamedMutexIsOwnedOnceAndRecursiveForItsOwner) {
    CMutex owner(TRUE, "ks-test-mutex-{7A1E}");
    EXPECT_FALSE(owner.m_bAlreadyExisted);
    EXPECT_TRUE(owner.Lock(10));  // the owning thread may wait on it again
    DWORD result[2] = {0, 0};
    DWORD id = 0;
    HANDLE t = CreateThread(&HoldNamedMutex, result, &id);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, kLimit), WAIT_OBJECT_0) << "the other thread did not end";
    CloseHandle(t);
    EXPECT_EQ(result[0], static_cast<DWORD>(TRUE));
    EXPECT_EQ(result[1], WAIT_TIMEOUT);
    EXPECT_TRUE(owner.Unlock());
    EXPECT_TRUE(owner.Unlock());
    EXPECT_FALSE(owner.Unlock());  // no ownership left
}

unsigned OwnAndEnd(void*) {
    BOOL existed = FALSE;
    HANDLE m = CreateMutexObject(FALSE, "ks-test-abandoned-{3C9B}", &existed);
    WaitForSingleObject(m, kLimit);  // nobody else holds it: granted at once
    return 0;                        // ends owning it, and never closes its handle
}

TEST(SyncTest, MutexOfAThreadThatEndedOwningItIsAbandoned) {
    // A copy of the program that is still ending leaves the guard in this state: the next
    // copy's wait reports it abandoned, which does not count as acquired.
    CMutex guard(FALSE, "ks-test-abandoned-{3C9B}");
    DWORD id = 0;
    HANDLE t = CreateThread(&OwnAndEnd, nullptr, &id);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(WaitForSingleObject(t, kLimit), WAIT_OBJECT_0) << "the owning thread did not end";
    CloseHandle(t);
    EXPECT_FALSE(guard.Lock(10));
    // The abandoned wait granted ownership all the same, as the system does.
    EXPECT_TRUE(guard.Unlock());
    EXPECT_TRUE(guard.Lock(10));
    EXPECT_TRUE(guard.Unlock());
}

TEST(SyncTest, SemaphoreCountsAndSingleLockReleasesOnScopeEnd) {
    CSemaphore s(1, 1);
    {
        CSingleLock lock(&s, TRUE);
        EXPECT_TRUE(lock.IsLocked());
        EXPECT_EQ(WaitForSingleObject(s.m_hObject, 0), WAIT_TIMEOUT);
    }
    EXPECT_EQ(WaitForSingleObject(s.m_hObject, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(s.Unlock());
    EXPECT_FALSE(s.Unlock());  // would exceed the maximum count of 1
    EXPECT_EQ(CreateSemaphoreObject(2, 1), nullptr);
    CEvent e(FALSE, FALSE);
    EXPECT_FALSE(e.Lock(0));
    e.SetEvent();
    EXPECT_TRUE(e.Lock(0));
    EXPECT_FALSE(e.Lock(0));  // auto-reset
}

TEST(CListTest, OrderFindAndRemoval) {
    CStringList list(10);
    list.AddTail("B");
    list.AddTail("C");
    list.AddHead("A");
    EXPECT_EQ(list.GetCount(), 3);
    POSITION c = list.Find("C");
    ASSERT_NE(c, nullptr);
    list.InsertBefore(c, "B2");
    list.RemoveAt(list.Find("B"));
    CString all;
    for (POSITION p = list.GetHeadPosition(); p != nullptr;)
        all += list.GetNext(p);
    EXPECT_EQ(all, "AB2C");
    EXPECT_EQ(list.GetAt(list.FindIndex(2)), "C");
    EXPECT_EQ(list.FindIndex(3), nullptr);
    EXPECT_EQ(list.Find("Z"), nullptr);
    list.RemoveAll();
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_THROW(list.GetHead(), std::out_of_range);
}

}  // namespace
}  // namespace ks

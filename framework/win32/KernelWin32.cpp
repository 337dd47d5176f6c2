// Kernel objects, threads, message queues and windows on Windows: thin forwarding to the
// system, whose semantics the rest of the framework is written against.
#include <cstdio>

#include "framework/Kernel.h"
#include "framework/Messages.h"
#include "framework/Wnd.h"
// After the framework's headers: their constants would otherwise meet the SDK's macros.
#include "framework/win32/Win.h"

#include <process.h>

namespace ks {

namespace {
bool g_anyTerminated = false;

struct ThreadStart {
    ThreadProc proc;
    void* arg;
};

unsigned __stdcall ThreadTrampoline(void* p) {
    ThreadStart s = *static_cast<ThreadStart*>(p);
    delete static_cast<ThreadStart*>(p);
    return s.proc(s.arg);
}

::HWND ToWin(HWND h) {
    return reinterpret_cast<::HWND>(static_cast<std::uintptr_t>(h));
}
HWND FromWin(::HWND h) {
    return static_cast<HWND>(reinterpret_cast<std::uintptr_t>(h));
}

const char kMessageWindowClass[] = "KeyScoutMessageWindow";

::LRESULT CALLBACK MessageWindowProc(::HWND hwnd, ::UINT msg, ::WPARAM wParam, ::LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    auto* wnd = reinterpret_cast<CWnd*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    // The system's own messages keep their default handling; the program's (WM_USER and
    // above) go to the framework window.
    if (wnd != nullptr && msg >= WM_USER)
        return wnd->WindowProc(msg, wParam, lParam);
    return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}
}  // namespace

HANDLE CreateMutexObject(BOOL initialOwner, const char* name, BOOL* alreadyExisted) {
    ::HANDLE h = ::CreateMutexA(nullptr, initialOwner, name);
    if (alreadyExisted != nullptr)
        *alreadyExisted = (h != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS);
    return h;
}

BOOL ReleaseMutex(HANDLE h) {
    return ::ReleaseMutex(h);
}

HANDLE CreateSemaphoreObject(LONG initialCount, LONG maximumCount) {
    return ::CreateSemaphoreA(nullptr, initialCount, maximumCount, nullptr);
}

BOOL ReleaseSemaphore(HANDLE h, LONG releaseCount, LONG* previousCount) {
    ::LONG prev = 0;
    BOOL ok = ::ReleaseSemaphore(h, releaseCount, &prev);
    if (ok && previousCount != nullptr)
        *previousCount = prev;
    return ok;
}

HANDLE CreateEventObject(BOOL manualReset, BOOL initialState) {
    return ::CreateEventA(nullptr, manualReset, initialState, nullptr);
}

BOOL SetEvent(HANDLE h) {
    return ::SetEvent(h);
}
BOOL ResetEvent(HANDLE h) {
    return ::ResetEvent(h);
}

DWORD WaitForSingleObject(HANDLE h, DWORD ms) {
    return ::WaitForSingleObject(h, ms);
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms,
                                DWORD wakeMask) {
    return ::MsgWaitForMultipleObjects(count, const_cast<::HANDLE*>(handles), waitAll, ms,
                                       wakeMask);
}

BOOL CloseHandle(HANDLE h) {
    return ::CloseHandle(h);
}

HANDLE DuplicateHandle(HANDLE h) {
    ::HANDLE out = nullptr;
    ::HANDLE self = ::GetCurrentProcess();
    if (!::DuplicateHandle(self, h, self, &out, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return out;
}

DWORD GetCurrentThreadId() {
    return ::GetCurrentThreadId();
}

void Sleep(DWORD ms) {
    ::Sleep(ms);
}

HANDLE CreateThread(ThreadProc proc, void* argument, DWORD* threadId) {
    auto* start = new ThreadStart{proc, argument};
    unsigned id = 0;
    auto h =
        reinterpret_cast<::HANDLE>(::_beginthreadex(nullptr, 0, &ThreadTrampoline, start, 0, &id));
    if (h == nullptr) {
        delete start;
        return nullptr;
    }
    if (threadId != nullptr)
        *threadId = id;
    return h;
}

BOOL TerminateThread(HANDLE h, DWORD exitCode) {
    BOOL ok = ::TerminateThread(h, exitCode);
    if (ok)
        g_anyTerminated = true;
    return ok;
}

BOOL GetExitCodeThread(HANDLE h, DWORD* exitCode) {
    ::DWORD code = 0;
    BOOL ok = ::GetExitCodeThread(h, &code);
    if (ok && exitCode != nullptr)
        *exitCode = code;
    return ok;
}

int EndProcess(int code) {
    // A thread ended by force may have left run-time locks held: skip the static
    // destructors and end here.
    if (g_anyTerminated) {
        std::fflush(nullptr);
        ::ExitProcess(static_cast<::UINT>(code));
    }
    return code;
}

void EnsureMessageQueue() {
    ::MSG m;
    ::PeekMessageA(&m, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostThreadMessageA(threadId, message, wParam, lParam);
}

BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageA(ToWin(window), message, wParam, lParam);
}

BOOL IsWindow(HWND window) {
    return ::IsWindow(ToWin(window));
}

BOOL GetMessage(MSG* msg) {
    ::MSG m{};
    BOOL r = ::GetMessageA(&m, nullptr, 0, 0);
    *msg = MSG{FromWin(m.hwnd), m.message, m.wParam, m.lParam};
    if (r == -1)
        *msg = MSG{0, WM_QUIT, 0, 0};
    return r > 0 ? TRUE : FALSE;
}

BOOL PeekMessage(MSG* msg, BOOL remove) {
    ::MSG m{};
    if (!::PeekMessageA(&m, nullptr, 0, 0, remove ? PM_REMOVE : PM_NOREMOVE))
        return FALSE;
    *msg = MSG{FromWin(m.hwnd), m.message, m.wParam, m.lParam};
    return TRUE;
}

LRESULT DispatchMessage(const MSG* msg) {
    if (msg->hwnd == 0)
        return 0;
    ::MSG m{};
    m.hwnd = ToWin(msg->hwnd);
    m.message = msg->message;
    m.wParam = msg->wParam;
    m.lParam = msg->lParam;
    return ::DispatchMessageA(&m);
}

namespace detail {

HWND CreateMessageOnlyWindow(CWnd* owner) {
    static const ATOM atom = [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &MessageWindowProc;
        wc.hInstance = ::GetModuleHandleA(nullptr);
        wc.lpszClassName = kMessageWindowClass;
        return ::RegisterClassExA(&wc);
    }();
    if (atom == 0)
        return 0;
    ::HWND h = ::CreateWindowExA(
        0, kMessageWindowClass, "", 0, 0, 0, 0, 0,
        reinterpret_cast<::HWND>(static_cast<std::intptr_t>(-3)) /* HWND_MESSAGE */, nullptr,
        ::GetModuleHandleA(nullptr), owner);
    return FromWin(h);
}

BOOL DestroyWindow(HWND window) {
    return ::DestroyWindow(ToWin(window));
}

}  // namespace detail

}  // namespace ks

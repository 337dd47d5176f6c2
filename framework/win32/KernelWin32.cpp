// Kernel objects and threads on Windows: thin forwarding to the system, whose semantics the
// rest of the framework is written against.
#include <cstdio>

#include "framework/Kernel.h"
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

}  // namespace ks

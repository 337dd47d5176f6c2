// Kernel objects of the framework: mutexes (optionally named, shared by all processes of
// the user), semaphores, events, threads, and waiting on them. The Win32 backend forwards
// to Windows; the POSIX backend emulates the same semantics in-process (and, for named
// mutexes, across the user's processes). Every function may be called from any thread.
#pragma once

#include "framework/WinTypes.h"

namespace ks {

// A mutex with Windows semantics: owned by one thread at a time, recursive for its owner,
// abandoned when its owning thread ends. With a name it is shared by every process of the
// user: *alreadyExisted tells whether the name existed before (then initialOwner is not
// granted). Returns nullptr on failure.
HANDLE CreateMutexObject(BOOL initialOwner, const char* name, BOOL* alreadyExisted);
BOOL ReleaseMutex(HANDLE mutex);  // one level of ownership; FALSE if the caller is not the owner

// An unnamed counting semaphore. Returns nullptr on failure (bad counts).
HANDLE CreateSemaphoreObject(LONG initialCount, LONG maximumCount);
BOOL ReleaseSemaphore(HANDLE semaphore, LONG releaseCount, LONG* previousCount);

// An unnamed event, manual-reset or auto-reset. Returns nullptr on failure.
HANDLE CreateEventObject(BOOL manualReset, BOOL initialState);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

// WAIT_OBJECT_0 (+index), WAIT_ABANDONED (+index) for a mutex whose owner ended while
// owning it (ownership is then granted), WAIT_TIMEOUT, or WAIT_FAILED.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// With wakeMask 0 this waits for the objects only, never for queued messages.
DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                DWORD milliseconds, DWORD wakeMask);

BOOL CloseHandle(HANDLE handle);
// A second handle to the same object, closed independently. nullptr on failure.
HANDLE DuplicateHandle(HANDLE handle);

DWORD GetCurrentThreadId();
void Sleep(DWORD milliseconds);

// A thread that starts running at once; its handle becomes signalled when it has ended.
using ThreadProc = unsigned (*)(void* argument);
HANDLE CreateThread(ThreadProc proc, void* argument, DWORD* threadId);
// Ends a thread by force. Nothing of the thread's own runs afterwards; its objects are
// not destroyed. The handle becomes signalled.
BOOL TerminateThread(HANDLE thread, DWORD exitCode);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);

// The process's last step: returns `code` for main() to return, or ends the process at once
// when a thread had to be terminated by force (whose remains must not meet the static
// destructors).
int EndProcess(int code);

}  // namespace ks

// What the Linux backends of the framework share between their files: the kernel side
// (KernelPosix.cpp) and the queue and window side (WindowsPosix.cpp).
#pragma once

#include "framework/WinTypes.h"

namespace ks::posix {

// The framework's id of the calling thread (GetCurrentThreadId).
DWORD CurrentThreadId();
// A thread that was ended by force stops here for good.
void ParkIfTerminated();
// Called by the kernel side when a thread ends or is ended: its queue goes, and whoever waits
// on it wakes.
void ForgetThreadQueue(DWORD threadId);

}  // namespace ks::posix

// The bounds of the tests' waits. A wait that runs out has met a stall (a worker that never
// runs, a message that never comes) and its test says what did not happen. The waits after
// it in the same program most likely meet the same stall, so each of them waits at most
// kWaitAfterStall: a fault that stalls every test fails them all within seconds, instead of
// each one running through its whole bound into CTest's time-out.
//
// Threads: any.
#pragma once

#include "framework/Kernel.h"

namespace ks::test {

inline constexpr DWORD kWaitAfterStall = 1000;  // ms

// The bound for a wait whose own bound is `full` ms: `full`, or kWaitAfterStall once a wait
// of this program has run out.
DWORD WaitBound(DWORD full);
// Tells that a wait has run out.
void NoteStall();
// WaitForSingleObject over WaitBound(full); a wait that runs out is noted as a stall.
DWORD BoundedWait(HANDLE object, DWORD full);

}  // namespace ks::test

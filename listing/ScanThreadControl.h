// Starting and stopping the scan worker, shared by the program and the console companion.
// Call both on the thread that owns the worker pointer (the main thread).
#pragma once

#include "worker/KeyScoutThread.h"

namespace ks {

inline constexpr DWORD kWorkerStopTimeout = 10000;  // ms before the worker is ended by force

// Starts the worker when `thread` is null: created suspended, then resumed. `threadClass`
// is the worker's run-time class (CKeyScoutThread or a class derived from it). `thread`
// stays null when the worker cannot be created.
void StartScanThread(CKeyScoutThread*& thread,
                     const CRuntimeClass* threadClass = RUNTIME_CLASS(CKeyScoutThread));

// Asks the worker to quit, waits up to `timeout` ms and ends it by force if it has not
// ended by then; `thread` is null afterwards either way. The worker deletes itself as it
// ends, so only a copy of its thread handle is used once the quit is posted. Returns true
// when the worker ended by itself.
bool StopScanThread(CKeyScoutThread*& thread, DWORD timeout = kWorkerStopTimeout);

}  // namespace ks

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

// How often a program with no device-change watch asks for a scan of its own accord.
inline constexpr DWORD kScanRequestInterval = 2000;  // ms

// Asks `worker` for a scan every `interval` ms, on a thread of its own, until it is
// destroyed: where no device-change watch can be had. The requests fold in the worker as
// those of device changes do (one pass queued at most), so a slow scan never piles up
// passes. Create and destroy it on the thread that owns the worker pointer, after the
// worker has started and before it is stopped. Running() is false when no thread could be
// made (then nothing asks).
class CScanRequestTimer {
  public:
    CScanRequestTimer(CKeyScoutThread* worker, DWORD interval);
    ~CScanRequestTimer();
    CScanRequestTimer(const CScanRequestTimer&) = delete;
    CScanRequestTimer& operator=(const CScanRequestTimer&) = delete;

    bool Running() const { return m_hThread != nullptr; }

  private:
    static unsigned Run(void* argument);

    CKeyScoutThread* m_pWorker;
    DWORD m_dwInterval;
    HANDLE m_hStop = nullptr;
    HANDLE m_hThread = nullptr;
};

}  // namespace ks

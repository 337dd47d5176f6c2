// The Linux device-change watch: one thread that polls a set of event sources (the udev
// monitors, the mount table) and an eventfd that stops it, and folds each burst of events
// into one call of the callback: everything pending is drained, then the thread waits until
// the sources have had no change for the settle time (or the burst has lasted its longest),
// and only then calls once. A burst of any size thus costs one scan, or two when it
// straddles a call. What a source drains but does not count as a change (the events of
// other subsystems that wake a udev monitor) begins no burst and prolongs none.
//
// Threads: construct and destroy on one thread; the callback runs on the watch's thread.
// The sources' drain functions run on the watch's thread and must not block (their fds are
// non-blocking, or they read only what poll reported).
#pragma once

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/DeviceChanges.h"

namespace ks {

struct CChangeSource {
    int m_fd = -1;
    short m_events = 0;  // POLLIN, or POLLPRI for the mount table
    // Consumes what is pending on m_fd, so that poll stops reporting it, and answers
    // whether any of it was a change the program shows (a udev monitor also wakes for
    // events it then refuses: those are not).
    std::function<bool()> m_drain;
};

class CPollChangeWatch final : public IDeviceChangeWatch {
  public:
    static constexpr std::chrono::milliseconds kSettle{100};
    static constexpr std::chrono::milliseconds kMaxDelay{1000};

    // Takes ownership of nothing: the sources' fds must outlive the watch. When the stop
    // eventfd or the thread cannot be made, the watch reports nothing (Running() false).
    // A burst is told once the sources have been quiet for `settle`, or `maxDelay` after
    // it began.
    CPollChangeWatch(std::vector<CChangeSource> sources, std::function<void(DWORD)> onChange,
                     std::chrono::milliseconds settle = kSettle,
                     std::chrono::milliseconds maxDelay = kMaxDelay);
    ~CPollChangeWatch() override;
    CPollChangeWatch(const CPollChangeWatch&) = delete;
    CPollChangeWatch& operator=(const CPollChangeWatch&) = delete;

    bool Running() const { return m_thread.joinable(); }

  private:
    void Run();
    // Polls every source and the stop fd; drains what is ready. -1: stop; else the number
    // of sources that had a change (a source that has gone counts as one, once).
    int PollOnce(int timeoutMs);

    std::vector<CChangeSource> m_vSources;
    std::function<void(DWORD)> m_onChange;
    std::chrono::milliseconds m_settle;
    std::chrono::milliseconds m_maxDelay;
    int m_stopFd = -1;
    std::thread m_thread;
};

}  // namespace ks

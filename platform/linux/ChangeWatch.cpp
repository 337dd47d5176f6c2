#include "platform/linux/ChangeWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace ks {

CPollChangeWatch::CPollChangeWatch(std::vector<CChangeSource> sources,
                                   std::function<void(DWORD)> onChange,
                                   std::chrono::milliseconds settle,
                                   std::chrono::milliseconds maxDelay)
    : m_vSources(std::move(sources)),
      m_onChange(std::move(onChange)),
      m_settle(settle),
      m_maxDelay(maxDelay) {
    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stopFd < 0)
        return;
    try {
        m_thread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread: a watch that reports nothing, and the program refreshes by hand.
    }
}

CPollChangeWatch::~CPollChangeWatch() {
    if (m_stopFd >= 0) {
        const std::uint64_t one = 1;
        // An eventfd write of 1 cannot fail short of an overflowed counter, which one write
        // per watch never reaches.
        [[maybe_unused]] const ssize_t n = ::write(m_stopFd, &one, sizeof one);
    }
    if (m_thread.joinable())
        m_thread.join();
    if (m_stopFd >= 0)
        ::close(m_stopFd);
}

int CPollChangeWatch::PollOnce(int timeoutMs) {
    std::vector<pollfd> fds;
    fds.reserve(m_vSources.size() + 1);
    fds.push_back({m_stopFd, POLLIN, 0});
    for (const CChangeSource& s : m_vSources)
        fds.push_back({s.m_fd, s.m_events, 0});
    const int n = ::poll(fds.data(), fds.size(), timeoutMs);
    if (n < 0)
        return errno == EINTR ? 0 : -1;
    if (fds[0].revents != 0)
        return -1;
    int changed = 0;
    for (std::size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents == 0)
            continue;
        if (fds[i].revents & (POLLHUP | POLLNVAL) && !(fds[i].revents & (POLLIN | POLLPRI))) {
            // A source that has gone (its writer closed, its fd invalid) is no longer
            // polled, or it would wake the thread without end. What it last saw is
            // unknown: a change.
            m_vSources[i - 1].m_fd = -1;
            ++changed;
            continue;
        }
        if (m_vSources[i - 1].m_drain && m_vSources[i - 1].m_drain())
            ++changed;
    }
    return changed;
}

void CPollChangeWatch::Run() {
    using Clock = std::chrono::steady_clock;
    for (;;) {
        const int first = PollOnce(-1);
        if (first < 0)
            return;
        if (first == 0)
            continue;
        // A burst has begun: wait until the sources have had no change for the settle
        // time (events that are no change do not count), but not forever.
        const Clock::time_point deadline = Clock::now() + m_maxDelay;
        Clock::time_point quietAt = Clock::now() + m_settle;
        for (;;) {
            const Clock::time_point now = Clock::now();
            const Clock::time_point until = std::min(quietAt, deadline);
            if (until <= now)
                break;
            const int more = PollOnce(static_cast<int>(
                std::chrono::ceil<std::chrono::milliseconds>(until - now).count()));
            if (more < 0)
                return;
            if (more > 0)
                quietAt = Clock::now() + m_settle;
        }
        if (m_onChange)
            m_onChange(kDbtDevNodesChanged);
    }
}

}  // namespace ks

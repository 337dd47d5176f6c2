// SIGINT and SIGTERM through a signalfd, read by a thread that also polls an eventfd for
// its own stop.
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdint>
#include <system_error>
#include <thread>

#include "platform/Interrupt.h"

namespace ks {

namespace {

class CSignalWatch final : public IInterruptWatch {
  public:
    CSignalWatch(int signalFd, int stopFd, std::function<void()> onInterrupt)
        : m_signalFd(signalFd), m_stopFd(stopFd), m_onInterrupt(std::move(onInterrupt)) {
        m_thread = std::thread([this] { Run(); });
    }
    ~CSignalWatch() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_stopFd, &one, sizeof one);
        m_thread.join();
        ::close(m_signalFd);
        ::close(m_stopFd);
    }
    CSignalWatch(const CSignalWatch&) = delete;
    CSignalWatch& operator=(const CSignalWatch&) = delete;

  private:
    void Run() {
        for (;;) {
            pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {m_signalFd, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;  // EINTR
            if (fds[0].revents != 0)
                return;
            signalfd_siginfo info;
            if (fds[1].revents != 0 && ::read(m_signalFd, &info, sizeof info) == sizeof info)
                m_onInterrupt();
        }
    }

    int m_signalFd;
    int m_stopFd;
    std::function<void()> m_onInterrupt;
    std::thread m_thread;
};

}  // namespace

std::unique_ptr<IInterruptWatch> StartInterruptWatch(std::function<void()> onInterrupt) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigset_t previous;
    if (::pthread_sigmask(SIG_BLOCK, &set, &previous) != 0)
        return nullptr;
    const int signalFd = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    const int stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (signalFd >= 0 && stopFd >= 0) {
        try {
            return std::make_unique<CSignalWatch>(signalFd, stopFd, std::move(onInterrupt));
        } catch (const std::system_error&) {
        }
    }
    if (signalFd >= 0)
        ::close(signalFd);
    if (stopFd >= 0)
        ::close(stopFd);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return nullptr;
}

}  // namespace ks

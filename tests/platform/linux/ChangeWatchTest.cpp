// The device-change watch: bursts fold into one call (two at most when a burst straddles a
// call), a later change gets its own call, and stopping never hangs, whatever the sources
// are doing. The sources here are pipes that the test writes to, behind the same poll loop
// the udev monitors and the mount table use.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/DeviceChanges.h"
#include "platform/linux/ChangeWatch.h"

namespace ks {
namespace {

using namespace std::chrono_literals;

class CPipeSource {
  public:
    CPipeSource() {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
        m_read = fds[0];
        m_write = fds[1];
    }
    ~CPipeSource() {
        CloseWriter();
        ::close(m_read);
    }
    // `changes`: whether what it reads counts as a change (a udev monitor also wakes for
    // events it refuses).
    CChangeSource Source(bool changes = true) {
        const int fd = m_read;
        return {fd, POLLIN, [fd, changes] {
                    char buffer[256];
                    while (::read(fd, buffer, sizeof buffer) > 0) {
                    }
                    return changes;
                }};
    }
    void Event() { ASSERT_EQ(::write(m_write, "e", 1), 1); }
    void CloseWriter() {
        if (m_write >= 0)
            ::close(m_write);
        m_write = -1;
    }

  private:
    int m_read = -1;
    int m_write = -1;
};

// Counts the calls and lets the test wait for the n-th (bounded by the test's own limit).
class CCallCounter {
  public:
    std::function<void(DWORD)> Callback() {
        return [this](DWORD type) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lastType = type;
            ++m_calls;
            m_cv.notify_all();
        };
    }
    bool WaitFor(int calls, std::chrono::seconds limit = 20s) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, limit, [&] { return m_calls >= calls; });
    }
    int Calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }
    DWORD LastType() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lastType;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_calls = 0;
    DWORD m_lastType = 0;
};

TEST(ChangeWatchTest, ABurstOfFiftyEventsGivesAtMostTwoCalls) {
    CPipeSource usb, block;
    CCallCounter counter;
    {
        CPollChangeWatch watch({usb.Source(), block.Source()}, counter.Callback());
        ASSERT_TRUE(watch.Running());
        for (int i = 0; i < 50; ++i) {
            (i % 2 == 0 ? usb : block).Event();
            if (i % 10 == 0)
                std::this_thread::sleep_for(2ms);  // a real burst trickles in
        }
        ASSERT_TRUE(counter.WaitFor(1));
        EXPECT_EQ(counter.LastType(), kDbtDevNodesChanged);
        // Give a second call every chance to come: settle time several times over.
        std::this_thread::sleep_for(CPollChangeWatch::kSettle * 5);
        EXPECT_LE(counter.Calls(), 2);

        // A change well after the burst has its own call.
        const int before = counter.Calls();
        usb.Event();
        EXPECT_TRUE(counter.WaitFor(before + 1));
    }
}

// A settle time far below the longest a burst may last, so that a burst told only when
// that runs out cannot pass for one told when its sources went quiet.
constexpr auto kShortSettle = 20ms;
constexpr auto kLongBurst = 30s;

TEST(ChangeWatchTest, ABurstIsToldOnceItsSourcesAreQuietAndOnlyChangesCount) {
    CPipeSource changes, noise;
    CCallCounter counter;
    CPollChangeWatch watch({changes.Source(), noise.Source(false)}, counter.Callback(),
                           kShortSettle, kLongBurst);
    ASSERT_TRUE(watch.Running());
    changes.Event();
    EXPECT_TRUE(counter.WaitFor(1, 10s)) << "the burst did not end when its source went quiet";

    // Events that are no change begin no burst, and do not keep one going.
    for (int i = 0; i < 5; ++i)
        noise.Event();
    std::this_thread::sleep_for(kShortSettle * 10);
    EXPECT_EQ(counter.Calls(), 1);
    changes.Event();
    EXPECT_TRUE(counter.WaitFor(2, 10s)) << "a change after the noise was not told";
}

TEST(ChangeWatchTest, ASourceThatDiesIsDroppedAndTheOthersGoOn) {
    CPipeSource dying, live;
    CCallCounter counter;
    CPollChangeWatch watch({dying.Source(), live.Source()}, counter.Callback(), kShortSettle,
                           kLongBurst);
    ASSERT_TRUE(watch.Running());
    // Its writer gone, a source reports a hang-up for ever: one change, then no longer
    // polled, or no burst would ever settle again.
    dying.CloseWriter();
    EXPECT_TRUE(counter.WaitFor(1, 10s)) << "the burst of the dead source never settled";
    live.Event();
    EXPECT_TRUE(counter.WaitFor(2, 10s)) << "the live source's change was not told";
    std::this_thread::sleep_for(kShortSettle * 10);
    EXPECT_EQ(counter.Calls(), 2);
}

TEST(ChangeWatchTest, StoppingNeverHangs) {
    CCallCounter counter;
    {
        // Idle: stopped while waiting for a first event.
        CPipeSource source;
        CPollChangeWatch watch({source.Source()}, counter.Callback());
        std::this_thread::sleep_for(20ms);
    }
    {
        // Mid-burst: events keep coming while the watch is being destroyed.
        CPipeSource source;
        std::atomic<bool> stop{false};
        std::thread writer;
        {
            CPollChangeWatch watch({source.Source()}, counter.Callback());
            writer = std::thread([&] {
                while (!stop)
                    source.Event(), std::this_thread::sleep_for(1ms);
            });
            std::this_thread::sleep_for(30ms);
        }
        stop = true;
        writer.join();
    }
    {
        // A source whose writer has gone reports a hang-up for ever: not a busy loop that
        // calls back without end, and still a clean stop.
        CPipeSource source;
        CCallCounter quiet;
        CPollChangeWatch watch({source.Source()}, quiet.Callback());
        source.CloseWriter();
        std::this_thread::sleep_for(CPollChangeWatch::kSettle * 3);
        EXPECT_LE(quiet.Calls(), 1);
    }
    // The watch of this machine starts (udev or not) and stops at once.
    std::unique_ptr<IDeviceChangeWatch> live = StartDeviceChangeWatch(counter.Callback());
    EXPECT_NE(live, nullptr);
    live.reset();
}

}  // namespace
}  // namespace ks

// Device changes on a umockdev test bed (run under umockdev-wrapper): a udev add or remove
// event reaches the watch of this machine, and keyscout-list --watch prints a new list for
// each, then ends cleanly on SIGINT.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/DeviceChanges.h"
#include "tests/support/UsbBed.h"

// After the framework's types: glib defines TRUE and FALSE as macros.
#include <umockdev.h>

extern char** environ;

namespace ks {
namespace {

using namespace std::chrono_literals;

class BedEventsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_pBed = umockdev_testbed_new();
        // Without the preload library the bed would be a folder nobody reads.
        ASSERT_TRUE(umockdev_in_mock_environment()) << "run under umockdev-wrapper";
        ASSERT_TRUE(Add(test::kBedRootHub));
        ASSERT_TRUE(Add(test::BedDevice(1)));
    }
    void TearDown() override {
        if (m_pBed != nullptr)
            g_object_unref(m_pBed);
    }
    bool Add(const std::string& text) {
        GError* error = nullptr;
        const bool ok = umockdev_testbed_add_from_string(m_pBed, text.c_str(), &error);
        if (error != nullptr) {
            ADD_FAILURE() << error->message;
            g_error_free(error);
        }
        return ok;
    }
    static std::string PathOf(int port) { return test::BedDevicePath(port); }

    UMockdevTestbed* m_pBed = nullptr;
};

TEST_F(BedEventsTest, AnAddEventReachesTheWatch) {
    std::mutex mutex;
    std::condition_variable cv;
    int calls = 0;
    std::unique_ptr<IDeviceChangeWatch> watch = StartDeviceChangeWatch([&](DWORD type) {
        std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(type, kDbtDevNodesChanged);
        ++calls;
        cv.notify_all();
    });
    ASSERT_NE(watch, nullptr);
    ASSERT_TRUE(Add(test::BedDevice(2)));
    umockdev_testbed_uevent(m_pBed, PathOf(2).c_str(), "add");
    std::unique_lock<std::mutex> lock(mutex);
    EXPECT_TRUE(cv.wait_for(lock, 20s, [&] { return calls >= 1; }));
}

// Reads one line of the child's output, waiting at most 20 s.
std::string ReadLine(int fd, std::string& pending) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    for (;;) {
        const std::size_t nl = pending.find('\n');
        if (nl != std::string::npos) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p = {fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            return "<no line>";
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return "<end>";
        pending.append(buffer, static_cast<std::size_t>(n));
    }
}

TEST_F(BedEventsTest, WatchPrintsANewListForEachChangeAndEndsOnSigint) {
    const char* tool = std::getenv("KS_KEYSCOUT_LIST");
    ASSERT_NE(tool, nullptr);
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    char* argv[] = {const_cast<char*>(tool), const_cast<char*>("--watch"),
                    const_cast<char*>("--json"), nullptr};
    pid_t child = 0;
    // The child inherits the bed: its environment leads the preload library to it.
    ASSERT_EQ(::posix_spawn(&child, tool, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);

    std::string pending;
    const std::string first = ReadLine(out[0], pending);
    EXPECT_NE(first.find("\"serial\":\"SER1\""), std::string::npos) << first;
    EXPECT_EQ(first.find("SER2"), std::string::npos) << first;

    // The watch subscribes once it has printed nothing yet; give it a moment to be there
    // before the event, and send the event again if no list comes.
    ASSERT_TRUE(Add(test::BedDevice(2)));
    std::string second;
    for (int attempt = 0; attempt < 5 && second.find("SER2") == std::string::npos; ++attempt) {
        umockdev_testbed_uevent(m_pBed, PathOf(2).c_str(), "add");
        second = ReadLine(out[0], pending);
    }
    EXPECT_NE(second.find("\"serial\":\"SER1\""), std::string::npos) << second;
    EXPECT_NE(second.find("\"serial\":\"SER2\""), std::string::npos) << second;

    // The bed sends events only for devices it has: the remove event goes out just before
    // the device does, and the watch's settle time lets it go before the scan. Should the
    // scan still have seen it, a change of the root hub asks for another.
    umockdev_testbed_uevent(m_pBed, PathOf(1).c_str(), "remove");
    umockdev_testbed_remove_device(m_pBed, PathOf(1).c_str());
    std::string third = ReadLine(out[0], pending);
    if (third.find("SER1") != std::string::npos) {
        umockdev_testbed_uevent(m_pBed, "/sys/devices/pci0000:00/0000:00:14.0/usb1", "change");
        third = ReadLine(out[0], pending);
    }
    EXPECT_EQ(third.find("SER1"), std::string::npos) << third;
    EXPECT_NE(third.find("\"serial\":\"SER2\""), std::string::npos) << third;

    ASSERT_EQ(::kill(child, SIGINT), 0);
    int status = -1;
    for (int i = 0; i < 200 && ::waitpid(child, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(50ms);
    if (!WIFEXITED(status)) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        FAIL() << "keyscout-list --watch did not end on SIGINT";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ::close(out[0]);
}

}  // namespace
}  // namespace ks

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
#include <thread>
#include <vector>

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

// Runs `tool` with `args` under the bed, its output and errors through pipes; `preload`
// goes first in its LD_PRELOAD.
pid_t SpawnUnderBed(const char* tool, std::vector<const char*> args, int out, int err,
                    const char* preload = nullptr) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    if (err >= 0)
        posix_spawn_file_actions_adddup2(&actions, err, 2);
    std::vector<char*> argv{const_cast<char*>(tool)};
    for (const char* a : args)
        argv.push_back(const_cast<char*>(a));
    argv.push_back(nullptr);
    // The child inherits the bed: its environment leads the preload library to it.
    std::vector<std::string> env;
    std::string ldPreload = preload != nullptr ? preload : "";
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        if (entry.rfind("LD_PRELOAD=", 0) == 0 && preload != nullptr)
            ldPreload += ":" + entry.substr(11);
        else
            env.push_back(entry);
    }
    if (!ldPreload.empty())
        env.push_back("LD_PRELOAD=" + ldPreload);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t child = 0;
    const int rc = ::posix_spawn(&child, tool, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? child : -1;
}

// Interrupts the child and waits (10 s at most) for it to end; its exit status, or -1.
int InterruptAndWait(pid_t child) {
    if (::kill(child, SIGINT) != 0)
        return -1;
    int status = -1;
    for (int i = 0; i < 200 && ::waitpid(child, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(50ms);
    if (!WIFEXITED(status)) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST_F(BedEventsTest, WatchScansEveryTwoSecondsWhereNetlinkIsRefused) {
    const char* tool = std::getenv("KS_KEYSCOUT_LIST");
    const char* noNetlink = std::getenv("KS_NO_NETLINK");
    ASSERT_NE(tool, nullptr);
    ASSERT_NE(noNetlink, nullptr);
    int out[2], err[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
    const pid_t child = SpawnUnderBed(tool, {"--watch", "--json"}, out[1], err[1], noNetlink);
    ASSERT_GT(child, 0);
    ::close(out[1]);
    ::close(err[1]);

    std::string pending;
    const std::string first = ReadLine(out[0], pending);
    EXPECT_NE(first.find("\"serial\":\"SER1\""), std::string::npos) << first;
    // No event at all: the next scan of its own accord finds the new device.
    ASSERT_TRUE(Add(test::BedDevice(2)));
    const std::string second = ReadLine(out[0], pending);
    EXPECT_NE(second.find("\"serial\":\"SER2\""), std::string::npos) << second;
    umockdev_testbed_remove_device(m_pBed, PathOf(1).c_str());
    const std::string third = ReadLine(out[0], pending);
    EXPECT_EQ(third.find("SER1"), std::string::npos) << third;
    EXPECT_NE(third.find("SER2"), std::string::npos) << third;

    EXPECT_EQ(InterruptAndWait(child), 0) << "keyscout-list --watch did not end on SIGINT";
    std::string errors, ignored;
    for (std::string line; (line = ReadLine(err[0], ignored)) != "<end>" && line != "<no line>";)
        errors += line + "\n";
    // Said once, and why.
    const std::string said = "device changes cannot be watched here";
    const std::size_t at = errors.find(said);
    EXPECT_NE(at, std::string::npos) << errors;
    EXPECT_EQ(errors.find(said, at + 1), std::string::npos) << errors;
    EXPECT_NE(errors.find("every 2 s"), std::string::npos) << errors;
    ::close(out[0]);
    ::close(err[0]);
}

TEST_F(BedEventsTest, WatchPrintsANewListForEachChangeAndEndsOnSigint) {
    const char* tool = std::getenv("KS_KEYSCOUT_LIST");
    ASSERT_NE(tool, nullptr);
    int out[2];
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    const pid_t child = SpawnUnderBed(tool, {"--watch", "--json"}, out[1], -1);
    ASSERT_GT(child, 0);
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

    EXPECT_EQ(InterruptAndWait(child), 0) << "keyscout-list --watch did not end on SIGINT";
    ::close(out[0]);
}

}  // namespace
}  // namespace ks

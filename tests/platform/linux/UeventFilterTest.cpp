// The watch of this machine against uevent datagrams, sent on netlink inside a network
// namespace of this test's own (run under `unshare -n`: nothing it sends leaves it). A
// laptop's battery, backlight and Bluetooth send events all day: only USB and block devices
// that come, change or go may cause a rescan.
#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/DeviceChanges.h"

namespace ks {
namespace {

using namespace std::chrono_literals;

constexpr unsigned kKernelGroup = 1;  // events as the kernel sends them
constexpr unsigned kUdevGroup = 2;    // events as udev passes them on, with its header

// The hash udev's monitors filter subsystems by in the kernel (MurmurHash2, seed 0).
std::uint32_t SubsystemHash(const std::string& s) {
    const std::uint32_t m = 0x5bd1e995;
    std::uint32_t h = static_cast<std::uint32_t>(s.size());
    std::size_t i = 0;
    for (; i + 4 <= s.size(); i += 4) {
        std::uint32_t k;
        std::memcpy(&k, s.data() + i, 4);
        k *= m;
        k ^= k >> 24;
        k *= m;
        h = h * m ^ k;
    }
    switch (s.size() - i) {
        case 3:
            h ^= static_cast<std::uint32_t>(static_cast<unsigned char>(s[i + 2])) << 16;
            [[fallthrough]];
        case 2:
            h ^= static_cast<std::uint32_t>(static_cast<unsigned char>(s[i + 1])) << 8;
            [[fallthrough]];
        case 1:
            h ^= static_cast<unsigned char>(s[i]);
            h *= m;
    }
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    return h;
}

class CUeventSender {
  public:
    CUeventSender() {
        m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
        EXPECT_GE(m_fd, 0) << std::strerror(errno);
    }
    ~CUeventSender() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    CUeventSender(const CUeventSender&) = delete;
    CUeventSender& operator=(const CUeventSender&) = delete;

    // One event of `subsystem` on both groups, the way a change reaches a machine: first
    // from the kernel, then from udev.
    void Send(const std::string& action, const std::string& devpath, const std::string& subsystem,
              const std::string& devtype) {
        std::string properties = "ACTION=" + action + '\0' + "DEVPATH=" + devpath + '\0' +
                                 "SUBSYSTEM=" + subsystem + '\0' +
                                 "SEQNUM=" + std::to_string(++m_seqnum) + '\0';
        if (!devtype.empty())
            properties += "DEVTYPE=" + devtype + '\0';
        SendTo(kKernelGroup, action + "@" + devpath + '\0' + properties);

        struct {
            char prefix[8];
            std::uint32_t magic, headerSize, propertiesOff, propertiesLen;
            std::uint32_t subsystemHash, devtypeHash, tagBloomHi, tagBloomLo;
        } header{};
        std::memcpy(header.prefix, "libudev", 8);
        header.magic = htonl(0xfeedcafe);
        header.headerSize = sizeof header;
        header.propertiesOff = sizeof header;
        header.propertiesLen = static_cast<std::uint32_t>(properties.size());
        header.subsystemHash = htonl(SubsystemHash(subsystem));
        header.devtypeHash = devtype.empty() ? 0 : htonl(SubsystemHash(devtype));
        std::string message(reinterpret_cast<const char*>(&header), sizeof header);
        SendTo(kUdevGroup, message + properties);
    }

  private:
    void SendTo(unsigned group, const std::string& message) {
        sockaddr_nl to{};
        to.nl_family = AF_NETLINK;
        to.nl_groups = group;
        const ssize_t n = ::sendto(m_fd, message.data(), message.size(), 0,
                                   reinterpret_cast<const sockaddr*>(&to), sizeof to);
        EXPECT_EQ(n, static_cast<ssize_t>(message.size())) << std::strerror(errno);
    }

    int m_fd = -1;
    unsigned m_seqnum = 1000;
};

class CCalls {
  public:
    std::function<void(DWORD)> Callback() {
        return [this](DWORD) {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_calls;
            m_cv.notify_all();
        };
    }
    bool WaitFor(int calls) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, 10s, [&] { return m_calls >= calls; });
    }
    int Calls() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_calls = 0;
};

std::string NamespaceOf(const std::string& pid) {
    char target[256];
    const ssize_t n = ::readlink(("/proc/" + pid + "/ns/net").c_str(), target, sizeof target);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// A network namespace other than the one this test was started from, with no interface
// but the loopback one: what `unshare -n` gives.
bool InOwnNetworkNamespace() {
    const std::string mine = NamespaceOf("self");
    const std::string parent = NamespaceOf(std::to_string(::getppid()));
    if (mine.empty() || mine == parent)
        return false;
    std::FILE* dev = std::fopen("/proc/self/net/dev", "r");
    if (dev == nullptr)
        return false;
    char line[512];
    int others = 0;
    for (int n = 0; std::fgets(line, sizeof line, dev) != nullptr; ++n) {
        const std::string l(line);
        if (n >= 2 && l.find(':') != std::string::npos && l.find("lo:") == std::string::npos)
            ++others;
    }
    std::fclose(dev);
    return others == 0;
}

TEST(UeventFilterTest, OnlyUsbAndBlockDevicesCauseARescan) {
    // Nothing is sent where another program would hear it.
    ASSERT_TRUE(InOwnNetworkNamespace()) << "run under unshare -n";
    CCalls calls;
    std::unique_ptr<IDeviceChangeWatch> watch = StartDeviceChangeWatch(calls.Callback());
    ASSERT_NE(watch, nullptr);
    CUeventSender sender;
    // The monitors are bound once the watch has started; give its thread a moment to poll.
    std::this_thread::sleep_for(200ms);

    // A laptop's day: the battery, the backlight, a Bluetooth adapter, a thermal zone.
    sender.Send("change", "/devices/LNXSYSTM:00/PNP0C0A:00/power_supply/BAT0", "power_supply", "");
    sender.Send("change", "/devices/LNXSYSTM:00/ACPI0003:00/power_supply/AC", "power_supply", "");
    sender.Send("change", "/devices/pci0000:00/0000:00:02.0/backlight/intel_backlight", "backlight",
                "");
    sender.Send("add", "/devices/virtual/bluetooth/hci0/hci0:11", "bluetooth", "link");
    sender.Send("change", "/devices/virtual/thermal/thermal_zone0", "thermal", "");
    // Long enough for any burst they began to end (the watch waits at most 1 s) and be told.
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(calls.Calls(), 0) << "events of other subsystems caused a rescan";

    // A stick plugged in: one rescan.
    sender.Send("add", "/devices/pci0000:00/0000:00:14.0/usb1/1-1", "usb", "usb_device");
    EXPECT_TRUE(calls.WaitFor(1)) << "the usb event caused no rescan";
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(calls.Calls(), 1);

    // Its disk changes (a card put into a reader): one more.
    sender.Send("change",
                "/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0/"
                "block/sdb",
                "block", "disk");
    EXPECT_TRUE(calls.WaitFor(2)) << "the block event caused no rescan";
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(calls.Calls(), 2);
}

}  // namespace
}  // namespace ks

// Device changes on Linux: udev's netlink monitors for the usb and block subsystems, and
// the mount table, whose file the kernel marks with POLLPRI|POLLERR when a mount comes or
// goes. Both the udev group (events after udev has handled them) and the kernel group
// (events as the kernel sends them, for machines where udev does not run) are watched; the
// two events of one change fall into one burst. The kernel's group carries the events of
// every subsystem (batteries, backlights, thermal zones send them all day): only those of
// usb and block devices count as changes. Where no monitor can be had (netlink refused),
// there is no watch, and the caller hears why.
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DeviceChanges.h"
#include "platform/linux/ChangeWatch.h"

namespace ks {

namespace {

// A usb or block device that came, changed or went: the changes the program shows. The
// monitors filter by subsystem already; a device that reaches the drain all the same
// (a libudev that filters only in the kernel, where kernel events carry no filter hash)
// is held to it here.
bool IsWatchedDevice(udev_device* device) {
    const char* subsystem = udev_device_get_subsystem(device);
    if (subsystem == nullptr)
        return false;
    const std::string_view s(subsystem);
    return s == "usb" || s == "block";
}

class CLinuxDeviceChangeWatch final : public IDeviceChangeWatch {
  public:
    explicit CLinuxDeviceChangeWatch(std::function<void(DWORD)> onChange) {
        std::vector<CChangeSource> sources;
        m_pUdev = udev_new();
        if (m_pUdev == nullptr) {
            m_strFailure = Why("no udev context", errno);
            return;
        }
        for (const char* group : {"udev", "kernel"}) {
            udev_monitor* monitor = udev_monitor_new_from_netlink(m_pUdev, group);
            if (monitor == nullptr) {
                m_strFailure = Why("no udev monitor", errno);
                continue;
            }
            if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", nullptr) < 0 ||
                udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", nullptr) < 0 ||
                udev_monitor_enable_receiving(monitor) < 0) {
                m_strFailure = Why("no udev monitor", errno);
                udev_monitor_unref(monitor);
                continue;
            }
            m_vMonitors.push_back(monitor);
            // The monitor's socket is non-blocking: receive until it is empty. An overrun
            // socket (ENOBUFS) has lost events: that is a change too.
            sources.push_back({udev_monitor_get_fd(monitor), POLLIN, [monitor] {
                                   bool changed = false;
                                   for (int i = 0; i < 4096; ++i) {
                                       errno = 0;
                                       udev_device* d = udev_monitor_receive_device(monitor);
                                       if (d == nullptr) {
                                           if (errno == ENOBUFS)
                                               changed = true;
                                           else
                                               break;
                                           continue;
                                       }
                                       changed = changed || IsWatchedDevice(d);
                                       udev_device_unref(d);
                                   }
                                   return changed;
                               }});
        }
        // Without a udev monitor, the mount table alone would miss every device: no watch.
        if (m_vMonitors.empty())
            return;
        m_strFailure.clear();
        m_mountFd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (m_mountFd >= 0) {
            const int fd = m_mountFd;
            // The mark is cleared by reading the table again.
            sources.push_back({fd, POLLPRI, [fd] {
                                   char buffer[4096];
                                   ::lseek(fd, 0, SEEK_SET);
                                   for (int i = 0;
                                        i < 1024 && ::read(fd, buffer, sizeof buffer) > 0; ++i) {
                                   }
                                   return true;
                               }});
        }
        m_pWatch = std::make_unique<CPollChangeWatch>(std::move(sources), std::move(onChange));
        if (!m_pWatch->Running())
            m_strFailure = "no thread for the watch";
    }
    // Why the watch sees nothing (empty while it runs).
    const std::string& Failure() const { return m_strFailure; }
    ~CLinuxDeviceChangeWatch() override {
        m_pWatch.reset();  // the thread ends before its sources go
        for (udev_monitor* m : m_vMonitors)
            udev_monitor_unref(m);
        if (m_pUdev != nullptr)
            udev_unref(m_pUdev);
        if (m_mountFd >= 0)
            ::close(m_mountFd);
    }
    CLinuxDeviceChangeWatch(const CLinuxDeviceChangeWatch&) = delete;
    CLinuxDeviceChangeWatch& operator=(const CLinuxDeviceChangeWatch&) = delete;

  private:
    static std::string Why(const char* what, int error) {
        return std::string(what) + ": " + std::strerror(error != 0 ? error : EIO);
    }

    udev* m_pUdev = nullptr;
    std::vector<udev_monitor*> m_vMonitors;
    int m_mountFd = -1;
    std::unique_ptr<CPollChangeWatch> m_pWatch;
    std::string m_strFailure;
};

}  // namespace

std::unique_ptr<IDeviceChangeWatch> StartDeviceChangeWatch(std::function<void(DWORD)> onChange,
                                                           std::string* failure) {
    auto watch = std::make_unique<CLinuxDeviceChangeWatch>(std::move(onChange));
    if (failure != nullptr)
        *failure = watch->Failure();
    if (!watch->Failure().empty())
        return nullptr;
    return watch;
}

}  // namespace ks

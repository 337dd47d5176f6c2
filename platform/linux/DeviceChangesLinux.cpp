// Device changes on Linux: udev's netlink monitors for the usb and block subsystems, and
// the mount table, whose file the kernel marks with POLLPRI|POLLERR when a mount comes or
// goes. Both the udev group (events after udev has handled them) and the kernel group
// (events as the kernel sends them, for machines where udev does not run) are watched; the
// two events of one change fall into one burst.
#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "platform/DeviceChanges.h"
#include "platform/linux/ChangeWatch.h"

namespace ks {

namespace {

class CLinuxDeviceChangeWatch final : public IDeviceChangeWatch {
  public:
    explicit CLinuxDeviceChangeWatch(std::function<void(DWORD)> onChange) {
        std::vector<CChangeSource> sources;
        m_pUdev = udev_new();
        if (m_pUdev != nullptr) {
            for (const char* group : {"udev", "kernel"}) {
                udev_monitor* monitor = udev_monitor_new_from_netlink(m_pUdev, group);
                if (monitor == nullptr)
                    continue;
                udev_monitor_filter_add_match_subsystem_devtype(monitor, "usb", nullptr);
                udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", nullptr);
                if (udev_monitor_enable_receiving(monitor) < 0) {
                    udev_monitor_unref(monitor);
                    continue;
                }
                m_vMonitors.push_back(monitor);
                // The monitor's socket is non-blocking: receive until it is empty.
                sources.push_back({udev_monitor_get_fd(monitor), POLLIN, [monitor] {
                                       for (int i = 0; i < 4096; ++i) {
                                           udev_device* d = udev_monitor_receive_device(monitor);
                                           if (d == nullptr)
                                               break;
                                           udev_device_unref(d);
                                       }
                                   }});
            }
        }
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
                               }});
        }
        m_pWatch = std::make_unique<CPollChangeWatch>(std::move(sources), std::move(onChange));
    }
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
    udev* m_pUdev = nullptr;
    std::vector<udev_monitor*> m_vMonitors;
    int m_mountFd = -1;
    std::unique_ptr<CPollChangeWatch> m_pWatch;
};

}  // namespace

std::unique_ptr<IDeviceChangeWatch> StartDeviceChangeWatch(std::function<void(DWORD)> onChange) {
    return std::make_unique<CLinuxDeviceChangeWatch>(std::move(onChange));
}

}  // namespace ks

// Device changes as the program sees them: a callback whenever USB devices or volumes come
// or go, folded into one call per burst.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "framework/WinTypes.h"

namespace ks {

// The device-change event type of "something in the device tree changed"
// (DBT_DEVNODES_CHANGED), the one a watch reports.
inline constexpr DWORD kDbtDevNodesChanged = 0x0007;

// Watches for USB devices and volumes that come or go. `onChange` runs on the watch's
// own thread with a device-change event type (DBT_DEVNODES_CHANGED, 0x0007), once per
// burst of changes; it must not block. Destroying the watch stops it and waits for
// its thread.
// Answers nullptr where there is no watch, for one of two reasons:
//  - the window system broadcasts WM_DEVICECHANGE to top-level windows by itself
//    (Windows): `failure`, when given, is left empty;
//  - no watch can be set up here (Linux where netlink is refused: a sandbox, a seccomp
//    profile): `failure` says why, and only a program that scans again from time to time
//    learns of changes.
class IDeviceChangeWatch {
  public:
    virtual ~IDeviceChangeWatch() = default;
};
std::unique_ptr<IDeviceChangeWatch> StartDeviceChangeWatch(std::function<void(DWORD)> onChange,
                                                           std::string* failure = nullptr);

}  // namespace ks

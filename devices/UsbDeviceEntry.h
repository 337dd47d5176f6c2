// CUsbDeviceEntry: a device found by a scan, with its tree of device-manager nodes. A value:
// copies are deep.
#pragma once

#include "devices/DevNodeTree.h"
#include "usb/UsbDeviceInfo.h"

namespace ks {

class CUsbDeviceEntry : public CUsbDeviceInfo {
  public:
    CUsbDeviceEntry() = default;
    CUsbDeviceEntry(const CUsbDeviceEntry&) = default;
    CUsbDeviceEntry& operator=(const CUsbDeviceEntry&) = default;
    // Moves, so that a growing vector of entries moves its trees instead of copying them.
    CUsbDeviceEntry(CUsbDeviceEntry&&) noexcept = default;
    CUsbDeviceEntry& operator=(CUsbDeviceEntry&&) noexcept = default;
    ~CUsbDeviceEntry() override = default;

    CDevNodeTree m_devNodeTree;
};

}  // namespace ks

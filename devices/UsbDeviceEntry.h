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
    ~CUsbDeviceEntry() override = default;

    CDevNodeTree m_devNodeTree;
};

}  // namespace ks

// CUsbDeviceScanner: the scanner the worker owns. It collects one CUsbDeviceEntry per
// connected non-hub device into the owner's entry vector. Used by the scan worker thread.
#pragma once

#include <vector>

#include "devices/UsbDeviceEntry.h"
#include "usb/UsbBusWalker.h"

namespace ks {

class CUsbDeviceScanner : public CUsbDeviceLister {
public:
    explicit CUsbDeviceScanner(std::vector<CUsbDeviceEntry>* entries)
        : CUsbDeviceLister(nullptr), m_pEntries(entries) {}
    ~CUsbDeviceScanner() override = default;

    void Scan() override;

    std::vector<CUsbDeviceEntry>* m_pEntries;  // the owner's vector; not owned; may be null
    unsigned m_nodeFieldMask = 0;
};

}  // namespace ks

// The scanner chain: CUsbBusWalker finds the host controllers and walks the bus;
// CUsbDeviceLister collects each connected non-hub device into its owner's list. Every walk
// step is virtual and called through the object, so a subclass can replace one step and
// keep the rest. A scanner is used by one thread at a time (the scan worker).
#pragma once

#include <vector>

#include "framework/Collections.h"
#include "usb/UsbDeviceInfo.h"
#include "usb/UsbIoHandle.h"

namespace ks {

class CUsbBusWalker {
public:
    static constexpr int kDiscoverHcdNames = 0x1;
    static constexpr int kDiscoverInterfaces = 0x2;

    explicit CUsbBusWalker(const int& discovery) : m_controllerKeys(10), m_discovery(discovery) {}
    CUsbBusWalker(const CUsbBusWalker&) = delete;
    CUsbBusWalker& operator=(const CUsbBusWalker&) = delete;
    virtual ~CUsbBusWalker() = default;

    virtual void Scan();
    virtual void EnumerateHcdNames();
    virtual void EnumerateHostControllerInterfaces();

protected:
    void CheckHostController(const CString& path);

    CStringList m_controllerKeys;  // upper-cased driver keys of the controllers walked this scan
    int m_discovery;
};

class CUsbDeviceLister : public CUsbBusWalker {
public:
    explicit CUsbDeviceLister(std::vector<CUsbDeviceInfo>* devices)
        : CUsbBusWalker(kDiscoverAll), m_pDevices(devices) {}
    ~CUsbDeviceLister() override = default;

    void Scan() override;

    std::vector<CUsbDeviceInfo>* m_pDevices;  // the owner's list; not owned; may be null
    int m_fields = 0;  // field selection, set by the owner before the first scan

private:
    static constexpr int kDiscoverAll = kDiscoverHcdNames | kDiscoverInterfaces;
};

}  // namespace ks

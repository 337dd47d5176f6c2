// The scanner chain. CUsbBusWalker finds every USB host controller and walks its root hub,
// every hub below it and every port, depth first by port number, calling a hook for each
// port; CUsbDeviceLister turns each connected non-hub device into a CUsbDeviceInfo in its
// owner's list. Every walk step is virtual and called through the object, so a subclass can
// replace one step or hook and keep the rest.
//
// A scanner is used by one thread at a time (the scan worker); Scan runs to completion on
// the caller's thread and leaves its results in the owner's list.
#pragma once

#include <vector>

#include "framework/Collections.h"
#include "usb/UsbDeviceInfo.h"
#include "usb/UsbIoHandle.h"

namespace ks {

class CUsbBusWalker {
  public:
    static constexpr int kDiscoverHcdNames = 0x1;    // "\\.\HCD0" .. "\\.\HCD9"
    static constexpr int kDiscoverInterfaces = 0x2;  // host-controller device interfaces
    // Hubs nest at most a few tiers deep; a platform that reports more is not followed.
    static constexpr std::size_t kMaxHubDepth = 32;

    explicit CUsbBusWalker(const int& discovery) : m_controllerKeys(10), m_discovery(discovery) {}
    CUsbBusWalker(const CUsbBusWalker&) = delete;
    CUsbBusWalker& operator=(const CUsbBusWalker&) = delete;
    virtual ~CUsbBusWalker() = default;

    virtual void Scan();
    virtual void EnumerateHcdNames();
    virtual void EnumerateHostControllerInterfaces();
    virtual void WalkHostController(CString& controllerPath);
    virtual void WalkHub(CString& hubName);
    virtual void VisitPort(CUsbIoHandle& hub, int& port);
    virtual void OnHubPort(CUsbIoHandle& hub, int& port, const BYTE* connection);
    virtual void OnDevicePort(CUsbIoHandle& hub, int& port, const BYTE* connection);

  protected:
    void CheckHostController(CString& controllerPath);
    int RememberController(CString driverKey);

    CStringList m_controllerKeys;  // upper-cased driver keys of the controllers walked this scan
    int m_discovery;

  private:
    // Upper-cased names of the hubs on the path being walked: a hub that a port reports
    // again below itself is not entered a second time.
    std::vector<CString> m_hubPath;
};

class CUsbDeviceLister : public CUsbBusWalker {
  public:
    static constexpr int kFieldVendorId = 0x1;
    static constexpr int kFieldProductId = 0x2;
    static constexpr int kFieldManufacturer = 0x4;
    static constexpr int kFieldProduct = 0x8;
    static constexpr int kFieldSerialNumber = 0x10;
    static constexpr int kFieldBcdUsb = 0x20;
    static constexpr int kFieldSpeed = 0x40;

    explicit CUsbDeviceLister(std::vector<CUsbDeviceInfo>* devices)
        : CUsbBusWalker(kDiscoverAll), m_pDevices(devices) {}
    ~CUsbDeviceLister() override = default;

    void Scan() override;
    void OnDevicePort(CUsbIoHandle& hub, int& port, const BYTE* connection) override;
    virtual void AddDevice(CUsbDeviceInfo& device);

    std::vector<CUsbDeviceInfo>* m_pDevices;  // the owner's list; not owned; may be null
    int m_fields = 0;  // field selection, set by the owner before the first scan

  protected:
    // Fills `device` from a port's connection information: 1 when the port holds a
    // connected device, 0 otherwise.
    int FillFromConnection(CUsbIoHandle& hub, int& port, const BYTE* connection,
                           CUsbDeviceInfo& device);
    // The serial part of the device's instance ID, when the device will not give its
    // serial number string.
    void ReadSerialFromDeviceId(CUsbIoHandle& hub, int& port, CUsbDeviceInfo& device);

  private:
    static constexpr int kDiscoverAll = kDiscoverHcdNames | kDiscoverInterfaces;
};

}  // namespace ks

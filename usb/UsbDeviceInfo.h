// CUsbDeviceInfo: one connected USB device as the bus walk sees it. A value record.
#pragma once

#include "framework/CString.h"
#include "framework/WinTypes.h"

namespace ks {

class CUsbDeviceInfo {
  public:
    CUsbDeviceInfo() = default;
    CUsbDeviceInfo(const CUsbDeviceInfo&) = default;
    CUsbDeviceInfo& operator=(const CUsbDeviceInfo&) = default;
    CUsbDeviceInfo(CUsbDeviceInfo&&) noexcept = default;
    CUsbDeviceInfo& operator=(CUsbDeviceInfo&&) noexcept = default;
    virtual ~CUsbDeviceInfo() = default;

    WORD m_idVendor = 0;
    WORD m_idProduct = 0;
    CString m_strManufacturer;
    CString m_strProduct;
    CString m_strSerialNumber;
    WORD m_bcdUSB = 0;
    int m_speed = 0;  // 0 low, 1 full, 2 high
};

}  // namespace ks

#include "devices/UsbDeviceScanner.h"

namespace ks {

void CUsbDeviceScanner::Scan() {
    if (m_pEntries != nullptr) m_pEntries->clear();
    CUsbDeviceLister::Scan();
}

}  // namespace ks

#include "usb/UsbIoHandle.h"

#include "platform/Platform.h"

namespace ks {

int CUsbIoHandle::Open() {
    Close();
    HANDLE h = Platform().CreateFileA(m_strPath, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      0, nullptr);
    // Some platforms answer a failed open with a null handle rather than the invalid one.
    m_hDevice = h != nullptr ? h : INVALID_HANDLE_VALUE;
    return IsOpen();
}

int CUsbIoHandle::Close() {
    if (IsOpen() && Platform().CloseHandle(m_hDevice)) m_hDevice = INVALID_HANDLE_VALUE;
    return IsOpen();
}

BOOL CUsbIoHandle::Control(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                           void* overlapped) {
    return Platform().DeviceIoControl(m_hDevice, code, in, inSize, out, outSize, returned, overlapped);
}

}  // namespace ks

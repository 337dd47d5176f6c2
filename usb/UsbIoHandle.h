// CUsbIoHandle: a device path (a host controller or a hub) with its open handle, through
// which the walk sends its driver requests. Lives on the stack of one walk step, on the
// scan worker thread; never copied; the destructor closes the handle.
#pragma once

#include "framework/CString.h"
#include "platform/PlatformTypes.h"

namespace ks {

class CUsbIoHandle {
public:
    explicit CUsbIoHandle(const CString& path) : m_strPath(path) {}
    CUsbIoHandle(const CUsbIoHandle&) = delete;
    CUsbIoHandle& operator=(const CUsbIoHandle&) = delete;
    virtual ~CUsbIoHandle() { Close(); }

    // Closes any earlier handle, then opens the path for device I/O. Returns IsOpen().
    int Open();
    // Returns IsOpen(): 0 after a successful close; a failed close keeps the handle.
    int Close();
    int IsOpen() const { return m_hDevice != INVALID_HANDLE_VALUE ? 1 : 0; }
    BOOL Control(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned,
                 void* overlapped);
    const CString& GetPath() const { return m_strPath; }

private:
    HANDLE m_hDevice = INVALID_HANDLE_VALUE;
    CString m_strPath;
};

}  // namespace ks

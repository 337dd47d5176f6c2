// CUsbIoHandle: a device path (a host controller or a hub) with its open handle and the
// host-controller and hub driver requests of the walk. Every request is one synchronous
// DeviceIoControl with the same buffer as input and output; every operation answers a
// plain success flag (nonzero) or 0. It only reads: the seven request codes it sends change
// nothing on a device.
//
// Lives on the stack of one walk step, on the scan worker thread; never copied; the
// destructor closes the handle.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "framework/CString.h"
#include "platform/PlatformTypes.h"

namespace ks {

using NodeInformation = std::array<BYTE, kNodeInformationSize>;

// UTF-16 to the ANSI code page through the platform, up to the first NUL.
CString AnsiFromUtf16(const std::u16string& text);
CString AnsiFromUtf16(const char16_t* text, std::size_t count);

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

    // Host controller: its driver key, and the symbolic name of its root hub. The output
    // is emptied first.
    int GetHcdDriverKeyName(CString& driverKey);
    int GetRootHubName(CString& rootHubName);
    // Hub: the node information into the caller's 76 bytes (not cleared here).
    int GetNodeInformation(NodeInformation& info);
    // Hub: the 365-byte connection information of a port (1-based) into `buffer`, which
    // is resized to exactly 365 bytes. The legacy request stands in when the extended one
    // is refused, and its LowSpeed byte is turned into the Speed code.
    int GetNodeConnectionInformation(int& port, std::vector<BYTE>& buffer);
    // Hub: the driver key of the device on a port, and the symbolic name of the hub on a
    // port. The output is left as it was unless the request succeeds.
    int GetNodeConnectionDriverKeyName(int& port, CString& driverKey);
    int GetNodeConnectionName(int& port, CString& nodeName);
    // Hub: a string descriptor of the device on a port, header included; `descriptor` is
    // left as it was unless the reply passes every check.
    int GetStringDescriptor(int& port, BYTE index, WORD languageId, std::vector<BYTE>& descriptor);
    // Descriptor 0: the device's language list, in its order (emptied first).
    int GetLanguageIds(int& port, std::vector<WORD>& languageIds);
    // One string descriptor as text (emptied first).
    int GetStringDescriptorText(int& port, BYTE& index, WORD& languageId, CString& text);

  private:
    int GetHcdName(DWORD code, bool sendInput, CString& name);
    int GetPortName(DWORD code, int port, CString& name);

    HANDLE m_hDevice = INVALID_HANDLE_VALUE;
    CString m_strPath;
};

}  // namespace ks

#include "usb/UsbIoHandle.h"

#include <algorithm>
#include <cstring>

#include "platform/Platform.h"
#include "usb/UsbReplies.h"

namespace ks {

CString AnsiFromUtf16(const std::u16string& text) {
    return AnsiFromUtf16(text.data(), text.size());
}

CString AnsiFromUtf16(const char16_t* text, std::size_t count) {
    std::size_t n = 0;
    while (n < count && text[n] != 0)
        ++n;
    if (n == 0)
        return CString();
    IPlatform& p = Platform();
    const int units = static_cast<int>(n);
    int needed = p.WideCharToMultiByte(CP_ACP, 0, text, units, nullptr, 0, nullptr, nullptr);
    // No code page needs more than four bytes for one UTF-16 unit.
    if (needed <= 0 || static_cast<std::size_t>(needed) > 4 * n)
        return CString();
    // Names and descriptor strings fit a buffer on the stack; only the text made of it is
    // allocated.
    char local[512];
    std::string heap;
    char* out = local;
    if (static_cast<std::size_t>(needed) > sizeof local) {
        heap.resize(static_cast<std::size_t>(needed));
        out = heap.data();
    }
    int written = p.WideCharToMultiByte(CP_ACP, 0, text, units, out, needed, nullptr, nullptr);
    if (written <= 0)
        return CString();
    return CString(out, std::min(written, needed));
}

namespace {
// The name in the `valid` bytes of a name reply, in the ANSI code page.
CString NameFromReply(const unsigned char* reply, std::size_t valid, std::size_t offset) {
    char16_t units[kMaxNameReplySize / 2];
    return AnsiFromUtf16(units, Utf16UnitsFromReply(reply, valid, offset, units));
}
}  // namespace

int CUsbIoHandle::Open() {
    Close();
    HANDLE h = Platform().CreateFileA(m_strPath, GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    // Some platforms answer a failed open with a null handle rather than the invalid one.
    m_hDevice = h != nullptr ? h : INVALID_HANDLE_VALUE;
    return IsOpen();
}

int CUsbIoHandle::Close() {
    if (IsOpen() && Platform().CloseHandle(m_hDevice))
        m_hDevice = INVALID_HANDLE_VALUE;
    return IsOpen();
}

BOOL CUsbIoHandle::Control(DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                           DWORD* returned, void* overlapped) {
    return Platform().DeviceIoControl(m_hDevice, code, in, inSize, out, outSize, returned,
                                      overlapped);
}

// The two-step name requests: a probe of the header alone answers the size the whole reply
// needs (ActualLength), then the request is sent again with a buffer of that size.
int CUsbIoHandle::GetHcdName(DWORD code, bool sendInput, CString& name) {
    name.Empty();
    unsigned char probe[kHcdNameProbeSize] = {};
    DWORD returned = 0;
    if (!Control(code, sendInput ? probe : nullptr, sendInput ? sizeof probe : 0, probe,
                 sizeof probe, &returned, nullptr))
        return 0;
    const std::uint32_t actual = ReadLe32(probe);
    if (actual <= kHcdNameProbeSize || actual > kMaxNameReplySize)
        return 0;
    unsigned char reply[kMaxNameReplySize];
    std::memset(reply, 0, actual);
    returned = 0;
    BOOL ok = Control(code, sendInput ? reply : nullptr, sendInput ? actual : 0, reply, actual,
                      &returned, nullptr);
    if (ok == TRUE) {
        // Only the bytes that came back are read.
        name = NameFromReply(reply, std::min<std::size_t>(returned, actual), kHcdNameTextOffset);
    }
    return ok;
}

int CUsbIoHandle::GetPortName(DWORD code, int port, CString& name) {
    unsigned char probe[kPortNameProbeSize] = {};
    WriteLe32(probe, static_cast<std::uint32_t>(port));
    DWORD returned = 0;
    if (!Control(code, probe, sizeof probe, probe, sizeof probe, &returned, nullptr))
        return 0;
    const std::uint32_t actual = ReadLe32(probe + kPortNameLengthOffset);
    if (actual <= kPortNameProbeSize || actual > kMaxNameReplySize)
        return 0;
    unsigned char reply[kMaxNameReplySize];
    std::memset(reply, 0, actual);
    WriteLe32(reply, static_cast<std::uint32_t>(port));
    returned = 0;
    BOOL ok = Control(code, reply, actual, reply, actual, &returned, nullptr);
    if (ok == TRUE)
        name = NameFromReply(reply, std::min<std::size_t>(returned, actual), kPortNameTextOffset);
    return ok;
}

int CUsbIoHandle::GetHcdDriverKeyName(CString& driverKey) {
    return GetHcdName(IOCTL_GET_HCD_DRIVERKEY_NAME, true, driverKey);
}

int CUsbIoHandle::GetRootHubName(CString& rootHubName) {
    return GetHcdName(IOCTL_USB_GET_ROOT_HUB_NAME, false, rootHubName);
}

int CUsbIoHandle::GetNodeInformation(NodeInformation& info) {
    DWORD returned = 0;
    return Control(IOCTL_USB_GET_NODE_INFORMATION, info.data(), kNodeInformationSize, info.data(),
                   kNodeInformationSize, &returned, nullptr);
}

int CUsbIoHandle::GetNodeConnectionInformation(int& port, std::vector<BYTE>& buffer) {
    buffer.resize(kConnectionInfoSize, 0);
    WriteLe32(buffer.data(), static_cast<std::uint32_t>(port));
    DWORD returned = 0;
    BOOL ok = Control(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, buffer.data(),
                      kConnectionInfoSize, buffer.data(), kConnectionInfoSize, &returned, nullptr);
    if (ok)
        return ok;
    WriteLe32(buffer.data(), static_cast<std::uint32_t>(port));
    returned = 0;
    ok = Control(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, buffer.data(), kConnectionInfoSize,
                 buffer.data(), kConnectionInfoSize, &returned, nullptr);
    if (ok == TRUE) {
        // LowSpeed (a boolean) becomes the Speed code: low (0) or full (1). A high-speed
        // device cannot be told apart on this path.
        buffer[conn::Speed] = buffer[conn::Speed] == 0 ? 1 : 0;
    }
    return ok;
}

int CUsbIoHandle::GetNodeConnectionDriverKeyName(int& port, CString& driverKey) {
    return GetPortName(IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, port, driverKey);
}

int CUsbIoHandle::GetNodeConnectionName(int& port, CString& nodeName) {
    return GetPortName(IOCTL_USB_GET_NODE_CONNECTION_NAME, port, nodeName);
}

int CUsbIoHandle::GetStringDescriptor(int& port, BYTE index, WORD languageId,
                                      std::vector<BYTE>& descriptor) {
    unsigned char request[kDescriptorRequestSize] = {};
    WriteLe32(request, static_cast<std::uint32_t>(port));
    WriteLe16(request + 6, static_cast<std::uint16_t>(0x0300 | index));
    WriteLe16(request + 8, languageId);
    WriteLe16(request + 10, static_cast<std::uint16_t>(kDescriptorRequestDataSize));
    DWORD returned = 0;
    BOOL ok = Control(IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION, request, sizeof request,
                      request, sizeof request, &returned, nullptr);
    if (!ok)
        return 0;
    const int bLength = CheckStringDescriptorReply(request, sizeof request, returned);
    if (bLength < 0)
        return 0;
    const unsigned char* data = request + kDescriptorRequestHeaderSize;
    descriptor.assign(data, data + bLength);
    return ok;
}

int CUsbIoHandle::GetLanguageIds(int& port, std::vector<WORD>& languageIds) {
    languageIds.clear();
    std::vector<BYTE> descriptor;
    int ok = GetStringDescriptor(port, 0, 0, descriptor);
    if (ok) {
        for (char16_t id : StringDescriptorUnits(descriptor))
            languageIds.push_back(static_cast<WORD>(id));
    }
    return ok;
}

int CUsbIoHandle::GetStringDescriptorText(int& port, BYTE& index, WORD& languageId, CString& text) {
    text.Empty();
    std::vector<BYTE> descriptor;
    int ok = GetStringDescriptor(port, index, languageId, descriptor);
    if (ok)
        text = AnsiFromUtf16(StringDescriptorUnits(descriptor));
    return ok;
}

}  // namespace ks

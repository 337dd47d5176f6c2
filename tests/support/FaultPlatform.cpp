#include "tests/support/FaultPlatform.h"

#include <cstring>

namespace ks::test {

namespace {

constexpr unsigned Bit(EFault fault) {
    return 1u << static_cast<unsigned>(fault);
}
constexpr unsigned kFailOrEmpty = Bit(EFault::Fail) | Bit(EFault::EmptySuccess);
constexpr unsigned kWithBytes = kFailOrEmpty | Bit(EFault::RandomBytes);
constexpr unsigned kWithText = kWithBytes | Bit(EFault::Truncate);
constexpr unsigned kWithSizes = kWithText | Bit(EFault::ByteCount);
constexpr unsigned kAll = kWithSizes | Bit(EFault::LengthField);

constexpr DWORD kHuge = 0x7FFFFFF0u;

std::uint32_t ReadLe32(const void* p) {
    const auto* b = static_cast<const unsigned char*>(p);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}
void WriteLe32(void* p, std::uint32_t v) {
    auto* b = static_cast<unsigned char*>(p);
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<unsigned char>(v >> (8 * i));
}

// The requests whose input names a port of the hub: the port is the first DWORD.
bool NamesPort(DWORD code) {
    return code == IOCTL_USB_GET_NODE_CONNECTION_INFORMATION ||
           code == IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX ||
           code == IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION ||
           code == IOCTL_USB_GET_NODE_CONNECTION_NAME ||
           code == IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME;
}

}  // namespace

const char* FaultName(EFault fault) {
    switch (fault) {
        case EFault::None:
            return "none";
        case EFault::Fail:
            return "fail";
        case EFault::Truncate:
            return "truncate";
        case EFault::ByteCount:
            return "byte-count";
        case EFault::LengthField:
            return "length-field";
        case EFault::RandomBytes:
            return "random-bytes";
        case EFault::EmptySuccess:
            return "empty-success";
    }
    return "?";
}

void CFaultPlatform::Arm(std::size_t index, EFault fault, std::uint32_t seed) {
    m_armedIndex = index;
    m_armed = fault;
    m_seed = seed == 0 ? 1 : seed;
}

std::uint32_t CFaultPlatform::Random() {
    // xorshift32: the same bytes for the same seed on every host.
    m_seed ^= m_seed << 13;
    m_seed ^= m_seed >> 17;
    m_seed ^= m_seed << 5;
    return m_seed;
}

void CFaultPlatform::Scribble(void* buffer, std::size_t size, bool nonZero) {
    auto* b = static_cast<unsigned char*>(buffer);
    for (std::size_t i = 0; i < size; ++i) {
        auto v = static_cast<unsigned char>(Random());
        b[i] = (nonZero && v == 0) ? 0x5A : v;
    }
}

EFault CFaultPlatform::Enter(const char* operation, const std::string& owner, unsigned applicable) {
    const std::size_t index = m_calls.size();
    m_calls.push_back({operation, owner, applicable});
    if (index >= m_limit) {
        m_ranAway = true;
        return EFault::Fail;
    }
    if (index != m_armedIndex || (applicable & Bit(m_armed)) == 0)
        return EFault::None;
    m_injected = true;
    return m_armed;
}

std::string CFaultPlatform::OwnerOf(HANDLE handle) const {
    auto it = m_handleOwners.find(handle);
    return it == m_handleOwners.end() ? m_current : it->second;
}

void CFaultPlatform::BeginScan() {
    m_inner.BeginScan();
}

HANDLE CFaultPlatform::CreateFileA(const char* path, DWORD desiredAccess, DWORD shareMode,
                                   void* securityAttributes, DWORD creationDisposition,
                                   DWORD flagsAndAttributes, HANDLE templateFile) {
    // A hub is opened right after its name was asked for; anything else is a controller.
    std::string owner = m_pendingHub;
    if (owner.empty()) {
        owner.push_back('H');
        owner.append(path);
        owner.push_back('>');
    }
    m_pendingHub.clear();
    m_current = owner;
    switch (Enter("CreateFileA", owner, kFailOrEmpty)) {
        case EFault::Fail:
            return INVALID_HANDLE_VALUE;
        case EFault::EmptySuccess:  // a handle that names nothing
            return reinterpret_cast<HANDLE>(
                static_cast<std::uintptr_t>(0x7F000000u + ++m_fakeHandles));
        default:
            break;
    }
    HANDLE h = m_inner.CreateFileA(path, desiredAccess, shareMode, securityAttributes,
                                   creationDisposition, flagsAndAttributes, templateFile);
    if (h != INVALID_HANDLE_VALUE)
        m_handleOwners[h] = owner;
    return h;
}

BOOL CFaultPlatform::DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out,
                                     DWORD outSize, DWORD* bytesReturned, void* overlapped) {
    std::string owner = OwnerOf(device);
    if (NamesPort(code) && in != nullptr && inSize >= 4) {
        owner.append(std::to_string(ReadLe32(in)));
        owner.push_back('>');
    }
    m_current = owner;
    // The name of a root hub or of a hub on a port: the next open is that hub's.
    if ((code == IOCTL_USB_GET_ROOT_HUB_NAME && outSize != kNodeInformationSize) ||
        code == IOCTL_USB_GET_NODE_CONNECTION_NAME)
        m_pendingHub = owner;
    const EFault fault = Enter("DeviceIoControl", owner, kAll);
    if (fault == EFault::Fail)
        return FALSE;
    if (fault == EFault::EmptySuccess)
        return TRUE;
    BOOL ok =
        m_inner.DeviceIoControl(device, code, in, inSize, out, outSize, bytesReturned, overlapped);
    if (!ok || out == nullptr || fault == EFault::None)
        return ok;
    const DWORD got = bytesReturned != nullptr ? *bytesReturned : outSize;
    auto* reply = static_cast<unsigned char*>(out);
    switch (fault) {
        case EFault::Truncate:
            if (bytesReturned != nullptr)
                *bytesReturned = got / 2;
            if (got <= outSize)
                std::memset(reply + got / 2, 0, got - got / 2);
            break;
        case EFault::ByteCount:
            if (bytesReturned != nullptr)
                *bytesReturned = outSize * 2 + 1000;
            break;
        case EFault::LengthField:
            if (code == IOCTL_GET_HCD_DRIVERKEY_NAME || code == IOCTL_USB_GET_ROOT_HUB_NAME) {
                if (outSize == kNodeInformationSize)
                    reply[kNodeInfoPortCountOffset] = 0xFF;  // bNumberOfPorts
                else if (outSize >= 4)
                    WriteLe32(reply, kHuge);  // ActualLength
            } else if (code == IOCTL_USB_GET_NODE_CONNECTION_NAME ||
                       code == IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME) {
                if (outSize >= 8)
                    WriteLe32(reply + kPortNameLengthOffset, kHuge);
            } else if (code == IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION) {
                if (outSize > kDescriptorRequestHeaderSize)
                    reply[kDescriptorRequestHeaderSize] = 0xFF;  // bLength
            } else if (outSize > conn::bLength) {
                reply[conn::bLength] = 0xFF;
            }
            break;
        case EFault::RandomBytes:
            Scribble(out, outSize, false);
            break;
        default:
            break;
    }
    return ok;
}

BOOL CFaultPlatform::CloseHandle(HANDLE handle) {
    std::string owner = OwnerOf(handle);
    m_current = owner;
    const EFault fault = Enter("CloseHandle", owner, kFailOrEmpty);
    // The handle goes whatever the answer says: a close writes nothing that could be left
    // out, and a handle the machine kept open would stand in the way of the next open (no
    // hub opens while its controller is open), which is the machine's state, not a reply.
    m_handleOwners.erase(handle);
    const BOOL closed = m_inner.CloseHandle(handle);
    if (fault == EFault::Fail)
        return FALSE;
    if (fault == EFault::EmptySuccess)
        return TRUE;
    return closed;
}

int CFaultPlatform::WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR16* src, int srcLen,
                                        char* dst, int dstSize, const char* defaultChar,
                                        BOOL* usedDefaultChar) {
    const EFault fault = Enter("WideCharToMultiByte", m_current, kWithSizes);
    if (fault == EFault::Fail)
        return 0;
    if (fault == EFault::EmptySuccess) {
        int need = m_inner.WideCharToMultiByte(codePage, flags, src, srcLen, nullptr, 0,
                                               defaultChar, usedDefaultChar);
        return dstSize == 0 ? need : (need < dstSize ? need : dstSize);
    }
    int n = m_inner.WideCharToMultiByte(codePage, flags, src, srcLen, dst, dstSize, defaultChar,
                                        usedDefaultChar);
    if (n <= 0)
        return n;
    switch (fault) {
        case EFault::Truncate:
            return n / 2;
        case EFault::ByteCount:
            return dstSize == 0 ? n * 64 + 4096 : dstSize + 100;
        case EFault::RandomBytes:
            if (dst != nullptr && dstSize > 0)
                Scribble(dst, static_cast<std::size_t>(n), true);
            return n;
        default:
            return n;
    }
}

HDEVINFO CFaultPlatform::SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator,
                                              HWND parent, DWORD flags) {
    if (classGuid != nullptr && *classGuid == GUID_DEVINTERFACE_USB_HOST_CONTROLLER) {
        m_inVolumes = false;
        m_current.clear();
    } else if (m_inVolumes) {
        m_current.assign(1, 'V');
    }
    switch (Enter("SetupDiGetClassDevsA", m_current, kFailOrEmpty)) {
        case EFault::Fail:
            return INVALID_HANDLE_VALUE;
        case EFault::EmptySuccess:
            return reinterpret_cast<HDEVINFO>(
                static_cast<std::uintptr_t>(0x7E000000u + ++m_fakeHandles));
        default:
            break;
    }
    return m_inner.SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
}

BOOL CFaultPlatform::SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                                 const GUID* classGuid, DWORD memberIndex,
                                                 SP_DEVICE_INTERFACE_DATA* interfaceData) {
    if (!m_inVolumes)
        m_current.clear();
    const EFault fault = Enter("SetupDiEnumDeviceInterfaces", m_current, kWithBytes);
    if (fault == EFault::Fail)
        return FALSE;
    if (fault == EFault::EmptySuccess)
        return TRUE;
    BOOL ok =
        m_inner.SetupDiEnumDeviceInterfaces(set, deviceInfo, classGuid, memberIndex, interfaceData);
    if (ok && fault == EFault::RandomBytes && interfaceData != nullptr)
        Scribble(interfaceData, sizeof *interfaceData, false);
    return ok;
}

BOOL CFaultPlatform::SetupDiGetDeviceInterfaceDetailA(HDEVINFO set,
                                                      SP_DEVICE_INTERFACE_DATA* interfaceData,
                                                      SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                                      DWORD detailSize, DWORD* requiredSize,
                                                      SP_DEVINFO_DATA* deviceInfo) {
    if (!m_inVolumes)
        m_current.clear();
    const EFault fault = Enter("SetupDiGetDeviceInterfaceDetailA", m_current, kWithSizes);
    if (fault == EFault::Fail)
        return FALSE;
    if (fault == EFault::EmptySuccess)
        return TRUE;
    BOOL ok = m_inner.SetupDiGetDeviceInterfaceDetailA(set, interfaceData, detail, detailSize,
                                                       requiredSize, deviceInfo);
    const std::size_t textSize =
        detailSize > kDevicePathOffset ? detailSize - kDevicePathOffset : 0;
    switch (fault) {
        case EFault::ByteCount:
            if (requiredSize != nullptr)
                *requiredSize = kHuge;
            break;
        case EFault::Truncate:
            if (ok && detail != nullptr && textSize > 0) {
                std::size_t len = strnlen(detail->DevicePath, textSize);
                detail->DevicePath[len / 2] = '\0';
            }
            break;
        case EFault::RandomBytes:
            if (ok && detail != nullptr)
                Scribble(detail->DevicePath, textSize, true);
            if (ok && deviceInfo != nullptr)
                deviceInfo->DevInst = Random();
            break;
        default:
            break;
    }
    return ok;
}

BOOL CFaultPlatform::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    switch (Enter("SetupDiDestroyDeviceInfoList", m_current, kFailOrEmpty)) {
        case EFault::Fail:
            return FALSE;
        case EFault::EmptySuccess:
            return TRUE;
        default:
            break;
    }
    return m_inner.SetupDiDestroyDeviceInfoList(set);
}

// The four navigation calls share one shape: a DEVINST out.
#define KS_NAVIGATE(NAME, ARG, ...)                          \
    const EFault fault = Enter(NAME, m_current, kWithBytes); \
    if (fault == EFault::Fail)                               \
        return CR_FAILURE;                                   \
    if (fault == EFault::EmptySuccess)                       \
        return CR_SUCCESS;                                   \
    CONFIGRET r = __VA_ARGS__;                               \
    if (fault == EFault::RandomBytes && ARG != nullptr)      \
        *ARG = Random();                                     \
    return r;

CONFIGRET CFaultPlatform::CM_Locate_DevNodeA(DEVINST* devInst, const char* deviceId, ULONG flags){
    KS_NAVIGATE("CM_Locate_DevNodeA", devInst,
                m_inner.CM_Locate_DevNodeA(devInst, deviceId, flags))} CONFIGRET
    CFaultPlatform::CM_Get_Child(DEVINST* child, DEVINST devInst, ULONG flags){
        KS_NAVIGATE("CM_Get_Child", child, m_inner.CM_Get_Child(child, devInst, flags))} CONFIGRET
    CFaultPlatform::CM_Get_Sibling(DEVINST* sibling, DEVINST devInst, ULONG flags){
        KS_NAVIGATE("CM_Get_Sibling", sibling,
                    m_inner.CM_Get_Sibling(sibling, devInst, flags))} CONFIGRET
    CFaultPlatform::CM_Get_Parent(DEVINST* parent, DEVINST devInst, ULONG flags){
        KS_NAVIGATE("CM_Get_Parent", parent, m_inner.CM_Get_Parent(parent, devInst, flags))}
#undef KS_NAVIGATE

CONFIGRET CFaultPlatform::CM_Get_Device_IDA(DEVINST devInst, char* buffer, ULONG length,
                                            ULONG flags) {
    const EFault fault = Enter("CM_Get_Device_IDA", m_current, kWithText);
    if (fault == EFault::Fail)
        return CR_FAILURE;
    if (fault == EFault::EmptySuccess)
        return CR_SUCCESS;
    CONFIGRET r = m_inner.CM_Get_Device_IDA(devInst, buffer, length, flags);
    if (r != CR_SUCCESS || buffer == nullptr || length == 0)
        return r;
    if (fault == EFault::Truncate)
        buffer[strnlen(buffer, length) / 2] = '\0';
    else if (fault == EFault::RandomBytes)
        Scribble(buffer, length, true);  // not even a terminator
    return r;
}

CONFIGRET CFaultPlatform::CM_Get_Device_ID_List_SizeA(ULONG* length, const char* filter,
                                                      ULONG flags) {
    const EFault fault = Enter("CM_Get_Device_ID_List_SizeA", m_current, kWithSizes);
    if (fault == EFault::Fail)
        return CR_FAILURE;
    if (fault == EFault::EmptySuccess)
        return CR_SUCCESS;
    CONFIGRET r = m_inner.CM_Get_Device_ID_List_SizeA(length, filter, flags);
    if (r != CR_SUCCESS || length == nullptr)
        return r;
    if (fault == EFault::Truncate)
        *length /= 2;
    else if (fault == EFault::ByteCount)
        *length = *length * 2 + 1000;
    else if (fault == EFault::RandomBytes)
        *length = Random() & 0xFFFFF;
    return r;
}

CONFIGRET CFaultPlatform::CM_Get_Device_ID_ListA(const char* filter, char* buffer, ULONG length,
                                                 ULONG flags) {
    const EFault fault = Enter("CM_Get_Device_ID_ListA", m_current, kWithText);
    if (fault == EFault::Fail)
        return CR_FAILURE;
    if (fault == EFault::EmptySuccess)
        return CR_SUCCESS;
    CONFIGRET r = m_inner.CM_Get_Device_ID_ListA(filter, buffer, length, flags);
    if (r != CR_SUCCESS || buffer == nullptr || length == 0)
        return r;
    if (fault == EFault::Truncate)  // the list ends early, without its empty string
        std::memset(buffer + length / 2, 'x', length - length / 2);
    else if (fault == EFault::RandomBytes)
        Scribble(buffer, length, true);
    return r;
}

CONFIGRET CFaultPlatform::CM_Get_DevNode_Status(ULONG* status, ULONG* problemNumber,
                                                DEVINST devInst, ULONG flags) {
    const EFault fault = Enter("CM_Get_DevNode_Status", m_current, kWithBytes);
    if (fault == EFault::Fail)
        return CR_FAILURE;
    if (fault == EFault::EmptySuccess)
        return CR_SUCCESS;
    CONFIGRET r = m_inner.CM_Get_DevNode_Status(status, problemNumber, devInst, flags);
    if (fault == EFault::RandomBytes) {
        if (status != nullptr)
            *status = Random();
        if (problemNumber != nullptr)
            *problemNumber = Random();
    }
    return r;
}

CONFIGRET CFaultPlatform::CM_Get_DevNode_Registry_PropertyA(DEVINST devInst, ULONG property,
                                                            ULONG* regDataType, void* buffer,
                                                            ULONG* length, ULONG flags) {
    const EFault fault = Enter("CM_Get_DevNode_Registry_PropertyA", m_current, kWithSizes);
    if (fault == EFault::Fail)
        return CR_FAILURE;
    if (fault == EFault::EmptySuccess)
        return CR_SUCCESS;
    const ULONG given = length != nullptr ? *length : 0;
    CONFIGRET r = m_inner.CM_Get_DevNode_Registry_PropertyA(devInst, property, regDataType, buffer,
                                                            length, flags);
    if (length == nullptr)
        return r;
    auto* bytes = static_cast<unsigned char*>(buffer);
    switch (fault) {
        case EFault::Truncate:
            if (r == CR_SUCCESS && bytes != nullptr && *length <= given && *length > 0) {
                const ULONG half = *length / 2;
                std::memset(bytes + half, 'x', *length - half);  // no terminator left
                *length = half;
            }
            break;
        case EFault::ByteCount:
            if (r == CR_SUCCESS || r == CR_BUFFER_SMALL)
                *length = *length * 2 + 1000;
            break;
        case EFault::RandomBytes:
            if (r == CR_SUCCESS && bytes != nullptr)
                Scribble(bytes, given, true);
            if (regDataType != nullptr)
                *regDataType = Random() & 0xFF;
            break;
        default:
            break;
    }
    return r;
}

BOOL CFaultPlatform::GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* volumeName,
                                                       DWORD length) {
    const EFault fault = Enter("GetVolumeNameForVolumeMountPointA", m_current, kWithText);
    if (fault == EFault::Fail)
        return FALSE;
    if (fault == EFault::EmptySuccess)
        return TRUE;
    BOOL ok = m_inner.GetVolumeNameForVolumeMountPointA(mountPoint, volumeName, length);
    if (!ok || volumeName == nullptr || length == 0)
        return ok;
    if (fault == EFault::Truncate)
        volumeName[strnlen(volumeName, length) / 2] = '\0';
    else if (fault == EFault::RandomBytes)
        Scribble(volumeName, length, true);
    return ok;
}

}  // namespace ks::test

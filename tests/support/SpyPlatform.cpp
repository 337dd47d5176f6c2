#include "tests/support/SpyPlatform.h"

#include <cstdio>
#include <cstring>

namespace ks::test {

namespace {

std::string Hex(const void* data, std::size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; data != nullptr && i < size; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

std::string Num(unsigned long long value) {
    return std::to_string(value);
}

// Built by appending: GCC 12 warns wrongly of overlapping copies in a chain of operator+.
std::string Text(const char* text) {
    if (text == nullptr)
        return "null";
    std::string out(1, '"');
    out.append(text);
    out.push_back('"');
    return out;
}

std::string Tagged(char tag, int ordinal) {
    std::string out(1, tag);
    out.append(std::to_string(ordinal));
    return out;
}

std::string Guid(const GUID* guid) {
    return guid != nullptr ? Hex(guid, sizeof *guid) : "null";
}

}  // namespace

std::string CSpyPlatform::Handle(const void* handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return handle == nullptr ? "null" : "invalid";
    auto [it, added] = m_handles.emplace(handle, static_cast<int>(m_handles.size()) + 1);
    return Tagged('#', it->second);
}

std::string CSpyPlatform::Node(DEVINST node) {
    if (node == 0)
        return "0";
    auto [it, added] = m_nodes.emplace(node, static_cast<int>(m_nodes.size()) + 1);
    return Tagged('@', it->second);
}

void CSpyPlatform::BeginScan() {
    m_inner.BeginScan();
}

HANDLE CSpyPlatform::CreateFileA(const char* path, DWORD desiredAccess, DWORD shareMode,
                                 void* securityAttributes, DWORD creationDisposition,
                                 DWORD flagsAndAttributes, HANDLE templateFile) {
    HANDLE h = m_inner.CreateFileA(path, desiredAccess, shareMode, securityAttributes,
                                   creationDisposition, flagsAndAttributes, templateFile);
    Line("CreateFileA " + Text(path) + " -> " + Handle(h));
    return h;
}

BOOL CSpyPlatform::DeviceIoControl(HANDLE device, DWORD ioControlCode, void* in, DWORD inSize,
                                   void* out, DWORD outSize, DWORD* bytesReturned,
                                   void* overlapped) {
    const std::string input = Hex(in, inSize);
    BOOL ok = m_inner.DeviceIoControl(device, ioControlCode, in, inSize, out, outSize,
                                      bytesReturned, overlapped);
    const DWORD written = bytesReturned != nullptr ? *bytesReturned : 0;
    Line("DeviceIoControl " + Handle(device) + " " + Num(ioControlCode) + " " + input + " " +
         Num(outSize) + " -> " + Num(static_cast<unsigned>(ok)) + " " + Num(written) + " " +
         Hex(out, written <= outSize ? written : outSize));
    return ok;
}

BOOL CSpyPlatform::CloseHandle(HANDLE handle) {
    const std::string which = Handle(handle);
    BOOL ok = m_inner.CloseHandle(handle);
    Line("CloseHandle " + which + " -> " + Num(static_cast<unsigned>(ok)));
    return ok;
}

int CSpyPlatform::WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR16* src, int srcLen,
                                      char* dst, int dstSize, const char* defaultChar,
                                      BOOL* usedDefaultChar) {
    int n = m_inner.WideCharToMultiByte(codePage, flags, src, srcLen, dst, dstSize, defaultChar,
                                        usedDefaultChar);
    Line("WideCharToMultiByte " + Num(codePage) + " " + Num(static_cast<unsigned>(dstSize)) +
         " -> " + std::to_string(n) + " " +
         Hex(dst, n > 0 && dst != nullptr && n <= dstSize ? static_cast<std::size_t>(n) : 0));
    return n;
}

HDEVINFO CSpyPlatform::SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator,
                                            HWND parent, DWORD flags) {
    HDEVINFO set = m_inner.SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
    Line("SetupDiGetClassDevsA " + Guid(classGuid) + " " + Text(enumerator) + " " + Num(flags) +
         " -> " + Handle(set));
    return set;
}

BOOL CSpyPlatform::SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                               const GUID* classGuid, DWORD memberIndex,
                                               SP_DEVICE_INTERFACE_DATA* interfaceData) {
    BOOL ok =
        m_inner.SetupDiEnumDeviceInterfaces(set, deviceInfo, classGuid, memberIndex, interfaceData);
    std::string data = "null";
    if (interfaceData != nullptr)
        data = Guid(&interfaceData->InterfaceClassGuid) + " " + Num(interfaceData->Flags);
    Line("SetupDiEnumDeviceInterfaces " + Handle(set) + " " + Guid(classGuid) + " " +
         Num(memberIndex) + " -> " + Num(static_cast<unsigned>(ok)) + " " + data);
    return ok;
}

BOOL CSpyPlatform::SetupDiGetDeviceInterfaceDetailA(HDEVINFO set,
                                                    SP_DEVICE_INTERFACE_DATA* interfaceData,
                                                    SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                                    DWORD detailSize, DWORD* requiredSize,
                                                    SP_DEVINFO_DATA* deviceInfo) {
    BOOL ok = m_inner.SetupDiGetDeviceInterfaceDetailA(set, interfaceData, detail, detailSize,
                                                       requiredSize, deviceInfo);
    std::string path = "-";
    if (ok && detail != nullptr && detailSize > sizeof(DWORD))
        path = Text(
            std::string(detail->DevicePath, strnlen(detail->DevicePath, detailSize - sizeof(DWORD)))
                .c_str());
    std::string info = "-";
    if (ok && deviceInfo != nullptr)
        info = Guid(&deviceInfo->ClassGuid) + " " + Node(deviceInfo->DevInst);
    Line("SetupDiGetDeviceInterfaceDetailA " + Handle(set) + " " + Num(detailSize) + " -> " +
         Num(static_cast<unsigned>(ok)) + " " +
         (requiredSize != nullptr ? Num(*requiredSize) : std::string("-")) + " " + path + " " +
         info);
    return ok;
}

BOOL CSpyPlatform::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    const std::string which = Handle(set);
    BOOL ok = m_inner.SetupDiDestroyDeviceInfoList(set);
    Line("SetupDiDestroyDeviceInfoList " + which + " -> " + Num(static_cast<unsigned>(ok)));
    return ok;
}

CONFIGRET CSpyPlatform::CM_Locate_DevNodeA(DEVINST* devInst, const char* deviceId, ULONG flags) {
    CONFIGRET r = m_inner.CM_Locate_DevNodeA(devInst, deviceId, flags);
    Line("CM_Locate_DevNodeA " + Text(deviceId) + " " + Num(flags) + " -> " + Num(r) + " " +
         (devInst != nullptr && r == CR_SUCCESS ? Node(*devInst) : std::string("-")));
    return r;
}

CONFIGRET CSpyPlatform::CM_Get_Child(DEVINST* child, DEVINST devInst, ULONG flags) {
    CONFIGRET r = m_inner.CM_Get_Child(child, devInst, flags);
    Line("CM_Get_Child " + Node(devInst) + " -> " + Num(r) + " " +
         (child != nullptr && r == CR_SUCCESS ? Node(*child) : std::string("-")));
    return r;
}

CONFIGRET CSpyPlatform::CM_Get_Sibling(DEVINST* sibling, DEVINST devInst, ULONG flags) {
    CONFIGRET r = m_inner.CM_Get_Sibling(sibling, devInst, flags);
    Line("CM_Get_Sibling " + Node(devInst) + " -> " + Num(r) + " " +
         (sibling != nullptr && r == CR_SUCCESS ? Node(*sibling) : std::string("-")));
    return r;
}

CONFIGRET CSpyPlatform::CM_Get_Parent(DEVINST* parent, DEVINST devInst, ULONG flags) {
    CONFIGRET r = m_inner.CM_Get_Parent(parent, devInst, flags);
    Line("CM_Get_Parent " + Node(devInst) + " -> " + Num(r) + " " +
         (parent != nullptr && r == CR_SUCCESS ? Node(*parent) : std::string("-")));
    return r;
}

CONFIGRET CSpyPlatform::CM_Get_Device_IDA(DEVINST devInst, char* buffer, ULONG length,
                                          ULONG flags) {
    CONFIGRET r = m_inner.CM_Get_Device_IDA(devInst, buffer, length, flags);
    Line("CM_Get_Device_IDA " + Node(devInst) + " " + Num(length) + " -> " + Num(r) + " " +
         (r == CR_SUCCESS && buffer != nullptr ? Hex(buffer, strnlen(buffer, length))
                                               : std::string("-")));
    return r;
}

CONFIGRET CSpyPlatform::CM_Get_Device_ID_List_SizeA(ULONG* length, const char* filter,
                                                    ULONG flags) {
    CONFIGRET r = m_inner.CM_Get_Device_ID_List_SizeA(length, filter, flags);
    Line("CM_Get_Device_ID_List_SizeA " + Text(filter) + " " + Num(flags) + " -> " + Num(r) + " " +
         (length != nullptr ? Num(*length) : std::string("-")));
    return r;
}

CONFIGRET CSpyPlatform::CM_Get_Device_ID_ListA(const char* filter, char* buffer, ULONG length,
                                               ULONG flags) {
    CONFIGRET r = m_inner.CM_Get_Device_ID_ListA(filter, buffer, length, flags);
    Line("CM_Get_Device_ID_ListA " + Text(filter) + " " + Num(length) + " " + Num(flags) + " -> " +
         Num(r) + " " + (r == CR_SUCCESS ? Hex(buffer, length) : std::string("-")));
    return r;
}

CONFIGRET CSpyPlatform::CM_Get_DevNode_Status(ULONG* status, ULONG* problemNumber, DEVINST devInst,
                                              ULONG flags) {
    CONFIGRET r = m_inner.CM_Get_DevNode_Status(status, problemNumber, devInst, flags);
    Line("CM_Get_DevNode_Status " + Node(devInst) + " -> " + Num(r) + " " +
         (r == CR_SUCCESS && status != nullptr ? Num(*status) : std::string("-")) + " " +
         (r == CR_SUCCESS && problemNumber != nullptr ? Num(*problemNumber) : std::string("-")));
    return r;
}

CONFIGRET CSpyPlatform::CM_Get_DevNode_Registry_PropertyA(DEVINST devInst, ULONG property,
                                                          ULONG* regDataType, void* buffer,
                                                          ULONG* length, ULONG flags) {
    const ULONG given = length != nullptr ? *length : 0;
    CONFIGRET r = m_inner.CM_Get_DevNode_Registry_PropertyA(devInst, property, regDataType, buffer,
                                                            length, flags);
    const ULONG got = length != nullptr ? *length : 0;
    Line("CM_Get_DevNode_Registry_PropertyA " + Node(devInst) + " " + Num(property) + " " +
         Num(given) + " -> " + Num(r) + " " +
         (regDataType != nullptr && r == CR_SUCCESS ? Num(*regDataType) : std::string("-")) + " " +
         Num(got) + " " +
         (r == CR_SUCCESS ? Hex(buffer, got <= given ? got : given) : std::string("-")));
    return r;
}

BOOL CSpyPlatform::GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* volumeName,
                                                     DWORD length) {
    BOOL ok = m_inner.GetVolumeNameForVolumeMountPointA(mountPoint, volumeName, length);
    Line("GetVolumeNameForVolumeMountPointA " + Text(mountPoint) + " " + Num(length) + " -> " +
         Num(static_cast<unsigned>(ok)) + " " +
         (ok && volumeName != nullptr ? Hex(volumeName, strnlen(volumeName, length))
                                      : std::string("-")));
    return ok;
}

}  // namespace ks::test

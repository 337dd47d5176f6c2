#include "devmgr/DevNodeQueries.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>

#include "platform/Platform.h"

namespace ks {

namespace {

// A 200-byte buffer read as a NUL-terminated string that may lack its NUL.
CString FromFixedBuffer(const char* buffer, std::size_t size) {
    std::size_t n = 0;
    while (n < size && buffer[n] != '\0')
        ++n;
    return CString(buffer, static_cast<int>(n));
}

}  // namespace

int GetDevNodeStringProperty(const DEVINST& devInst, const ULONG& property, CString& value) {
    if (devInst == 0)
        return 0;
    char buffer[MAX_DEVICE_ID_LEN] = {};
    ULONG length = sizeof buffer;
    if (Platform().CM_Get_DevNode_Registry_PropertyA(devInst, property, nullptr, buffer, &length,
                                                     0) != CR_SUCCESS)
        return 0;
    value = FromFixedBuffer(buffer, sizeof buffer);
    return 1;
}

int GetDevNodeMultiStringProperty(const DEVINST& devInst, const ULONG& property,
                                  std::vector<CString>& values) {
    values.clear();
    if (devInst == 0)
        return 0;
    IPlatform& p = Platform();
    ULONG length = 0;
    CONFIGRET r =
        p.CM_Get_DevNode_Registry_PropertyA(devInst, property, nullptr, nullptr, &length, 0);
    if (r == CR_NO_SUCH_VALUE)
        return 1;
    if (r != CR_BUFFER_SMALL)
        return 0;
    // A size of 0 or one past any real filter list is not believed.
    if (length == 0 || length > kMaxMultiStringSize)
        return 0;
    std::vector<unsigned char> buffer(length, 0);
    ULONG size = length;
    if (p.CM_Get_DevNode_Registry_PropertyA(devInst, property, nullptr, buffer.data(), &size, 0) !=
        CR_SUCCESS)
        return 0;
    values = SplitMultiString(buffer.data(), buffer.size());
    return 1;
}

int GetDevNodeDeviceId(const DEVINST& devInst, CString& deviceId) {
    if (devInst == 0)
        return 0;
    char buffer[MAX_DEVICE_ID_LEN] = {};
    if (Platform().CM_Get_Device_IDA(devInst, buffer, sizeof buffer, 0) != CR_SUCCESS)
        return 0;
    deviceId = FromFixedBuffer(buffer, sizeof buffer);
    return 1;
}

DEVINST FindDevNodeByDriverKey(const CString& driverKey) {
    IPlatform& p = Platform();
    DEVINST current = 0;
    if (p.CM_Locate_DevNodeA(&current, nullptr, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS ||
        current == 0)
        return 0;
    // Each node is visited at most once: links that lead back (a platform fault, or one
    // that answers success without writing its output) end that branch instead of looping.
    std::unordered_set<DEVINST> visited;
    std::size_t climbs = 0;
    for (;;) {
        if (!visited.insert(current).second || visited.size() > kMaxDevNodesVisited)
            return 0;
        char buffer[MAX_DEVICE_ID_LEN] = {};
        ULONG length = sizeof buffer;
        if (p.CM_Get_DevNode_Registry_PropertyA(current, CM_DRP_DRIVER, nullptr, buffer, &length,
                                                0) == CR_SUCCESS &&
            FromFixedBuffer(buffer, sizeof buffer).CompareNoCase(driverKey) == 0)
            return current;
        DEVINST next = 0;
        if (p.CM_Get_Child(&next, current, 0) == CR_SUCCESS && next != 0 &&
            visited.count(next) == 0) {
            current = next;
            continue;
        }
        for (;;) {
            next = 0;
            if (p.CM_Get_Sibling(&next, current, 0) == CR_SUCCESS && next != 0 &&
                visited.count(next) == 0) {
                current = next;
                break;
            }
            next = 0;
            // Back above the root, or a parent that is not a node we came through: done.
            // In a tree every climb returns to a visited node, and there are never more
            // climbs than nodes.
            if (p.CM_Get_Parent(&next, current, 0) != CR_SUCCESS || next == 0 ||
                visited.count(next) == 0 || ++climbs > visited.size())
                return 0;
            current = next;
        }
    }
}

int GetUsbIdentityFromDevNode(const DEVINST& devInst, WORD& vendorId, WORD& productId,
                              CString& serial, CString& location) {
    if (devInst == 0)
        return 0;
    CString id;
    if (!GetDevNodeDeviceId(devInst, id))
        return 1;
    unsigned vid = 0, pid = 0;
    if (ScanUsbInstanceId(id, vid, pid, serial) == 3) {
        vendorId = static_cast<WORD>(vid & 0xFFFF);
        productId = static_cast<WORD>(pid & 0xFFFF);
    }
    serial.ReleaseBuffer(-1);
    if (serial.Find('&') >= 0)
        serial.Empty();
    CString text;
    if (GetDevNodeStringProperty(devInst, CM_DRP_LOCATION_INFORMATION, text))
        location = text;
    return 1;
}

std::vector<CString> SplitMultiString(const unsigned char* buffer, std::size_t size) {
    std::vector<CString> out;
    std::size_t offset = 0;
    while (offset < size && buffer[offset] != 0) {
        std::size_t end = offset;
        while (end < size && buffer[end] != 0)
            ++end;
        out.emplace_back(reinterpret_cast<const char*>(buffer + offset),
                         static_cast<int>(end - offset));
        offset = end + 1;
    }
    return out;
}

int ScanUsbInstanceId(const CString& instanceId, unsigned& vendorId, unsigned& productId,
                      CString& serial) {
    // The same scan as the C library's, with room for a serial as long as the whole ID.
    std::string room(static_cast<std::size_t>(instanceId.GetLength()) + 1, '\0');
    unsigned vid = 0, pid = 0;
    int n = std::sscanf(instanceId.GetString(), "USB\\VID_%x&PID_%x\\%s", &vid, &pid, room.data());
    if (n >= 1)
        vendorId = vid;
    if (n >= 2)
        productId = pid;
    if (n >= 3)
        serial = CString(room.c_str());
    return n < 0 ? 0 : n;
}

}  // namespace ks

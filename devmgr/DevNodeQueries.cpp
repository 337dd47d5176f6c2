#include "devmgr/DevNodeQueries.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "framework/CodePage.h"
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

namespace {

// The key of one search, upper-cased once, and the comparison of a node's driver key with it
// where the key was read, in the zero-filled 200-byte buffer: the text there up to its NUL
// (or all 200 bytes), upper-cased, must equal the key byte for byte. Nothing is copied.
class CDriverKeyMatch {
  public:
    CDriverKeyMatch(const CString& key, UINT codePage) : m_codePage(codePage) {
        const std::string_view text(key.GetString());
        // A key longer than the buffer matches no text that the buffer can hold; an empty key
        // names no driver, and matches no node either (not even one whose read claims success
        // and leaves the buffer as it was, empty).
        m_bCanMatch = !text.empty() && text.size() <= sizeof m_upper;
        if (!m_bCanMatch)
            return;
        m_length = text.size();
        std::memcpy(m_upper, text.data(), m_length);
        MbMakeUpper(m_upper, m_length, codePage);
        m_bAscii = std::all_of(m_upper, m_upper + m_length,
                               [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    }

    // How much of the buffer the comparison reads: the key's length and the byte after it.
    std::size_t Extent() const { return std::min<std::size_t>(m_length + 1, MAX_DEVICE_ID_LEN); }

    bool Matches(const char (&buffer)[MAX_DEVICE_ID_LEN]) const {
        if (!m_bCanMatch || (m_length < sizeof buffer && buffer[m_length] != '\0'))
            return false;
        if (m_bAscii) {
            // Upper-casing never turns a byte of 0x80 and above into ASCII, nor the other way
            // round, and a lead byte never changes: a text with any such byte cannot equal a
            // key of ASCII, so the bytes are compared one by one, from the end, where driver
            // keys that share a class differ (a NUL in the text meets a key byte that is none).
            for (std::size_t i = m_length; i-- > 0;) {
                auto c = static_cast<unsigned char>(buffer[i]);
                if (c >= 'a' && c <= 'z')
                    c = static_cast<unsigned char>(c - 0x20);
                if (c != static_cast<unsigned char>(m_upper[i]))
                    return false;
            }
            return true;
        }
        const std::size_t length =
            static_cast<std::size_t>(std::find(buffer, buffer + m_length, '\0') - buffer);
        return MbEqualsUpperCased(std::string_view(buffer, length),
                                  std::string_view(m_upper, m_length), m_codePage);
    }

  private:
    UINT m_codePage;
    char m_upper[MAX_DEVICE_ID_LEN];
    std::size_t m_length = 0;
    bool m_bCanMatch = false;
    bool m_bAscii = false;
};

// Where a search stands in the tree: one level per node it went down through, kept in place.
// It stops the links that lead back (a platform fault, or a call that answers success with
// an output it did not write) without remembering every node visited:
//  - a child or sibling that is a node of the current path, or the first node of the run
//    of siblings at any level of it, is not entered (a run that wraps round to its first
//    node, a link up to an ancestor);
//  - a run of siblings that comes back to a node of its own further on is ended by Brent's
//    cycle test: the node at every power of two steps along the run is kept and compared;
//  - a climb must come back to the node it went down from, or the search ends;
//  - depth is bounded, and the whole walk by kMaxDevNodesVisited nodes.
// In a tree none of these ever stops a node that is there.
class CWalkPath {
  public:
    explicit CWalkPath(DEVINST root) { m_levels[0] = {root, root, root, 1, 0}; }

    bool MayEnterChild(DEVINST child) const {
        return child != 0 && m_depth + 1 < kMaxDevNodeDepth && !OnPath(child);
    }
    void EnterChild(DEVINST child) { m_levels[++m_depth] = {child, child, child, 1, 0}; }

    bool MayEnterSibling(DEVINST sibling) const {
        return sibling != 0 && sibling != m_levels[m_depth].m_kept && !OnPath(sibling);
    }
    void EnterSibling(DEVINST sibling) {
        CLevel& level = m_levels[m_depth];
        level.m_node = sibling;
        if (++level.m_steps == level.m_power) {
            level.m_kept = sibling;
            level.m_power *= 2;
            level.m_steps = 0;
        }
    }

    // The climb to `parent`, which must be the node this level was entered from.
    bool Climb(DEVINST parent) {
        if (m_depth == 0 || parent != m_levels[m_depth - 1].m_node)
            return false;
        --m_depth;
        return true;
    }

  private:
    struct CLevel {
        DEVINST m_node;   // the node the walk stands on at this level
        DEVINST m_first;  // the first node of this level's run of siblings
        DEVINST m_kept;   // Brent's cycle test: the node kept, and the steps since
        std::size_t m_power;
        std::size_t m_steps;
    };

    bool OnPath(DEVINST node) const {
        for (std::size_t i = 0; i <= m_depth; ++i)
            if (m_levels[i].m_node == node || m_levels[i].m_first == node)
                return true;
        return false;
    }

    std::array<CLevel, kMaxDevNodeDepth> m_levels;
    std::size_t m_depth = 0;
};

}  // namespace

DEVINST FindDevNodeByDriverKey(const CString& driverKey) {
    IPlatform& p = Platform();
    DEVINST current = 0;
    if (p.CM_Locate_DevNodeA(&current, nullptr, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS ||
        current == 0)
        return 0;
    const CDriverKeyMatch key(driverKey, GetAnsiCodePage());
    CWalkPath path(current);
    char buffer[MAX_DEVICE_ID_LEN];
    for (std::size_t visited = 0; visited < kMaxDevNodesVisited; ++visited) {
        // Zero-filled before each read, as far as the comparison reads: a read that claims
        // success without writing leaves no earlier node's key behind. Driver keys are
        // shorter than 64 bytes, which a fixed-size fill clears in a few stores.
        std::memset(buffer, 0, 64);
        if (key.Extent() > 64)
            std::memset(buffer + 64, 0, key.Extent() - 64);
        ULONG length = sizeof buffer;
        if (p.CM_Get_DevNode_Registry_PropertyA(current, CM_DRP_DRIVER, nullptr, buffer, &length,
                                                0) == CR_SUCCESS &&
            key.Matches(buffer))
            return current;
        DEVINST next = 0;
        if (p.CM_Get_Child(&next, current, 0) == CR_SUCCESS && path.MayEnterChild(next)) {
            path.EnterChild(next);
            current = next;
            continue;
        }
        for (;;) {
            next = 0;
            if (p.CM_Get_Sibling(&next, current, 0) == CR_SUCCESS && path.MayEnterSibling(next)) {
                path.EnterSibling(next);
                current = next;
                break;
            }
            // Back above the root, or a parent that is not the node we came down from: done.
            next = 0;
            if (p.CM_Get_Parent(&next, current, 0) != CR_SUCCESS || !path.Climb(next))
                return 0;
            current = next;
        }
    }
    return 0;
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

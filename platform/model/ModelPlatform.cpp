#include "platform/model/ModelPlatform.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <unordered_map>
#include <utility>

#include "framework/CodePage.h"

namespace ks {

namespace {

constexpr CONFIGRET kCrInvalidFlag = 0x0B;
constexpr ULONG kCmLocatePhantom = 0x01;
constexpr DWORD kSpintActive = 0x01;

// Handle values the model hands out: small, aligned, never null or INVALID_HANDLE_VALUE.
constexpr std::uintptr_t kFileHandleBase = 0x1000;
constexpr std::uintptr_t kSetHandleBase = 0x00200000;
constexpr std::uintptr_t kHandleStep = 4;
constexpr DEVINST kDevInstBase = 0x100;

// USB_NODE_CONNECTION_INFORMATION(_EX) without its pipe list.
constexpr std::size_t kConnectionHeaderSize = conn::PipeList;

// The setup classes of the devices behind the two interface classes.
constexpr GUID kUsbClassGuid = {
    0x36FC9E60, 0xC465, 0x11CF, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr GUID kVolumeClassGuid = {
    0x71A27CDD, 0x812A, 0x11D0, {0xBE, 0xC7, 0x08, 0x00, 0x2B, 0xE2, 0x09, 0x2F}};

using Bytes = std::vector<BYTE>;

void Put16(Bytes& b, std::size_t at, WORD v) {
    b[at] = static_cast<BYTE>(v & 0xFF);
    b[at + 1] = static_cast<BYTE>(v >> 8);
}
void Put32(Bytes& b, std::size_t at, DWORD v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<BYTE>((v >> (8 * i)) & 0xFF);
}
DWORD Get32(const void* p) {
    const auto* b = static_cast<const BYTE*>(p);
    return DWORD(b[0]) | DWORD(b[1]) << 8 | DWORD(b[2]) << 16 | DWORD(b[3]) << 24;
}
WORD Get16(const BYTE* b) {
    return static_cast<WORD>(b[0] | b[1] << 8);
}

void AppendUtf16(Bytes& b, std::u16string_view text) {
    for (char16_t c : text) {
        b.push_back(static_cast<BYTE>(c & 0xFF));
        b.push_back(static_cast<BYTE>(c >> 8));
    }
}

// ASCII without NUL, as nearly all of a machine's names are: the same text in every ANSI
// code page and in UTF-8.
bool IsPlainAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return c != 0 && static_cast<unsigned char>(c) < 0x80; });
}

// Whether the UTF-8 model text is its own text in the ANSI code page: ASCII without a NUL in
// every code page; where the code page is UTF-8, any well-formed text without a NUL (the way
// through UTF-16 would give back the same bytes).
bool IsOwnAnsiText(std::string_view utf8) {
    if (IsPlainAscii(utf8))
        return true;
    if (GetAnsiCodePage() != kCodePageUtf8)
        return false;
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t cp = 0;
        const std::size_t n = utf8[i] == '\0' ? 0 : DecodeUtf8(utf8, i, cp);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

// UTF-8 model text to the ANSI code page (CP_ACP of the process).
std::string ToAnsi(std::string_view utf8) {
    if (IsOwnAnsiText(utf8))
        return std::string(utf8);
    const std::u16string wide = Utf8ToUtf16(utf8);
    return Utf16ToAnsi(wide.data(), wide.size());
}
std::string ToAnsi(std::u16string_view wide) {
    if (std::all_of(wide.begin(), wide.end(), [](char16_t c) { return c != 0 && c < 0x80; }))
        return std::string(wide.begin(), wide.end());
    return Utf16ToAnsi(wide.data(), wide.size());
}

// A name as the model compares names, without regard to ASCII letter case.
std::u16string FoldedKey(std::u16string_view s) {
    std::u16string out(s);
    for (char16_t& c : out)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return out;
}

// Names looked up without regard to ASCII letter case, with no folded copy made of the name
// asked for: open addressing over a hash of the folded bytes. It keeps views of the names:
// their texts must outlive it.
class CNameIndex {
  public:
    void Reserve(std::size_t names) {
        std::size_t slots = 16;
        while (slots < 2 * names)
            slots *= 2;
        m_vSlots.assign(slots, 0);
        m_vEntries.reserve(names);
    }
    // Adds a name; of names equal but for case, the first added stays unless `later` says
    // the last one wins.
    void Add(std::string_view name, std::size_t value, bool later) {
        if (2 * (m_vEntries.size() + 1) > m_vSlots.size())
            Grow();
        const std::uint64_t hash = Hash(name);
        std::size_t at = hash & (m_vSlots.size() - 1);
        for (; m_vSlots[at] != 0; at = (at + 1) & (m_vSlots.size() - 1)) {
            CEntry& e = m_vEntries[m_vSlots[at] - 1];
            if (e.m_hash == hash && Same(e.m_strName, name)) {
                if (later)
                    e.m_value = value;
                return;
            }
        }
        m_vEntries.push_back({name, value, hash});
        m_vSlots[at] = m_vEntries.size();
    }
    std::optional<std::size_t> Find(std::string_view name) const {
        if (m_vSlots.empty())
            return std::nullopt;
        const std::uint64_t hash = Hash(name);
        for (std::size_t at = hash & (m_vSlots.size() - 1); m_vSlots[at] != 0;
             at = (at + 1) & (m_vSlots.size() - 1)) {
            const CEntry& e = m_vEntries[m_vSlots[at] - 1];
            if (e.m_hash == hash && Same(e.m_strName, name))
                return e.m_value;
        }
        return std::nullopt;
    }

  private:
    struct CEntry {
        std::string_view m_strName;  // the caller keeps the text while the index lives
        std::size_t m_value;
        std::uint64_t m_hash;
    };
    // Names are mostly asked for as they were given: the exact bytes first.
    static bool Same(std::string_view a, std::string_view b) {
        return a.size() == b.size() &&
               (std::memcmp(a.data(), b.data(), a.size()) == 0 || EqualsNoCaseAscii(a, b));
    }
    // Eight bytes at a time, each small ASCII letter made capital in the word itself.
    static std::uint64_t Hash(std::string_view s) {
        constexpr std::uint64_t kOnes = 0x0101010101010101u;
        constexpr std::uint64_t kHigh = 0x8080808080808080u;
        std::uint64_t h = 0xCBF29CE484222325u ^ s.size();
        for (std::size_t at = 0; at < s.size(); at += 8) {
            std::uint64_t w = 0;
            std::memcpy(&w, s.data() + at, std::min<std::size_t>(8, s.size() - at));
            const std::uint64_t low = w & ~kHigh;
            const std::uint64_t atLeastA = low + kOnes * (0x80 - 'a');
            const std::uint64_t aboveZ = low + kOnes * (0x80 - 'z' - 1);
            const std::uint64_t small = atLeastA & ~aboveZ & ~w & kHigh;
            w ^= small >> 2;  // 0x80 >> 2 is the bit between a small letter and its capital
            h = (h ^ w) * 0x100000001B3u;
            h ^= h >> 29;
        }
        return h;
    }
    void Grow() {
        std::vector<CEntry> entries = std::move(m_vEntries);
        Reserve(std::max<std::size_t>(8, entries.size() * 2));
        for (CEntry& e : entries) {
            std::size_t at = e.m_hash & (m_vSlots.size() - 1);
            while (m_vSlots[at] != 0)
                at = (at + 1) & (m_vSlots.size() - 1);
            m_vEntries.push_back(std::move(e));
            m_vSlots[at] = m_vEntries.size();
        }
    }
    std::vector<CEntry> m_vEntries;
    std::vector<std::size_t> m_vSlots;  // 0: empty; otherwise the entry's index + 1
};

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && EqualsNoCaseAscii(s.substr(0, prefix.size()), prefix);
}

// A registry value as CM_Get_DevNode_Registry_PropertyA delivers it: the raw bytes, or the
// strings in the ANSI code page, each with its NUL, a multi-string with one more.
// It is appended to `value`; answers its size.
std::size_t AppendRegistryValue(Bytes& value, const CRegistryProperty& prop) {
    const std::size_t from = value.size();
    if (prop.m_optRaw) {
        value.insert(value.end(), prop.m_optRaw->begin(), prop.m_optRaw->end());
        return value.size() - from;
    }
    for (const std::string& s : prop.m_vValues) {
        if (IsOwnAnsiText(s)) {
            value.insert(value.end(), s.begin(), s.end());
        } else {
            const std::string a = ToAnsi(std::string_view(s));
            value.insert(value.end(), a.begin(), a.end());
        }
        value.push_back(0);
        if (prop.m_ulType != kRegTypeMultiSz)
            break;
    }
    if (prop.m_ulType == kRegTypeMultiSz || value.size() == from)
        value.push_back(0);
    return value.size() - from;
}

HANDLE MakeHandle(std::uintptr_t base, std::size_t slot) {
    return reinterpret_cast<HANDLE>(base + slot * kHandleStep);
}
std::optional<std::size_t> HandleSlot(HANDLE h, std::uintptr_t base, std::size_t count) {
    const auto v = reinterpret_cast<std::uintptr_t>(h);
    if (v < base || (v - base) % kHandleStep != 0)
        return std::nullopt;
    const std::size_t slot = (v - base) / kHandleStep;
    if (slot >= count)
        return std::nullopt;
    return slot;
}

bool IsAllowedIoctl(DWORD code) {
    return std::find(std::begin(kAllowedIoctls), std::end(kAllowedIoctls), code) !=
           std::end(kAllowedIoctls);
}

}  // namespace

// --- Runtime state ----------------------------------------------------------------------

struct CModelPlatform::CState {
    enum class EKind { Controller, Hub };
    struct COpenFile {
        EKind m_kind = EKind::Controller;
        std::size_t m_index = 0;
        std::string m_strPath;
        bool m_bOpen = true;
        bool m_bOverlapped = false;  // opened with FILE_FLAG_OVERLAPPED
    };
    struct CInterface {
        std::string m_strPath;  // ANSI
        DEVINST m_devInst = 0;
        const CInterfaceFaults* m_pFaults = nullptr;
    };
    struct CSet {
        GUID m_classGuid{};
        GUID m_setupClass{};
        std::vector<CInterface> m_vInterfaces;
        bool m_bOpen = true;
    };
    std::vector<COpenFile> m_vFiles;
    std::size_t m_openControllers = 0;  // controller handles open now
    std::vector<CSet> m_vSets;
    // Answers given per request fault with m_optFailAfter.
    std::map<const CRequestFault*, DWORD> m_mapFaultAnswers;
    // Requests per (hub, port), for m_optVanishAfter.
    std::map<std::pair<std::size_t, DWORD>, DWORD> m_mapPortRequests;
    // Per node: calls counted for m_optVanishAfter, and whether it has vanished.
    std::vector<DWORD> m_vNodeCalls;
    std::vector<bool> m_vNodeVanished;
    // Per hub: the (hub, port) places that carry it, for hubs behind a vanished port.
    std::vector<std::vector<std::pair<std::size_t, DWORD>>> m_vHubUpstream;
    bool m_bAnyPortVanishes = false;  // whether any port has m_optVanishAfter
    // Whether any node can be gone: one not present, one set to vanish, or a parent index
    // outside the model. Without, no node ever is.
    bool m_bNodesCanGo = false;
    // Each node's registry values as the ANSI call delivers them: a slot per property, in
    // the order of its m_vProperties (the first of a code answers), the bytes of all of
    // them one after the other.
    struct CValueSlot {
        ULONG m_ulCode;
        ULONG m_ulType;
        std::size_t m_offset;
        std::size_t m_size;
    };
    std::vector<CValueSlot> m_vValueSlots;
    std::vector<BYTE> m_vValueBytes;
    // What every call about a node looks at first, in one small record per node, so that a
    // walk over thousands of nodes reads little memory and never the model's node itself:
    // where its value slots are, whether it has property faults, and, when its links can be
    // answered ahead (no node can be gone, and it has no navigation fault or link of its
    // own), its first present child, next present sibling and parent (kNoNode: none).
    static constexpr std::uint32_t kNoNode = 0xFFFFFFFFu;
    static constexpr std::uint8_t kLinksAhead = 1;
    static constexpr std::uint8_t kPropertyFaults = 2;
    struct CNodeAnswers {
        std::uint32_t m_child = kNoNode;
        std::uint32_t m_sibling = kNoNode;
        std::uint32_t m_parent = kNoNode;
        std::uint32_t m_firstSlot = 0;
        std::uint32_t m_slots = 0;
        std::uint8_t m_flags = 0;
    };
    std::vector<CNodeAnswers> m_vAnswers;
    // Each node's removal-relations list in the ANSI code page, made when first asked for;
    // the list of every present device, made anew for each call in the same room.
    std::vector<std::optional<std::string>> m_vRelationLists;
    std::string m_strIdList;
    std::vector<std::string> m_vAnsiVolumeNames;  // each volume's name in the ANSI code page
    // The reply a driver request is made in, and a descriptor's bytes: their room is kept
    // from one request to the next.
    std::vector<BYTE> m_vReply;
    std::vector<BYTE> m_vDescriptor;

    // What the model is asked by name, looked up by name without regard to ASCII letter
    // case. The model does not change after construction, so neither do these.
    // Texts the model answers with that are not the model's own (converted to the ANSI code
    // page): where the views below point when they do not point into the model.
    std::deque<std::string> m_dqTexts;
    std::string_view Ansi(std::string_view utf8) {
        return IsOwnAnsiText(utf8) ? utf8 : m_dqTexts.emplace_back(ToAnsi(utf8));
    }
    std::string_view Keep(std::string text) { return m_dqTexts.emplace_back(std::move(text)); }
    std::vector<std::string_view> m_vAnsiIds;  // each node's instance ID in the ANSI code page
    CNameIndex m_nodeByAnsiId;                 // the first node
    CNameIndex m_nodeById;                     // UTF-8; the first node
    // Where each node stands among its parent's children (npos: nowhere).
    std::vector<std::size_t> m_vChildPosition;
    CNameIndex m_hubByAnsiName;                                    // the last hub
    CNameIndex m_controllerByAnsiPath;                             // the last one
    CNameIndex m_volumeByAnsiPath;                                 // the first one
    std::array<std::optional<std::size_t>, 26> m_aVolumeByLetter;  // the first one
};

namespace {

enum class EAction { Answer, Fail, NoWrite };

}  // namespace

CModelPlatform::CModelPlatform(CMachineModel model)
    : m_model(std::move(model)), m_pState(std::make_unique<CState>()) {
    CState& st = *m_pState;
    const std::size_t nodes = m_model.m_vNodes.size();
    st.m_vNodeCalls.assign(nodes, 0);
    st.m_vNodeVanished.assign(nodes, false);
    st.m_vAnsiIds.reserve(nodes);
    st.m_nodeByAnsiId.Reserve(nodes);
    st.m_nodeById.Reserve(nodes);
    st.m_vChildPosition.assign(nodes, std::string::npos);
    for (std::size_t i = 0; i < nodes; ++i) {
        const CDevNode& node = m_model.m_vNodes[i];
        st.m_vAnsiIds.push_back(st.Ansi(node.m_strInstanceId));
        st.m_nodeByAnsiId.Add(st.m_vAnsiIds.back(), i, false);
        st.m_nodeById.Add(node.m_strInstanceId, i, false);
        st.m_bNodesCanGo = st.m_bNodesCanGo || !node.m_bPresent || node.m_faults.m_optVanishAfter ||
                           (node.m_optParent && *node.m_optParent >= nodes);
        for (std::size_t k = node.m_vChildren.size(); k-- > 0;)
            if (node.m_vChildren[k] < nodes)
                st.m_vChildPosition[node.m_vChildren[k]] = k;
    }
    st.m_vAnswers.resize(nodes);
    st.m_vRelationLists.resize(nodes);
    for (std::size_t i = 0; i < nodes; ++i)
        AnswerAhead(i);

    std::unordered_map<std::u16string, std::vector<std::size_t>> hubsByName;
    for (std::size_t h = 0; h < m_model.m_vHubs.size(); ++h) {
        const std::u16string& name = m_model.m_vHubs[h].m_wstrName;
        hubsByName[FoldedKey(name)].push_back(h);
        st.m_hubByAnsiName.Add(st.Keep(ToAnsi(std::u16string_view(name))), h, true);
    }
    st.m_vHubUpstream.resize(m_model.m_vHubs.size());
    for (std::size_t h = 0; h < m_model.m_vHubs.size(); ++h) {
        for (const CUsbPort& port : m_model.m_vHubs[h].m_vPorts) {
            if (!port.m_optDevice || !port.m_optDevice->m_optHubName)
                continue;
            st.m_bAnyPortVanishes = st.m_bAnyPortVanishes || port.m_faults.m_optVanishAfter;
            auto it = hubsByName.find(FoldedKey(*port.m_optDevice->m_optHubName));
            if (it != hubsByName.end())
                for (std::size_t c : it->second)
                    st.m_vHubUpstream[c].emplace_back(h, port.m_dwPort);
        }
    }
    for (std::size_t c = 0; c < m_model.m_vControllers.size(); ++c)
        if (const auto& ip = m_model.m_vControllers[c].m_optInterfacePath)
            st.m_controllerByAnsiPath.Add(st.Ansi(*ip), c, true);
    for (std::size_t v = 0; v < m_model.m_vVolumes.size(); ++v) {
        const CVolume& vol = m_model.m_vVolumes[v];
        if (vol.m_optInterfacePath)
            st.m_volumeByAnsiPath.Add(st.Ansi(*vol.m_optInterfacePath), v, false);
        for (char letter : vol.m_vLetters)
            if (letter >= 'A' && letter <= 'Z' && !st.m_aVolumeByLetter[letter - 'A'])
                st.m_aVolumeByLetter[letter - 'A'] = v;
        st.m_vAnsiVolumeNames.push_back(ToAnsi(std::string_view(vol.m_strName)));
    }
}

void CModelPlatform::AnswerAhead(std::size_t index) {
    CState& st = *m_pState;
    const CDevNode& node = m_model.m_vNodes[index];
    const std::size_t nodes = m_model.m_vNodes.size();
    CState::CNodeAnswers& a = st.m_vAnswers[index];
    a.m_firstSlot = static_cast<std::uint32_t>(st.m_vValueSlots.size());
    for (const CRegistryProperty& prop : node.m_vProperties) {
        const std::size_t offset = st.m_vValueBytes.size();
        const std::size_t size = AppendRegistryValue(st.m_vValueBytes, prop);
        st.m_vValueSlots.push_back({prop.m_ulCode, prop.m_ulType, offset, size});
    }
    a.m_slots = static_cast<std::uint32_t>(st.m_vValueSlots.size() - a.m_firstSlot);
    const CDevNodeFaults& f = node.m_faults;
    if (!f.m_vProperties.empty())
        a.m_flags |= CState::kPropertyFaults;
    if (st.m_bNodesCanGo || f.m_optChild || f.m_optSibling || f.m_optParent || f.m_optChildLink ||
        f.m_optSiblingLink || f.m_optParentLink)
        return;
    // Nothing can be gone: every node inside the model is present.
    auto firstInside = [&](const std::vector<std::size_t>& list, std::size_t from) {
        for (std::size_t k = from; k < list.size(); ++k)
            if (list[k] < nodes)
                return static_cast<std::uint32_t>(list[k]);
        return CState::kNoNode;
    };
    a.m_child = firstInside(node.m_vChildren, 0);
    if (node.m_optParent && *node.m_optParent < nodes) {
        a.m_parent = static_cast<std::uint32_t>(*node.m_optParent);
        // A node its parent does not list has no place among its children, and no sibling.
        const auto& siblings = m_model.m_vNodes[*node.m_optParent].m_vChildren;
        const std::size_t at = st.m_vChildPosition[index];
        if (at < siblings.size() && siblings[at] == index)
            a.m_sibling = firstInside(siblings, at + 1);
    }
    a.m_flags |= CState::kLinksAhead;
}

CModelPlatform::~CModelPlatform() = default;

// --- Call log ---------------------------------------------------------------------------

namespace {
constexpr std::string_view kOperationNames[] = {
    "CreateFileA",
    "DeviceIoControl",
    "CloseHandle",
    "WideCharToMultiByte",
    "SetupDiGetClassDevsA",
    "SetupDiEnumDeviceInterfaces",
    "SetupDiGetDeviceInterfaceDetailA",
    "SetupDiDestroyDeviceInfoList",
    "CM_Locate_DevNodeA",
    "CM_Get_Child",
    "CM_Get_Sibling",
    "CM_Get_Parent",
    "CM_Get_Device_IDA",
    "CM_Get_Device_ID_List_SizeA",
    "CM_Get_Device_ID_ListA",
    "CM_Get_DevNode_Status",
    "CM_Get_DevNode_Registry_PropertyA",
    "GetVolumeNameForVolumeMountPointA",
};
}  // namespace

unsigned CModelPlatform::CallCount(std::string_view operation) const {
    static_assert(std::size(kOperationNames) == static_cast<std::size_t>(EOperation::Count));
    for (std::size_t i = 0; i < std::size(kOperationNames); ++i)
        if (kOperationNames[i] == operation)
            return m_aCounts[i];
    return 0;
}

const std::vector<CIoctlCall>& CModelPlatform::IoctlCalls() const {
    // The paths are filled in only now, for the requests logged since the last look.
    for (std::size_t i = m_vIoctlCalls.size(); i < m_vIoctlLog.size(); ++i) {
        const CIoctlRecord& r = m_vIoctlLog[i];
        CIoctlCall call;
        if (r.m_file != std::string::npos)
            call.m_strPath = m_pState->m_vFiles[r.m_file].m_strPath;
        call.m_dwCode = r.m_dwCode;
        call.m_dwInSize = r.m_dwInSize;
        call.m_dwOutSize = r.m_dwOutSize;
        call.m_bResult = r.m_bResult;
        m_vIoctlCalls.push_back(std::move(call));
    }
    return m_vIoctlCalls;
}

std::vector<CIoctlCall> CModelPlatform::UnknownIoctlCalls() const {
    std::vector<CIoctlCall> out;
    for (const CIoctlCall& c : IoctlCalls())
        if (!IsAllowedIoctl(c.m_dwCode))
            out.push_back(c);
    return out;
}

std::size_t CModelPlatform::OpenHandleCount() const {
    return static_cast<std::size_t>(
        std::count_if(m_pState->m_vFiles.begin(), m_pState->m_vFiles.end(),
                      [](const CState::COpenFile& f) { return f.m_bOpen; }));
}

std::size_t CModelPlatform::OpenDeviceInfoSetCount() const {
    return static_cast<std::size_t>(std::count_if(m_pState->m_vSets.begin(),
                                                  m_pState->m_vSets.end(),
                                                  [](const CState::CSet& s) { return s.m_bOpen; }));
}

void CModelPlatform::ClearLog() {
    m_aCounts.fill(0);
    m_vIoctlLog.clear();
    m_vIoctlCalls.clear();
    m_vOpenedPaths.clear();
}

DEVINST CModelPlatform::DevInstOf(std::string_view instanceId) const {
    auto index = FindNodeById(instanceId);
    return index ? kDevInstBase + static_cast<DEVINST>(*index) : 0;
}

std::optional<std::size_t> CModelPlatform::FindNodeById(std::string_view instanceId) const {
    return m_pState->m_nodeById.Find(instanceId);
}

// --- Shared fault and state helpers -----------------------------------------------------

namespace {

EAction CheckFault(const CRequestFault& fault, std::map<const CRequestFault*, DWORD>& answers) {
    if (fault.m_bFail)
        return EAction::Fail;
    if (fault.m_optFailAfter) {
        DWORD& n = answers[&fault];
        if (n >= *fault.m_optFailAfter)
            return EAction::Fail;
        ++n;
    }
    return fault.m_bNoWrite ? EAction::NoWrite : EAction::Answer;
}

// Copies the reply into the caller's buffer, never more than outSize bytes, and reports the
// count (or the fault's override of it).
BOOL Deliver(const Bytes& reply, void* out, DWORD outSize, DWORD* bytesReturned,
             const CRequestFault& fault) {
    const std::size_t n = std::min<std::size_t>(reply.size(), outSize);
    if (n != 0)
        std::memcpy(out, reply.data(), n);
    *bytesReturned = fault.m_optBytesReturned ? *fault.m_optBytesReturned : static_cast<DWORD>(n);
    return TRUE;
}

// A name reply: `prefix` (empty for the controller's, ConnectionIndex for a port's), then
// ActualLength, then the UTF-16 name with its NUL. The driver fills as much as fits and
// reports ActualLength, the size the whole reply needs, so a caller can probe with the
// header alone.
// It is made in `reply`, whose room is kept from one request to the next.
const Bytes& NameReply(Bytes& reply, std::optional<DWORD> prefix, std::u16string_view name,
                       const CRequestFault& fault) {
    reply.assign(prefix ? 4 : 0, 0);
    if (prefix)
        Put32(reply, 0, *prefix);
    const std::size_t lengthAt = reply.size();
    reply.resize(reply.size() + 4);
    AppendUtf16(reply, name);
    if (!fault.m_bNoTerminator)
        AppendUtf16(reply, std::u16string_view(u"\0", 1));
    const auto actual = static_cast<DWORD>(std::min<std::size_t>(reply.size(), 0xFFFFFFFFu));
    Put32(reply, lengthAt, fault.m_optActualLength ? *fault.m_optActualLength : actual);
    return reply;
}

}  // namespace

// --- Device I/O -------------------------------------------------------------------------

HANDLE CModelPlatform::CreateFileA(const char* path, DWORD desiredAccess, DWORD shareMode,
                                   void* securityAttributes, DWORD creationDisposition,
                                   DWORD flagsAndAttributes, HANDLE templateFile) {
    Count(EOperation::CreateFileA);
    if (path == nullptr)
        return INVALID_HANDLE_VALUE;
    // The drivers are opened for writing, sharing writing, as they exist, synchronously.
    // Whatever else Windows would do with other arguments (refuse an exclusive open of a
    // hub someone holds, a read-only or a creating open of a device), the model refuses
    // them all, so that a change to them cannot pass unseen. An overlapped handle opens; it
    // is its requests without an OVERLAPPED structure that fail, as on Windows.
    if (desiredAccess != GENERIC_WRITE || shareMode != FILE_SHARE_WRITE ||
        securityAttributes != nullptr || creationDisposition != OPEN_EXISTING ||
        templateFile != nullptr || (flagsAndAttributes & ~FILE_FLAG_OVERLAPPED) != 0) {
        m_vOpenedPaths.emplace_back(path);
        return INVALID_HANDLE_VALUE;
    }
    const std::string strPath(path);
    m_vOpenedPaths.push_back(strPath);
    const std::string_view p(strPath);
    constexpr std::string_view kDevicePrefix = "\\\\.\\";

    std::optional<CState::COpenFile> file;
    // "\\.\HCDn"
    if (StartsWithNoCase(p, "\\\\.\\HCD") && p.size() > 7 && p.size() <= 9) {
        int n = 0;
        bool digits = true;
        for (char c : p.substr(7)) {
            if (c < '0' || c > '9')
                digits = false;
            n = n * 10 + (c - '0');
        }
        if (digits) {
            for (std::size_t i = 0; i < m_model.m_vControllers.size(); ++i)
                if (m_model.m_vControllers[i].m_optHcdNumber == n)
                    file = CState::COpenFile{CState::EKind::Controller, i, strPath, true};
        }
    }
    // A host-controller interface path.
    if (!file) {
        if (auto c = m_pState->m_controllerByAnsiPath.Find(p))
            file = CState::COpenFile{CState::EKind::Controller, *c, strPath, true};
    }
    // "\\.\<hub symbolic name>"
    if (!file && StartsWithNoCase(p, kDevicePrefix) && p.size() > kDevicePrefix.size()) {
        if (auto h = m_pState->m_hubByAnsiName.Find(p.substr(kDevicePrefix.size())))
            file = CState::COpenFile{CState::EKind::Hub, *h, strPath, true};
    }
    if (!file)
        return INVALID_HANDLE_VALUE;
    if (file->m_kind == CState::EKind::Controller) {
        if (m_model.m_vControllers[file->m_index].m_faults.m_bOpenFails)
            return INVALID_HANDLE_VALUE;
    } else {
        if (m_model.m_vHubs[file->m_index].m_faults.m_bOpenFails || IsHubGone(file->m_index))
            return INVALID_HANDLE_VALUE;
        // A host controller's handle is closed before its hubs are walked; the model
        // opens no hub while one is still open.
        if (m_pState->m_openControllers != 0)
            return INVALID_HANDLE_VALUE;
    }
    if (file->m_kind == CState::EKind::Controller)
        ++m_pState->m_openControllers;
    file->m_bOverlapped = (flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0;
    m_pState->m_vFiles.push_back(*file);
    return MakeHandle(kFileHandleBase, m_pState->m_vFiles.size() - 1);
}

BOOL CModelPlatform::CloseHandle(HANDLE handle) {
    Count(EOperation::CloseHandle);
    auto slot = HandleSlot(handle, kFileHandleBase, m_pState->m_vFiles.size());
    if (!slot || !m_pState->m_vFiles[*slot].m_bOpen)
        return FALSE;
    m_pState->m_vFiles[*slot].m_bOpen = false;
    if (m_pState->m_vFiles[*slot].m_kind == CState::EKind::Controller)
        --m_pState->m_openControllers;
    return TRUE;
}

bool CModelPlatform::IsHubGone(std::size_t hub) const {
    // A hub is gone when a port that carries it has lost its device, or the hub above
    // that port is gone. The bound keeps a cyclic topology from recursing for ever.
    if (!m_pState->m_bAnyPortVanishes)
        return false;
    std::vector<std::size_t> pending{hub};
    std::vector<bool> seen(m_model.m_vHubs.size(), false);
    while (!pending.empty()) {
        const std::size_t h = pending.back();
        pending.pop_back();
        if (h >= seen.size() || seen[h])
            continue;
        seen[h] = true;
        for (const auto& [parent, port] : m_pState->m_vHubUpstream[h]) {
            if (IsPortVanished(parent, port))
                return true;
            pending.push_back(parent);
        }
    }
    return false;
}

bool CModelPlatform::IsPortVanished(std::size_t hub, DWORD port) const {
    const CUsbPort* p = m_model.m_vHubs[hub].FindPort(port);
    if (p == nullptr || !p->m_faults.m_optVanishAfter)
        return false;
    auto it = m_pState->m_mapPortRequests.find({hub, port});
    const DWORD made = it == m_pState->m_mapPortRequests.end() ? 0 : it->second;
    return made >= *p->m_faults.m_optVanishAfter;
}

BOOL CModelPlatform::DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out,
                                     DWORD outSize, DWORD* bytesReturned, void* overlapped) {
    Count(EOperation::DeviceIoControl);
    auto slot = HandleSlot(device, kFileHandleBase, m_pState->m_vFiles.size());
    BOOL result = FALSE;
    if (bytesReturned != nullptr)
        *bytesReturned = 0;
    // Synchronous calls only; a null count with no overlapped structure faults on Windows.
    // An overlapped handle needs an OVERLAPPED structure, which the program never passes.
    const bool usable = slot && m_pState->m_vFiles[*slot].m_bOpen &&
                        !m_pState->m_vFiles[*slot].m_bOverlapped && overlapped == nullptr &&
                        bytesReturned != nullptr && (in != nullptr || inSize == 0) &&
                        (out != nullptr || outSize == 0);
    if (usable && IsAllowedIoctl(code)) {
        const CState::COpenFile& file = m_pState->m_vFiles[*slot];
        if (file.m_kind == CState::EKind::Controller)
            result = ControllerRequest(file.m_index, code, out, outSize, bytesReturned);
        else
            result = HubRequest(file.m_index, code, in, inSize, out, outSize, bytesReturned);
    }
    m_vIoctlLog.push_back({slot ? *slot : std::string::npos, code, inSize, outSize, result});
    return result;
}

BOOL CModelPlatform::ControllerRequest(std::size_t index, DWORD code, void* out, DWORD outSize,
                                       DWORD* bytesReturned) {
    const CHostController& hc = m_model.m_vControllers[index];
    const CRequestFault* fault = nullptr;
    const std::optional<std::u16string>* name = nullptr;
    if (code == IOCTL_GET_HCD_DRIVERKEY_NAME) {
        fault = &hc.m_faults.m_driverKey;
        name = &hc.m_optDriverKey;
    } else if (code == IOCTL_USB_GET_ROOT_HUB_NAME) {
        fault = &hc.m_faults.m_rootHubName;
        name = &hc.m_optRootHubName;
    } else {
        return FALSE;  // a hub request sent to a host controller
    }
    // USB_HCD_DRIVERKEY_NAME / USB_ROOT_HUB_NAME: smaller than the header is refused.
    if (outSize < kHcdNameProbeSize || !*name)
        return FALSE;
    switch (CheckFault(*fault, m_pState->m_mapFaultAnswers)) {
        case EAction::Fail:
            return FALSE;
        case EAction::NoWrite:
            return TRUE;
        case EAction::Answer:
            break;
    }
    return Deliver(NameReply(m_pState->m_vReply, std::nullopt, **name, *fault), out, outSize,
                   bytesReturned, *fault);
}

BOOL CModelPlatform::HubRequest(std::size_t index, DWORD code, void* in, DWORD inSize, void* out,
                                DWORD outSize, DWORD* bytesReturned) {
    if (IsHubGone(index))
        return FALSE;
    const CUsbHub& hub = m_model.m_vHubs[index];
    auto& answers = m_pState->m_mapFaultAnswers;

    if (code == IOCTL_USB_GET_NODE_INFORMATION) {
        if (outSize < kNodeInformationSize)
            return FALSE;
        switch (CheckFault(hub.m_faults.m_nodeInformation, answers)) {
            case EAction::Fail:
                return FALSE;
            case EAction::NoWrite:
                return TRUE;
            case EAction::Answer:
                break;
        }
        Bytes& r = m_pState->m_vReply;
        r.assign(kNodeInformationSize, 0);
        Put32(r, 0, hub.m_dwNodeType);
        r[4] = hub.m_byDescriptorLength;
        r[5] = hub.m_byDescriptorType;
        r[kNodeInfoPortCountOffset] = hub.m_byNumberOfPorts;
        Put16(r, 7, hub.m_wHubCharacteristics);
        r[9] = hub.m_byPowerOnToPowerGood;
        r[10] = hub.m_byHubControlCurrent;
        std::copy(hub.m_abyRemoveAndPowerMask.begin(), hub.m_abyRemoveAndPowerMask.end(),
                  r.begin() + 11);
        r[75] = hub.m_bHubIsBusPowered ? 1 : 0;
        return Deliver(r, out, outSize, bytesReturned, hub.m_faults.m_nodeInformation);
    }
    if (code == IOCTL_GET_HCD_DRIVERKEY_NAME)
        return FALSE;  // a controller request

    // Every other request names a port in its first four bytes.
    if (inSize < 4)
        return FALSE;
    const DWORD portNumber = Get32(in);
    if (portNumber == 0 || portNumber > hub.m_byNumberOfPorts)
        return FALSE;
    const CUsbPort* port = hub.FindPort(portNumber);
    // Count the request against the port; once its device has vanished it answers as empty.
    bool vanished = false;
    if (port != nullptr && port->m_faults.m_optVanishAfter) {
        DWORD& made = m_pState->m_mapPortRequests[{index, portNumber}];
        if (made >= *port->m_faults.m_optVanishAfter)
            vanished = true;
        else
            ++made;
    }
    const CUsbDevice* dev =
        (port != nullptr && !vanished && port->m_optDevice) ? &*port->m_optDevice : nullptr;
    const DWORD status =
        (port != nullptr && !vanished) ? port->m_dwConnectionStatus : NoDeviceConnected;

    switch (code) {
        case IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX:
        case IOCTL_USB_GET_NODE_CONNECTION_INFORMATION: {
            const bool ex = code == IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX;
            static const CRequestFault kNone;
            const CRequestFault* fault = &kNone;
            if (port != nullptr)
                fault = ex ? &port->m_faults.m_connectionInfoEx : &port->m_faults.m_connectionInfo;
            if (ex && fault->IsDefault())
                fault = &hub.m_faults.m_connectionInfoEx;
            if (outSize < kConnectionHeaderSize)
                return FALSE;
            switch (CheckFault(*fault, answers)) {
                case EAction::Fail:
                    return FALSE;
                case EAction::NoWrite:
                    return TRUE;
                case EAction::Answer:
                    break;
            }
            Bytes& r = m_pState->m_vReply;
            r.assign(kConnectionHeaderSize, 0);
            Put32(r, conn::ConnectionIndex, portNumber);
            if (dev != nullptr) {
                r[conn::bLength] = dev->m_byLength;
                r[conn::bDescriptorType] = dev->m_byDescriptorType;
                Put16(r, conn::bcdUSB, dev->m_wBcdUsb);
                r[conn::bDeviceClass] = dev->m_byDeviceClass;
                r[conn::bDeviceSubClass] = dev->m_byDeviceSubClass;
                r[conn::bDeviceProtocol] = dev->m_byDeviceProtocol;
                r[conn::bMaxPacketSize0] = dev->m_byMaxPacketSize0;
                Put16(r, conn::idVendor, dev->m_wIdVendor);
                Put16(r, conn::idProduct, dev->m_wIdProduct);
                Put16(r, conn::bcdDevice, dev->m_wBcdDevice);
                r[conn::iManufacturer] = dev->m_byManufacturer;
                r[conn::iProduct] = dev->m_byProduct;
                r[conn::iSerialNumber] = dev->m_bySerialNumber;
                r[conn::bNumConfigurations] = dev->m_byNumConfigurations;
                r[conn::CurrentConfigurationValue] = dev->m_byCurrentConfigurationValue;
                // The legacy structure has LowSpeed (a BOOLEAN) where the extended one has Speed.
                r[conn::Speed] = ex ? dev->m_bySpeed : (dev->m_bySpeed == kUsbLowSpeed ? 1 : 0);
                r[conn::DeviceIsHub] = dev->m_bDeviceIsHub ? 1 : 0;
                Put16(r, conn::DeviceAddress, dev->m_wDeviceAddress);
                Put32(r, conn::NumberOfOpenPipes, dev->m_dwNumberOfOpenPipes);
                // The pipe list gets as many entries as the caller's buffer holds.
                const std::size_t room = (outSize - kConnectionHeaderSize) / conn::PipeInfoSize;
                const std::size_t pipes = std::min({dev->m_vPipes.size(), kMaxPipes, room});
                for (std::size_t i = 0; i < pipes; ++i) {
                    const CPipeInfo& pipe = dev->m_vPipes[i];
                    r.insert(r.end(), pipe.m_abyEndpointDescriptor.begin(),
                             pipe.m_abyEndpointDescriptor.end());
                    r.resize(r.size() + 4);
                    Put32(r, r.size() - 4, pipe.m_dwScheduleOffset);
                }
            }
            Put32(r, conn::ConnectionStatus, status);
            return Deliver(r, out, outSize, bytesReturned, *fault);
        }
        case IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME:
        case IOCTL_USB_GET_NODE_CONNECTION_NAME: {
            // USB_NODE_CONNECTION_(DRIVERKEY_)NAME: smaller than the header is refused.
            if (outSize < kPortNameProbeSize || dev == nullptr)
                return FALSE;
            const bool driverKey = code == IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME;
            const CRequestFault& fault =
                driverKey ? port->m_faults.m_driverKeyName : port->m_faults.m_nodeName;
            std::u16string_view name;
            if (driverKey) {
                if (!dev->m_optDriverKey)
                    return FALSE;
                name = *dev->m_optDriverKey;
            } else if (dev->m_optHubName) {
                name = *dev->m_optHubName;  // a device that is not a hub: empty name
            }
            switch (CheckFault(fault, answers)) {
                case EAction::Fail:
                    return FALSE;
                case EAction::NoWrite:
                    return TRUE;
                case EAction::Answer:
                    break;
            }
            return Deliver(NameReply(m_pState->m_vReply, portNumber, name, fault), out, outSize,
                           bytesReturned, fault);
        }
        case IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION:
            return DescriptorRequest(port, dev, in, inSize, out, outSize, bytesReturned);
        default:
            return FALSE;
    }
}

BOOL CModelPlatform::DescriptorRequest(const CUsbPort* port, const CUsbDevice* dev, void* in,
                                       DWORD inSize, void* out, DWORD outSize,
                                       DWORD* bytesReturned) {
    if (inSize < kDescriptorRequestHeaderSize || outSize < kDescriptorRequestHeaderSize ||
        dev == nullptr)
        return FALSE;
    // The header comes back as it was sent; the descriptor follows it.
    Bytes& reply = m_pState->m_vReply;
    reply.assign(static_cast<const BYTE*>(in),
                 static_cast<const BYTE*>(in) + kDescriptorRequestHeaderSize);
    const WORD wValue = Get16(&reply[6]);
    const WORD wIndex = Get16(&reply[8]);
    const WORD wLength = Get16(&reply[10]);
    const BYTE type = static_cast<BYTE>(wValue >> 8);
    const BYTE index = static_cast<BYTE>(wValue & 0xFF);
    auto& answers = m_pState->m_mapFaultAnswers;

    switch (CheckFault(port->m_faults.m_descriptor, answers)) {
        case EAction::Fail:
            return FALSE;
        case EAction::NoWrite:
            return TRUE;
        case EAction::Answer:
            break;
    }
    const CRequestFault* fault = &port->m_faults.m_descriptor;
    Bytes& data = m_pState->m_vDescriptor;
    data.clear();
    if (type == 1 && index == 0) {
        data = {dev->m_byLength,
                dev->m_byDescriptorType,
                0,
                0,
                dev->m_byDeviceClass,
                dev->m_byDeviceSubClass,
                dev->m_byDeviceProtocol,
                dev->m_byMaxPacketSize0,
                0,
                0,
                0,
                0,
                0,
                0,
                dev->m_byManufacturer,
                dev->m_byProduct,
                dev->m_bySerialNumber,
                dev->m_byNumConfigurations};
        Put16(data, 2, dev->m_wBcdUsb);
        Put16(data, 8, dev->m_wIdVendor);
        Put16(data, 10, dev->m_wIdProduct);
        Put16(data, 12, dev->m_wBcdDevice);
    } else if (type == 3) {
        if (index == 0 && wIndex != 0)
            return FALSE;  // the language list is asked for in language 0
        const CStringDescriptor* sd = nullptr;
        for (const CStringDescriptor& s : dev->m_vStrings)
            if (s.m_byIndex == index && (index == 0 || s.m_wLanguage == wIndex)) {
                sd = &s;
                break;
            }
        if (sd != nullptr) {
            fault = sd->m_faults.IsDefault() ? fault : &sd->m_faults;
            if (!sd->m_faults.IsDefault()) {
                switch (CheckFault(sd->m_faults, answers)) {
                    case EAction::Fail:
                        return FALSE;
                    case EAction::NoWrite:
                        return TRUE;
                    case EAction::Answer:
                        break;
                }
            }
            if (sd->m_optRaw) {
                data = *sd->m_optRaw;
            } else {
                // bLength is one byte: a text longer than 126 code units cannot be sent.
                const std::u16string_view text = std::u16string_view(sd->m_wstrText).substr(0, 126);
                data = {static_cast<BYTE>(2 + 2 * text.size()), 3};
                AppendUtf16(data, text);
            }
        } else if (index == 0 && dev->m_optLanguageIds) {
            const std::size_t n = std::min<std::size_t>(dev->m_optLanguageIds->size(), 126);
            data = {static_cast<BYTE>(2 + 2 * n), 3};
            for (std::size_t i = 0; i < n; ++i) {
                data.resize(data.size() + 2);
                Put16(data, data.size() - 2, (*dev->m_optLanguageIds)[i]);
            }
        } else {
            return FALSE;  // the device stalls the request
        }
    } else {
        return FALSE;
    }
    // The hub driver transfers at most wLength bytes, and no more than the buffer holds.
    const std::size_t room = outSize - kDescriptorRequestHeaderSize;
    const std::size_t n =
        std::min({data.size(), std::size_t(wLength), room, kDescriptorRequestDataSize});
    reply.insert(reply.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
    return Deliver(reply, out, outSize, bytesReturned, *fault);
}

int ConvertWideCharToMultiByte(UINT codePage, const WCHAR16* src, int srcLen, char* dst,
                               int dstSize, BOOL* usedDefaultChar) {
    if (src == nullptr || srcLen == 0 || srcLen < -1 || dstSize < 0 ||
        (dst == nullptr && dstSize != 0))
        return 0;
    if (codePage != CP_ACP && codePage != CP_UTF8)
        return 0;
    std::size_t count = 0;
    const bool withNul = srcLen == -1;
    if (withNul) {
        while (src[count] != 0)
            ++count;
    } else {
        count = static_cast<std::size_t>(srcLen);
    }
    // ASCII, as most names are, is the same in every ANSI code page and in UTF-8, one byte a
    // unit: converted in place, with no text made on the way.
    if (std::all_of(src, src + count, [](WCHAR16 u) { return u < 0x80; })) {
        const std::size_t size = count + (withNul ? 1 : 0);
        if (usedDefaultChar != nullptr && codePage == CP_ACP)
            *usedDefaultChar = FALSE;
        if (size > static_cast<std::size_t>(std::numeric_limits<int>::max()))
            return 0;
        if (dstSize == 0)
            return static_cast<int>(size);
        if (size > static_cast<std::size_t>(dstSize))
            return 0;
        for (std::size_t i = 0; i < size; ++i)
            dst[i] = static_cast<char>(i < count ? src[i] : 0);
        return static_cast<int>(size);
    }
    // Windows converts NUL code units like any other when a length is given; the
    // framework's conversion stops at them, so convert piece by piece.
    std::string result;
    bool used = false;
    std::size_t i = 0;
    while (i < count) {
        std::size_t j = i;
        while (j < count && src[j] != 0)
            ++j;
        if (codePage == CP_UTF8) {
            result += Utf16ToUtf8(std::u16string_view(src + i, j - i));
        } else {
            bool piece = false;
            result += Utf16ToAnsi(src + i, j - i, &piece);
            used = used || piece;
        }
        if (j < count)
            result += '\0';
        i = j + 1;
    }
    if (withNul)
        result += '\0';
    if (usedDefaultChar != nullptr && codePage == CP_ACP)
        *usedDefaultChar = used ? TRUE : FALSE;
    if (result.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return 0;
    if (dstSize == 0)
        return static_cast<int>(result.size());
    if (result.size() > static_cast<std::size_t>(dstSize))
        return 0;
    std::memcpy(dst, result.data(), result.size());
    return static_cast<int>(result.size());
}

int CModelPlatform::WideCharToMultiByte(UINT codePage, DWORD, const WCHAR16* src, int srcLen,
                                        char* dst, int dstSize, const char*,
                                        BOOL* usedDefaultChar) {
    Count(EOperation::WideCharToMultiByte);
    return ConvertWideCharToMultiByte(codePage, src, srcLen, dst, dstSize, usedDefaultChar);
}

// --- Setup API --------------------------------------------------------------------------

HDEVINFO CModelPlatform::SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator, HWND,
                                              DWORD flags) {
    Count(EOperation::SetupDiGetClassDevsA);
    // Present interfaces only: without DIGCF_PRESENT Windows would list those of devices
    // that are gone as well, and the model lists nothing rather than answer otherwise.
    if (classGuid == nullptr || enumerator != nullptr ||
        flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE))
        return INVALID_HANDLE_VALUE;
    CState::CSet set;
    set.m_classGuid = *classGuid;
    if (*classGuid == GUID_DEVINTERFACE_USB_HOST_CONTROLLER) {
        if (m_model.m_faults.m_bHostControllerSetFails)
            return INVALID_HANDLE_VALUE;
        set.m_setupClass = kUsbClassGuid;
        for (const CHostController& hc : m_model.m_vControllers)
            if (hc.m_optInterfacePath)
                set.m_vInterfaces.push_back(
                    {ToAnsi(std::string_view(*hc.m_optInterfacePath)),
                     hc.m_optInstanceId ? DevInstOf(*hc.m_optInstanceId) : 0,
                     &hc.m_faults.m_interface});
    } else if (*classGuid == GUID_DEVINTERFACE_VOLUME) {
        if (m_model.m_faults.m_bVolumeSetFails)
            return INVALID_HANDLE_VALUE;
        set.m_setupClass = kVolumeClassGuid;
        for (const CVolume& v : m_model.m_vVolumes)
            if (v.m_optInterfacePath)
                set.m_vInterfaces.push_back({ToAnsi(std::string_view(*v.m_optInterfacePath)),
                                             v.m_optInstanceId ? DevInstOf(*v.m_optInstanceId) : 0,
                                             &v.m_faults.m_interface});
    }
    // Any other class: a valid set with no members.
    m_pState->m_vSets.push_back(std::move(set));
    return MakeHandle(kSetHandleBase, m_pState->m_vSets.size() - 1);
}

BOOL CModelPlatform::SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                                 const GUID* classGuid, DWORD memberIndex,
                                                 SP_DEVICE_INTERFACE_DATA* interfaceData) {
    Count(EOperation::SetupDiEnumDeviceInterfaces);
    auto slot = HandleSlot(set, kSetHandleBase, m_pState->m_vSets.size());
    if (!slot || !m_pState->m_vSets[*slot].m_bOpen || deviceInfo != nullptr ||
        classGuid == nullptr || interfaceData == nullptr ||
        interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return FALSE;
    const CState::CSet& s = m_pState->m_vSets[*slot];
    if (!(*classGuid == s.m_classGuid) || memberIndex >= s.m_vInterfaces.size())
        return FALSE;
    interfaceData->InterfaceClassGuid = s.m_classGuid;
    interfaceData->Flags = kSpintActive;
    interfaceData->Reserved = memberIndex + 1;
    return TRUE;
}

BOOL CModelPlatform::SetupDiGetDeviceInterfaceDetailA(HDEVINFO set,
                                                      SP_DEVICE_INTERFACE_DATA* interfaceData,
                                                      SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                                      DWORD detailSize, DWORD* requiredSize,
                                                      SP_DEVINFO_DATA* deviceInfo) {
    Count(EOperation::SetupDiGetDeviceInterfaceDetailA);
    auto slot = HandleSlot(set, kSetHandleBase, m_pState->m_vSets.size());
    if (!slot || !m_pState->m_vSets[*slot].m_bOpen || interfaceData == nullptr ||
        interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA))
        return FALSE;
    const CState::CSet& s = m_pState->m_vSets[*slot];
    const DWORD member = interfaceData->Reserved;
    if (member == 0 || member > s.m_vInterfaces.size())
        return FALSE;
    const CState::CInterface& itf = s.m_vInterfaces[member - 1];
    if (itf.m_pFaults->m_bRequiredSizeZero) {
        if (requiredSize != nullptr)
            *requiredSize = 0;
        return FALSE;
    }
    const auto required = static_cast<DWORD>(kDevicePathOffset + itf.m_strPath.size() + 1);
    if (detail == nullptr) {
        if (detailSize == 0 && requiredSize != nullptr)
            *requiredSize = required;
        return FALSE;  // ERROR_INSUFFICIENT_BUFFER (or a bad buffer)
    }
    if (detailSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) ||
        detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
        return FALSE;
    if (detailSize < required) {
        if (requiredSize != nullptr)
            *requiredSize = required;
        return FALSE;
    }
    if (deviceInfo != nullptr && deviceInfo->cbSize != sizeof(SP_DEVINFO_DATA))
        return FALSE;
    if (itf.m_pFaults->m_bDetailFails)
        return FALSE;
    std::memcpy(reinterpret_cast<char*>(detail) + kDevicePathOffset, itf.m_strPath.c_str(),
                itf.m_strPath.size() + 1);
    if (requiredSize != nullptr)
        *requiredSize = required;
    if (deviceInfo != nullptr) {
        deviceInfo->ClassGuid = s.m_setupClass;
        deviceInfo->DevInst = itf.m_devInst;
        deviceInfo->Reserved = 0;
    }
    return TRUE;
}

BOOL CModelPlatform::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    Count(EOperation::SetupDiDestroyDeviceInfoList);
    auto slot = HandleSlot(set, kSetHandleBase, m_pState->m_vSets.size());
    if (!slot || !m_pState->m_vSets[*slot].m_bOpen)
        return FALSE;
    m_pState->m_vSets[*slot].m_bOpen = false;
    return TRUE;
}

// --- Configuration manager --------------------------------------------------------------

std::optional<std::size_t> CModelPlatform::NodeIndex(DEVINST devInst) const {
    if (devInst < kDevInstBase || devInst - kDevInstBase >= m_model.m_vNodes.size())
        return std::nullopt;
    return static_cast<std::size_t>(devInst - kDevInstBase);
}

DEVINST CModelPlatform::NodeHandle(std::size_t index) const {
    return kDevInstBase + static_cast<DEVINST>(index);
}

void CModelPlatform::TouchNode(std::size_t index) {
    if (!m_pState->m_bNodesCanGo)
        return;  // no node is set to vanish
    const auto& limit = m_model.m_vNodes[index].m_faults.m_optVanishAfter;
    if (!limit)
        return;
    DWORD& made = m_pState->m_vNodeCalls[index];
    if (made >= *limit)
        m_pState->m_vNodeVanished[index] = true;
    else
        ++made;
}

bool CModelPlatform::IsNodeGone(std::size_t index) const {
    // Gone when it or a node above it is not present; the step bound keeps a parent cycle
    // in a hand-built model from looping.
    if (!m_pState->m_bNodesCanGo)
        return index >= m_model.m_vNodes.size();
    std::optional<std::size_t> at = index;
    for (std::size_t steps = 0; at && steps <= m_model.m_vNodes.size(); ++steps) {
        if (*at >= m_model.m_vNodes.size())
            return true;
        if (!m_model.m_vNodes[*at].m_bPresent || m_pState->m_vNodeVanished[*at])
            return true;
        at = m_model.m_vNodes[*at].m_optParent;
    }
    return false;
}

std::optional<std::size_t> CModelPlatform::FindNodeAnsi(std::string_view ansiId) const {
    return m_pState->m_nodeByAnsiId.Find(ansiId);
}

namespace {
// Applies an injected configuration-manager fault: true when the call is settled, with
// the result in *result.
bool ApplyCmFault(const std::optional<CCmFault>& fault, CONFIGRET* result) {
    if (!fault)
        return false;
    *result = fault->m_bNoWrite ? CR_SUCCESS : fault->m_crResult;
    return true;
}
}  // namespace

CONFIGRET CModelPlatform::CM_Locate_DevNodeA(DEVINST* devInst, const char* deviceId, ULONG flags) {
    Count(EOperation::CM_Locate_DevNodeA);
    if (devInst == nullptr)
        return CR_INVALID_POINTER;
    if ((flags & ~kCmLocatePhantom) != 0)
        return kCrInvalidFlag;
    std::optional<std::size_t> index;
    if (deviceId == nullptr || deviceId[0] == '\0')
        index = m_model.m_vNodes.empty() ? std::nullopt : std::optional<std::size_t>(0);
    else
        index = FindNodeAnsi(deviceId);
    if (!index)
        return CR_NO_SUCH_DEVNODE;
    TouchNode(*index);
    CONFIGRET r;
    if (ApplyCmFault(m_model.m_vNodes[*index].m_faults.m_optLocate, &r))
        return r;
    if (IsNodeGone(*index) && (flags & kCmLocatePhantom) == 0)
        return CR_NO_SUCH_DEVNODE;
    *devInst = NodeHandle(*index);
    return CR_SUCCESS;
}

// A node handle that names a present node: its index, with the request counted against the
// node (a node can be set to vanish after so many). CR_INVALID_DEVNODE for an unknown
// handle, CR_NO_SUCH_DEVNODE for a node that is gone.
inline CONFIGRET CModelPlatform::LiveNode(DEVINST devInst, std::size_t* index) {
    auto found = NodeIndex(devInst);
    if (!found)
        return CR_INVALID_DEVNODE;
    if (m_pState->m_bNodesCanGo) {
        TouchNode(*found);
        if (IsNodeGone(*found))
            return CR_NO_SUCH_DEVNODE;
    }
    *index = *found;
    return CR_SUCCESS;
}

CONFIGRET CModelPlatform::Navigate(ENavigate which, DEVINST* target, DEVINST devInst, ULONG flags) {
    if (target == nullptr)
        return CR_INVALID_POINTER;
    if (flags != 0)
        return kCrInvalidFlag;
    std::size_t nodeIndex = 0;
    if (CONFIGRET live = LiveNode(devInst, &nodeIndex); live != CR_SUCCESS)
        return live;
    if (const CState::CNodeAnswers& a = m_pState->m_vAnswers[nodeIndex];
        a.m_flags & CState::kLinksAhead) {
        const std::uint32_t to = which == ENavigate::Child     ? a.m_child
                                 : which == ENavigate::Sibling ? a.m_sibling
                                                               : a.m_parent;
        if (to == CState::kNoNode)
            return CR_NO_SUCH_DEVNODE;
        *target = NodeHandle(to);
        return CR_SUCCESS;
    }
    const CDevNode& node = m_model.m_vNodes[nodeIndex];
    const CDevNodeFaults& f = node.m_faults;
    CONFIGRET r;
    const std::optional<std::string>* link = nullptr;
    switch (which) {
        case ENavigate::Child:
            if (ApplyCmFault(f.m_optChild, &r))
                return r;
            link = &f.m_optChildLink;
            break;
        case ENavigate::Sibling:
            if (ApplyCmFault(f.m_optSibling, &r))
                return r;
            link = &f.m_optSiblingLink;
            break;
        case ENavigate::Parent:
            if (ApplyCmFault(f.m_optParent, &r))
                return r;
            link = &f.m_optParentLink;
            break;
    }
    if (*link) {
        auto to = FindNodeById(**link);
        if (!to || IsNodeGone(*to))
            return CR_NO_SUCH_DEVNODE;
        *target = NodeHandle(*to);
        return CR_SUCCESS;
    }
    auto firstPresent = [&](const std::vector<std::size_t>& list,
                            std::size_t from) -> std::optional<std::size_t> {
        for (std::size_t i = from; i < list.size(); ++i)
            if (list[i] < m_model.m_vNodes.size() && !IsNodeGone(list[i]))
                return list[i];
        return std::nullopt;
    };
    std::optional<std::size_t> to;
    if (which == ENavigate::Child) {
        to = firstPresent(node.m_vChildren, 0);
    } else if (which == ENavigate::Parent) {
        if (node.m_optParent && *node.m_optParent < m_model.m_vNodes.size())
            to = node.m_optParent;
    } else if (node.m_optParent && *node.m_optParent < m_model.m_vNodes.size()) {
        const auto& siblings = m_model.m_vNodes[*node.m_optParent].m_vChildren;
        // The node's own place among its parent's children; a hand-built model whose
        // parent does not list the node has none, and the node no next sibling.
        const std::size_t at = m_pState->m_vChildPosition[nodeIndex];
        if (at < siblings.size() && siblings[at] == nodeIndex)
            to = firstPresent(siblings, at + 1);
    }
    if (!to)
        return CR_NO_SUCH_DEVNODE;
    *target = NodeHandle(*to);
    return CR_SUCCESS;
}

CONFIGRET CModelPlatform::CM_Get_Child(DEVINST* child, DEVINST devInst, ULONG flags) {
    Count(EOperation::CM_Get_Child);
    return Navigate(ENavigate::Child, child, devInst, flags);
}

CONFIGRET CModelPlatform::CM_Get_Sibling(DEVINST* sibling, DEVINST devInst, ULONG flags) {
    Count(EOperation::CM_Get_Sibling);
    return Navigate(ENavigate::Sibling, sibling, devInst, flags);
}

CONFIGRET CModelPlatform::CM_Get_Parent(DEVINST* parent, DEVINST devInst, ULONG flags) {
    Count(EOperation::CM_Get_Parent);
    return Navigate(ENavigate::Parent, parent, devInst, flags);
}

CONFIGRET CModelPlatform::CM_Get_Device_IDA(DEVINST devInst, char* buffer, ULONG length,
                                            ULONG flags) {
    Count(EOperation::CM_Get_Device_IDA);
    if (buffer == nullptr)
        return CR_INVALID_POINTER;
    if (flags != 0)
        return kCrInvalidFlag;
    std::size_t nodeIndex = 0;
    if (CONFIGRET live = LiveNode(devInst, &nodeIndex); live != CR_SUCCESS)
        return live;
    CONFIGRET r;
    if (ApplyCmFault(m_model.m_vNodes[nodeIndex].m_faults.m_optDeviceId, &r))
        return r;
    const std::string_view id = m_pState->m_vAnsiIds[nodeIndex];
    if (length > id.size()) {
        std::memcpy(buffer, id.data(), id.size());
        buffer[id.size()] = '\0';
        return CR_SUCCESS;
    }
    // The configuration manager fills what fits. A buffer of exactly the ID's length gets
    // the ID without its terminator, and the call still reports success.
    std::memcpy(buffer, id.data(), length);
    return length == id.size() ? CR_SUCCESS : CR_BUFFER_SMALL;
}

std::optional<std::string_view> CModelPlatform::IdList(const char* filter, ULONG flags,
                                                       CONFIGRET* result, bool sizeQuery) {
    CState& st = *m_pState;
    if (flags == 0) {
        // Every present device.
        st.m_strIdList.clear();
        for (std::size_t i = 0; i < m_model.m_vNodes.size(); ++i)
            if (!IsNodeGone(i))
                (st.m_strIdList += st.m_vAnsiIds[i]) += '\0';
        st.m_strIdList += '\0';
        *result = CR_SUCCESS;
        return st.m_strIdList;
    }
    if (flags != CM_GETIDLIST_FILTER_REMOVALRELATIONS) {
        *result = kCrInvalidFlag;
        return std::nullopt;
    }
    if (filter == nullptr) {
        *result = CR_INVALID_POINTER;
        return std::nullopt;
    }
    auto index = FindNodeAnsi(filter);
    if (!index) {
        *result = CR_NO_SUCH_DEVNODE;
        return std::nullopt;
    }
    TouchNode(*index);
    if (IsNodeGone(*index)) {
        *result = CR_NO_SUCH_DEVNODE;
        return std::nullopt;
    }
    const CDevNodeFaults& f = m_model.m_vNodes[*index].m_faults;
    if (ApplyCmFault(sizeQuery ? f.m_optRemovalRelationsSize : f.m_optRemovalRelationsList, result))
        return std::nullopt;
    std::optional<std::string>& list = st.m_vRelationLists[*index];
    if (!list) {
        list.emplace();
        for (const std::string& id : m_model.m_vNodes[*index].m_vRemovalRelations)
            (*list += ToAnsi(std::string_view(id))) += '\0';
        *list += '\0';
    }
    *result = CR_SUCCESS;
    return *list;
}

CONFIGRET CModelPlatform::CM_Get_Device_ID_List_SizeA(ULONG* length, const char* filter,
                                                      ULONG flags) {
    Count(EOperation::CM_Get_Device_ID_List_SizeA);
    if (length == nullptr)
        return CR_INVALID_POINTER;
    CONFIGRET r = CR_FAILURE;
    if (const auto list = IdList(filter, flags, &r, true))
        *length = static_cast<ULONG>(list->size());
    return r;
}

CONFIGRET CModelPlatform::CM_Get_Device_ID_ListA(const char* filter, char* buffer, ULONG length,
                                                 ULONG flags) {
    Count(EOperation::CM_Get_Device_ID_ListA);
    if (buffer == nullptr || length == 0)
        return CR_INVALID_POINTER;
    CONFIGRET r = CR_FAILURE;
    const auto list = IdList(filter, flags, &r, false);
    if (!list)
        return r;
    if (list->size() > length)
        return CR_BUFFER_SMALL;
    std::memcpy(buffer, list->data(), list->size());
    return CR_SUCCESS;
}

CONFIGRET CModelPlatform::CM_Get_DevNode_Status(ULONG* status, ULONG* problemNumber,
                                                DEVINST devInst, ULONG flags) {
    Count(EOperation::CM_Get_DevNode_Status);
    if (status == nullptr || problemNumber == nullptr)
        return CR_INVALID_POINTER;
    if (flags != 0)
        return kCrInvalidFlag;
    std::size_t nodeIndex = 0;
    if (CONFIGRET live = LiveNode(devInst, &nodeIndex); live != CR_SUCCESS)
        return live;
    CONFIGRET r;
    if (ApplyCmFault(m_model.m_vNodes[nodeIndex].m_faults.m_optStatus, &r))
        return r;
    *status = m_model.m_vNodes[nodeIndex].m_ulStatus;
    *problemNumber = m_model.m_vNodes[nodeIndex].m_ulProblem;
    return CR_SUCCESS;
}

CONFIGRET CModelPlatform::CM_Get_DevNode_Registry_PropertyA(DEVINST devInst, ULONG property,
                                                            ULONG* regDataType, void* buffer,
                                                            ULONG* length, ULONG flags) {
    Count(EOperation::CM_Get_DevNode_Registry_PropertyA);
    if (length == nullptr || (buffer == nullptr && *length != 0))
        return CR_INVALID_POINTER;
    if (flags != 0)
        return kCrInvalidFlag;
    std::size_t nodeIndex = 0;
    if (CONFIGRET live = LiveNode(devInst, &nodeIndex); live != CR_SUCCESS)
        return live;
    const CState& st = *m_pState;
    const CState::CNodeAnswers& a = st.m_vAnswers[nodeIndex];
    const CState::CValueSlot* slot = nullptr;
    for (std::uint32_t k = a.m_firstSlot; k < a.m_firstSlot + a.m_slots; ++k)
        if (st.m_vValueSlots[k].m_ulCode == property) {
            slot = &st.m_vValueSlots[k];
            break;
        }
    const std::size_t size = slot != nullptr ? slot->m_size : 0;
    if (a.m_flags & CState::kPropertyFaults) {
        if (const CCmFault* fault = m_model.m_vNodes[nodeIndex].FindPropertyFault(property)) {
            if (fault->m_bNoWrite)
                return CR_SUCCESS;
            // A refused read still tells the size it needs, as the real call does.
            if (fault->m_crResult == CR_BUFFER_SMALL)
                *length = static_cast<ULONG>(size);
            return fault->m_crResult;
        }
    }
    if (slot == nullptr)
        return CR_NO_SUCH_VALUE;
    if (buffer == nullptr || *length < size) {
        *length = static_cast<ULONG>(size);
        return CR_BUFFER_SMALL;
    }
    if (size != 0)
        std::memcpy(buffer, st.m_vValueBytes.data() + slot->m_offset, size);
    *length = static_cast<ULONG>(size);
    if (regDataType != nullptr)
        *regDataType = slot->m_ulType;
    return CR_SUCCESS;
}

// --- Volume mount points ----------------------------------------------------------------

BOOL CModelPlatform::GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* volumeName,
                                                       DWORD length) {
    Count(EOperation::GetVolumeNameForVolumeMountPointA);
    if (mountPoint == nullptr || volumeName == nullptr)
        return FALSE;
    const std::string_view mp(mountPoint);
    const CVolume* found = nullptr;
    ECallFault fault = ECallFault::None;
    if (mp.size() == 3 && mp[1] == ':' && mp[2] == '\\') {
        const char letter =
            (mp[0] >= 'a' && mp[0] <= 'z') ? static_cast<char>(mp[0] - 'a' + 'A') : mp[0];
        if (letter >= 'A' && letter <= 'Z') {
            if (const auto& v = m_pState->m_aVolumeByLetter[letter - 'A']) {
                found = &m_model.m_vVolumes[*v];
                fault = found->m_faults.m_rootMountPoint;
            }
        }
    } else if (mp.size() > 1 && mp.back() == '\\') {
        if (auto v = m_pState->m_volumeByAnsiPath.Find(mp.substr(0, mp.size() - 1))) {
            found = &m_model.m_vVolumes[*v];
            fault = found->m_faults.m_interfaceMountPoint;
        }
    }
    if (found == nullptr || fault == ECallFault::Fail)
        return FALSE;
    if (fault == ECallFault::NoWrite)
        return TRUE;
    const std::string& name =
        m_pState->m_vAnsiVolumeNames[static_cast<std::size_t>(found - m_model.m_vVolumes.data())];
    if (name.size() + 1 > length)
        return FALSE;  // ERROR_FILENAME_EXCED_RANGE
    std::memcpy(volumeName, name.c_str(), name.size() + 1);
    return TRUE;
}

}  // namespace ks

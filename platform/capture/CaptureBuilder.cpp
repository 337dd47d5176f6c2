#include "platform/capture/CaptureBuilder.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <set>

#include "framework/CodePage.h"
#include "platform/capture/FixtureWriter.h"

namespace ks::capture {

namespace {

using Bytes = std::vector<BYTE>;

// Levels of the device tree as written. A tree deeper than this (no real machine has one)
// is hung higher up, and links keep every answer the scan saw.
constexpr std::size_t kMaxTreeDepth = 48;
// Nodes the recorder adds on its own while it looks for the parents of nodes met by ID.
constexpr std::size_t kMaxParentNodes = 4096;
// Reads of the recorder's own: a property value, an instance ID.
constexpr ULONG kMaxPropertyRead = 64 * 1024;
constexpr ULONG kMaxIdRead = 1024;
// The largest interface detail the scan believes.
constexpr DWORD kMaxDetailSize = 0x10000;
constexpr std::size_t kMaxLanguages = 126;

constexpr ULONG kProperties[] = {CM_DRP_DEVICEDESC,
                                 CM_DRP_FRIENDLYNAME,
                                 CM_DRP_SERVICE,
                                 CM_DRP_DRIVER,
                                 CM_DRP_CLASSGUID,
                                 CM_DRP_ENUMERATOR_NAME,
                                 CM_DRP_LOCATION_INFORMATION,
                                 CM_DRP_UPPERFILTERS,
                                 CM_DRP_LOWERFILTERS};

DWORD Le32(const BYTE* b) {
    return DWORD(b[0]) | DWORD(b[1]) << 8 | DWORD(b[2]) << 16 | DWORD(b[3]) << 24;
}
WORD Le16(const BYTE* b) {
    return static_cast<WORD>(b[0] | b[1] << 8);
}

// An ANSI text as the model keeps it (UTF-8), and whether the model answers it with the same
// bytes again.
std::string ModelText(std::string_view ansi, bool* exact = nullptr) {
    std::string utf8 = AnsiToUtf8(ansi);
    if (exact != nullptr) {
        const std::u16string wide = Utf8ToUtf16(utf8);
        *exact = Utf16ToAnsi(wide.data(), wide.size()) == ansi;
    }
    return utf8;
}

bool Utf8Holds(std::u16string_view text) {
    return Utf8ToUtf16(Utf16ToUtf8(text)) == text;
}

bool IsNoWrite(const CIoAnswer& a) {
    return a.m_bResult && !a.m_bWritten && a.m_dwReturned == 0;
}

bool Succeeded(const std::optional<CCmAnswer>& a) {
    return a && a->m_cr == CR_SUCCESS && a->m_bWritten;
}

// The failures of a series: every answer, when the first one failed; those after the n
// successes that came first otherwise.
CRequestFault FailurePattern(const CIoSeries& s) {
    CRequestFault f;
    if (!s.m_bFailed)
        return f;
    if (s.m_dwSucceeded == 0)
        f.m_bFail = true;
    else
        f.m_optFailAfter = s.m_dwSucceeded;
    return f;
}

// --- Name requests ----------------------------------------------------------------------

struct CNameReply {
    bool m_bAsked = false;
    bool m_bFirstFailed = false;
    bool m_bFetched = false;  // the name came with a full reply
    std::u16string m_wstrName;
    CRequestFault m_fault;
    // What was seen, for Refit.
    std::size_t m_textOffset = 0;
    std::optional<DWORD> m_optActual;                  // the probe's ActualLength
    std::optional<std::pair<DWORD, DWORD>> m_optFull;  // the full reply: buffer, byte count
};

// The overrides for the name the model is given: an ActualLength and a byte count where
// what the model would answer for it differs from what was seen.
void Refit(CNameReply& r, std::u16string name) {
    r.m_wstrName = std::move(name);
    const std::size_t natural = r.m_textOffset + 2 * r.m_wstrName.size() + 2;
    r.m_fault.m_optActualLength.reset();
    r.m_fault.m_optBytesReturned.reset();
    if (r.m_optActual && *r.m_optActual != natural)
        r.m_fault.m_optActualLength = *r.m_optActual;
    if (r.m_optFull) {
        const DWORD delivered =
            static_cast<DWORD>(std::min<std::size_t>(natural, r.m_optFull->first));
        if (r.m_optFull->second != delivered)
            r.m_fault.m_optBytesReturned = r.m_optFull->second;
    }
}

// A two-step name request: the probe told ActualLength, the full request the name. The model
// answers ActualLength from the name unless a fault says otherwise, and delivers the whole
// reply; the byte count it reports is that of the delivery unless a fault says otherwise.
CNameReply EncodeName(const CIoSeries& s, DWORD probeSize) {
    CNameReply r;
    if (s.m_dwCalls == 0)
        return r;
    r.m_bAsked = true;
    r.m_fault = FailurePattern(s);
    if (r.m_fault.m_bFail) {
        r.m_bFirstFailed = true;
        return r;
    }
    const std::size_t textOffset = probeSize - 2;
    const std::size_t lengthOffset = textOffset - 4;
    const CIoAnswer* probe = s.Kept(probeSize);
    const CIoAnswer* full = s.KeptAbove(probeSize);
    if (probe != nullptr && IsNoWrite(*probe)) {
        r.m_fault.m_bNoWrite = true;
        return r;
    }
    std::u16string name;
    r.m_textOffset = textOffset;
    if (full != nullptr && full->m_bResult) {
        for (std::size_t i = textOffset; i + 1 < full->m_vOut.size(); i += 2)
            name += static_cast<char16_t>(Le16(&full->m_vOut[i]));
        while (!name.empty() && name.back() == 0)
            name.pop_back();
        r.m_bFetched = true;
        r.m_optFull = std::make_pair(full->m_dwOutSize, full->m_dwReturned);
    }
    if (probe != nullptr && probe->m_bResult && probe->m_vOut.size() >= lengthOffset + 4)
        r.m_optActual = Le32(&probe->m_vOut[lengthOffset]);
    // The probe's header ends in the name's first letter. Where no full reply followed (an
    // ActualLength of the header alone, or one too large to believe), that letter is all of
    // the name that was seen, and the model must answer the probe with it again.
    if (!r.m_bFetched && probe != nullptr && probe->m_bResult &&
        probe->m_vOut.size() >= textOffset + 2) {
        const auto first = static_cast<char16_t>(Le16(&probe->m_vOut[textOffset]));
        if (first != 0)
            name.assign(1, first);
    }
    Refit(r, std::move(name));
    return r;
}

// --- Connection information and descriptors ---------------------------------------------

// The reply decoded: the port's status and, when anything but an empty port answered, the
// device with as many pipes as were delivered.
struct CConnection {
    DWORD m_dwStatus = NoDeviceConnected;
    std::optional<CUsbDevice> m_optDevice;
    DWORD m_dwNatural = kConnectionInfoSize;  // the byte count the model reports for it
};

CConnection DecodeConnection(const CIoAnswer& a, bool legacy) {
    Bytes b = a.m_vOut;
    b.resize(kConnectionInfoSize, 0);
    CConnection c;
    c.m_dwStatus = Le32(&b[conn::ConnectionStatus]);
    bool any = c.m_dwStatus != NoDeviceConnected;
    for (std::size_t i = conn::bLength; i < conn::ConnectionStatus && !any; ++i)
        any = b[i] != 0;
    for (std::size_t i = conn::PipeList; i < b.size() && !any; ++i)
        any = b[i] != 0;
    c.m_dwNatural = conn::PipeList;
    if (!any)
        return c;
    CUsbDevice d;
    d.m_byLength = b[conn::bLength];
    d.m_byDescriptorType = b[conn::bDescriptorType];
    d.m_wBcdUsb = Le16(&b[conn::bcdUSB]);
    d.m_byDeviceClass = b[conn::bDeviceClass];
    d.m_byDeviceSubClass = b[conn::bDeviceSubClass];
    d.m_byDeviceProtocol = b[conn::bDeviceProtocol];
    d.m_byMaxPacketSize0 = b[conn::bMaxPacketSize0];
    d.m_wIdVendor = Le16(&b[conn::idVendor]);
    d.m_wIdProduct = Le16(&b[conn::idProduct]);
    d.m_wBcdDevice = Le16(&b[conn::bcdDevice]);
    d.m_byManufacturer = b[conn::iManufacturer];
    d.m_byProduct = b[conn::iProduct];
    d.m_bySerialNumber = b[conn::iSerialNumber];
    d.m_byNumConfigurations = b[conn::bNumConfigurations];
    d.m_byCurrentConfigurationValue = b[conn::CurrentConfigurationValue];
    // The legacy reply has LowSpeed where the extended one has Speed; a device the legacy
    // request calls fast is full speed as far as anyone can tell.
    if (legacy)
        d.m_bySpeed = b[conn::Speed] != 0 ? kUsbLowSpeed : kUsbFullSpeed;
    else
        d.m_bySpeed = b[conn::Speed];
    d.m_bDeviceIsHub = b[conn::DeviceIsHub] != 0;
    d.m_wDeviceAddress = Le16(&b[conn::DeviceAddress]);
    d.m_dwNumberOfOpenPipes = Le32(&b[conn::NumberOfOpenPipes]);
    // The pipes delivered: as the byte count says, or as far as the list holds anything.
    std::size_t pipes = 0;
    const DWORD returned = a.m_dwReturned;
    if (returned >= conn::PipeList && returned <= kConnectionInfoSize &&
        (returned - conn::PipeList) % conn::PipeInfoSize == 0) {
        pipes = (returned - conn::PipeList) / conn::PipeInfoSize;
    } else {
        for (std::size_t p = 0; p < conn::PipeCount; ++p)
            for (std::size_t i = 0; i < conn::PipeInfoSize; ++i)
                if (b[conn::PipeList + p * conn::PipeInfoSize + i] != 0)
                    pipes = p + 1;
    }
    for (std::size_t p = 0; p < pipes; ++p) {
        const BYTE* at = &b[conn::PipeList + p * conn::PipeInfoSize];
        CPipeInfo pipe;
        std::copy(at, at + 7, pipe.m_abyEndpointDescriptor.begin());
        pipe.m_dwScheduleOffset = Le32(at + 7);
        d.m_vPipes.push_back(pipe);
    }
    c.m_dwNatural = static_cast<DWORD>(conn::PipeList + pipes * conn::PipeInfoSize);
    c.m_optDevice = std::move(d);
    return c;
}

// One string descriptor request into the device: a language list or a descriptor, as text
// when the reply was a well-formed one, as raw bytes otherwise, with its faults.
void EncodeDescriptor(const CIoSeries& s, BYTE index, WORD language, CUsbDevice& d) {
    const CIoAnswer* a = s.First();
    if (a == nullptr)
        return;
    CRequestFault f = FailurePattern(s);
    if (f.m_bFail)
        return;  // the device stalls it: the model refuses what it does not have
    CStringDescriptor sd;
    sd.m_byIndex = index;
    sd.m_wLanguage = language;
    if (IsNoWrite(*a)) {
        f.m_bNoWrite = true;
        if (index == 0)
            sd.m_optRaw = Bytes{};
        sd.m_faults = f;
        d.m_vStrings.push_back(std::move(sd));
        return;
    }
    Bytes region;
    if (a->m_vOut.size() > kDescriptorRequestHeaderSize)
        region.assign(a->m_vOut.begin() + kDescriptorRequestHeaderSize,
                      a->m_vOut.begin() + static_cast<std::ptrdiff_t>(
                                              std::min(a->m_vOut.size(), kDescriptorRequestSize)));
    std::size_t used = region.size();
    while (used > 0 && region[used - 1] == 0)
        --used;
    const bool wellFormed = region.size() >= 2 && region[1] == 3 && region[0] >= 2 &&
                            region[0] % 2 == 0 && used <= region[0] && region[0] <= region.size();
    DWORD natural = 0;
    if (wellFormed) {
        const std::size_t n = region[0];
        std::u16string units;
        for (std::size_t i = 2; i + 1 < n; i += 2)
            units += static_cast<char16_t>(Le16(&region[i]));
        natural = static_cast<DWORD>(kDescriptorRequestHeaderSize + n);
        if (a->m_dwReturned != natural)
            f.m_optBytesReturned = a->m_dwReturned;
        if (index == 0) {
            d.m_optLanguageIds = std::vector<WORD>(units.begin(), units.end());
            if (f.IsDefault())
                return;
            sd.m_optRaw = Bytes(region.begin(), region.begin() + static_cast<std::ptrdiff_t>(n));
        } else if (Utf8Holds(units)) {
            sd.m_wstrText = units;
        } else {
            sd.m_optRaw = Bytes(region.begin(), region.begin() + static_cast<std::ptrdiff_t>(n));
        }
    } else {
        sd.m_optRaw = Bytes(region.begin(), region.begin() + static_cast<std::ptrdiff_t>(used));
        natural = static_cast<DWORD>(kDescriptorRequestHeaderSize + used);
        if (a->m_dwReturned != natural)
            f.m_optBytesReturned = a->m_dwReturned;
    }
    sd.m_faults = f;
    d.m_vStrings.push_back(std::move(sd));
}

std::vector<WORD> LanguagesIn(const CIoSeries& s) {
    CUsbDevice probe;
    EncodeDescriptor(s, 0, 0, probe);
    if (!probe.m_optLanguageIds)
        return {};
    std::vector<WORD> out = *probe.m_optLanguageIds;
    if (out.size() > kMaxLanguages)
        out.resize(kMaxLanguages);
    return out;
}

// --- Registry properties ----------------------------------------------------------------

// The value bytes of a read that succeeded: as long as the length answered says, when that
// fits the buffer; up to and with the first NUL otherwise.
Bytes ValueOf(const CCmAnswer& a) {
    const std::string& data = a.m_strData;
    if (a.m_ulLength > 0 && a.m_ulLength <= a.m_ulBuffer && a.m_ulLength <= data.size())
        return Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(a.m_ulLength));
    const std::size_t nul = data.find('\0');
    const std::size_t n = nul == std::string::npos ? data.size() : nul + 1;
    return Bytes(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(n));
}

// A value as the model holds it: REG_SZ text, a multi-string, or the exact bytes.
CRegistryProperty PropertyFromBytes(ULONG code, const Bytes& v) {
    CRegistryProperty p;
    p.m_ulCode = code;
    const bool filters = code == CM_DRP_UPPERFILTERS || code == CM_DRP_LOWERFILTERS;
    auto text = [](const BYTE* b, std::size_t n, std::string* out) {
        bool exact = false;
        *out = ModelText(std::string_view(reinterpret_cast<const char*>(b), n), &exact);
        return exact;
    };
    const auto firstNul = std::find(v.begin(), v.end(), BYTE(0));
    if (!v.empty() && firstNul == v.end() - 1) {
        std::string s;
        if (text(v.data(), v.size() - 1, &s)) {
            p.m_ulType = kRegTypeSz;
            p.m_vValues.push_back(std::move(s));
            return p;
        }
    }
    // s1 NUL s2 NUL ... NUL NUL, every string non-empty.
    if (v.size() >= 3 && v[v.size() - 1] == 0 && v[v.size() - 2] == 0 && v[0] != 0) {
        std::vector<std::string> values;
        bool ok = true;
        std::size_t at = 0;
        while (ok && at + 1 < v.size()) {
            std::size_t end = at;
            while (end < v.size() && v[end] != 0)
                ++end;
            std::string s;
            ok = end > at && text(&v[at], end - at, &s);
            values.push_back(std::move(s));
            at = end + 1;
        }
        if (ok && at + 1 == v.size()) {
            p.m_ulType = kRegTypeMultiSz;
            p.m_vValues = std::move(values);
            return p;
        }
    }
    p.m_ulType = filters ? kRegTypeMultiSz : kRegTypeSz;
    p.m_optRaw = v;
    return p;
}

// --- The builder ------------------------------------------------------------------------

class CBuilder {
  public:
    CBuilder(CCaptureLog& log, IPlatform& backend) : m_log(log), m_backend(backend) {}

    CMachineModel Build() {
        BuildNodes();
        BuildUsb();
        BuildVolumes();
        m_model.m_faults.m_bHostControllerSetFails = m_log.m_controllerInterfaces.m_bSetFailed;
        m_model.m_faults.m_bVolumeSetFails = m_log.m_volumeInterfaces.m_bSetFailed;
        WriteNotes();
        return std::move(m_model);
    }

  private:
    struct CNode {
        DEVINST m_inst = 0;  // 0: the stand-in root, or a node known by its ID only
        const CNodeLog* m_pLog = nullptr;
        const CIdLog* m_pIdLog = nullptr;
        std::string m_strId;  // ANSI
        std::optional<std::size_t> m_optParent;
        std::optional<std::size_t> m_optFirstChild;
        std::optional<std::size_t> m_optAfter;
        std::vector<std::size_t> m_vChildren;
        // The recorder's own answers.
        std::map<ULONG, CCmAnswer> m_mapExtraProperties;
        std::optional<CCmAnswer> m_optExtraStatus;
    };

    // --- Asking the backend ---------------------------------------------------------------

    std::optional<std::string> AskDeviceId(DEVINST inst) {
        for (ULONG size : {ULONG(MAX_DEVICE_ID_LEN), kMaxIdRead}) {
            std::string buffer(size, '\0');
            const CONFIGRET cr = m_backend.CM_Get_Device_IDA(inst, buffer.data(), size, 0);
            if (cr == CR_SUCCESS) {
                buffer.resize(std::min<std::size_t>(buffer.find('\0'), buffer.size()));
                if (buffer.empty())
                    return std::nullopt;
                return buffer;
            }
            if (cr != CR_BUFFER_SMALL)
                return std::nullopt;
        }
        return std::nullopt;
    }

    // A property read the way a careful caller does it: the size first, then the value.
    CCmAnswer AskProperty(DEVINST inst, ULONG code) {
        CCmAnswer a;
        ULONG length = 0;
        a.m_cr =
            m_backend.CM_Get_DevNode_Registry_PropertyA(inst, code, nullptr, nullptr, &length, 0);
        if (a.m_cr != CR_BUFFER_SMALL || length == 0 || length > kMaxPropertyRead)
            return a;
        std::string buffer(length, '\0');
        ULONG size = length;
        a.m_cr = m_backend.CM_Get_DevNode_Registry_PropertyA(inst, code, nullptr, buffer.data(),
                                                             &size, 0);
        a.m_ulBuffer = length;
        a.m_ulLength = size;
        a.m_bWritten = buffer != std::string(length, '\0') || size != length;
        a.m_strData = std::move(buffer);
        return a;
    }

    void CompleteNode(CNode& n) {
        if (n.m_inst == 0)
            return;
        auto scanned = [&](ECmOp op, ULONG code) -> const CCmSeries* {
            if (n.m_pLog == nullptr)
                return nullptr;
            auto it = n.m_pLog->m_mapCalls.find({op, code});
            return it == n.m_pLog->m_mapCalls.end() ? nullptr : &it->second;
        };
        const CCmSeries* status = scanned(ECmOp::Status, 0);
        if (status == nullptr || !Succeeded(status->m_optFirst)) {
            CCmAnswer a;
            a.m_cr = m_backend.CM_Get_DevNode_Status(&a.m_ulStatus, &a.m_ulProblem, n.m_inst, 0);
            a.m_bWritten = true;
            n.m_optExtraStatus = a;
        }
        for (ULONG code : kProperties) {
            const CCmSeries* read = scanned(ECmOp::PropertyRead, code);
            if (read != nullptr && read->m_optFirst &&
                (Succeeded(read->m_optFirst) || read->m_optFirst->m_cr == CR_NO_SUCH_VALUE))
                continue;
            const CCmSeries* size = scanned(ECmOp::PropertySize, code);
            if (read == nullptr && size != nullptr && size->m_optFirst &&
                size->m_optFirst->m_cr == CR_NO_SUCH_VALUE)
                continue;
            n.m_mapExtraProperties[code] = AskProperty(n.m_inst, code);
        }
    }

    // --- Device nodes ---------------------------------------------------------------------

    const CCmSeries* Series(const CNode& n, ECmOp op, ULONG code = 0) const {
        if (n.m_pLog == nullptr)
            return nullptr;
        auto it = n.m_pLog->m_mapCalls.find({op, code});
        return it == n.m_pLog->m_mapCalls.end() ? nullptr : &it->second;
    }
    const CCmAnswer* First(const CNode& n, ECmOp op, ULONG code = 0) const {
        const CCmSeries* s = Series(n, op, code);
        return s != nullptr && s->m_optFirst ? &*s->m_optFirst : nullptr;
    }

    std::size_t AddNode(DEVINST inst) {
        const std::size_t index = m_vNodes.size();
        CNode n;
        n.m_inst = inst;
        auto it = m_log.m_mapNodes.find(inst);
        if (it != m_log.m_mapNodes.end())
            n.m_pLog = &it->second;
        m_vNodes.push_back(std::move(n));
        if (inst != 0)
            m_mapByInst[inst] = index;
        return index;
    }

    std::optional<std::size_t> NodeOf(DEVINST inst) const {
        auto it = m_mapByInst.find(inst);
        return it == m_mapByInst.end() ? std::nullopt : std::optional<std::size_t>(it->second);
    }

    // Whether `a` is `b` or stands above it.
    bool IsAncestorOrSelf(std::size_t a, std::size_t b) const {
        std::optional<std::size_t> at = b;
        for (std::size_t steps = 0; at && steps <= m_vNodes.size(); ++steps) {
            if (*at == a)
                return true;
            at = m_vNodes[*at].m_optParent;
        }
        return false;
    }

    bool Place(std::size_t child, std::size_t parent) {
        if (child == 0 || m_vNodes[child].m_optParent || IsAncestorOrSelf(child, parent))
            return false;
        m_vNodes[child].m_optParent = parent;
        return true;
    }

    std::optional<std::size_t> TargetOf(const CCmAnswer* a) const {
        if (a == nullptr || a->m_cr != CR_SUCCESS || !a->m_bWritten || a->m_target == 0)
            return std::nullopt;
        return NodeOf(a->m_target);
    }

    // Observed next siblings follow their nodes under the same parent.
    void FollowSiblings() {
        for (bool changed = true; changed;) {
            changed = false;
            for (std::size_t i = 0; i < m_vNodes.size(); ++i) {
                CNode& n = m_vNodes[i];
                if (!n.m_optParent || n.m_optAfter)
                    continue;
                auto next = TargetOf(First(n, ECmOp::Sibling));
                if (next && Place(*next, *n.m_optParent)) {
                    m_vNodes[i].m_optAfter = *next;
                    changed = true;
                }
            }
        }
    }

    // A stand-in text, numbered per kind so that a capture of a replay numbers alike.
    std::string Placeholder(const char* format) {
        for (unsigned& n = m_mapPlaceholders[format];;) {
            char buf[96];
            std::snprintf(buf, sizeof buf, format, ++n);
            if (!m_setIds.count(UpperAscii(buf)) && !m_setUsedTexts.count(UpperAscii(buf)))
                return buf;
        }
    }

    void BuildNodes() {
        // The root first: the node that locating no ID answered (the scan's answer, or the
        // backend's when the scan did not ask), or a stand-in.
        DEVINST root = 0;
        if (Succeeded(m_log.m_optRootLocate)) {
            root = m_log.m_optRootLocate->m_target;
        } else if (!m_log.m_optRootLocate &&
                   m_backend.CM_Locate_DevNodeA(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL) !=
                       CR_SUCCESS) {
            root = 0;
        }
        AddNode(root);
        std::vector<std::pair<std::size_t, DEVINST>> order;
        for (const auto& [inst, log] : m_log.m_mapNodes)
            order.emplace_back(log.m_order, inst);
        std::sort(order.begin(), order.end());
        for (const auto& entry : order)
            if (!NodeOf(entry.second))
                AddNode(entry.second);

        // Instance IDs: as the scan read them, as it located them, or as the backend answers.
        std::map<DEVINST, std::string> located;
        for (const auto& [key, idLog] : m_log.m_mapIds)
            if (Succeeded(idLog.m_locate.m_optFirst))
                located.emplace(idLog.m_locate.m_optFirst->m_target, idLog.m_strId);
        for (CNode& n : m_vNodes) {
            const CCmAnswer* read = First(n, ECmOp::DeviceId);
            if (read != nullptr && read->m_cr == CR_SUCCESS && read->m_bWritten &&
                !read->m_strData.empty()) {
                n.m_strId = read->m_strData;
            } else if (auto it = located.find(n.m_inst); n.m_inst != 0 && it != located.end()) {
                n.m_strId = it->second;
            } else if (n.m_inst != 0) {
                n.m_strId = AskDeviceId(n.m_inst).value_or("");
            }
            CompleteNode(n);
        }
        // Without a root from locating no ID, the node of the root's ID is the root.
        if (m_vNodes[0].m_inst == 0) {
            for (std::size_t i = 1; i < m_vNodes.size(); ++i) {
                if (UpperAscii(m_vNodes[i].m_strId) != UpperAscii(kRootInstanceId))
                    continue;
                std::swap(m_vNodes[0], m_vNodes[i]);
                m_vNodes.erase(m_vNodes.begin() + static_cast<std::ptrdiff_t>(i));
                m_mapByInst.clear();
                for (std::size_t j = 0; j < m_vNodes.size(); ++j)
                    if (m_vNodes[j].m_inst != 0)
                        m_mapByInst[m_vNodes[j].m_inst] = j;
                break;
            }
        }
        if (m_vNodes[0].m_strId.empty())
            m_vNodes[0].m_strId = kRootInstanceId;

        // Placement: where the scan saw a node come as a child, a sibling or a parent.
        for (std::size_t i = 0; i < m_vNodes.size(); ++i) {
            auto child = TargetOf(First(m_vNodes[i], ECmOp::Child));
            if (child && Place(*child, i))
                m_vNodes[i].m_optFirstChild = *child;
        }
        FollowSiblings();
        for (std::size_t i = 1; i < m_vNodes.size(); ++i)
            if (auto parent = TargetOf(First(m_vNodes[i], ECmOp::Parent)))
                Place(i, *parent);
        FollowSiblings();
        // Nodes the scan met only by instance ID or by handle: the backend's parent, and its
        // parent in turn, as far as they are new.
        std::size_t added = 0;
        for (std::size_t i = 1; i < m_vNodes.size(); ++i) {
            if (m_vNodes[i].m_optParent || m_vNodes[i].m_inst == 0)
                continue;
            DEVINST parent = 0;
            if (m_backend.CM_Get_Parent(&parent, m_vNodes[i].m_inst, 0) != CR_SUCCESS ||
                parent == 0)
                continue;
            auto p = NodeOf(parent);
            if (!p && added < kMaxParentNodes && m_vNodes.size() < kMaxNodes) {
                ++added;
                const std::string id = AskDeviceId(parent).value_or("");
                if (m_vNodes[0].m_inst == 0 && UpperAscii(id) == UpperAscii(m_vNodes[0].m_strId)) {
                    // The root, met from below: it takes the stand-in's place.
                    m_vNodes[0].m_inst = parent;
                    m_mapByInst[parent] = 0;
                    p = 0;
                } else {
                    p = AddNode(parent);
                    m_vNodes[*p].m_strId = id;
                }
                CompleteNode(m_vNodes[*p]);
            }
            if (p)
                Place(i, *p);
        }
        FollowSiblings();

        UniqueIds();
        AttachIdLogs();
        for (std::size_t i = 1; i < m_vNodes.size(); ++i)
            if (!m_vNodes[i].m_optParent)
                m_vNodes[i].m_optParent = 0;
        OrderChildren();
        LimitDepth();
        EmitNodes();
    }

    void UniqueIds() {
        for (CNode& n : m_vNodes) {
            if (n.m_strId.empty() || m_setIds.count(UpperAscii(n.m_strId))) {
                if (!n.m_strId.empty())
                    ++m_duplicateIds;
                n.m_strId = Placeholder("UNREAD\\NODE\\%04u");
                ++m_unreadIds;
            }
            m_setIds.insert(UpperAscii(n.m_strId));
        }
    }

    // Calls that named a device by its instance ID belong to the node of that ID; one the
    // scan did not otherwise meet is added when it answered anything but "no such device".
    void AttachIdLogs() {
        std::map<std::string, std::size_t> byId;
        for (std::size_t i = 0; i < m_vNodes.size(); ++i)
            byId.emplace(UpperAscii(m_vNodes[i].m_strId), i);
        auto matters = [](const CCmSeries& s) {
            return s.m_optFirst && s.m_optFirst->m_cr != CR_NO_SUCH_DEVNODE;
        };
        for (const auto& [key, idLog] : m_log.m_mapIds) {
            auto it = byId.find(key);
            if (it == byId.end()) {
                const bool locatedElsewhere = Succeeded(idLog.m_locate.m_optFirst);
                if (locatedElsewhere || m_vNodes.size() >= kMaxNodes ||
                    !(matters(idLog.m_locate) || matters(idLog.m_relationsSize) ||
                      matters(idLog.m_relationsList)))
                    continue;
                const std::size_t index = AddNode(0);
                m_vNodes[index].m_strId = idLog.m_strId;
                m_setIds.insert(key);
                it = byId.emplace(key, index).first;
            }
            m_vNodes[it->second].m_pIdLog = &idLog;
        }
    }

    void OrderChildren() {
        std::vector<std::vector<std::size_t>> byParent(m_vNodes.size());
        for (std::size_t i = 1; i < m_vNodes.size(); ++i)
            byParent[*m_vNodes[i].m_optParent].push_back(i);
        std::vector<bool> listed(m_vNodes.size(), false);
        for (std::size_t p = 0; p < m_vNodes.size(); ++p) {
            std::vector<std::size_t>& out = m_vNodes[p].m_vChildren;
            auto chain = [&](std::size_t from) {
                for (std::optional<std::size_t> at = from;
                     at && !listed[*at] && m_vNodes[*at].m_optParent == p;
                     at = m_vNodes[*at].m_optAfter) {
                    listed[*at] = true;
                    out.push_back(*at);
                }
            };
            if (m_vNodes[p].m_optFirstChild)
                chain(*m_vNodes[p].m_optFirstChild);
            for (std::size_t c : byParent[p])
                chain(c);
        }
    }

    // A node deeper than the written tree may nest is hung below the root instead.
    void LimitDepth() {
        std::deque<std::pair<std::size_t, std::size_t>> queue{{0, 0}};
        while (!queue.empty()) {
            const auto [at, depth] = queue.front();
            queue.pop_front();
            std::vector<std::size_t> kept;
            for (std::size_t c : m_vNodes[at].m_vChildren) {
                if (depth + 1 > kMaxTreeDepth) {
                    m_vNodes[c].m_optParent = 0;
                    m_vNodes[0].m_vChildren.push_back(c);
                    queue.emplace_back(c, 1);
                    ++m_rehung;
                } else {
                    kept.push_back(c);
                    queue.emplace_back(c, depth + 1);
                }
            }
            // The root comes first, before any node is hung below it.
            m_vNodes[at].m_vChildren = std::move(kept);
        }
    }

    // What the model would answer for a navigation from node i, from the tree alone.
    std::optional<std::size_t> Natural(ECmOp op, std::size_t i) const {
        const CNode& n = m_vNodes[i];
        if (op == ECmOp::Child)
            return n.m_vChildren.empty() ? std::nullopt
                                         : std::optional<std::size_t>(n.m_vChildren.front());
        if (i == 0 || !n.m_optParent)
            return std::nullopt;
        if (op == ECmOp::Parent)
            return n.m_optParent;
        const auto& siblings = m_vNodes[*n.m_optParent].m_vChildren;
        auto it = std::find(siblings.begin(), siblings.end(), i);
        if (it == siblings.end() || it + 1 == siblings.end())
            return std::nullopt;
        return *(it + 1);
    }

    // A navigation answer the tree does not give by itself becomes a link or a fault.
    void NavigationFault(std::size_t i, ECmOp op, std::optional<CCmFault>& fault,
                         std::optional<std::string>& link) {
        const CCmAnswer* a = First(m_vNodes[i], op);
        if (a == nullptr)
            return;
        const std::optional<std::size_t> natural = Natural(op, i);
        if (a->m_cr == CR_SUCCESS) {
            auto target = TargetOf(a);
            if (!a->m_bWritten || a->m_target == 0) {
                fault = CCmFault{CR_SUCCESS, true};
            } else if (target && target != natural) {
                link = ModelText(m_vNodes[*target].m_strId);
            }
            return;
        }
        if (a->m_cr == CR_NO_SUCH_DEVNODE) {
            if (natural)
                link = std::string();
            return;
        }
        fault = CCmFault{a->m_cr, false};
    }

    static std::optional<CCmFault> CmFaultOf(const CCmAnswer& a) {
        if (a.m_cr == CR_SUCCESS)
            return a.m_bWritten ? std::nullopt
                                : std::optional<CCmFault>(CCmFault{CR_SUCCESS, true});
        return CCmFault{a.m_cr, false};
    }

    void Properties(const CNode& n, CDevNode& node) {
        std::set<ULONG> codes;
        if (n.m_pLog != nullptr)
            for (const auto& [key, series] : n.m_pLog->m_mapCalls)
                if (key.first == ECmOp::PropertyRead || key.first == ECmOp::PropertySize)
                    codes.insert(key.second);
        for (const auto& [code, answer] : n.m_mapExtraProperties)
            codes.insert(code);
        for (ULONG code : codes) {
            const CCmAnswer* read = First(n, ECmOp::PropertyRead, code);
            const CCmAnswer* size = First(n, ECmOp::PropertySize, code);
            auto extraIt = n.m_mapExtraProperties.find(code);
            const CCmAnswer* extra =
                extraIt == n.m_mapExtraProperties.end() ? nullptr : &extraIt->second;
            std::optional<Bytes> value;
            std::optional<CCmFault> fault;
            bool absent = false;
            if (read != nullptr) {
                if (read->m_cr == CR_SUCCESS) {
                    if (read->m_bWritten)
                        value = ValueOf(*read);
                    else
                        fault = CCmFault{CR_SUCCESS, true};
                } else if (read->m_cr == CR_NO_SUCH_VALUE) {
                    absent = true;
                } else if (read->m_cr != CR_BUFFER_SMALL) {
                    fault = CCmFault{read->m_cr, false};
                }
            } else if (size != nullptr) {
                if (size->m_cr == CR_NO_SUCH_VALUE)
                    absent = true;
                else if (size->m_cr == CR_SUCCESS)
                    fault = CCmFault{CR_SUCCESS, true};
                else if (size->m_cr != CR_BUFFER_SMALL)
                    fault = CCmFault{size->m_cr, false};
                else if (size->m_ulLength == 0)
                    value = Bytes{}, fault = CCmFault{CR_BUFFER_SMALL, false};
            }
            if (absent)
                continue;
            if (!value && extra != nullptr && extra->m_cr == CR_SUCCESS && extra->m_bWritten)
                value = ValueOf(*extra);
            // A value that was never read but whose size was answered: a stand-in of that
            // size, so that a refused read reports the same size again.
            const CCmAnswer* sized = read != nullptr ? read : size;
            if (!value && sized != nullptr && sized->m_cr == CR_BUFFER_SMALL &&
                sized->m_ulLength > 0 && sized->m_ulLength <= kMaxPropertyRead)
                value = StandInValue(sized->m_ulLength);
            // A value too long for the scan's buffer is refused by the model by itself; one
            // that would fit is refused by a fault.
            if (read != nullptr && read->m_cr == CR_BUFFER_SMALL &&
                (!value || value->size() <= read->m_ulBuffer))
                fault = CCmFault{CR_BUFFER_SMALL, false};
            if (value)
                node.m_vProperties.push_back(PropertyFromBytes(code, *value));
            if (fault)
                node.m_faults.m_vProperties.push_back({code, *fault});
        }
    }

    void NodeFields(std::size_t i, CDevNode& node) {
        const CNode& n = m_vNodes[i];
        bool exact = true;
        node.m_strInstanceId = ModelText(n.m_strId, &exact);
        if (!exact)
            ++m_inexactTexts;
        CDevNodeFaults& f = node.m_faults;
        NavigationFault(i, ECmOp::Child, f.m_optChild, f.m_optChildLink);
        NavigationFault(i, ECmOp::Sibling, f.m_optSibling, f.m_optSiblingLink);
        NavigationFault(i, ECmOp::Parent, f.m_optParent, f.m_optParentLink);
        if (const CCmAnswer* id = First(n, ECmOp::DeviceId)) {
            if (id->m_cr == CR_SUCCESS) {
                if (!id->m_bWritten || id->m_strData.empty())
                    f.m_optDeviceId = CCmFault{CR_SUCCESS, true};
                else if (UpperAscii(id->m_strData) != UpperAscii(n.m_strId))
                    ++m_idMismatches;
            } else if (id->m_cr != CR_BUFFER_SMALL || n.m_strId.size() <= MAX_DEVICE_ID_LEN) {
                f.m_optDeviceId = CCmFault{id->m_cr, false};
            }
        }
        const CCmAnswer* status = First(n, ECmOp::Status);
        const CCmAnswer* values = status;
        if (status != nullptr && status->m_cr == CR_SUCCESS && status->m_bWritten) {
            // as answered
        } else {
            if (status != nullptr)
                f.m_optStatus = CmFaultOf(*status);
            values = n.m_optExtraStatus && n.m_optExtraStatus->m_cr == CR_SUCCESS
                         ? &*n.m_optExtraStatus
                         : nullptr;
        }
        if (values != nullptr) {
            node.m_ulStatus = values->m_ulStatus;
            node.m_ulProblem = values->m_ulProblem;
        }
        Properties(n, node);
        if (i == 0 && m_log.m_optRootLocate)
            f.m_optLocate = CmFaultOf(*m_log.m_optRootLocate);
        if (n.m_pIdLog != nullptr) {
            const CIdLog& idLog = *n.m_pIdLog;
            if (const auto& l = idLog.m_locate.m_optFirst) {
                if (l->m_cr != CR_SUCCESS || !l->m_bWritten)
                    f.m_optLocate = CmFaultOf(*l);
                else if (NodeOf(l->m_target) != i)
                    ++m_idMismatches;
            }
            if (const auto& s = idLog.m_relationsSize.m_optFirst)
                f.m_optRemovalRelationsSize = CmFaultOf(*s);
            if (const auto& l = idLog.m_relationsList.m_optFirst) {
                if (l->m_cr != CR_SUCCESS) {
                    f.m_optRemovalRelationsList = CCmFault{l->m_cr, false};
                } else if (!l->m_bWritten) {
                    // An empty list and one that wrote nothing look alike; only a size above
                    // the empty list's says which. The IDs were never read: stand-ins keep
                    // the size that was answered.
                    const auto& s = idLog.m_relationsSize.m_optFirst;
                    if (s && s->m_ulLength > 1) {
                        f.m_optRemovalRelationsList = CCmFault{CR_SUCCESS, true};
                        node.m_vRemovalRelations = StandInRelations(s->m_ulLength);
                    }
                } else {
                    const std::string& data = l->m_strData;
                    std::size_t at = 0;
                    while (at < data.size() && data[at] != '\0') {
                        const std::size_t end = std::min(data.find('\0', at), data.size());
                        bool relationExact = true;
                        node.m_vRemovalRelations.push_back(
                            ModelText(std::string_view(data).substr(at, end - at), &relationExact));
                        if (!relationExact)
                            ++m_inexactTexts;
                        at = end + 1;
                    }
                }
            }
        }
    }

    // A text value of `size` bytes, its NUL included.
    static Bytes StandInValue(ULONG size) {
        static const std::string kText = "UNREAD-VALUE";
        Bytes out(kText.begin(), kText.begin() + std::min<std::size_t>(size - 1, kText.size()));
        out.resize(size - 1, 'X');
        out.push_back(0);
        return out;
    }

    // Instance IDs that fill a list of `size` characters, terminators included.
    static std::vector<std::string> StandInRelations(ULONG size) {
        static const std::string kText = "UNREAD-RELATION";
        std::vector<std::string> out;
        std::size_t left = std::min<std::size_t>(size, kMaxPropertyRead) - 1;
        while (left >= 2) {
            const std::size_t n = std::min<std::size_t>(left - 1, MAX_DEVICE_ID_LEN - 1);
            std::string id = kText.substr(0, std::min(n, kText.size()));
            id.resize(n, 'X');
            out.push_back(std::move(id));
            left -= n + 1;
        }
        return out;
    }

    void EmitNodes() {
        // Depth first, so that the model lists the nodes in the tree's own order.
        std::vector<std::pair<std::size_t, std::optional<std::size_t>>> stack{{0, std::nullopt}};
        while (!stack.empty()) {
            auto [i, parent] = stack.back();
            stack.pop_back();
            CDevNode node;
            NodeFields(i, node);
            const std::size_t index = m_model.AddNode(std::move(node), parent);
            const auto& children = m_vNodes[i].m_vChildren;
            for (auto it = children.rbegin(); it != children.rend(); ++it)
                stack.emplace_back(*it, index);
        }
        for (std::size_t i = 0; i < m_vNodes.size(); ++i)
            m_mapModelIds[m_vNodes[i].m_inst] = ModelText(m_vNodes[i].m_strId);
    }

    // --- USB --------------------------------------------------------------------------

    void FillController(CHostController& hc, const CControllerLog& log) {
        if (log.m_optOpened == false)
            hc.m_faults.m_bOpenFails = true;
        const CNameReply key = EncodeName(log.m_driverKey, kHcdNameProbeSize);
        if (key.m_bAsked && !key.m_bFirstFailed) {
            hc.m_optDriverKey = key.m_wstrName;
            hc.m_faults.m_driverKey = key.m_fault;
        }
        CNameReply root = EncodeName(log.m_rootHubName, kHcdNameProbeSize);
        if (!root.m_bAsked || root.m_bFirstFailed)
            return;  // without a root hub the request fails
        if (root.m_bFetched && !root.m_wstrName.empty()) {
            RememberHubName(VisibleName(root.m_wstrName, root.m_fault, kHcdNameTextOffset));
        } else if (root.m_bFetched) {
            // An empty name, which opens nothing: a lone NUL reads as empty.
            Refit(root, std::u16string(1, u'\0'));
        } else if (!root.m_fault.m_bNoWrite) {
            // The scan never read the name (its reply was refused); the faults say why. The
            // stand-in begins with the letter the probe showed, or with a NUL where it showed
            // none, so that the probe reads as it did.
            std::u16string name =
                root.m_wstrName.empty() ? std::u16string(1, u'\0') : root.m_wstrName + u"#";
            Refit(root, name + Utf8ToUtf16(Placeholder("UNREAD-ROOT-HUB-%04u")));
        } else {
            root.m_wstrName = Utf8ToUtf16(Placeholder("UNREAD-ROOT-HUB-%04u"));
        }
        hc.m_optRootHubName = root.m_wstrName;
        hc.m_faults.m_rootHubName = root.m_fault;
    }

    // A hub takes the name the program opened it by, as the driver answered it.
    void RememberHubName(std::u16string_view visible) {
        if (!visible.empty())
            m_mapHubNames.emplace(HubKey(std::u16string(visible)), std::u16string(visible));
    }

    static std::string HubKey(const std::u16string& name) {
        return UpperAscii(Utf16ToAnsi(name.data(), name.size()));
    }

    // A stand-in interface path; with `required`, the size its detail call answered, one of
    // exactly the length that size asks for (a number where it is short), so that the size
    // query answers the same again.
    std::string InterfacePlaceholder(std::optional<DWORD> required = std::nullopt) {
        std::string p;
        const std::size_t length = required ? *required - kDevicePathOffset - 1 : 0;
        if (length > 0) {
            const std::string prefix = "\\\\?\\unread#interface#";
            const std::size_t digits =
                std::max<std::size_t>(std::min<std::size_t>(length, 4),
                                      length > prefix.size() ? length - prefix.size() : 0);
            const std::string head = prefix.substr(0, length - digits);
            for (unsigned& n = m_mapPlaceholders["interface path of a size"]; p.empty();) {
                const std::string number = std::to_string(++n);
                if (number.size() > digits)
                    break;  // none of that length is left
                std::string candidate = head + std::string(digits - number.size(), '0') + number;
                if (!m_setIds.count(UpperAscii(candidate)) &&
                    !m_setUsedTexts.count(UpperAscii(candidate)))
                    p = std::move(candidate);
            }
        }
        if (p.empty())
            p = Placeholder("\\\\?\\unread#interface#%04u");
        m_setUsedTexts.insert(UpperAscii(p));
        return p;
    }

    void BuildUsb() {
        // Controllers with an interface, in the interface list's order; then those that
        // answer only to their HCD name.
        std::vector<CHostController> controllers;
        std::vector<const CControllerLog*> logs;
        for (const CInterfaceLog& itf : m_log.m_controllerInterfaces.m_vInterfaces) {
            CHostController hc;
            const CControllerLog* log = nullptr;
            const DWORD required = itf.m_optRequired.value_or(0);
            if (required <= kDevicePathOffset || required > kMaxDetailSize) {
                hc.m_faults.m_interface.m_bRequiredSizeZero = true;
                hc.m_optInterfacePath = InterfacePlaceholder();
            } else if (!itf.m_optDetail || !*itf.m_optDetail || itf.m_strPath.empty()) {
                hc.m_faults.m_interface.m_bDetailFails = true;
                hc.m_optInterfacePath = InterfacePlaceholder(required);
            } else {
                hc.m_optInterfacePath = ModelText(itf.m_strPath);
                auto it = m_log.m_mapControllers.find(UpperAscii(itf.m_strPath));
                if (it != m_log.m_mapControllers.end()) {
                    log = &it->second;
                    FillController(hc, *log);
                }
            }
            controllers.push_back(std::move(hc));
            logs.push_back(log);
        }
        for (int n = 0; n <= 9; ++n) {
            auto it = m_log.m_mapControllers.find("\\\\.\\HCD" + std::to_string(n));
            if (it == m_log.m_mapControllers.end() || it->second.m_optOpened != true)
                continue;  // a name that opens nothing: the model has no such controller
            const CControllerLog& log = it->second;
            CHostController hc;
            hc.m_optHcdNumber = n;
            FillController(hc, log);
            // The same controller seen through its interface: one model controller answers
            // both paths when they answered alike, and only one of them was walked.
            bool merged = false;
            for (std::size_t c = 0; c < logs.size() && !merged; ++c) {
                CHostController& other = controllers[c];
                if (logs[c] == nullptr || other.m_optHcdNumber || other.m_faults.m_bOpenFails ||
                    logs[c]->m_rootHubName.m_dwCalls != 0 || !hc.m_optDriverKey ||
                    other.m_optDriverKey != hc.m_optDriverKey ||
                    !hc.m_faults.m_driverKey.IsDefault() || !other.m_faults.m_driverKey.IsDefault())
                    continue;
                other.m_optHcdNumber = n;
                other.m_optRootHubName = hc.m_optRootHubName;
                other.m_faults.m_rootHubName = hc.m_faults.m_rootHubName;
                merged = true;
            }
            if (!merged)
                controllers.push_back(std::move(hc));
        }
        m_model.m_vControllers = std::move(controllers);

        // Hub names as the drivers answered them, so that each hub keeps its UTF-16 name.
        for (const auto& [key, hub] : m_log.m_mapHubs)
            for (const auto& [number, port] : hub.m_mapPorts) {
                const CNameReply name = EncodeName(port.m_nodeName, kPortNameProbeSize);
                if (name.m_bFetched)
                    RememberHubName(
                        VisibleName(name.m_wstrName, name.m_fault, kPortNameTextOffset));
            }
        for (const auto& [key, hubLog] : m_log.m_mapHubs)
            m_model.m_vHubs.push_back(BuildHub(key, hubLog));
    }

    CUsbHub BuildHub(const std::string& key, const CHubLog& log) {
        CUsbHub hub;
        auto name = m_mapHubNames.find(key);
        hub.m_wstrName =
            name != m_mapHubNames.end() ? name->second : Utf8ToUtf16(ModelText(log.m_strName));
        if (log.m_optOpened == false) {
            hub.m_faults.m_bOpenFails = true;
            return hub;
        }
        hub.m_faults.m_nodeInformation = FailurePattern(log.m_nodeInformation);
        const CIoAnswer* info = log.m_nodeInformation.First();
        if (info == nullptr || !info->m_bResult)
            return hub;
        if (IsNoWrite(*info)) {
            hub.m_faults.m_nodeInformation.m_bNoWrite = true;
            return hub;
        }
        Bytes b = info->m_vOut;
        b.resize(kNodeInformationSize, 0);
        hub.m_dwNodeType = Le32(&b[0]);
        hub.m_byDescriptorLength = b[4];
        hub.m_byDescriptorType = b[5];
        hub.m_byNumberOfPorts = b[kNodeInfoPortCountOffset];
        hub.m_wHubCharacteristics = Le16(&b[7]);
        hub.m_byPowerOnToPowerGood = b[9];
        hub.m_byHubControlCurrent = b[10];
        std::copy(b.begin() + 11, b.begin() + 75, hub.m_abyRemoveAndPowerMask.begin());
        hub.m_bHubIsBusPowered = b[75] != 0;
        if (info->m_dwReturned != kNodeInformationSize)
            hub.m_faults.m_nodeInformation.m_optBytesReturned = info->m_dwReturned;

        HANDLE handle = INVALID_HANDLE_VALUE;
        for (DWORD p = 1; p <= hub.m_byNumberOfPorts; ++p) {
            auto it = log.m_mapPorts.find(p);
            if (it == log.m_mapPorts.end())
                continue;
            if (auto port = BuildPort(log, p, it->second, handle))
                hub.m_vPorts.push_back(std::move(*port));
        }
        if (handle != INVALID_HANDLE_VALUE)
            m_backend.CloseHandle(handle);
        return hub;
    }

    std::optional<CUsbPort> BuildPort(const CHubLog& hub, DWORD number, const CPortLog& log,
                                      HANDLE& handle) {
        CUsbPort port;
        port.m_dwPort = number;
        CPortFaults& faults = port.m_faults;
        faults.m_connectionInfoEx = FailurePattern(log.m_connectionEx);
        const CIoAnswer* data = nullptr;
        CRequestFault* dataFault = nullptr;
        bool legacy = false;
        const CIoAnswer* ex = log.m_connectionEx.First();
        if (ex != nullptr && ex->m_bResult) {
            if (IsNoWrite(*ex))
                faults.m_connectionInfoEx.m_bNoWrite = true;
            else
                data = ex, dataFault = &faults.m_connectionInfoEx;
        } else if (ex != nullptr) {
            faults.m_connectionInfo = FailurePattern(log.m_connection);
            const CIoAnswer* old = log.m_connection.First();
            if (old != nullptr && old->m_bResult) {
                if (IsNoWrite(*old))
                    faults.m_connectionInfo.m_bNoWrite = true;
                else
                    data = old, dataFault = &faults.m_connectionInfo, legacy = true;
            }
        }
        if (data != nullptr) {
            CConnection c = DecodeConnection(*data, legacy);
            port.m_dwConnectionStatus = c.m_dwStatus;
            port.m_optDevice = std::move(c.m_optDevice);
            if (data->m_dwReturned != c.m_dwNatural)
                dataFault->m_optBytesReturned = data->m_dwReturned;
        }
        if (port.m_optDevice) {
            CUsbDevice& d = *port.m_optDevice;
            const CNameReply key = EncodeName(log.m_driverKey, kPortNameProbeSize);
            if (key.m_bAsked && !key.m_bFirstFailed) {
                d.m_optDriverKey = key.m_wstrName;
                faults.m_driverKeyName = key.m_fault;
            }
            const CNameReply name = EncodeName(log.m_nodeName, kPortNameProbeSize);
            if (name.m_bAsked) {
                faults.m_nodeName = name.m_fault;
                if (!name.m_wstrName.empty())
                    d.m_optHubName = name.m_wstrName;
            }
            Strings(hub, number, log, d, port.m_dwConnectionStatus, handle);
        }
        if (!port.m_optDevice && port.m_dwConnectionStatus == NoDeviceConnected &&
            faults.m_connectionInfoEx.IsDefault() && faults.m_connectionInfo.IsDefault())
            return std::nullopt;  // an empty port is what the model answers for any unlisted
        return port;
    }

    // The recorder's own descriptor request, the way the scan sends one.
    CIoAnswer AskString(HANDLE hub, DWORD port, BYTE index, WORD language) {
        BYTE request[kDescriptorRequestSize] = {};
        for (int i = 0; i < 4; ++i)
            request[i] = static_cast<BYTE>((port >> (8 * i)) & 0xFF);
        const WORD wValue = static_cast<WORD>(0x0300 | index);
        request[6] = static_cast<BYTE>(wValue & 0xFF);
        request[7] = static_cast<BYTE>(wValue >> 8);
        request[8] = static_cast<BYTE>(language & 0xFF);
        request[9] = static_cast<BYTE>(language >> 8);
        request[10] = static_cast<BYTE>(kDescriptorRequestDataSize & 0xFF);
        request[11] = static_cast<BYTE>(kDescriptorRequestDataSize >> 8);
        const Bytes before(request, request + sizeof request);
        CIoAnswer a;
        a.m_dwOutSize = sizeof request;
        a.m_bResult = m_backend.DeviceIoControl(hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION,
                                                request, sizeof request, request, sizeof request,
                                                &a.m_dwReturned, nullptr);
        a.m_vOut.assign(request, request + sizeof request);
        a.m_bWritten = a.m_vOut != before;
        return a;
    }

    void Strings(const CHubLog& hub, DWORD number, const CPortLog& log, CUsbDevice& d, DWORD status,
                 HANDLE& handle) {
        std::map<std::pair<BYTE, WORD>, CIoSeries> strings = log.m_mapStrings;
        // Every string the device descriptor names, in every language the device lists.
        std::set<BYTE> indices;
        for (BYTE i : {d.m_byManufacturer, d.m_byProduct, d.m_bySerialNumber})
            if (i != 0)
                indices.insert(i);
        if (!indices.empty() && status == DeviceConnected) {
            auto ask = [&](BYTE index, WORD language) {
                if (handle == INVALID_HANDLE_VALUE) {
                    const std::string path = "\\\\.\\" + hub.m_strName;
                    handle = m_backend.CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE,
                                                   nullptr, OPEN_EXISTING, 0, nullptr);
                    if (handle == nullptr)
                        handle = INVALID_HANDLE_VALUE;
                }
                if (handle != INVALID_HANDLE_VALUE)
                    strings[{index, language}].Add(AskString(handle, number, index, language));
            };
            if (!strings.count({0, 0}))
                ask(0, 0);
            auto zero = strings.find({0, 0});
            if (zero != strings.end())
                for (WORD language : LanguagesIn(zero->second))
                    for (BYTE index : indices)
                        if (!strings.count({index, language}))
                            ask(index, language);
        }
        bool zeroDone = false;
        for (const auto& [key, series] : strings) {
            if (key.first == 0) {
                // The model answers descriptor 0 whatever the language; the scan asks for 0.
                if (zeroDone)
                    continue;
                zeroDone = true;
            }
            EncodeDescriptor(series, key.first, key.second, d);
        }
    }

    // --- Volumes ------------------------------------------------------------------------

    std::string VolumePlaceholder() {
        std::string p = Placeholder("\\\\?\\Volume{unread-%04u}\\");
        m_setUsedTexts.insert(UpperAscii(p));
        return p;
    }

    void BuildVolumes() {
        std::vector<CVolume> volumes;
        for (const CInterfaceLog& itf : m_log.m_volumeInterfaces.m_vInterfaces) {
            CVolume v;
            const DWORD required = itf.m_optRequired.value_or(0);
            if (required <= kDevicePathOffset || required > kMaxDetailSize) {
                v.m_faults.m_interface.m_bRequiredSizeZero = true;
                v.m_optInterfacePath = InterfacePlaceholder();
                v.m_strName = VolumePlaceholder();
            } else if (!itf.m_optDetail || !*itf.m_optDetail || itf.m_strPath.empty()) {
                v.m_faults.m_interface.m_bDetailFails = true;
                v.m_optInterfacePath = InterfacePlaceholder(required);
                v.m_strName = VolumePlaceholder();
            } else {
                v.m_optInterfacePath = ModelText(itf.m_strPath);
                auto mount = m_log.m_mapInterfaceMounts.find(UpperAscii(itf.m_strPath));
                if (mount != m_log.m_mapInterfaceMounts.end() && mount->second.m_bResult == 1 &&
                    !mount->second.m_strName.empty()) {
                    v.m_strName = ModelText(mount->second.m_strName);
                } else {
                    // No name: the call failed, or it answered success with none.
                    v.m_strName = VolumePlaceholder();
                    const bool claimed =
                        mount != m_log.m_mapInterfaceMounts.end() && mount->second.m_bResult == 1;
                    v.m_faults.m_interfaceMountPoint =
                        claimed ? ECallFault::NoWrite : ECallFault::Fail;
                }
                if (itf.m_optDevInst && *itf.m_optDevInst != 0) {
                    auto id = m_mapModelIds.find(*itf.m_optDevInst);
                    if (id != m_mapModelIds.end())
                        v.m_optInstanceId = id->second;
                }
            }
            volumes.push_back(std::move(v));
        }
        for (const auto& [letter, answer] : m_log.m_mapRootMounts) {
            if (answer.m_bResult != 1)
                continue;  // the scan takes nothing but exactly 1 for a name
            if (answer.m_strName.empty()) {
                CVolume v;
                v.m_strName = VolumePlaceholder();
                v.m_vLetters.push_back(letter);
                v.m_faults.m_rootMountPoint = ECallFault::NoWrite;
                volumes.push_back(std::move(v));
                continue;
            }
            const std::string name = ModelText(answer.m_strName);
            auto it = std::find_if(volumes.begin(), volumes.end(),
                                   [&](const CVolume& v) { return v.m_strName == name; });
            if (it == volumes.end()) {
                CVolume v;
                v.m_strName = name;
                volumes.push_back(std::move(v));
                it = volumes.end() - 1;
            }
            it->m_vLetters.push_back(letter);
        }
        m_model.m_vVolumes = std::move(volumes);
    }

    // --- Notes ------------------------------------------------------------------------

    void CountChanges() {
        auto io = [&](const CIoSeries& s) {
            m_changed += (s.m_bChanged || s.m_bRecovered) ? 1 : 0;
        };
        for (const auto& [k, c] : m_log.m_mapControllers) {
            io(c.m_driverKey);
            io(c.m_rootHubName);
        }
        for (const auto& [k, h] : m_log.m_mapHubs) {
            io(h.m_nodeInformation);
            for (const auto& [n, p] : h.m_mapPorts) {
                io(p.m_connectionEx);
                io(p.m_connection);
                io(p.m_driverKey);
                io(p.m_nodeName);
                for (const auto& [key, s] : p.m_mapStrings)
                    io(s);
            }
        }
        for (const auto& [inst, n] : m_log.m_mapNodes)
            for (const auto& [key, s] : n.m_mapCalls)
                m_changed += s.m_bChanged ? 1 : 0;
        for (const auto& [key, l] : m_log.m_mapIds)
            m_changed += (l.m_locate.m_bChanged || l.m_relationsSize.m_bChanged ||
                          l.m_relationsList.m_bChanged)
                             ? 1
                             : 0;
    }

    void WriteNotes() {
        CountChanges();
        auto note = [&](std::size_t count, const char* text) {
            if (count != 0)
                m_log.m_vNotes.push_back(std::to_string(count) + " " + text);
        };
        note(m_changed,
             "request(s) answered differently while the scan ran; the first answer of each is "
             "kept.");
        note(m_unreadIds, "device node(s) whose instance ID could not be read have a stand-in.");
        note(m_duplicateIds, "of those share their instance ID with an earlier node.");
        note(m_idMismatches, "device node(s) answered an instance ID other than the one kept.");
        note(m_inexactTexts, "text(s) of the configuration manager are not exact in this format.");
        note(m_rehung,
             "device node(s) deeper than the fixture nests hang below the root, with "
             "links that keep what the scan saw.");
        if (m_log.m_bNodesCut)
            m_log.m_vNotes.push_back(
                "The scan met more device nodes than are recorded; the "
                "fixture holds the first " +
                std::to_string(kMaxNodes) + ".");
    }

    CCaptureLog& m_log;
    IPlatform& m_backend;
    CMachineModel m_model;
    std::vector<CNode> m_vNodes;
    std::map<DEVINST, std::size_t> m_mapByInst;
    std::map<DEVINST, std::string> m_mapModelIds;  // UTF-8
    std::map<std::string, std::u16string> m_mapHubNames;
    std::set<std::string> m_setIds;        // upper-cased ANSI instance IDs
    std::set<std::string> m_setUsedTexts;  // stand-in paths and names, upper-cased
    std::map<std::string, unsigned> m_mapPlaceholders;
    std::size_t m_unreadIds = 0;
    std::size_t m_duplicateIds = 0;
    std::size_t m_idMismatches = 0;
    std::size_t m_inexactTexts = 0;
    std::size_t m_rehung = 0;
    std::size_t m_changed = 0;
};

}  // namespace

CMachineModel BuildCapturedModel(CCaptureLog& log, IPlatform& backend) {
    return CBuilder(log, backend).Build();
}

}  // namespace ks::capture

#include "platform/sim/FixtureLoader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "framework/CodePage.h"
#include "platform/sim/FixtureDocument.h"

namespace ks {

namespace {

using CValue = CFixtureValue;

// Where a value stands in the fixture, as a JSON pointer. It is spelled out only for an error
// message: a path is a key or an index below its parent's path, which outlives it (each is
// made on the way down and passed down).
class CPath {
  public:
    CPath(const char* root) : m_root(root) {}  // NOLINT: the top of the document
    CPath(const CPath& parent, std::string_view key) : m_pParent(&parent), m_key(key) {}
    CPath(const CPath& parent, std::size_t index)
        : m_pParent(&parent), m_index(index), m_bIndex(true) {}

    std::string Str() const {
        if (m_pParent == nullptr)
            return std::string(m_root);
        return m_pParent->Str() + "/" +
               (m_bIndex ? std::to_string(m_index) : FixturePointerToken(m_key));
    }
    bool IsRoot() const { return m_pParent == nullptr && m_root.empty(); }

  private:
    std::string_view m_root;
    const CPath* m_pParent = nullptr;
    std::string_view m_key;
    std::size_t m_index = 0;
    bool m_bIndex = false;
};

CPath Child(const CPath& path, std::string_view key) {
    return CPath(path, key);
}
CPath Child(const CPath& path, std::size_t index) {
    return CPath(path, index);
}

struct CNamed {
    std::string_view m_strName;
    std::uint32_t m_dwValue;
};

constexpr CNamed kConnectionStatuses[] = {
    {"NoDeviceConnected", NoDeviceConnected},
    {"DeviceConnected", DeviceConnected},
    {"DeviceFailedEnumeration", DeviceFailedEnumeration},
    {"DeviceGeneralFailure", DeviceGeneralFailure},
    {"DeviceCausedOvercurrent", DeviceCausedOvercurrent},
    {"DeviceNotEnoughPower", DeviceNotEnoughPower},
    {"DeviceNotEnoughBandwidth", DeviceNotEnoughBandwidth},
    {"DeviceHubNestedTooDeeply", DeviceHubNestedTooDeeply},
    {"DeviceInLegacyHub", DeviceInLegacyHub},
};

constexpr CNamed kSpeeds[] = {{"low", kUsbLowSpeed},
                              {"full", kUsbFullSpeed},
                              {"high", kUsbHighSpeed},
                              {"super", kUsbSuperSpeed}};

constexpr CNamed kConfigRets[] = {
    {"CR_FAILURE", CR_FAILURE},
    {"CR_INVALID_POINTER", CR_INVALID_POINTER},
    {"CR_INVALID_DEVNODE", CR_INVALID_DEVNODE},
    {"CR_NO_SUCH_DEVNODE", CR_NO_SUCH_DEVNODE},
    {"CR_BUFFER_SMALL", CR_BUFFER_SMALL},
    {"CR_NO_SUCH_VALUE", CR_NO_SUCH_VALUE},
};

constexpr CNamed kProperties[] = {
    {"DEVICEDESC", CM_DRP_DEVICEDESC},
    {"SERVICE", CM_DRP_SERVICE},
    {"CLASSGUID", CM_DRP_CLASSGUID},
    {"DRIVER", CM_DRP_DRIVER},
    {"FRIENDLYNAME", CM_DRP_FRIENDLYNAME},
    {"LOCATION_INFORMATION", CM_DRP_LOCATION_INFORMATION},
    {"UPPERFILTERS", CM_DRP_UPPERFILTERS},
    {"LOWERFILTERS", CM_DRP_LOWERFILTERS},
    {"ENUMERATOR_NAME", CM_DRP_ENUMERATOR_NAME},
};

std::string NameList(const CNamed* names, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += (i ? ", " : "") + std::string(names[i].m_strName);
    return out;
}

// Instance IDs as the model compares them: ASCII letters without regard to case.
struct CNoCaseHash {
    // Eight bytes at a time, each with its bit 0x20 cleared: a letter and its other case hash
    // alike (and so do a few other pairs of bytes, which the comparison tells apart).
    std::size_t operator()(std::string_view s) const {
        constexpr std::uint64_t kFold = 0xDFDFDFDFDFDFDFDFu;
        std::uint64_t hash = s.size();
        std::size_t i = 0;
        for (; i + 8 <= s.size(); i += 8) {
            std::uint64_t word;
            std::memcpy(&word, s.data() + i, 8);
            hash = Mix(hash ^ (word & kFold));
        }
        if (i < s.size()) {
            std::uint64_t tail = 0;
            std::memcpy(&tail, s.data() + i, s.size() - i);
            hash = Mix(hash ^ (tail & kFold));
        }
        return static_cast<std::size_t>(hash ^ (hash >> 32));
    }
    static std::uint64_t Mix(std::uint64_t x) {
        x *= 0x9E3779B97F4A7C15u;
        return x ^ (x >> 29);
    }
};
struct CNoCaseEqual {
    bool operator()(std::string_view a, std::string_view b) const {
        return EqualsNoCaseAscii(a, b);
    }
};

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// Reads one fixture into a model, value by value, with the JSON pointer of every value at
// hand for the error message.
class CReader {
  public:
    explicit CReader(std::string source) : m_strSource(std::move(source)) {}

    static CDevNode RootNode() {
        CDevNode root;
        root.m_strInstanceId = kRootInstanceId;
        return root;
    }

    CMachineModel Read(const CValue& root) {
        CheckKeys(root, "", {"controllers", "deviceTree", "volumes", "faults"});
        // The tree first: controllers and volumes refer to its nodes.
        m_bTreeGiven = Find(root, "deviceTree") != nullptr;
        if (const CValue* tree = Find(root, "deviceTree")) {
            const std::size_t count = CountNodes(*tree);
            m_model.m_vNodes.reserve(count);
            m_mapInstanceIds.reserve(count);
            ReadNode(*tree, "/deviceTree", std::nullopt);
        } else {
            UniqueNode(kRootInstanceId, "/deviceTree");
            m_model.AddNode(RootNode(), std::nullopt);
        }
        if (const CValue* list = Find(root, "controllers")) {
            const CPath path = "/controllers";
            ExpectArray(*list, path);
            for (std::size_t i = 0; i < list->Size(); ++i)
                ReadController((*list)[i], Child(path, i));
        }
        if (const CValue* list = Find(root, "volumes")) {
            const CPath path = "/volumes";
            ExpectArray(*list, path);
            for (std::size_t i = 0; i < list->Size(); ++i)
                ReadVolume((*list)[i], Child(path, i));
        }
        if (const CValue* faults = Find(root, "faults")) {
            const CPath path = "/faults";
            CheckKeys(*faults, path, {"hostControllerSetFails", "volumeSetFails"});
            ReadBool(*faults, path, "hostControllerSetFails",
                     m_model.m_faults.m_bHostControllerSetFails);
            ReadBool(*faults, path, "volumeSetFails", m_model.m_faults.m_bVolumeSetFails);
        }
        return std::move(m_model);
    }

  private:
    [[noreturn]] void Fail(const CPath& path, const std::string& what) const {
        throw CFixtureError(m_strSource + ": " + (path.IsRoot() ? std::string("/") : path.Str()) +
                            ": " + what);
    }

    // --- Generic values ---------------------------------------------------------------

    static const CValue* Find(const CValue& obj, std::string_view key) { return obj.Find(key); }

    void ExpectObject(const CValue& v, const CPath& path) const {
        if (!v.IsObject())
            Fail(path, "expected an object");
    }
    void ExpectArray(const CValue& v, const CPath& path) const {
        if (!v.IsArray())
            Fail(path, "expected an array");
    }

    void CheckKeys(const CValue& obj, const CPath& path,
                   std::initializer_list<std::string_view> allowed) const {
        ExpectObject(obj, path);
        // The first unknown key in the order of keys (bytes compared without sign), whatever
        // the order of the text.
        const CFixtureMember* unknown = nullptr;
        for (const CFixtureMember& member : obj)
            if (std::find(allowed.begin(), allowed.end(), member.Key()) == allowed.end() &&
                (unknown == nullptr || member.Key() < unknown->Key()))
                unknown = &member;
        if (unknown != nullptr) {
            std::string list;
            for (std::string_view k : allowed)
                list += (list.empty() ? "" : ", ") + std::string(k);
            Fail(Child(path, unknown->Key()), "unknown key (expected one of: " + list + ")");
        }
    }

    // An object's members in the order of their keys.
    static std::vector<const CFixtureMember*> SortedMembers(const CValue& obj) {
        std::vector<const CFixtureMember*> members;
        members.reserve(obj.Size());
        for (const CFixtureMember& member : obj)
            members.push_back(&member);
        std::sort(
            members.begin(), members.end(),
            [](const CFixtureMember* a, const CFixtureMember* b) { return a->Key() < b->Key(); });
        return members;
    }

    // An integer 0..max, written as a JSON integer or as a "0x..." hexadecimal string.
    std::uint64_t Unsigned(const CValue& v, const CPath& path, std::uint64_t max) const {
        std::uint64_t value = 0;
        if (v.IsUnsigned())
            value = v.Unsigned();
        else if (v.IsString())
            value = Hexadecimal(v.Text(), path, max);
        else
            FailUnsigned(path, max);  // negative, or no integer
        if (value > max)
            FailUnsigned(path, max);
        return value;
    }
    std::uint64_t Hexadecimal(std::string_view s, const CPath& path, std::uint64_t max) const {
        if (s.size() < 3 || s.size() > 18 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X'))
            FailUnsigned(path, max, " (or a \"0x...\" hexadecimal string)");
        std::uint64_t value = 0;
        for (std::size_t i = 2; i < s.size(); ++i) {
            const char c = s[i];
            int d = -1;
            if (c >= '0' && c <= '9')
                d = c - '0';
            if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            if (d < 0)
                FailUnsigned(path, max, " (or a \"0x...\" hexadecimal string)");
            value = value * 16 + static_cast<std::uint64_t>(d);
        }
        if (value > max)
            FailUnsigned(path, max);
        return value;
    }
    [[noreturn]] void FailUnsigned(const CPath& path, std::uint64_t max,
                                   const char* more = "") const {
        Fail(path, "expected an integer 0.." + std::to_string(max) + more);
    }

    BYTE U8(const CValue& v, const CPath& path) const {
        return static_cast<BYTE>(Unsigned(v, path, 0xFF));
    }
    WORD U16(const CValue& v, const CPath& path) const {
        return static_cast<WORD>(Unsigned(v, path, 0xFFFF));
    }
    DWORD U32(const CValue& v, const CPath& path) const {
        return static_cast<DWORD>(Unsigned(v, path, 0xFFFFFFFFu));
    }

    std::string_view Text(const CValue& v, const CPath& path) const {
        if (!v.IsString())
            Fail(path, "expected a string");
        return v.Text();
    }
    std::string_view NonEmptyText(const CValue& v, const CPath& path) const {
        const std::string_view s = Text(v, path);
        if (s.empty())
            Fail(path, "expected a non-empty string");
        return s;
    }
    bool Bool(const CValue& v, const CPath& path) const {
        if (!v.IsBool())
            Fail(path, "expected true or false");
        return v.Bool();
    }
    std::vector<BYTE> ByteArray(const CValue& v, const CPath& path, std::size_t maxCount) const {
        ExpectArray(v, path);
        if (v.Size() > maxCount)
            Fail(path, "expected at most " + std::to_string(maxCount) + " bytes");
        std::vector<BYTE> out;
        for (std::size_t i = 0; i < v.Size(); ++i)
            out.push_back(U8(v[i], Child(path, i)));
        return out;
    }
    std::uint32_t Named(const CValue& v, const CPath& path, const CNamed* names, std::size_t count,
                        bool allowNumber) const {
        if (v.IsString()) {
            for (std::size_t i = 0; i < count; ++i)
                if (v.Text() == names[i].m_strName)
                    return names[i].m_dwValue;
        }
        const bool number = v.IsUnsigned() || (v.IsString() && v.TextStartsWith("0x"));
        if (!allowNumber || !number)
            Fail(path, "expected one of: " + NameList(names, count) +
                           (allowNumber ? ", or an integer" : ""));
        return static_cast<std::uint32_t>(Unsigned(v, path, 0xFFFFFFFFu));
    }

    template <typename T>
    void ReadU8(const CValue& obj, const CPath& path, const char* key, T& out) const {
        if (const CValue* v = Find(obj, key))
            out = U8(*v, Child(path, key));
    }
    template <typename T>
    void ReadU16(const CValue& obj, const CPath& path, const char* key, T& out) const {
        if (const CValue* v = Find(obj, key))
            out = U16(*v, Child(path, key));
    }
    template <typename T>
    void ReadU32(const CValue& obj, const CPath& path, const char* key, T& out) const {
        if (const CValue* v = Find(obj, key))
            out = U32(*v, Child(path, key));
    }
    void ReadBool(const CValue& obj, const CPath& path, const char* key, bool& out) const {
        if (const CValue* v = Find(obj, key))
            out = Bool(*v, Child(path, key));
    }
    void ReadOptU32(const CValue& obj, const CPath& path, const char* key,
                    std::optional<DWORD>& out) const {
        if (const CValue* v = Find(obj, key))
            out = U32(*v, Child(path, key));
    }

    // --- Faults -----------------------------------------------------------------------

    CRequestFault RequestFault(const CValue& v, const CPath& path) const {
        CheckKeys(
            v, path,
            {"fail", "failAfter", "noWrite", "bytesReturned", "actualLength", "noTerminator"});
        CRequestFault f;
        ReadBool(v, path, "fail", f.m_bFail);
        ReadOptU32(v, path, "failAfter", f.m_optFailAfter);
        ReadBool(v, path, "noWrite", f.m_bNoWrite);
        ReadOptU32(v, path, "bytesReturned", f.m_optBytesReturned);
        ReadOptU32(v, path, "actualLength", f.m_optActualLength);
        ReadBool(v, path, "noTerminator", f.m_bNoTerminator);
        return f;
    }
    void ReadRequestFault(const CValue& obj, const CPath& path, const char* key,
                          CRequestFault& out) const {
        if (const CValue* v = Find(obj, key))
            out = RequestFault(*v, Child(path, key));
    }

    CCmFault CmFault(const CValue& v, const CPath& path) const {
        CCmFault f;
        if (v.IsString() && v.Text() == "noWrite") {
            f.m_bNoWrite = true;
            return f;
        }
        if (v.IsString() && !v.TextStartsWith("0x")) {
            for (const CNamed& n : kConfigRets)
                if (v.Text() == n.m_strName) {
                    f.m_crResult = n.m_dwValue;
                    return f;
                }
            Fail(path, "expected \"noWrite\", one of " +
                           NameList(kConfigRets, std::size(kConfigRets)) + ", or an integer");
        }
        f.m_crResult = U32(v, path);
        return f;
    }
    void ReadCmFault(const CValue& obj, const CPath& path, const char* key,
                     std::optional<CCmFault>& out) const {
        if (const CValue* v = Find(obj, key))
            out = CmFault(*v, Child(path, key));
    }

    ECallFault CallFault(const CValue& v, const CPath& path) const {
        if (v.IsString() && v.Text() == "fail")
            return ECallFault::Fail;
        if (v.IsString() && v.Text() == "noWrite")
            return ECallFault::NoWrite;
        Fail(path, "expected \"fail\" or \"noWrite\"");
    }

    CInterfaceFaults InterfaceFaults(const CValue& v, const CPath& path) const {
        CheckKeys(v, path, {"requiredSizeZero", "detailFails"});
        CInterfaceFaults f;
        ReadBool(v, path, "requiredSizeZero", f.m_bRequiredSizeZero);
        ReadBool(v, path, "detailFails", f.m_bDetailFails);
        return f;
    }

    // --- USB topology -----------------------------------------------------------------

    void CheckNodeRef(std::string_view id, const CPath& path) const {
        // Every node's instance ID is in m_mapInstanceIds, compared as FindNode compares.
        if (m_mapInstanceIds.count(id) == 0)
            Fail(path, "no node of /deviceTree has the instance ID \"" + std::string(id) + "\"");
    }

    void ReadController(const CValue& v, const CPath& path) {
        CheckKeys(v, path,
                  {"hcd", "interfacePath", "instanceId", "driverKey", "rootHub", "faults"});
        CHostController hc;
        if (const CValue* n = Find(v, "hcd")) {
            const CPath at = Child(path, "hcd");
            hc.m_optHcdNumber = static_cast<int>(Unsigned(*n, at, 9));
            auto [it, fresh] = m_mapHcd.emplace(*hc.m_optHcdNumber, at.Str());
            if (!fresh)
                Fail(at, "HCD number " + std::to_string(*hc.m_optHcdNumber) +
                             " is already used at " + it->second);
        }
        if (const CValue* p = Find(v, "interfacePath")) {
            const CPath at = Child(path, "interfacePath");
            hc.m_optInterfacePath = NonEmptyText(*p, at);
            Unique(m_mapInterfacePaths, *hc.m_optInterfacePath, at, "interface path");
        }
        if (!hc.m_optHcdNumber && !hc.m_optInterfacePath)
            Fail(path, "a controller needs \"hcd\" or \"interfacePath\" (or both)");
        if (const CValue* id = Find(v, "instanceId")) {
            const CPath at = Child(path, "instanceId");
            hc.m_optInstanceId = NonEmptyText(*id, at);
            CheckNodeRef(*hc.m_optInstanceId, at);
        }
        if (const CValue* key = Find(v, "driverKey"))
            hc.m_optDriverKey = Utf8ToUtf16(Text(*key, Child(path, "driverKey")));
        if (const CValue* hub = Find(v, "rootHub"))
            hc.m_optRootHubName = ReadHub(*hub, Child(path, "rootHub"));
        if (const CValue* f = Find(v, "faults")) {
            const CPath at = Child(path, "faults");
            CheckKeys(*f, at, {"open", "driverKey", "rootHubName", "interface"});
            ReadBool(*f, at, "open", hc.m_faults.m_bOpenFails);
            ReadRequestFault(*f, at, "driverKey", hc.m_faults.m_driverKey);
            ReadRequestFault(*f, at, "rootHubName", hc.m_faults.m_rootHubName);
            if (const CValue* i = Find(*f, "interface"))
                hc.m_faults.m_interface = InterfaceFaults(*i, Child(at, "interface"));
        }
        m_model.m_vControllers.push_back(std::move(hc));
    }

    void Unique(std::map<std::string, std::string>& seen, std::string_view name, const CPath& at,
                const char* what) const {
        auto [it, fresh] = seen.emplace(Upper(name), at.Str());
        if (!fresh)
            Fail(at, std::string(what) + " \"" + std::string(name) + "\" is already used at " +
                         it->second);
    }

    // The nodes a tree holds, so that the model's node table is made once (the nesting of
    // the document, and so this recursion, is bounded).
    static std::size_t CountNodes(const CValue& node) {
        std::size_t count = 1;
        if (const CValue* children = node.IsObject() ? Find(node, "children") : nullptr)
            if (children->IsArray())
                for (const CFixtureMember& child : *children)
                    count += CountNodes(child.m_value);
        return count;
    }

    // The instance ID of the node about to be added (it gets the next index) is new.
    void UniqueNode(std::string_view id, const CPath& at) {
        auto [it, fresh] = m_mapInstanceIds.emplace(id, m_model.m_vNodes.size());
        if (!fresh)
            Fail(at, "instance ID \"" + std::string(id) + "\" is already used at " +
                         NodeIdPath(it->second));
    }
    // Where the fixture gave a node's instance ID: its place among the children, level by
    // level from the root.
    std::string NodeIdPath(std::size_t index) const {
        std::vector<std::size_t> places;
        for (std::size_t at = index; m_model.m_vNodes[at].m_optParent;) {
            const std::size_t parent = *m_model.m_vNodes[at].m_optParent;
            const std::vector<std::size_t>& children = m_model.m_vNodes[parent].m_vChildren;
            places.push_back(static_cast<std::size_t>(
                std::find(children.begin(), children.end(), at) - children.begin()));
            at = parent;
        }
        std::string out = "/deviceTree";
        for (auto place = places.rbegin(); place != places.rend(); ++place)
            out += "/children/" + std::to_string(*place);
        return index == 0 && !m_bTreeGiven ? out : out + "/id";
    }

    // Adds the hub (and everything below it) to the model; returns its name.
    std::u16string ReadHub(const CValue& v, const CPath& path) {
        CheckKeys(v, path,
                  {"name", "nodeType", "bDescriptorLength", "bDescriptorType", "bNumberOfPorts",
                   "wHubCharacteristics", "bPowerOnToPowerGood", "bHubControlCurrent",
                   "bRemoveAndPowerMask", "hubIsBusPowered", "ports", "faults"});
        CUsbHub hub;
        const CValue* name = Find(v, "name");
        if (name == nullptr)
            Fail(path, "missing \"name\" (the hub's symbolic name)");
        const std::string_view utf8Name = NonEmptyText(*name, Child(path, "name"));
        Unique(m_mapHubNames, utf8Name, Child(path, "name"), "hub name");
        hub.m_wstrName = Utf8ToUtf16(utf8Name);
        ReadU32(v, path, "nodeType", hub.m_dwNodeType);
        ReadU8(v, path, "bDescriptorLength", hub.m_byDescriptorLength);
        ReadU8(v, path, "bDescriptorType", hub.m_byDescriptorType);
        const CValue* ports = Find(v, "bNumberOfPorts");
        if (ports == nullptr)
            Fail(path, "missing \"bNumberOfPorts\"");
        hub.m_byNumberOfPorts = U8(*ports, Child(path, "bNumberOfPorts"));
        ReadU16(v, path, "wHubCharacteristics", hub.m_wHubCharacteristics);
        ReadU8(v, path, "bPowerOnToPowerGood", hub.m_byPowerOnToPowerGood);
        ReadU8(v, path, "bHubControlCurrent", hub.m_byHubControlCurrent);
        if (const CValue* mask = Find(v, "bRemoveAndPowerMask")) {
            const auto bytes = ByteArray(*mask, Child(path, "bRemoveAndPowerMask"),
                                         hub.m_abyRemoveAndPowerMask.size());
            std::copy(bytes.begin(), bytes.end(), hub.m_abyRemoveAndPowerMask.begin());
        }
        ReadBool(v, path, "hubIsBusPowered", hub.m_bHubIsBusPowered);
        if (const CValue* f = Find(v, "faults")) {
            const CPath at = Child(path, "faults");
            CheckKeys(*f, at, {"open", "nodeInformation", "connectionInformationEx"});
            ReadBool(*f, at, "open", hub.m_faults.m_bOpenFails);
            ReadRequestFault(*f, at, "nodeInformation", hub.m_faults.m_nodeInformation);
            ReadRequestFault(*f, at, "connectionInformationEx", hub.m_faults.m_connectionInfoEx);
        }
        // The hub takes its place before the hubs below it, so the model lists hubs in
        // walk order; its ports are filled in afterwards.
        const std::size_t index = m_model.m_vHubs.size();
        m_model.m_vHubs.push_back(hub);
        std::vector<CUsbPort> portList;
        if (const CValue* list = Find(v, "ports")) {
            const CPath at = Child(path, "ports");
            ExpectArray(*list, at);
            std::map<DWORD, std::size_t> seen;  // port number -> where in the list
            for (std::size_t i = 0; i < list->Size(); ++i) {
                CUsbPort port = ReadPort((*list)[i], Child(at, i), hub.m_byNumberOfPorts);
                auto [it, fresh] = seen.emplace(port.m_dwPort, i);
                if (!fresh)
                    Fail(Child(Child(at, i), "port"), "port " + std::to_string(port.m_dwPort) +
                                                          " is already described at " +
                                                          Child(at, it->second).Str());
                portList.push_back(std::move(port));
            }
        }
        m_model.m_vHubs[index].m_vPorts = std::move(portList);
        return m_model.m_vHubs[index].m_wstrName;
    }

    CUsbPort ReadPort(const CValue& v, const CPath& path, BYTE portCount) {
        CheckKeys(v, path, {"port", "connectionStatus", "device", "faults"});
        CUsbPort port;
        const CValue* number = Find(v, "port");
        if (number == nullptr)
            Fail(path, "missing \"port\"");
        const CPath at = Child(path, "port");
        const std::uint64_t n =
            (number->IsUnsigned() || number->IsString()) ? Unsigned(*number, at, 0xFF) : 0;
        if (n < 1 || n > portCount)
            Fail(at, portCount == 0 ? std::string("the hub has no ports (bNumberOfPorts is 0)")
                                    : "expected a port number 1.." + std::to_string(portCount));
        port.m_dwPort = static_cast<DWORD>(n);
        if (const CValue* d = Find(v, "device")) {
            port.m_optDevice = ReadDevice(*d, Child(path, "device"));
            port.m_dwConnectionStatus = DeviceConnected;
        }
        if (const CValue* s = Find(v, "connectionStatus"))
            port.m_dwConnectionStatus =
                Named(*s, Child(path, "connectionStatus"), kConnectionStatuses,
                      std::size(kConnectionStatuses), true);
        if (const CValue* f = Find(v, "faults")) {
            const CPath fat = Child(path, "faults");
            CheckKeys(*f, fat,
                      {"connectionInformationEx", "connectionInformation", "driverKeyName",
                       "nodeName", "descriptor", "vanishAfter"});
            ReadRequestFault(*f, fat, "connectionInformationEx", port.m_faults.m_connectionInfoEx);
            ReadRequestFault(*f, fat, "connectionInformation", port.m_faults.m_connectionInfo);
            ReadRequestFault(*f, fat, "driverKeyName", port.m_faults.m_driverKeyName);
            ReadRequestFault(*f, fat, "nodeName", port.m_faults.m_nodeName);
            ReadRequestFault(*f, fat, "descriptor", port.m_faults.m_descriptor);
            ReadOptU32(*f, fat, "vanishAfter", port.m_faults.m_optVanishAfter);
        }
        return port;
    }

    CUsbDevice ReadDevice(const CValue& v, const CPath& path) {
        CheckKeys(v, path,
                  {"bLength",
                   "bDescriptorType",
                   "bcdUSB",
                   "bDeviceClass",
                   "bDeviceSubClass",
                   "bDeviceProtocol",
                   "bMaxPacketSize0",
                   "idVendor",
                   "idProduct",
                   "bcdDevice",
                   "iManufacturer",
                   "iProduct",
                   "iSerialNumber",
                   "bNumConfigurations",
                   "currentConfigurationValue",
                   "speed",
                   "deviceIsHub",
                   "deviceAddress",
                   "numberOfOpenPipes",
                   "pipes",
                   "driverKey",
                   "hub",
                   "hubName",
                   "languages",
                   "strings"});
        CUsbDevice d;
        if (const CValue* hub = Find(v, "hub")) {
            d.m_optHubName = ReadHub(*hub, Child(path, "hub"));
            d.m_bDeviceIsHub = true;
            d.m_byDeviceClass = 9;  // the hub class
            d.m_bySpeed = kUsbHighSpeed;
        }
        ReadU8(v, path, "bLength", d.m_byLength);
        ReadU8(v, path, "bDescriptorType", d.m_byDescriptorType);
        ReadU16(v, path, "bcdUSB", d.m_wBcdUsb);
        ReadU8(v, path, "bDeviceClass", d.m_byDeviceClass);
        ReadU8(v, path, "bDeviceSubClass", d.m_byDeviceSubClass);
        ReadU8(v, path, "bDeviceProtocol", d.m_byDeviceProtocol);
        ReadU8(v, path, "bMaxPacketSize0", d.m_byMaxPacketSize0);
        ReadU16(v, path, "idVendor", d.m_wIdVendor);
        ReadU16(v, path, "idProduct", d.m_wIdProduct);
        ReadU16(v, path, "bcdDevice", d.m_wBcdDevice);
        ReadU8(v, path, "iManufacturer", d.m_byManufacturer);
        ReadU8(v, path, "iProduct", d.m_byProduct);
        ReadU8(v, path, "iSerialNumber", d.m_bySerialNumber);
        ReadU8(v, path, "bNumConfigurations", d.m_byNumConfigurations);
        ReadU8(v, path, "currentConfigurationValue", d.m_byCurrentConfigurationValue);
        if (const CValue* s = Find(v, "speed"))
            d.m_bySpeed = static_cast<BYTE>(
                Named(*s, Child(path, "speed"), kSpeeds, std::size(kSpeeds), false));
        ReadBool(v, path, "deviceIsHub", d.m_bDeviceIsHub);
        ReadU16(v, path, "deviceAddress", d.m_wDeviceAddress);
        if (const CValue* pipes = Find(v, "pipes")) {
            const CPath at = Child(path, "pipes");
            ExpectArray(*pipes, at);
            if (pipes->Size() > kMaxPipes)
                Fail(at, "expected at most " + std::to_string(kMaxPipes) + " pipes");
            for (std::size_t i = 0; i < pipes->Size(); ++i) {
                const CPath pat = Child(at, i);
                CheckKeys((*pipes)[i], pat, {"endpointDescriptor", "scheduleOffset"});
                CPipeInfo pipe;
                if (const CValue* e = Find((*pipes)[i], "endpointDescriptor")) {
                    const CPath eat = Child(pat, "endpointDescriptor");
                    const auto bytes = ByteArray(*e, eat, 7);
                    if (bytes.size() != 7)
                        Fail(eat, "expected 7 bytes");
                    std::copy(bytes.begin(), bytes.end(), pipe.m_abyEndpointDescriptor.begin());
                }
                ReadU32((*pipes)[i], pat, "scheduleOffset", pipe.m_dwScheduleOffset);
                d.m_vPipes.push_back(pipe);
            }
            d.m_dwNumberOfOpenPipes = static_cast<DWORD>(d.m_vPipes.size());
        }
        ReadU32(v, path, "numberOfOpenPipes", d.m_dwNumberOfOpenPipes);
        if (const CValue* key = Find(v, "driverKey"))
            d.m_optDriverKey = Utf8ToUtf16(Text(*key, Child(path, "driverKey")));
        if (const CValue* name = Find(v, "hubName"))
            d.m_optHubName = Utf8ToUtf16(Text(*name, Child(path, "hubName")));
        if (const CValue* langs = Find(v, "languages")) {
            const CPath at = Child(path, "languages");
            ExpectArray(*langs, at);
            if (langs->Size() > 126)
                Fail(at, "expected at most 126 languages (one descriptor holds no more)");
            std::vector<WORD> ids;
            for (std::size_t i = 0; i < langs->Size(); ++i)
                ids.push_back(U16((*langs)[i], Child(at, i)));
            d.m_optLanguageIds = std::move(ids);
        }
        if (const CValue* strings = Find(v, "strings"))
            ReadStrings(*strings, Child(path, "strings"), d);
        return d;
    }

    void ReadStrings(const CValue& list, const CPath& path, CUsbDevice& d) const {
        ExpectArray(list, path);
        const WORD defaultLanguage = (d.m_optLanguageIds && !d.m_optLanguageIds->empty())
                                         ? d.m_optLanguageIds->front()
                                         : WORD(0x0409);
        std::vector<WORD> used;
        std::map<std::pair<int, int>, std::size_t> seen;  // (index, language) -> where in the list
        for (std::size_t i = 0; i < list.Size(); ++i) {
            const CPath at = Child(path, i);
            const CValue& v = list[i];
            CheckKeys(v, at, {"index", "language", "text", "raw", "faults"});
            CStringDescriptor s;
            const CValue* index = Find(v, "index");
            if (index == nullptr)
                Fail(at, "missing \"index\"");
            s.m_byIndex = U8(*index, Child(at, "index"));
            s.m_wLanguage = defaultLanguage;
            ReadU16(v, at, "language", s.m_wLanguage);
            const CValue* text = Find(v, "text");
            const CValue* raw = Find(v, "raw");
            if (text != nullptr && raw != nullptr)
                Fail(at, "give \"text\" or \"raw\", not both");
            if (s.m_byIndex == 0 && raw == nullptr)
                Fail(at,
                     "descriptor 0 is the language list: give \"languages\" on the device, or "
                     "\"raw\" here");
            if (text != nullptr) {
                const CPath tat = Child(at, "text");
                s.m_wstrText = Utf8ToUtf16(Text(*text, tat));
                if (s.m_wstrText.size() > 126)
                    Fail(tat, "expected at most 126 UTF-16 code units (bLength is one byte)");
            }
            if (raw != nullptr)
                s.m_optRaw = ByteArray(*raw, Child(at, "raw"), kDescriptorRequestDataSize);
            if (const CValue* f = Find(v, "faults"))
                s.m_faults = RequestFault(*f, Child(at, "faults"));
            const int key = s.m_byIndex == 0 ? 0 : s.m_wLanguage;
            auto [it, fresh] = seen.emplace(std::make_pair(int(s.m_byIndex), key), i);
            if (!fresh)
                Fail(at, "string " + std::to_string(s.m_byIndex) +
                             " in this language is already given at " +
                             Child(path, it->second).Str());
            if (s.m_byIndex != 0 &&
                std::find(used.begin(), used.end(), s.m_wLanguage) == used.end())
                used.push_back(s.m_wLanguage);
            d.m_vStrings.push_back(std::move(s));
        }
        // Without a language list of its own, a device lists the languages its strings use.
        if (!d.m_optLanguageIds && !used.empty())
            d.m_optLanguageIds = used;
    }

    // --- Device-node tree -------------------------------------------------------------

    void ReadNode(const CValue& v, const CPath& path, std::optional<std::size_t> parent) {
        CheckKeys(v, path,
                  {"id", "present", "status", "problem", "properties", "removalRelations",
                   "children", "faults"});
        CDevNode node;
        const CPath idPath = Child(path, "id");
        // A view of the document's text, or of the constant: the map keeps it.
        std::string_view idText = kRootInstanceId;
        if (const CValue* id = Find(v, "id"))
            idText = NonEmptyText(*id, idPath);
        else if (parent)
            Fail(path, "missing \"id\" (the device instance ID)");
        node.m_strInstanceId = idText;
        UniqueNode(idText, idPath);
        ReadBool(v, path, "present", node.m_bPresent);
        ReadU32(v, path, "status", node.m_ulStatus);
        ReadU32(v, path, "problem", node.m_ulProblem);
        if (const CValue* props = Find(v, "properties")) {
            const CPath at = Child(path, "properties");
            ExpectObject(*props, at);
            for (const CFixtureMember* member : SortedMembers(*props))
                node.m_vProperties.push_back(
                    ReadProperty(member->Key(), member->m_value, Child(at, member->Key())));
        }
        if (const CValue* rel = Find(v, "removalRelations")) {
            const CPath at = Child(path, "removalRelations");
            ExpectArray(*rel, at);
            for (std::size_t i = 0; i < rel->Size(); ++i)
                node.m_vRemovalRelations.emplace_back(NonEmptyText((*rel)[i], Child(at, i)));
        }
        if (const CValue* f = Find(v, "faults"))
            ReadNodeFaults(*f, Child(path, "faults"), node.m_faults);
        const std::size_t index = m_model.AddNode(std::move(node), parent);
        if (const CValue* children = Find(v, "children")) {
            const CPath at = Child(path, "children");
            ExpectArray(*children, at);
            for (std::size_t i = 0; i < children->Size(); ++i)
                ReadNode((*children)[i], Child(at, i), index);
        }
    }

    ULONG PropertyCode(std::string_view name, const CPath& path) const {
        for (const CNamed& n : kProperties)
            if (name == n.m_strName)
                return n.m_dwValue;
        if (name.rfind("0x", 0) == 0)
            return static_cast<ULONG>(Hexadecimal(name, path, 0xFFFFFFFFu));
        Fail(path, "unknown property (expected one of: " +
                       NameList(kProperties, std::size(kProperties)) + ", or a \"0x...\" code)");
    }

    CRegistryProperty ReadProperty(std::string_view name, const CValue& v,
                                   const CPath& path) const {
        CRegistryProperty p;
        p.m_ulCode = PropertyCode(name, path);
        const bool multi = p.m_ulCode == CM_DRP_UPPERFILTERS || p.m_ulCode == CM_DRP_LOWERFILTERS;
        if (v.IsString()) {
            p.m_ulType = kRegTypeSz;
            p.m_vValues.emplace_back(v.Text());
        } else if (v.IsArray()) {
            p.m_ulType = kRegTypeMultiSz;
            for (std::size_t i = 0; i < v.Size(); ++i)
                p.m_vValues.emplace_back(NonEmptyText(v[i], Child(path, i)));
        } else if (v.IsObject()) {
            CheckKeys(v, path, {"raw", "type"});
            const CValue* raw = Find(v, "raw");
            if (raw == nullptr)
                Fail(path, "missing \"raw\"");
            p.m_optRaw = ByteArray(*raw, Child(path, "raw"), 65536);
            p.m_ulType = multi ? kRegTypeMultiSz : kRegTypeSz;
            ReadU32(v, path, "type", p.m_ulType);
        } else {
            Fail(path, "expected a string, an array of strings, or {\"raw\": [...]}");
        }
        return p;
    }

    void ReadNodeFaults(const CValue& v, const CPath& path, CDevNodeFaults& f) const {
        CheckKeys(v, path,
                  {"locate", "child", "sibling", "parent", "deviceId", "status",
                   "removalRelationsSize", "removalRelationsList", "properties", "childLink",
                   "siblingLink", "parentLink", "vanishAfter"});
        ReadCmFault(v, path, "locate", f.m_optLocate);
        ReadCmFault(v, path, "child", f.m_optChild);
        ReadCmFault(v, path, "sibling", f.m_optSibling);
        ReadCmFault(v, path, "parent", f.m_optParent);
        ReadCmFault(v, path, "deviceId", f.m_optDeviceId);
        ReadCmFault(v, path, "status", f.m_optStatus);
        ReadCmFault(v, path, "removalRelationsSize", f.m_optRemovalRelationsSize);
        ReadCmFault(v, path, "removalRelationsList", f.m_optRemovalRelationsList);
        if (const CValue* props = Find(v, "properties")) {
            const CPath at = Child(path, "properties");
            ExpectObject(*props, at);
            for (const CFixtureMember* member : SortedMembers(*props)) {
                const CPath pat = Child(at, member->Key());
                f.m_vProperties.push_back(
                    {PropertyCode(member->Key(), pat), CmFault(member->m_value, pat)});
            }
        }
        auto link = [&](const char* key, std::optional<std::string>& out) {
            if (const CValue* l = Find(v, key))
                out = l->IsNull() ? std::string() : std::string(NonEmptyText(*l, Child(path, key)));
        };
        link("childLink", f.m_optChildLink);
        link("siblingLink", f.m_optSiblingLink);
        link("parentLink", f.m_optParentLink);
        ReadOptU32(v, path, "vanishAfter", f.m_optVanishAfter);
    }

    // --- Volumes ----------------------------------------------------------------------

    void ReadVolume(const CValue& v, const CPath& path) {
        CheckKeys(v, path, {"name", "letters", "interfacePath", "instanceId", "faults"});
        CVolume vol;
        const CValue* name = Find(v, "name");
        if (name == nullptr)
            Fail(path, "missing \"name\" (the volume name, \\\\?\\Volume{...}\\)");
        vol.m_strName = NonEmptyText(*name, Child(path, "name"));
        if (const CValue* letters = Find(v, "letters")) {
            const CPath at = Child(path, "letters");
            ExpectArray(*letters, at);
            for (std::size_t i = 0; i < letters->Size(); ++i) {
                const CPath lat = Child(at, i);
                const std::string_view s = Text((*letters)[i], lat);
                const std::string u = Upper(s);
                if (u.size() != 1 || u[0] < 'A' || u[0] > 'Z')
                    Fail(lat, "expected a drive letter \"A\"..\"Z\"");
                auto [it, fresh] = m_mapLetters.emplace(u[0], lat.Str());
                if (!fresh)
                    Fail(lat, "drive letter " + u + " is already used at " + it->second);
                vol.m_vLetters.push_back(u[0]);
            }
        }
        if (const CValue* p = Find(v, "interfacePath")) {
            const CPath at = Child(path, "interfacePath");
            vol.m_optInterfacePath = NonEmptyText(*p, at);
            Unique(m_mapInterfacePaths, *vol.m_optInterfacePath, at, "interface path");
        }
        if (const CValue* id = Find(v, "instanceId")) {
            const CPath at = Child(path, "instanceId");
            vol.m_optInstanceId = NonEmptyText(*id, at);
            CheckNodeRef(*vol.m_optInstanceId, at);
        }
        if (const CValue* f = Find(v, "faults")) {
            const CPath at = Child(path, "faults");
            CheckKeys(*f, at, {"rootMountPoint", "interfaceMountPoint", "interface"});
            if (const CValue* c = Find(*f, "rootMountPoint"))
                vol.m_faults.m_rootMountPoint = CallFault(*c, Child(at, "rootMountPoint"));
            if (const CValue* c = Find(*f, "interfaceMountPoint"))
                vol.m_faults.m_interfaceMountPoint =
                    CallFault(*c, Child(at, "interfaceMountPoint"));
            if (const CValue* i = Find(*f, "interface"))
                vol.m_faults.m_interface = InterfaceFaults(*i, Child(at, "interface"));
        }
        m_model.m_vVolumes.push_back(std::move(vol));
    }

    std::string m_strSource;
    CMachineModel m_model;
    std::map<int, std::string> m_mapHcd;
    std::map<std::string, std::string> m_mapInterfacePaths;
    std::map<std::string, std::string> m_mapHubNames;
    // Instance ID (a view of the document's text) -> the node's index (its place in the
    // fixture is made again from the tree only for the message when an ID comes twice).
    std::unordered_map<std::string_view, std::size_t, CNoCaseHash, CNoCaseEqual> m_mapInstanceIds;
    bool m_bTreeGiven = false;
    std::map<char, std::string> m_mapLetters;
};

}  // namespace

CMachineModel LoadMachineText(const std::string& json, const std::string& sourceName) {
    const CFixtureDocument document(json, sourceName);
    if (!document.Root().IsObject())
        throw CFixtureError(sourceName + ": /: expected an object");
    return CReader(sourceName).Read(document.Root());
}

CMachineModel LoadMachineFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw CFixtureError(path + ": cannot open the file");
    // Read whole, in blocks straight into the text (a machine of 1000 devices is 11 MB), and
    // never beyond the longest text a fixture may be: a file known to be longer is refused
    // before it is read, one that grows while it is read once the text would pass the bound.
    const std::string most = "; a fixture holds at most " + std::to_string(kMaxFixtureSize);
    std::string text;
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > kMaxFixtureSize)
        throw CFixtureError(path + ": the file is " + std::to_string(size) + " bytes long" + most);
    if (!error)
        text.reserve(static_cast<std::size_t>(size));
    char block[64 * 1024];
    while (in.read(block, sizeof block) || in.gcount() > 0) {
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got > kMaxFixtureSize - text.size())
            throw CFixtureError(path + ": more than " + std::to_string(kMaxFixtureSize) +
                                " bytes were read" + most);
        text.append(block, got);
    }
    if (in.bad())
        throw CFixtureError(path + ": cannot read the file");
    return LoadMachineText(text, path);
}

}  // namespace ks

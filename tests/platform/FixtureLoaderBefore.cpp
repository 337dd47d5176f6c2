// The fixture loader as it was when it read the JSON library's own document, kept only as
// the oracle that FixtureLoaderCompareTest holds the loader against (nothing else links
// it): a change to what fixtures may say is made in both, or ends the comparison.
#include "tests/platform/FixtureLoaderBefore.h"
#include "platform/sim/FixtureLoader.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

#include <nlohmann/json.hpp>

#include "framework/CodePage.h"

namespace ks::before {

namespace {

using Json = nlohmann::json;

std::string PointerToken(std::string_view key) {
    std::string out;
    for (char c : key) {
        if (c == '~')
            out += "~0";
        else if (c == '/')
            out += "~1";
        else
            out += c;
    }
    return out;
}

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
        return m_pParent->Str() + "/" + (m_bIndex ? std::to_string(m_index) : PointerToken(m_key));
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

    CMachineModel Read(const Json& root) {
        CheckKeys(root, "", {"controllers", "deviceTree", "volumes", "faults"});
        // The tree first: controllers and volumes refer to its nodes.
        m_bTreeGiven = Find(root, "deviceTree") != nullptr;
        if (const Json* tree = Find(root, "deviceTree")) {
            m_model.m_vNodes.reserve(CountNodes(*tree));
            ReadNode(*tree, "/deviceTree", std::nullopt);
        } else
            UniqueNode(m_model.m_vNodes[m_model.AddNode(RootNode(), std::nullopt)].m_strInstanceId,
                       "/deviceTree");
        if (const Json* list = Find(root, "controllers")) {
            const CPath path = "/controllers";
            ExpectArray(*list, path);
            for (std::size_t i = 0; i < list->size(); ++i)
                ReadController((*list)[i], Child(path, i));
        }
        if (const Json* list = Find(root, "volumes")) {
            const CPath path = "/volumes";
            ExpectArray(*list, path);
            for (std::size_t i = 0; i < list->size(); ++i)
                ReadVolume((*list)[i], Child(path, i));
        }
        if (const Json* faults = Find(root, "faults")) {
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

    static const Json* Find(const Json& obj, const char* key) {
        auto it = obj.find(key);
        return it == obj.end() ? nullptr : &*it;
    }

    void ExpectObject(const Json& v, const CPath& path) const {
        if (!v.is_object())
            Fail(path, "expected an object");
    }
    void ExpectArray(const Json& v, const CPath& path) const {
        if (!v.is_array())
            Fail(path, "expected an array");
    }

    void CheckKeys(const Json& obj, const CPath& path,
                   std::initializer_list<std::string_view> allowed) const {
        ExpectObject(obj, path);
        for (auto it = obj.begin(); it != obj.end(); ++it) {
            const std::string_view key = it.key();
            if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
                std::string list;
                for (std::string_view k : allowed)
                    list += (list.empty() ? "" : ", ") + std::string(k);
                Fail(Child(path, it.key()), "unknown key (expected one of: " + list + ")");
            }
        }
    }

    // An integer 0..max, written as a JSON integer or as a "0x..." hexadecimal string.
    std::uint64_t Unsigned(const Json& v, const CPath& path, std::uint64_t max) const {
        const std::string expected = "expected an integer 0.." + std::to_string(max);
        std::uint64_t value = 0;
        if (v.is_number_unsigned()) {
            value = v.get<std::uint64_t>();
        } else if (v.is_number_integer()) {
            Fail(path, expected);  // negative
        } else if (v.is_string()) {
            const std::string& s = v.get_ref<const std::string&>();
            if (s.size() < 3 || s.size() > 18 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X'))
                Fail(path, expected + " (or a \"0x...\" hexadecimal string)");
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
                    Fail(path, expected + " (or a \"0x...\" hexadecimal string)");
                value = value * 16 + static_cast<std::uint64_t>(d);
            }
        } else {
            Fail(path, expected);
        }
        if (value > max)
            Fail(path, expected);
        return value;
    }

    BYTE U8(const Json& v, const CPath& path) const {
        return static_cast<BYTE>(Unsigned(v, path, 0xFF));
    }
    WORD U16(const Json& v, const CPath& path) const {
        return static_cast<WORD>(Unsigned(v, path, 0xFFFF));
    }
    DWORD U32(const Json& v, const CPath& path) const {
        return static_cast<DWORD>(Unsigned(v, path, 0xFFFFFFFFu));
    }

    std::string Text(const Json& v, const CPath& path) const {
        if (!v.is_string())
            Fail(path, "expected a string");
        return v.get<std::string>();
    }
    std::string NonEmptyText(const Json& v, const CPath& path) const {
        std::string s = Text(v, path);
        if (s.empty())
            Fail(path, "expected a non-empty string");
        return s;
    }
    bool Bool(const Json& v, const CPath& path) const {
        if (!v.is_boolean())
            Fail(path, "expected true or false");
        return v.get<bool>();
    }
    std::vector<BYTE> ByteArray(const Json& v, const CPath& path, std::size_t maxCount) const {
        ExpectArray(v, path);
        if (v.size() > maxCount)
            Fail(path, "expected at most " + std::to_string(maxCount) + " bytes");
        std::vector<BYTE> out;
        for (std::size_t i = 0; i < v.size(); ++i)
            out.push_back(U8(v[i], Child(path, i)));
        return out;
    }
    std::uint32_t Named(const Json& v, const CPath& path, const CNamed* names, std::size_t count,
                        bool allowNumber) const {
        if (v.is_string()) {
            for (std::size_t i = 0; i < count; ++i)
                if (v.get_ref<const std::string&>() == names[i].m_strName)
                    return names[i].m_dwValue;
        }
        const bool number = v.is_number_unsigned() ||
                            (v.is_string() && v.get_ref<const std::string&>().rfind("0x", 0) == 0);
        if (!allowNumber || !number)
            Fail(path, "expected one of: " + NameList(names, count) +
                           (allowNumber ? ", or an integer" : ""));
        return static_cast<std::uint32_t>(Unsigned(v, path, 0xFFFFFFFFu));
    }

    template <typename T>
    void ReadU8(const Json& obj, const CPath& path, const char* key, T& out) const {
        if (const Json* v = Find(obj, key))
            out = U8(*v, Child(path, key));
    }
    template <typename T>
    void ReadU16(const Json& obj, const CPath& path, const char* key, T& out) const {
        if (const Json* v = Find(obj, key))
            out = U16(*v, Child(path, key));
    }
    template <typename T>
    void ReadU32(const Json& obj, const CPath& path, const char* key, T& out) const {
        if (const Json* v = Find(obj, key))
            out = U32(*v, Child(path, key));
    }
    void ReadBool(const Json& obj, const CPath& path, const char* key, bool& out) const {
        if (const Json* v = Find(obj, key))
            out = Bool(*v, Child(path, key));
    }
    void ReadOptU32(const Json& obj, const CPath& path, const char* key,
                    std::optional<DWORD>& out) const {
        if (const Json* v = Find(obj, key))
            out = U32(*v, Child(path, key));
    }

    // --- Faults -----------------------------------------------------------------------

    CRequestFault RequestFault(const Json& v, const CPath& path) const {
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
    void ReadRequestFault(const Json& obj, const CPath& path, const char* key,
                          CRequestFault& out) const {
        if (const Json* v = Find(obj, key))
            out = RequestFault(*v, Child(path, key));
    }

    CCmFault CmFault(const Json& v, const CPath& path) const {
        CCmFault f;
        if (v.is_string() && v.get_ref<const std::string&>() == "noWrite") {
            f.m_bNoWrite = true;
            return f;
        }
        if (v.is_string() && v.get_ref<const std::string&>().rfind("0x", 0) != 0) {
            for (const CNamed& n : kConfigRets)
                if (v.get_ref<const std::string&>() == n.m_strName) {
                    f.m_crResult = n.m_dwValue;
                    return f;
                }
            Fail(path, "expected \"noWrite\", one of " +
                           NameList(kConfigRets, std::size(kConfigRets)) + ", or an integer");
        }
        f.m_crResult = U32(v, path);
        return f;
    }
    void ReadCmFault(const Json& obj, const CPath& path, const char* key,
                     std::optional<CCmFault>& out) const {
        if (const Json* v = Find(obj, key))
            out = CmFault(*v, Child(path, key));
    }

    ECallFault CallFault(const Json& v, const CPath& path) const {
        if (v.is_string() && v.get_ref<const std::string&>() == "fail")
            return ECallFault::Fail;
        if (v.is_string() && v.get_ref<const std::string&>() == "noWrite")
            return ECallFault::NoWrite;
        Fail(path, "expected \"fail\" or \"noWrite\"");
    }

    CInterfaceFaults InterfaceFaults(const Json& v, const CPath& path) const {
        CheckKeys(v, path, {"requiredSizeZero", "detailFails"});
        CInterfaceFaults f;
        ReadBool(v, path, "requiredSizeZero", f.m_bRequiredSizeZero);
        ReadBool(v, path, "detailFails", f.m_bDetailFails);
        return f;
    }

    // --- USB topology -----------------------------------------------------------------

    void CheckNodeRef(const std::string& id, const CPath& path) const {
        // Every node's instance ID is in m_mapInstanceIds, upper-cased as FindNode compares.
        if (m_mapInstanceIds.count(Upper(id)) == 0)
            Fail(path, "no node of /deviceTree has the instance ID \"" + id + "\"");
    }

    void ReadController(const Json& v, const CPath& path) {
        CheckKeys(v, path,
                  {"hcd", "interfacePath", "instanceId", "driverKey", "rootHub", "faults"});
        CHostController hc;
        if (const Json* n = Find(v, "hcd")) {
            const CPath at = Child(path, "hcd");
            hc.m_optHcdNumber = static_cast<int>(Unsigned(*n, at, 9));
            auto [it, fresh] = m_mapHcd.emplace(*hc.m_optHcdNumber, at.Str());
            if (!fresh)
                Fail(at, "HCD number " + std::to_string(*hc.m_optHcdNumber) +
                             " is already used at " + it->second);
        }
        if (const Json* p = Find(v, "interfacePath")) {
            const CPath at = Child(path, "interfacePath");
            hc.m_optInterfacePath = NonEmptyText(*p, at);
            Unique(m_mapInterfacePaths, *hc.m_optInterfacePath, at, "interface path");
        }
        if (!hc.m_optHcdNumber && !hc.m_optInterfacePath)
            Fail(path, "a controller needs \"hcd\" or \"interfacePath\" (or both)");
        if (const Json* id = Find(v, "instanceId")) {
            const CPath at = Child(path, "instanceId");
            hc.m_optInstanceId = NonEmptyText(*id, at);
            CheckNodeRef(*hc.m_optInstanceId, at);
        }
        if (const Json* key = Find(v, "driverKey"))
            hc.m_optDriverKey = Utf8ToUtf16(Text(*key, Child(path, "driverKey")));
        if (const Json* hub = Find(v, "rootHub"))
            hc.m_optRootHubName = ReadHub(*hub, Child(path, "rootHub"));
        if (const Json* f = Find(v, "faults")) {
            const CPath at = Child(path, "faults");
            CheckKeys(*f, at, {"open", "driverKey", "rootHubName", "interface"});
            ReadBool(*f, at, "open", hc.m_faults.m_bOpenFails);
            ReadRequestFault(*f, at, "driverKey", hc.m_faults.m_driverKey);
            ReadRequestFault(*f, at, "rootHubName", hc.m_faults.m_rootHubName);
            if (const Json* i = Find(*f, "interface"))
                hc.m_faults.m_interface = InterfaceFaults(*i, Child(at, "interface"));
        }
        m_model.m_vControllers.push_back(std::move(hc));
    }

    void Unique(std::map<std::string, std::string>& seen, const std::string& name, const CPath& at,
                const char* what) const {
        auto [it, fresh] = seen.emplace(Upper(name), at.Str());
        if (!fresh)
            Fail(at, std::string(what) + " \"" + name + "\" is already used at " + it->second);
    }

    // The nodes a tree holds, so that the model's node table is made once (the nesting of
    // the document, and so this recursion, is bounded).
    static std::size_t CountNodes(const Json& node) {
        std::size_t count = 1;
        if (const Json* children = node.is_object() ? Find(node, "children") : nullptr)
            if (children->is_array())
                for (const Json& child : *children)
                    count += CountNodes(child);
        return count;
    }

    // The instance ID of the node about to be added (it gets the next index) is new.
    void UniqueNode(const std::string& id, const CPath& at) {
        auto [it, fresh] = m_mapInstanceIds.emplace(Upper(id), m_model.m_vNodes.size());
        if (!fresh)
            Fail(at, "instance ID \"" + id + "\" is already used at " + NodeIdPath(it->second));
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
    std::u16string ReadHub(const Json& v, const CPath& path) {
        CheckKeys(v, path,
                  {"name", "nodeType", "bDescriptorLength", "bDescriptorType", "bNumberOfPorts",
                   "wHubCharacteristics", "bPowerOnToPowerGood", "bHubControlCurrent",
                   "bRemoveAndPowerMask", "hubIsBusPowered", "ports", "faults"});
        CUsbHub hub;
        const Json* name = Find(v, "name");
        if (name == nullptr)
            Fail(path, "missing \"name\" (the hub's symbolic name)");
        const std::string utf8Name = NonEmptyText(*name, Child(path, "name"));
        Unique(m_mapHubNames, utf8Name, Child(path, "name"), "hub name");
        hub.m_wstrName = Utf8ToUtf16(utf8Name);
        ReadU32(v, path, "nodeType", hub.m_dwNodeType);
        ReadU8(v, path, "bDescriptorLength", hub.m_byDescriptorLength);
        ReadU8(v, path, "bDescriptorType", hub.m_byDescriptorType);
        const Json* ports = Find(v, "bNumberOfPorts");
        if (ports == nullptr)
            Fail(path, "missing \"bNumberOfPorts\"");
        hub.m_byNumberOfPorts = U8(*ports, Child(path, "bNumberOfPorts"));
        ReadU16(v, path, "wHubCharacteristics", hub.m_wHubCharacteristics);
        ReadU8(v, path, "bPowerOnToPowerGood", hub.m_byPowerOnToPowerGood);
        ReadU8(v, path, "bHubControlCurrent", hub.m_byHubControlCurrent);
        if (const Json* mask = Find(v, "bRemoveAndPowerMask")) {
            const auto bytes = ByteArray(*mask, Child(path, "bRemoveAndPowerMask"),
                                         hub.m_abyRemoveAndPowerMask.size());
            std::copy(bytes.begin(), bytes.end(), hub.m_abyRemoveAndPowerMask.begin());
        }
        ReadBool(v, path, "hubIsBusPowered", hub.m_bHubIsBusPowered);
        if (const Json* f = Find(v, "faults")) {
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
        if (const Json* list = Find(v, "ports")) {
            const CPath at = Child(path, "ports");
            ExpectArray(*list, at);
            std::map<DWORD, std::string> seen;
            for (std::size_t i = 0; i < list->size(); ++i) {
                CUsbPort port = ReadPort((*list)[i], Child(at, i), hub.m_byNumberOfPorts);
                auto [it, fresh] = seen.emplace(port.m_dwPort, Child(at, i).Str());
                if (!fresh)
                    Fail(Child(Child(at, i), "port"), "port " + std::to_string(port.m_dwPort) +
                                                          " is already described at " + it->second);
                portList.push_back(std::move(port));
            }
        }
        m_model.m_vHubs[index].m_vPorts = std::move(portList);
        return m_model.m_vHubs[index].m_wstrName;
    }

    CUsbPort ReadPort(const Json& v, const CPath& path, BYTE portCount) {
        CheckKeys(v, path, {"port", "connectionStatus", "device", "faults"});
        CUsbPort port;
        const Json* number = Find(v, "port");
        if (number == nullptr)
            Fail(path, "missing \"port\"");
        const CPath at = Child(path, "port");
        const std::uint64_t n =
            (number->is_number_unsigned() || number->is_string()) ? Unsigned(*number, at, 0xFF) : 0;
        if (n < 1 || n > portCount)
            Fail(at, portCount == 0 ? std::string("the hub has no ports (bNumberOfPorts is 0)")
                                    : "expected a port number 1.." + std::to_string(portCount));
        port.m_dwPort = static_cast<DWORD>(n);
        if (const Json* d = Find(v, "device")) {
            port.m_optDevice = ReadDevice(*d, Child(path, "device"));
            port.m_dwConnectionStatus = DeviceConnected;
        }
        if (const Json* s = Find(v, "connectionStatus"))
            port.m_dwConnectionStatus =
                Named(*s, Child(path, "connectionStatus"), kConnectionStatuses,
                      std::size(kConnectionStatuses), true);
        if (const Json* f = Find(v, "faults")) {
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

    CUsbDevice ReadDevice(const Json& v, const CPath& path) {
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
        if (const Json* hub = Find(v, "hub")) {
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
        if (const Json* s = Find(v, "speed"))
            d.m_bySpeed = static_cast<BYTE>(
                Named(*s, Child(path, "speed"), kSpeeds, std::size(kSpeeds), false));
        ReadBool(v, path, "deviceIsHub", d.m_bDeviceIsHub);
        ReadU16(v, path, "deviceAddress", d.m_wDeviceAddress);
        if (const Json* pipes = Find(v, "pipes")) {
            const CPath at = Child(path, "pipes");
            ExpectArray(*pipes, at);
            if (pipes->size() > kMaxPipes)
                Fail(at, "expected at most " + std::to_string(kMaxPipes) + " pipes");
            for (std::size_t i = 0; i < pipes->size(); ++i) {
                const CPath pat = Child(at, i);
                CheckKeys((*pipes)[i], pat, {"endpointDescriptor", "scheduleOffset"});
                CPipeInfo pipe;
                if (const Json* e = Find((*pipes)[i], "endpointDescriptor")) {
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
        if (const Json* key = Find(v, "driverKey"))
            d.m_optDriverKey = Utf8ToUtf16(Text(*key, Child(path, "driverKey")));
        if (const Json* name = Find(v, "hubName"))
            d.m_optHubName = Utf8ToUtf16(Text(*name, Child(path, "hubName")));
        if (const Json* langs = Find(v, "languages")) {
            const CPath at = Child(path, "languages");
            ExpectArray(*langs, at);
            if (langs->size() > 126)
                Fail(at, "expected at most 126 languages (one descriptor holds no more)");
            std::vector<WORD> ids;
            for (std::size_t i = 0; i < langs->size(); ++i)
                ids.push_back(U16((*langs)[i], Child(at, i)));
            d.m_optLanguageIds = std::move(ids);
        }
        if (const Json* strings = Find(v, "strings"))
            ReadStrings(*strings, Child(path, "strings"), d);
        return d;
    }

    void ReadStrings(const Json& list, const CPath& path, CUsbDevice& d) const {
        ExpectArray(list, path);
        const WORD defaultLanguage = (d.m_optLanguageIds && !d.m_optLanguageIds->empty())
                                         ? d.m_optLanguageIds->front()
                                         : WORD(0x0409);
        std::vector<WORD> used;
        std::map<std::pair<int, int>, std::string> seen;
        for (std::size_t i = 0; i < list.size(); ++i) {
            const CPath at = Child(path, i);
            const Json& v = list[i];
            CheckKeys(v, at, {"index", "language", "text", "raw", "faults"});
            CStringDescriptor s;
            const Json* index = Find(v, "index");
            if (index == nullptr)
                Fail(at, "missing \"index\"");
            s.m_byIndex = U8(*index, Child(at, "index"));
            s.m_wLanguage = defaultLanguage;
            ReadU16(v, at, "language", s.m_wLanguage);
            const Json* text = Find(v, "text");
            const Json* raw = Find(v, "raw");
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
            if (const Json* f = Find(v, "faults"))
                s.m_faults = RequestFault(*f, Child(at, "faults"));
            const int key = s.m_byIndex == 0 ? 0 : s.m_wLanguage;
            auto [it, fresh] = seen.emplace(std::make_pair(int(s.m_byIndex), key), at.Str());
            if (!fresh)
                Fail(at, "string " + std::to_string(s.m_byIndex) +
                             " in this language is already given at " + it->second);
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

    void ReadNode(const Json& v, const CPath& path, std::optional<std::size_t> parent) {
        CheckKeys(v, path,
                  {"id", "present", "status", "problem", "properties", "removalRelations",
                   "children", "faults"});
        CDevNode node;
        const CPath idPath = Child(path, "id");
        if (const Json* id = Find(v, "id"))
            node.m_strInstanceId = NonEmptyText(*id, idPath);
        else if (parent)
            Fail(path, "missing \"id\" (the device instance ID)");
        else
            node.m_strInstanceId = kRootInstanceId;
        UniqueNode(node.m_strInstanceId, idPath);
        ReadBool(v, path, "present", node.m_bPresent);
        ReadU32(v, path, "status", node.m_ulStatus);
        ReadU32(v, path, "problem", node.m_ulProblem);
        if (const Json* props = Find(v, "properties")) {
            const CPath at = Child(path, "properties");
            ExpectObject(*props, at);
            for (auto it = props->begin(); it != props->end(); ++it)
                node.m_vProperties.push_back(
                    ReadProperty(it.key(), it.value(), Child(at, it.key())));
        }
        if (const Json* rel = Find(v, "removalRelations")) {
            const CPath at = Child(path, "removalRelations");
            ExpectArray(*rel, at);
            for (std::size_t i = 0; i < rel->size(); ++i)
                node.m_vRemovalRelations.push_back(NonEmptyText((*rel)[i], Child(at, i)));
        }
        if (const Json* f = Find(v, "faults"))
            ReadNodeFaults(*f, Child(path, "faults"), node.m_faults);
        const std::size_t index = m_model.AddNode(std::move(node), parent);
        if (const Json* children = Find(v, "children")) {
            const CPath at = Child(path, "children");
            ExpectArray(*children, at);
            for (std::size_t i = 0; i < children->size(); ++i)
                ReadNode((*children)[i], Child(at, i), index);
        }
    }

    ULONG PropertyCode(const std::string& name, const CPath& path) const {
        for (const CNamed& n : kProperties)
            if (name == n.m_strName)
                return n.m_dwValue;
        if (name.rfind("0x", 0) == 0)
            return static_cast<ULONG>(Unsigned(Json(name), path, 0xFFFFFFFFu));
        Fail(path, "unknown property (expected one of: " +
                       NameList(kProperties, std::size(kProperties)) + ", or a \"0x...\" code)");
    }

    CRegistryProperty ReadProperty(const std::string& name, const Json& v,
                                   const CPath& path) const {
        CRegistryProperty p;
        p.m_ulCode = PropertyCode(name, path);
        const bool multi = p.m_ulCode == CM_DRP_UPPERFILTERS || p.m_ulCode == CM_DRP_LOWERFILTERS;
        if (v.is_string()) {
            p.m_ulType = kRegTypeSz;
            p.m_vValues.push_back(v.get<std::string>());
        } else if (v.is_array()) {
            p.m_ulType = kRegTypeMultiSz;
            for (std::size_t i = 0; i < v.size(); ++i)
                p.m_vValues.push_back(NonEmptyText(v[i], Child(path, i)));
        } else if (v.is_object()) {
            CheckKeys(v, path, {"raw", "type"});
            const Json* raw = Find(v, "raw");
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

    void ReadNodeFaults(const Json& v, const CPath& path, CDevNodeFaults& f) const {
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
        if (const Json* props = Find(v, "properties")) {
            const CPath at = Child(path, "properties");
            ExpectObject(*props, at);
            for (auto it = props->begin(); it != props->end(); ++it) {
                const CPath pat = Child(at, it.key());
                f.m_vProperties.push_back({PropertyCode(it.key(), pat), CmFault(it.value(), pat)});
            }
        }
        auto link = [&](const char* key, std::optional<std::string>& out) {
            if (const Json* l = Find(v, key))
                out = l->is_null() ? std::string() : NonEmptyText(*l, Child(path, key));
        };
        link("childLink", f.m_optChildLink);
        link("siblingLink", f.m_optSiblingLink);
        link("parentLink", f.m_optParentLink);
        ReadOptU32(v, path, "vanishAfter", f.m_optVanishAfter);
    }

    // --- Volumes ----------------------------------------------------------------------

    void ReadVolume(const Json& v, const CPath& path) {
        CheckKeys(v, path, {"name", "letters", "interfacePath", "instanceId", "faults"});
        CVolume vol;
        const Json* name = Find(v, "name");
        if (name == nullptr)
            Fail(path, "missing \"name\" (the volume name, \\\\?\\Volume{...}\\)");
        vol.m_strName = NonEmptyText(*name, Child(path, "name"));
        if (const Json* letters = Find(v, "letters")) {
            const CPath at = Child(path, "letters");
            ExpectArray(*letters, at);
            for (std::size_t i = 0; i < letters->size(); ++i) {
                const CPath lat = Child(at, i);
                const std::string s = Text((*letters)[i], lat);
                const std::string u = Upper(s);
                if (u.size() != 1 || u[0] < 'A' || u[0] > 'Z')
                    Fail(lat, "expected a drive letter \"A\"..\"Z\"");
                auto [it, fresh] = m_mapLetters.emplace(u[0], lat.Str());
                if (!fresh)
                    Fail(lat, "drive letter " + u + " is already used at " + it->second);
                vol.m_vLetters.push_back(u[0]);
            }
        }
        if (const Json* p = Find(v, "interfacePath")) {
            const CPath at = Child(path, "interfacePath");
            vol.m_optInterfacePath = NonEmptyText(*p, at);
            Unique(m_mapInterfacePaths, *vol.m_optInterfacePath, at, "interface path");
        }
        if (const Json* id = Find(v, "instanceId")) {
            const CPath at = Child(path, "instanceId");
            vol.m_optInstanceId = NonEmptyText(*id, at);
            CheckNodeRef(*vol.m_optInstanceId, at);
        }
        if (const Json* f = Find(v, "faults")) {
            const CPath at = Child(path, "faults");
            CheckKeys(*f, at, {"rootMountPoint", "interfaceMountPoint", "interface"});
            if (const Json* c = Find(*f, "rootMountPoint"))
                vol.m_faults.m_rootMountPoint = CallFault(*c, Child(at, "rootMountPoint"));
            if (const Json* c = Find(*f, "interfaceMountPoint"))
                vol.m_faults.m_interfaceMountPoint =
                    CallFault(*c, Child(at, "interfaceMountPoint"));
            if (const Json* i = Find(*f, "interface"))
                vol.m_faults.m_interface = InterfaceFaults(*i, Child(at, "interface"));
        }
        m_model.m_vVolumes.push_back(std::move(vol));
    }

    std::string m_strSource;
    CMachineModel m_model;
    std::map<int, std::string> m_mapHcd;
    std::map<std::string, std::string> m_mapInterfacePaths;
    std::map<std::string, std::string> m_mapHubNames;
    // Upper-cased instance ID -> the node's index (its place in the fixture is made again
    // from the tree only for the message when an ID comes twice).
    std::unordered_map<std::string, std::size_t> m_mapInstanceIds;
    bool m_bTreeGiven = false;
    std::map<char, std::string> m_mapLetters;
};

// Builds the document from the parser's events and checks its structure on the way: rejects
// a key given twice in one object (the JSON library would silently keep the last) and
// nesting deeper than kMaxFixtureNesting, naming where it stands. The reader below recurses
// once per level, so the bound also bounds its stack and the JSON pointers it keeps at hand.
class CDocumentBuilder {
  public:
    CDocumentBuilder(const std::string& source, Json& root) : m_strSource(source), m_root(root) {}

    bool null() { return Put(nullptr); }
    bool boolean(bool value) { return Put(value); }
    bool number_integer(Json::number_integer_t value) { return Put(value); }
    bool number_unsigned(Json::number_unsigned_t value) { return Put(value); }
    bool number_float(Json::number_float_t value, const Json::string_t&) { return Put(value); }
    bool string(Json::string_t& value) { return Put(std::move(value)); }
    bool binary(Json::binary_t& value) { return Put(Json::binary(std::move(value))); }
    bool start_object(std::size_t) { return Open(Json::object()); }
    bool start_array(std::size_t) { return Open(Json::array()); }
    bool end_object() { return Close(); }
    bool end_array() { return Close(); }
    bool key(Json::string_t& key) {
        CFrame& frame = m_vFrames.back();
        if (frame.m_pValue->contains(key))
            throw CFixtureError(m_strSource + ": " + Path() + "/" + PointerToken(key) +
                                ": the key is given twice in one object");
        frame.m_pSlot = &(*frame.m_pValue)[key];
        frame.m_strKey = std::move(key);
        return true;
    }
    // The parser's own errors go on as the exceptions they are.
    template <class Exception>
    bool parse_error(std::size_t, const std::string&, const Exception& error) {
        throw error;
    }

  private:
    struct CFrame {
        Json* m_pValue;        // the object or array being filled
        Json* m_pSlot;         // in an object: where the value of the last key goes
        std::string m_strKey;  // in an object: the last key
    };
    // Places a value where the document stands and answers where it went.
    Json* Place(Json&& value) {
        if (m_vFrames.empty()) {
            m_root = std::move(value);
            return &m_root;
        }
        CFrame& frame = m_vFrames.back();
        if (frame.m_pValue->is_array()) {
            frame.m_pValue->push_back(std::move(value));
            return &frame.m_pValue->back();
        }
        *frame.m_pSlot = std::move(value);
        return frame.m_pSlot;
    }
    bool Put(Json&& value) {
        Place(std::move(value));
        return true;
    }
    bool Open(Json&& container) {
        Json* at = Place(std::move(container));
        m_vFrames.push_back({at, nullptr, {}});
        if (m_vFrames.size() > kMaxFixtureNesting)
            throw CFixtureError(m_strSource + ": " + Path() + ": nested deeper than " +
                                std::to_string(kMaxFixtureNesting) +
                                " levels of objects and arrays");
        return true;
    }
    bool Close() {
        m_vFrames.pop_back();
        return true;
    }
    // The JSON pointer of the innermost container: in each one around it, the element being
    // read (its index, or its key).
    std::string Path() const {
        std::string out;
        for (std::size_t i = 0; i + 1 < m_vFrames.size(); ++i) {
            const CFrame& f = m_vFrames[i];
            out += "/" + (f.m_pValue->is_array() ? std::to_string(f.m_pValue->size() - 1)
                                                 : PointerToken(f.m_strKey));
        }
        return out;
    }
    std::string m_strSource;
    Json& m_root;
    std::vector<CFrame> m_vFrames;
};

}  // namespace

CMachineModel LoadMachineText(const std::string& json, const std::string& sourceName) {
    Json root;
    try {
        // Comments (// and /* */) are allowed: fixtures are written by hand.
        CDocumentBuilder builder(sourceName, root);
        Json::sax_parse(json, &builder, Json::input_format_t::json, true, true);
    } catch (const Json::parse_error& e) {
        // Line and column of the byte where the parser stopped.
        const std::size_t at = e.byte == 0 ? 0 : std::min<std::size_t>(e.byte - 1, json.size());
        std::size_t line = 1, column = 1;
        for (std::size_t i = 0; i < at; ++i) {
            if (json[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        std::string detail = e.what();
        const std::size_t colon = detail.find(": ", detail.find("parse error"));
        if (colon != std::string::npos)
            detail = detail.substr(colon + 2);
        throw CFixtureError(sourceName + ": line " + std::to_string(line) + ", column " +
                            std::to_string(column) + ": " + detail);
    } catch (const Json::exception& e) {
        // Not a syntax error but a value the parser cannot hold, such as a number beyond
        // the range of a double ("-1e6861"): refused like any other bad fixture.
        throw CFixtureError(sourceName + ": " + e.what());
    }
    if (!root.is_object())
        throw CFixtureError(sourceName + ": /: expected an object");
    try {
        return CReader(sourceName).Read(root);
    } catch (const Json::exception& e) {
        throw CFixtureError(sourceName + ": " + e.what());
    }
}

CMachineModel LoadMachineFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw CFixtureError(path + ": cannot open the file");
    // Read whole, in blocks straight into the text (a machine of 1000 devices is 11 MB).
    std::string text;
    char block[64 * 1024];
    while (in.read(block, sizeof block) || in.gcount() > 0)
        text.append(block, static_cast<std::size_t>(in.gcount()));
    if (in.bad())
        throw CFixtureError(path + ": cannot read the file");
    return LoadMachineText(text, path);
}

}  // namespace ks::before

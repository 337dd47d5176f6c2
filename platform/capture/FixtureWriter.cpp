#include "platform/capture/FixtureWriter.h"

#include <cstdio>
#include <map>
#include <set>
#include <string_view>

#include <nlohmann/json.hpp>

#include "framework/CodePage.h"

namespace ks {

namespace {

using Json = nlohmann::ordered_json;

// The loader's limits.
constexpr std::size_t kMaxLanguages = 126;
constexpr std::size_t kMaxTextUnits = 126;
constexpr std::size_t kMaxRawDescriptor = 255;
constexpr std::size_t kMaxRawProperty = 65536;

std::string Hex(std::uint32_t value, int digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, static_cast<unsigned>(value));
    return buf;
}

// Upper-cased as the loader does when it checks that names are unique (ASCII letters only).
std::string UpperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string Utf8(std::u16string_view text) {
    return Utf16ToUtf8(text);
}

// True when the UTF-16 text survives the trip through the fixture's UTF-8 (it holds no
// unpaired surrogate).
bool Utf8Holds(std::u16string_view text) {
    return Utf8ToUtf16(Utf16ToUtf8(text)) == text;
}

Json ByteArray(const BYTE* data, std::size_t count) {
    Json a = Json::array();
    for (std::size_t i = 0; i < count; ++i)
        a.push_back(data[i]);
    return a;
}

const char* SpeedName(BYTE speed) {
    switch (speed) {
        case kUsbLowSpeed:
            return "low";
        case kUsbFullSpeed:
            return "full";
        case kUsbHighSpeed:
            return "high";
        default:
            return "super";  // the format names no faster speed
    }
}

Json ConnectionStatus(DWORD status) {
    static const char* const kNames[] = {
        "NoDeviceConnected",        "DeviceConnected",          "DeviceFailedEnumeration",
        "DeviceGeneralFailure",     "DeviceCausedOvercurrent",  "DeviceNotEnoughPower",
        "DeviceNotEnoughBandwidth", "DeviceHubNestedTooDeeply", "DeviceInLegacyHub"};
    if (status < std::size(kNames))
        return kNames[status];
    return status;
}

Json CmFault(const CCmFault& f) {
    if (f.m_bNoWrite)
        return "noWrite";
    switch (f.m_crResult) {
        case CR_FAILURE:
            return "CR_FAILURE";
        case CR_INVALID_POINTER:
            return "CR_INVALID_POINTER";
        case CR_INVALID_DEVNODE:
            return "CR_INVALID_DEVNODE";
        case CR_NO_SUCH_DEVNODE:
            return "CR_NO_SUCH_DEVNODE";
        case CR_BUFFER_SMALL:
            return "CR_BUFFER_SMALL";
        case CR_NO_SUCH_VALUE:
            return "CR_NO_SUCH_VALUE";
        default:
            return Hex(f.m_crResult, 2);
    }
}

std::string PropertyName(ULONG code) {
    switch (code) {
        case CM_DRP_DEVICEDESC:
            return "DEVICEDESC";
        case CM_DRP_SERVICE:
            return "SERVICE";
        case CM_DRP_CLASSGUID:
            return "CLASSGUID";
        case CM_DRP_DRIVER:
            return "DRIVER";
        case CM_DRP_FRIENDLYNAME:
            return "FRIENDLYNAME";
        case CM_DRP_LOCATION_INFORMATION:
            return "LOCATION_INFORMATION";
        case CM_DRP_UPPERFILTERS:
            return "UPPERFILTERS";
        case CM_DRP_LOWERFILTERS:
            return "LOWERFILTERS";
        case CM_DRP_ENUMERATOR_NAME:
            return "ENUMERATOR_NAME";
        default:
            return Hex(code, 2);
    }
}

Json RequestFault(const CRequestFault& f) {
    Json j = Json::object();
    if (f.m_bFail)
        j["fail"] = true;
    if (f.m_optFailAfter)
        j["failAfter"] = *f.m_optFailAfter;
    if (f.m_bNoWrite)
        j["noWrite"] = true;
    if (f.m_optBytesReturned)
        j["bytesReturned"] = *f.m_optBytesReturned;
    if (f.m_optActualLength)
        j["actualLength"] = Hex(*f.m_optActualLength, 1);
    if (f.m_bNoTerminator)
        j["noTerminator"] = true;
    return j;
}

void PutRequestFault(Json& faults, const char* key, const CRequestFault& f) {
    if (!f.IsDefault())
        faults[key] = RequestFault(f);
}

Json InterfaceFaults(const CInterfaceFaults& f) {
    Json j = Json::object();
    if (f.m_bRequiredSizeZero)
        j["requiredSizeZero"] = true;
    if (f.m_bDetailFails)
        j["detailFails"] = true;
    return j;
}

Json CallFault(ECallFault f) {
    return f == ECallFault::Fail ? "fail" : "noWrite";
}

// --- Text output ------------------------------------------------------------------------

bool IsScalar(const Json& v) {
    return !v.is_object() && !v.is_array();
}

// Objects and arrays one member a line, except arrays of plain values and small objects of
// plain values, which stay on one line.
void Emit(std::string& out, const Json& v, int indent) {
    auto dump = [](const Json& s) {
        return s.dump(-1, ' ', false, Json::error_handler_t::replace);
    };
    const std::string pad(static_cast<std::size_t>(indent) + 2, ' ');
    if (v.is_array()) {
        bool flat = true;
        for (const Json& e : v)
            flat = flat && IsScalar(e);
        if (flat) {
            out += '[';
            for (std::size_t i = 0; i < v.size(); ++i)
                out += (i ? ", " : "") + dump(v[i]);
            out += ']';
            return;
        }
        out += "[\n";
        for (std::size_t i = 0; i < v.size(); ++i) {
            out += pad;
            Emit(out, v[i], indent + 2);
            out += i + 1 < v.size() ? ",\n" : "\n";
        }
        out.append(static_cast<std::size_t>(indent), ' ');
        out += ']';
        return;
    }
    if (v.is_object()) {
        bool flat = v.size() <= 4;
        for (auto it = v.begin(); flat && it != v.end(); ++it)
            flat = IsScalar(it.value());
        if (v.empty() || flat) {
            out += '{';
            bool first = true;
            for (auto it = v.begin(); it != v.end(); ++it) {
                out += (first ? "" : ", ") + dump(Json(it.key())) + ": " + dump(it.value());
                first = false;
            }
            out += '}';
            return;
        }
        out += "{\n";
        std::size_t i = 0;
        for (auto it = v.begin(); it != v.end(); ++it, ++i) {
            out += pad + dump(Json(it.key())) + ": ";
            Emit(out, it.value(), indent + 2);
            out += i + 1 < v.size() ? ",\n" : "\n";
        }
        out.append(static_cast<std::size_t>(indent), ' ');
        out += '}';
        return;
    }
    out += dump(v);
}

// --- The machine ------------------------------------------------------------------------

class CWriter {
  public:
    explicit CWriter(const CMachineModel& model) : m_model(model) {}

    Json Write() {
        Json root = Json::object();
        // The tree first: controllers and volumes may only name nodes that it holds.
        Json tree = DeviceTree();
        Json controllers = Controllers();
        if (!controllers.empty())
            root["controllers"] = std::move(controllers);
        if (!tree.is_null())
            root["deviceTree"] = std::move(tree);
        Json volumes = Volumes();
        if (!volumes.empty())
            root["volumes"] = std::move(volumes);
        Json faults = Json::object();
        if (m_model.m_faults.m_bHostControllerSetFails)
            faults["hostControllerSetFails"] = true;
        if (m_model.m_faults.m_bVolumeSetFails)
            faults["volumeSetFails"] = true;
        if (!faults.empty())
            root["faults"] = std::move(faults);
        return root;
    }

  private:
    // --- Hubs and devices ---------------------------------------------------------------

    // A hub name as a path opens it: up to its first NUL, which ends the path's text.
    static std::u16string_view Opened(std::u16string_view name) {
        return name.substr(0, std::min(name.find(u'\0'), name.size()));
    }

    // The hub that a name opens: the first whose name opens the same.
    std::optional<std::size_t> HubIndex(std::u16string_view name) const {
        for (std::size_t i = 0; i < m_model.m_vHubs.size(); ++i)
            if (EqualsNoCaseAscii(Opened(m_model.m_vHubs[i].m_wstrName), Opened(name)))
                return i;
        return std::nullopt;
    }

    static std::string HubNameKey(const std::string& utf8) {
        return UpperAscii(Utf16ToUtf8(Opened(Utf8ToUtf16(utf8))));
    }

    // A hub name no hub of the model and nothing written so far uses.
    std::string FreshHubName(const std::string& name) {
        // The suffix goes before a NUL, where it changes what the name opens.
        const std::string base = Utf16ToUtf8(Opened(Utf8ToUtf16(name)));
        for (int n = 2;; ++n) {
            std::string candidate = base + "#" + std::to_string(n);
            const std::u16string wide = Utf8ToUtf16(candidate);
            if (!HubIndex(wide) && !m_setHubNames.count(HubNameKey(candidate)))
                return candidate;
        }
    }

    Json HubJson(std::size_t index, const std::string& name) {
        const CUsbHub& hub = m_model.m_vHubs[index];
        m_vEmitted[index] = true;
        m_setHubNames.insert(HubNameKey(name));
        Json j = Json::object();
        j["name"] = name;
        j["bNumberOfPorts"] = hub.m_byNumberOfPorts;
        if (hub.m_dwNodeType != 0)
            j["nodeType"] = hub.m_dwNodeType;
        if (hub.m_byDescriptorLength != 9)
            j["bDescriptorLength"] = hub.m_byDescriptorLength;
        if (hub.m_byDescriptorType != 0x29)
            j["bDescriptorType"] = Hex(hub.m_byDescriptorType, 2);
        if (hub.m_wHubCharacteristics != 0)
            j["wHubCharacteristics"] = Hex(hub.m_wHubCharacteristics, 4);
        if (hub.m_byPowerOnToPowerGood != 0)
            j["bPowerOnToPowerGood"] = hub.m_byPowerOnToPowerGood;
        if (hub.m_byHubControlCurrent != 0)
            j["bHubControlCurrent"] = hub.m_byHubControlCurrent;
        std::size_t maskLength = hub.m_abyRemoveAndPowerMask.size();
        while (maskLength > 0 && hub.m_abyRemoveAndPowerMask[maskLength - 1] == 0)
            --maskLength;
        if (maskLength > 0)
            j["bRemoveAndPowerMask"] = ByteArray(hub.m_abyRemoveAndPowerMask.data(), maskLength);
        if (hub.m_bHubIsBusPowered)
            j["hubIsBusPowered"] = true;
        Json ports = Json::array();
        std::set<DWORD> seen;
        for (const CUsbPort& port : hub.m_vPorts) {
            // The model answers only ports 1..count, each by its first entry.
            if (port.m_dwPort < 1 || port.m_dwPort > hub.m_byNumberOfPorts ||
                !seen.insert(port.m_dwPort).second)
                continue;
            ports.push_back(PortJson(port));
        }
        if (!ports.empty())
            j["ports"] = std::move(ports);
        Json faults = Json::object();
        if (hub.m_faults.m_bOpenFails)
            faults["open"] = true;
        PutRequestFault(faults, "nodeInformation", hub.m_faults.m_nodeInformation);
        PutRequestFault(faults, "connectionInformationEx", hub.m_faults.m_connectionInfoEx);
        if (!faults.empty())
            j["faults"] = std::move(faults);
        return j;
    }

    Json PortJson(const CUsbPort& port) {
        Json j = Json::object();
        j["port"] = port.m_dwPort;
        const DWORD defaultStatus = port.m_optDevice ? DeviceConnected : NoDeviceConnected;
        if (port.m_dwConnectionStatus != defaultStatus)
            j["connectionStatus"] = ConnectionStatus(port.m_dwConnectionStatus);
        if (port.m_optDevice)
            j["device"] = DeviceJson(*port.m_optDevice, port.m_faults.m_nodeName);
        const CPortFaults& f = port.m_faults;
        Json faults = Json::object();
        PutRequestFault(faults, "connectionInformationEx", f.m_connectionInfoEx);
        PutRequestFault(faults, "connectionInformation", f.m_connectionInfo);
        PutRequestFault(faults, "driverKeyName", f.m_driverKeyName);
        PutRequestFault(faults, "nodeName", f.m_nodeName);
        PutRequestFault(faults, "descriptor", f.m_descriptor);
        if (f.m_optVanishAfter)
            faults["vanishAfter"] = *f.m_optVanishAfter;
        if (!faults.empty())
            j["faults"] = std::move(faults);
        return j;
    }

    Json DeviceJson(const CUsbDevice& d, const CRequestFault& nodeName) {
        Json j = Json::object();
        // A hub on this port that is not written yet (and is no controller's root hub) is
        // written here; the loader then takes its defaults for a hub's descriptor.
        std::optional<std::size_t> inlineHub;
        if (d.m_optHubName) {
            auto h = HubIndex(VisibleName(*d.m_optHubName, nodeName, kPortNameTextOffset));
            if (h && !m_vEmitted[*h] && !m_setRootHubs.count(*h))
                inlineHub = h;
        }
        const CUsbDevice defaults = [&] {
            CUsbDevice def;
            if (inlineHub) {
                def.m_bDeviceIsHub = true;
                def.m_byDeviceClass = 9;
                def.m_bySpeed = kUsbHighSpeed;
            }
            return def;
        }();
        auto u8 = [&](const char* key, BYTE v, BYTE def) {
            if (v != def)
                j[key] = v;
        };
        auto u16 = [&](const char* key, WORD v, WORD def) {
            if (v != def)
                j[key] = Hex(v, 4);
        };
        u8("bLength", d.m_byLength, defaults.m_byLength);
        u8("bDescriptorType", d.m_byDescriptorType, defaults.m_byDescriptorType);
        u16("bcdUSB", d.m_wBcdUsb, defaults.m_wBcdUsb);
        if (d.m_byDeviceClass != defaults.m_byDeviceClass)
            j["bDeviceClass"] = Hex(d.m_byDeviceClass, 2);
        u8("bDeviceSubClass", d.m_byDeviceSubClass, defaults.m_byDeviceSubClass);
        u8("bDeviceProtocol", d.m_byDeviceProtocol, defaults.m_byDeviceProtocol);
        u8("bMaxPacketSize0", d.m_byMaxPacketSize0, defaults.m_byMaxPacketSize0);
        u16("idVendor", d.m_wIdVendor, defaults.m_wIdVendor);
        u16("idProduct", d.m_wIdProduct, defaults.m_wIdProduct);
        u16("bcdDevice", d.m_wBcdDevice, defaults.m_wBcdDevice);
        u8("iManufacturer", d.m_byManufacturer, defaults.m_byManufacturer);
        u8("iProduct", d.m_byProduct, defaults.m_byProduct);
        u8("iSerialNumber", d.m_bySerialNumber, defaults.m_bySerialNumber);
        u8("bNumConfigurations", d.m_byNumConfigurations, defaults.m_byNumConfigurations);
        u8("currentConfigurationValue", d.m_byCurrentConfigurationValue,
           defaults.m_byCurrentConfigurationValue);
        const BYTE speed = d.m_bySpeed > kUsbSuperSpeed ? kUsbSuperSpeed : d.m_bySpeed;
        if (speed != defaults.m_bySpeed)
            j["speed"] = SpeedName(speed);
        if (d.m_bDeviceIsHub != defaults.m_bDeviceIsHub)
            j["deviceIsHub"] = d.m_bDeviceIsHub;
        if (d.m_wDeviceAddress != defaults.m_wDeviceAddress)
            j["deviceAddress"] = d.m_wDeviceAddress;
        const std::size_t pipeCount = std::min(d.m_vPipes.size(), kMaxPipes);
        if (pipeCount > 0) {
            Json pipes = Json::array();
            for (std::size_t i = 0; i < pipeCount; ++i) {
                const CPipeInfo& p = d.m_vPipes[i];
                Json pj = Json::object();
                pj["endpointDescriptor"] = ByteArray(p.m_abyEndpointDescriptor.data(), 7);
                if (p.m_dwScheduleOffset != 0)
                    pj["scheduleOffset"] = p.m_dwScheduleOffset;
                pipes.push_back(std::move(pj));
            }
            j["pipes"] = std::move(pipes);
        }
        if (d.m_dwNumberOfOpenPipes != pipeCount)
            j["numberOfOpenPipes"] = d.m_dwNumberOfOpenPipes;
        if (d.m_optDriverKey)
            j["driverKey"] = Utf8(*d.m_optDriverKey);
        if (inlineHub) {
            const CUsbHub& hub = m_model.m_vHubs[*inlineHub];
            j["hub"] = HubJson(*inlineHub, Utf8(hub.m_wstrName));
            if (*d.m_optHubName != hub.m_wstrName)
                j["hubName"] = Utf8(*d.m_optHubName);
        } else if (d.m_optHubName) {
            j["hubName"] = Utf8(*d.m_optHubName);
        }
        StringsJson(d, j);
        return j;
    }

    static Json RawDescriptorFromText(std::u16string_view text) {
        Json raw = Json::array();
        raw.push_back(static_cast<BYTE>(2 + 2 * text.size()));
        raw.push_back(3);
        for (char16_t u : text) {
            raw.push_back(static_cast<BYTE>(u & 0xFF));
            raw.push_back(static_cast<BYTE>(u >> 8));
        }
        return raw;
    }

    void StringsJson(const CUsbDevice& d, Json& j) {
        if (d.m_optLanguageIds) {
            Json langs = Json::array();
            const std::size_t n = std::min(d.m_optLanguageIds->size(), kMaxLanguages);
            for (std::size_t i = 0; i < n; ++i)
                langs.push_back(Hex((*d.m_optLanguageIds)[i], 4));
            j["languages"] = std::move(langs);
        }
        Json strings = Json::array();
        std::set<std::pair<int, int>> seen;
        bool hasIndexZero = false;
        bool hasText = false;
        for (const CStringDescriptor& s : d.m_vStrings) {
            // The model answers a request with the first descriptor of that index and
            // language (any language for descriptor 0).
            const int language = s.m_byIndex == 0 ? 0 : s.m_wLanguage;
            if (!seen.insert({s.m_byIndex, language}).second)
                continue;
            Json sj = Json::object();
            sj["index"] = s.m_byIndex;
            if (s.m_byIndex != 0)
                sj["language"] = Hex(s.m_wLanguage, 4);
            const std::u16string_view text =
                std::u16string_view(s.m_wstrText).substr(0, kMaxTextUnits);
            if (s.m_optRaw) {
                const std::size_t n = std::min(s.m_optRaw->size(), kMaxRawDescriptor);
                sj["raw"] = ByteArray(s.m_optRaw->data(), n);
            } else if (s.m_byIndex == 0 || !Utf8Holds(text)) {
                sj["raw"] = RawDescriptorFromText(text);
            } else if (!text.empty()) {
                sj["text"] = Utf8(text);
            }
            if (!s.m_faults.IsDefault())
                sj["faults"] = RequestFault(s.m_faults);
            hasIndexZero = hasIndexZero || s.m_byIndex == 0;
            hasText = hasText || s.m_byIndex != 0;
            strings.push_back(std::move(sj));
        }
        // Without a list of its own the loader gives the device the languages its strings
        // use; a device that has none refuses descriptor 0, and says so here.
        if (!d.m_optLanguageIds && hasText && !hasIndexZero) {
            Json refused = Json::object();
            refused["index"] = 0;
            refused["raw"] = Json::array();
            refused["faults"] = {{"fail", true}};
            strings.push_back(std::move(refused));
        }
        if (!strings.empty())
            j["strings"] = std::move(strings);
    }

    // --- Controllers --------------------------------------------------------------------

    std::string UniqueInterfacePath(const std::string& path) {
        std::string candidate = path;
        for (int n = 2; m_setInterfacePaths.count(UpperAscii(candidate)); ++n)
            candidate = path + "#" + std::to_string(n);
        m_setInterfacePaths.insert(UpperAscii(candidate));
        return candidate;
    }

    bool NodeWritten(const std::string& id) const {
        return m_setNodeIds.count(UpperAscii(id)) != 0;
    }

    static std::u16string_view RootName(const CHostController& hc) {
        return VisibleName(*hc.m_optRootHubName, hc.m_faults.m_rootHubName, kHcdNameTextOffset);
    }

    // The root hub of controller c, named so that it opens as the controller's answer reads.
    // Where the name the hub is written with is not the one answered, the reply keeps its
    // ActualLength and byte count (rootFault), so that it reads as before.
    Json RootHubJson(const CHostController& hc, std::size_t c,
                     const std::map<std::size_t, std::size_t>& rootOwner,
                     CRequestFault& rootFault) {
        const std::u16string& answered = *hc.m_optRootHubName;
        const std::u16string_view visible = RootName(hc);
        const bool exact = rootFault.m_bNoWrite || Opened(answered) == visible;
        auto keepReply = [&] {
            const std::size_t size =
                kHcdNameTextOffset + 2 * answered.size() + (rootFault.m_bNoTerminator ? 0 : 2);
            const DWORD actual = rootFault.m_optActualLength.value_or(static_cast<DWORD>(size));
            // A reply the program takes in full (ActualLength above the probe) keeps its
            // byte count; otherwise only the probe is sent.
            if (actual > kHcdNameProbeSize)
                rootFault.m_optBytesReturned = rootFault.m_optBytesReturned.value_or(
                    static_cast<DWORD>(std::min<std::size_t>(size, actual)));
            rootFault.m_optActualLength = actual;
            rootFault.m_bNoTerminator = false;
        };
        // A copy under a new name reads whole, so that it opens the copy.
        auto readWhole = [&] {
            rootFault.m_optActualLength.reset();
            rootFault.m_optBytesReturned.reset();
            rootFault.m_bNoTerminator = false;
        };
        if (auto h = HubIndex(visible)) {
            const std::string own = Utf8(m_model.m_vHubs[*h].m_wstrName);
            if (rootOwner.at(*h) == c) {
                if (exact)
                    return HubJson(*h, Utf8(answered));
                keepReply();
                return HubJson(*h, own);
            }
            readWhole();
            return HubJson(*h, FreshHubName(own));
        }
        // A name that opens nothing: a hub that opens as the answer reads and cannot be
        // opened (an empty one reads as a lone NUL). Of a name that is never read the probe
        // still shows the first letter, which the hub's name keeps.
        std::string name = exact ? Utf8(answered) : Utf8(visible);
        if (visible.empty() && Opened(answered).empty()) {
            name = std::string(1, '\0') + std::to_string(++m_emptyRootNames);
        } else if (visible.empty()) {
            name = Utf8(answered);
            const std::optional<std::size_t> h = HubIndex(answered);
            // The hub of that name, when nothing else writes it, is written here as it is.
            if (h && !m_vEmitted[*h] && !rootOwner.count(*h))
                return HubJson(*h, name);
            if (h || m_setHubNames.count(HubNameKey(name)))
                name = FreshHubName(name);
        } else if (m_setHubNames.count(HubNameKey(name))) {
            name = FreshHubName(name);
            readWhole();
            m_setHubNames.insert(HubNameKey(name));
            return {{"name", name}, {"bNumberOfPorts", 0}, {"faults", {{"open", true}}}};
        }
        if (Utf8ToUtf16(name) != answered && !rootFault.m_bNoWrite)
            keepReply();
        m_setHubNames.insert(HubNameKey(name));
        return {{"name", name}, {"bNumberOfPorts", 0}, {"faults", {{"open", true}}}};
    }

    Json Controllers() {
        m_vEmitted.assign(m_model.m_vHubs.size(), false);
        // Which controllers are written, with which HCD number; and the root hubs they
        // claim, so that no port writes one of them first.
        std::set<int> hcds;
        std::vector<std::optional<int>> hcdOf(m_model.m_vControllers.size());
        std::vector<bool> written(m_model.m_vControllers.size(), false);
        std::map<std::size_t, std::size_t> rootOwner;
        for (std::size_t c = 0; c < m_model.m_vControllers.size(); ++c) {
            const CHostController& hc = m_model.m_vControllers[c];
            if (hc.m_optHcdNumber && *hc.m_optHcdNumber >= 0 && *hc.m_optHcdNumber <= 9 &&
                hcds.insert(*hc.m_optHcdNumber).second)
                hcdOf[c] = hc.m_optHcdNumber;
            written[c] = hcdOf[c] || hc.m_optInterfacePath;
            if (!written[c] || !hc.m_optRootHubName || hc.m_optRootHubName->empty())
                continue;
            if (auto h = HubIndex(RootName(hc)); h && !rootOwner.count(*h)) {
                rootOwner[*h] = c;
                m_setRootHubs.insert(*h);
            }
        }
        Json list = Json::array();
        for (std::size_t c = 0; c < m_model.m_vControllers.size(); ++c) {
            if (!written[c])
                continue;
            const CHostController& hc = m_model.m_vControllers[c];
            Json j = Json::object();
            if (hcdOf[c])
                j["hcd"] = *hcdOf[c];
            if (hc.m_optInterfacePath)
                j["interfacePath"] = UniqueInterfacePath(*hc.m_optInterfacePath);
            if (hc.m_optInstanceId && NodeWritten(*hc.m_optInstanceId))
                j["instanceId"] = *hc.m_optInstanceId;
            if (hc.m_optDriverKey)
                j["driverKey"] = Utf8(*hc.m_optDriverKey);
            CRequestFault rootFault = hc.m_faults.m_rootHubName;
            // An empty root hub name opens nothing; without a root hub the request fails,
            // which walks nothing either.
            if (hc.m_optRootHubName && !hc.m_optRootHubName->empty())
                j["rootHub"] = RootHubJson(hc, c, rootOwner, rootFault);
            Json faults = Json::object();
            if (hc.m_faults.m_bOpenFails)
                faults["open"] = true;
            PutRequestFault(faults, "driverKey", hc.m_faults.m_driverKey);
            PutRequestFault(faults, "rootHubName", rootFault);
            Json itf = InterfaceFaults(hc.m_faults.m_interface);
            if (!itf.empty())
                faults["interface"] = std::move(itf);
            if (!faults.empty())
                j["faults"] = std::move(faults);
            list.push_back(std::move(j));
        }
        return list;
    }

    // --- Device-node tree ---------------------------------------------------------------

    Json PropertyValue(const CRegistryProperty& p) const {
        const bool filters = p.m_ulCode == CM_DRP_UPPERFILTERS || p.m_ulCode == CM_DRP_LOWERFILTERS;
        if (p.m_optRaw) {
            Json j = Json::object();
            const std::size_t n = std::min(p.m_optRaw->size(), kMaxRawProperty);
            j["raw"] = ByteArray(p.m_optRaw->data(), n);
            if (p.m_ulType != (filters ? kRegTypeMultiSz : kRegTypeSz))
                j["type"] = p.m_ulType;
            return j;
        }
        if (p.m_ulType == kRegTypeMultiSz) {
            // The program reads a multi-string up to its first empty string.
            Json a = Json::array();
            for (const std::string& s : p.m_vValues) {
                if (s.empty())
                    break;
                a.push_back(s);
            }
            return a;
        }
        return p.m_vValues.empty() ? std::string() : p.m_vValues.front();
    }

    std::string NodeId(const CDevNode& node, bool isRoot) {
        std::string id = node.m_strInstanceId;
        if (id.empty())
            id = isRoot ? kRootInstanceId : "UNNAMED\\NODE\\0";
        if (m_setNodeIds.count(UpperAscii(id))) {
            const std::string base = id;
            for (int n = 2; m_setNodeIds.count(UpperAscii(id)); ++n)
                id = base + "#" + std::to_string(n);
        }
        m_setNodeIds.insert(UpperAscii(id));
        return id;
    }

    Json NodeJson(std::size_t index, bool isRoot) {
        const CDevNode& node = m_model.m_vNodes[index];
        m_vNodeWritten[index] = true;
        Json j = Json::object();
        const std::string id = NodeId(node, isRoot);
        if (!isRoot || id != kRootInstanceId)
            j["id"] = id;
        if (!node.m_bPresent)
            j["present"] = false;
        if (node.m_ulStatus != kDefaultDevNodeStatus)
            j["status"] = Hex(node.m_ulStatus, 8);
        if (node.m_ulProblem != 0)
            j["problem"] = node.m_ulProblem;
        Json props = Json::object();
        for (const CRegistryProperty& p : node.m_vProperties) {
            const std::string name = PropertyName(p.m_ulCode);
            if (!props.contains(name))  // the model answers the first of a code
                props[name] = PropertyValue(p);
        }
        if (!props.empty())
            j["properties"] = std::move(props);
        Json relations = Json::array();
        for (const std::string& r : node.m_vRemovalRelations) {
            if (r.empty())
                break;  // the list ends at its first empty instance ID
            relations.push_back(r);
        }
        if (!relations.empty())
            j["removalRelations"] = std::move(relations);
        Json faults = NodeFaults(node.m_faults);
        if (!faults.empty())
            j["faults"] = std::move(faults);
        Json children = Json::array();
        for (std::size_t c : node.m_vChildren)
            if (c < m_model.m_vNodes.size() && !m_vNodeWritten[c])
                children.push_back(NodeJson(c, false));
        if (!children.empty())
            j["children"] = std::move(children);
        return j;
    }

    static Json NodeFaults(const CDevNodeFaults& f) {
        Json j = Json::object();
        auto cm = [&](const char* key, const std::optional<CCmFault>& fault) {
            if (fault)
                j[key] = CmFault(*fault);
        };
        cm("locate", f.m_optLocate);
        cm("child", f.m_optChild);
        cm("sibling", f.m_optSibling);
        cm("parent", f.m_optParent);
        cm("deviceId", f.m_optDeviceId);
        cm("status", f.m_optStatus);
        cm("removalRelationsSize", f.m_optRemovalRelationsSize);
        cm("removalRelationsList", f.m_optRemovalRelationsList);
        Json props = Json::object();
        for (const CPropertyFault& p : f.m_vProperties) {
            const std::string name = PropertyName(p.m_ulCode);
            if (!props.contains(name))
                props[name] = CmFault(p.m_fault);
        }
        if (!props.empty())
            j["properties"] = std::move(props);
        auto link = [&](const char* key, const std::optional<std::string>& target) {
            if (target)
                j[key] = target->empty() ? Json(nullptr) : Json(*target);
        };
        link("childLink", f.m_optChildLink);
        link("siblingLink", f.m_optSiblingLink);
        link("parentLink", f.m_optParentLink);
        if (f.m_optVanishAfter)
            j["vanishAfter"] = *f.m_optVanishAfter;
        return j;
    }

    Json DeviceTree() {
        m_vNodeWritten.assign(m_model.m_vNodes.size(), false);
        if (m_model.m_vNodes.empty())
            return nullptr;
        Json tree = NodeJson(0, true);
        return tree.empty() ? Json(nullptr) : tree;
    }

    // --- Volumes ------------------------------------------------------------------------

    Json Volumes() {
        Json list = Json::array();
        std::set<char> letters;
        for (const CVolume& v : m_model.m_vVolumes) {
            Json j = Json::object();
            // The loader needs a name; an empty one answers as a call that writes nothing.
            j["name"] = v.m_strName.empty() ? std::string("\\\\?\\Volume{}\\") : v.m_strName;
            Json lj = Json::array();
            for (char l : v.m_vLetters) {
                // The model finds a drive root's volume by the first volume with the letter.
                if (l >= 'A' && l <= 'Z' && letters.insert(l).second)
                    lj.push_back(std::string(1, l));
            }
            if (!lj.empty())
                j["letters"] = std::move(lj);
            if (v.m_optInterfacePath)
                j["interfacePath"] = UniqueInterfacePath(*v.m_optInterfacePath);
            if (v.m_optInstanceId && NodeWritten(*v.m_optInstanceId))
                j["instanceId"] = *v.m_optInstanceId;
            Json faults = Json::object();
            ECallFault root = v.m_faults.m_rootMountPoint;
            ECallFault itfPoint = v.m_faults.m_interfaceMountPoint;
            if (v.m_strName.empty()) {
                root = root == ECallFault::None ? ECallFault::NoWrite : root;
                itfPoint = itfPoint == ECallFault::None ? ECallFault::NoWrite : itfPoint;
            }
            if (root != ECallFault::None)
                faults["rootMountPoint"] = CallFault(root);
            if (itfPoint != ECallFault::None)
                faults["interfaceMountPoint"] = CallFault(itfPoint);
            Json itf = InterfaceFaults(v.m_faults.m_interface);
            if (!itf.empty())
                faults["interface"] = std::move(itf);
            if (!faults.empty())
                j["faults"] = std::move(faults);
            list.push_back(std::move(j));
        }
        return list;
    }

    const CMachineModel& m_model;
    std::vector<bool> m_vEmitted;         // hubs written so far
    std::set<std::size_t> m_setRootHubs;  // hubs that a controller writes as its root hub
    std::set<std::string> m_setHubNames;  // upper-cased
    std::set<std::string> m_setInterfacePaths;
    std::set<std::string> m_setNodeIds;
    std::vector<bool> m_vNodeWritten;
    unsigned m_emptyRootNames = 0;
};

}  // namespace

std::u16string_view VisibleName(std::u16string_view name, const CRequestFault& fault,
                                std::size_t textOffset) {
    if (fault.m_optActualLength && *fault.m_optActualLength <= textOffset + 2)
        return {};
    std::size_t bytes = textOffset + 2 * name.size() + 2;
    if (fault.m_optActualLength)
        bytes = std::min<std::size_t>(bytes, *fault.m_optActualLength);
    if (fault.m_optBytesReturned)
        bytes = std::min<std::size_t>(bytes, *fault.m_optBytesReturned);
    const std::size_t units = bytes > textOffset ? (bytes - textOffset) / 2 : 0;
    name = name.substr(0, std::min(units, name.size()));
    return name.substr(0, std::min(name.find(u'\0'), name.size()));
}

std::string WriteMachineFixture(const CMachineModel& model,
                                const std::vector<std::string>& comments) {
    std::string out;
    for (const std::string& c : comments) {
        std::string line = c;
        for (char& ch : line)
            if (ch == '\n' || ch == '\r')
                ch = ' ';
        out += "// " + line + "\n";
    }
    Emit(out, CWriter(model).Write(), 0);
    out += '\n';
    return out;
}

}  // namespace ks

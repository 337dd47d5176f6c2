#include "listing/ListOutput.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string_view>

#include "framework/CodePage.h"
#include "platform/PlatformTypes.h"

namespace ks {

namespace {

void AppendTree(std::string& out, const CDetailNode& node, int depth, UINT codePage) {
    for (const CDetailNode& child : node.m_children) {
        out.append(static_cast<std::size_t>(4 + 2 * depth), ' ');
        out += EscapeForTerminal(child.m_strText, codePage);
        out += '\n';
        AppendTree(out, child, depth + 1, codePage);
    }
}

std::string Utf8(const CString& text) {
    return AnsiToUtf8(text.View());
}

std::string IdText(WORD id) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", id);
    return text;
}

// One details node: its label as the record has it, then what the node itself holds.
nlohmann::ordered_json NodeJson(const CDevNodeTree::Node& node) {
    const CDevNodeInfo& info = node.Info();
    nlohmann::ordered_json out = {{"text", Utf8(MakeNodeLabel(info))}};
    const std::pair<const char*, const CString*> fields[] = {
        {"instanceId", &info.m_strDeviceId},
        {"friendlyName", &info.m_strFriendlyName},
        {"description", &info.m_strDescription},
        {"service", &info.m_strService}};
    for (const auto& [name, value] : fields)
        if (!value->IsEmpty())
            out[name] = Utf8(*value);
    nlohmann::ordered_json children = nlohmann::ordered_json::array();
    for (const CDevNodeTree::Node* child = node.FirstChild(); child != nullptr;
         child = child->NextSibling())
        children.push_back(NodeJson(*child));
    out["children"] = std::move(children);
    return out;
}

// The Linux backend names a block device "sdb1", or "Kestrel Flash (sdb)", and follows the
// name with " on " and its mount points, ", " between them. Its instance IDs begin with the
// subsystem, which no Windows enumerator is called.
constexpr std::string_view kBlockPrefix = "BLOCK\\";
constexpr std::string_view kMountsAfter = " on /";
constexpr std::string_view kMountSeparator = ", /";
// That backend cuts a name to the 199 bytes that device-manager texts hold, at a
// character of up to four bytes: a name this long may end in a cut mount point.
constexpr std::size_t kMaybeCutName = MAX_DEVICE_ID_LEN - 1 - 3;

void AppendMountPoints(const CDevNodeInfo& info, std::vector<CString>& volumes) {
    const std::string_view id = info.m_strDeviceId.View();
    if (id.substr(0, kBlockPrefix.size()) != kBlockPrefix)
        return;
    const std::string_view name = info.m_strFriendlyName.View();
    std::size_t at = name.find(kMountsAfter);
    if (at == std::string_view::npos)
        return;
    at += kMountsAfter.size() - 1;  // the first mount point's slash
    std::vector<CString> points;
    while (true) {
        const std::size_t end = name.find(kMountSeparator, at);
        points.emplace_back(std::string(name.substr(at, end - at)));
        if (end == std::string_view::npos)
            break;
        at = end + kMountSeparator.size() - 1;
    }
    if (name.size() >= kMaybeCutName)
        points.pop_back();
    volumes.insert(volumes.end(), points.begin(), points.end());
}

void CollectVolumes(const CDevNodeTree::Node& node, std::vector<CString>& volumes) {
    const CDevNodeInfo& info = node.Info();
    if (info.m_driveLetter != 0) {
        CString letter;
        letter.Format("%c:", info.m_driveLetter);
        volumes.push_back(letter);
    }
    AppendMountPoints(info, volumes);
    for (const CDevNodeTree::Node* child = node.FirstChild(); child != nullptr;
         child = child->NextSibling())
        CollectVolumes(*child, volumes);
}

}  // namespace

std::string EscapeForTerminal(const CString& text, UINT codePage) {
    return EscapeControlCharacters(text.View(), codePage, EEscape::VisibleAndBackslash);
}

std::string FormatRecordsText(const CDeviceRecordList& records, UINT codePage) {
    std::string out;
    for (POSITION pos = records.GetHeadPosition(); pos != nullptr;) {
        const CDeviceRecord& r = records.GetNext(pos);
        if (!out.empty())
            out += '\n';
        out += EscapeForTerminal(r.m_details.m_strText, codePage);
        out += '\n';
        out += "  Vendor ID:  " + IdText(r.m_wVendorId) + "\n";
        out += "  Product ID: " + IdText(r.m_wProductId) + "\n";
        out += "  Serial:     " + EscapeForTerminal(r.m_strSerial, codePage) + "\n";
        out += "  Details:\n";
        AppendTree(out, r.m_details, 0, codePage);
    }
    return out;
}

std::vector<CString> DeviceVolumes(const CUsbDeviceEntry& entry) {
    std::vector<CString> volumes;
    if (const CDevNodeTree::Node* root = entry.m_devNodeTree.GetRoot())
        CollectVolumes(*root, volumes);
    return volumes;
}

std::string FormatEntriesJson(const std::vector<CUsbDeviceEntry>& entries) {
    nlohmann::ordered_json devices = nlohmann::ordered_json::array();
    for (const CUsbDeviceEntry& entry : entries) {
        const CDeviceRecord record = BuildDeviceRecord(entry);
        nlohmann::ordered_json volumes = nlohmann::ordered_json::array();
        for (const CString& volume : DeviceVolumes(entry))
            volumes.push_back(Utf8(volume));
        const CDevNodeTree::Node* root = entry.m_devNodeTree.GetRoot();
        devices.push_back(
            {{"vendorId", record.m_wVendorId},
             {"productId", record.m_wProductId},
             {"vendorIdText", IdText(record.m_wVendorId)},
             {"productIdText", IdText(record.m_wProductId)},
             {"serial", Utf8(record.m_strSerial)},
             {"volumes", std::move(volumes)},
             {"details", root != nullptr
                             ? NodeJson(*root)
                             : nlohmann::ordered_json{
                                   {"text", ""}, {"children", nlohmann::ordered_json::array()}}}});
    }
    nlohmann::ordered_json doc = {{"schemaVersion", kListSchemaVersion},
                                  {"devices", std::move(devices)}};
    // The serialiser escapes the C0 controls; the characters beyond ASCII that act on a
    // terminal (C1 controls, direction overrides, line separators) can only stand inside
    // strings, where "\u009B" is the same character: written so, the JSON means the same
    // and shows safely.
    const std::string json =
        doc.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    return EscapeControlCharacters(json, kCodePageUtf8, EEscape::Json) + "\n";
}

}  // namespace ks

#include "listing/ListOutput.h"

#include <algorithm>
#include <cstdio>
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

std::string IdText(WORD id) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", id);
    return text;
}

// Appends `text`, UTF-8, as a JSON string: the compact form the JSON library writes (the
// quote, the backslash and the C0 controls escaped, "\n", "\u001b"), and, as
// EscapeControlCharacters has them for JSON, DEL and the characters that act on a terminal
// as "\u" escapes ("\u009B"), which in a JSON string mean the same characters and show
// safely. The conversions from the code page make only well-formed UTF-8; a byte that
// formed no character would become U+FFFD, so that the document stays UTF-8.
void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += '"';
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
            // Printable ASCII but the quote and the backslash: the run of it at once.
            std::size_t end = i + 1;
            while (end < text.size()) {
                const auto c = static_cast<unsigned char>(text[end]);
                if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\')
                    break;
                ++end;
            }
            out.append(text.data() + i, end - i);
            i = end;
            continue;
        }
        if (b >= 0x80) {
            char32_t cp = 0;
            const std::size_t n = DecodeUtf8(text, i, cp);
            if (n == 0) {
                out += "\xEF\xBF\xBD";
                ++i;
            } else if (IsActingCharacter(cp)) {
                char escape[16];
                std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(cp));
                out += escape;
                i += n;
            } else {
                out.append(text.substr(i, n));
                i += n;
            }
            continue;
        }
        switch (b) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\r':
                out += "\\r";
                break;
            case 0x7F:
                out += "\\u007F";
                break;
            default:
                if (b < 0x20) {
                    const char escape[] = {'\\', 'u', '0', '0', kHex[b >> 4], kHex[b & 0xF]};
                    out.append(escape, sizeof escape);
                } else {
                    out += static_cast<char>(b);
                }
        }
        ++i;
    }
    out += '"';
}

// A text of the ANSI code page, as UTF-8. Every ANSI code page is ASCII below 0x80, so a text
// of ASCII alone (as nearly every text a scan reads is) is its own UTF-8: written as it
// stands, without a converted copy.
void AppendAnsiJsonString(std::string& out, const CString& text) {
    const std::string_view view = text.View();
    if (std::all_of(view.begin(), view.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        AppendJsonString(out, view);
    else
        AppendJsonString(out, AnsiToUtf8(view));
}

// One details node: its label as the record has it, then what the node itself holds.
void AppendNodeJson(std::string& out, const CDevNodeTree::Node& node) {
    const CDevNodeInfo& info = node.Info();
    out += "{\"text\":";
    AppendAnsiJsonString(out, MakeNodeLabel(info));
    const std::pair<const char*, const CString*> fields[] = {
        {",\"instanceId\":", &info.m_strDeviceId},
        {",\"friendlyName\":", &info.m_strFriendlyName},
        {",\"description\":", &info.m_strDescription},
        {",\"service\":", &info.m_strService}};
    for (const auto& [name, value] : fields)
        if (!value->IsEmpty()) {
            out += name;
            AppendAnsiJsonString(out, *value);
        }
    out += ",\"children\":[";
    for (const CDevNodeTree::Node* child = node.FirstChild(); child != nullptr;
         child = child->NextSibling()) {
        AppendNodeJson(out, *child);
        if (child->NextSibling() != nullptr)
            out += ',';
    }
    out += "]}";
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
    // The compact form the JSON library writes, written straight away: keys in this order,
    // no spaces, numbers in decimal.
    std::string doc = "{\"schemaVersion\":" + std::to_string(kListSchemaVersion) + ",\"devices\":[";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CUsbDeviceEntry& entry = entries[i];
        const CDeviceRecord record = BuildDeviceRecord(entry);
        if (i != 0)
            doc += ',';
        doc += "{\"vendorId\":" + std::to_string(record.m_wVendorId);
        doc += ",\"productId\":" + std::to_string(record.m_wProductId);
        doc += ",\"vendorIdText\":";
        AppendJsonString(doc, IdText(record.m_wVendorId));
        doc += ",\"productIdText\":";
        AppendJsonString(doc, IdText(record.m_wProductId));
        doc += ",\"serial\":";
        AppendAnsiJsonString(doc, record.m_strSerial);
        doc += ",\"volumes\":[";
        const std::vector<CString> volumes = DeviceVolumes(entry);
        for (std::size_t v = 0; v < volumes.size(); ++v) {
            if (v != 0)
                doc += ',';
            AppendAnsiJsonString(doc, volumes[v]);
        }
        doc += "],\"details\":";
        if (const CDevNodeTree::Node* root = entry.m_devNodeTree.GetRoot())
            AppendNodeJson(doc, *root);
        else
            doc += "{\"text\":\"\",\"children\":[]}";
        doc += '}';
    }
    doc += "]}\n";
    return doc;
}

}  // namespace ks

#include "listing/ListOutput.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "framework/CodePage.h"

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

nlohmann::ordered_json TreeJson(const CDetailNode& node) {
    nlohmann::ordered_json children = nlohmann::ordered_json::array();
    for (const CDetailNode& child : node.m_children)
        children.push_back(TreeJson(child));
    return {{"text", AnsiToUtf8(node.m_strText.View())}, {"children", std::move(children)}};
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
        char ids[64];
        std::snprintf(ids, sizeof ids, "  Vendor ID:  0x%04X\n  Product ID: 0x%04X\n",
                      r.m_wVendorId, r.m_wProductId);
        out += ids;
        out += "  Serial:     " + EscapeForTerminal(r.m_strSerial, codePage) + "\n";
        out += "  Details:\n";
        AppendTree(out, r.m_details, 0, codePage);
    }
    return out;
}

std::string FormatRecordsJson(const CDeviceRecordList& records) {
    nlohmann::ordered_json devices = nlohmann::ordered_json::array();
    for (POSITION pos = records.GetHeadPosition(); pos != nullptr;) {
        const CDeviceRecord& r = records.GetNext(pos);
        devices.push_back({{"vendorId", r.m_wVendorId},
                           {"productId", r.m_wProductId},
                           {"serial", AnsiToUtf8(r.m_strSerial.View())},
                           {"details", TreeJson(r.m_details)}});
    }
    nlohmann::ordered_json doc = {{"devices", std::move(devices)}};
    // The serialiser escapes the C0 controls; the characters beyond ASCII that act on a
    // terminal (C1 controls, direction overrides, line separators) can only stand inside
    // strings, where "\u009B" is the same character: written so, the JSON means the same
    // and shows safely.
    const std::string json =
        doc.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    return EscapeControlCharacters(json, kCodePageUtf8, EEscape::Json) + "\n";
}

}  // namespace ks

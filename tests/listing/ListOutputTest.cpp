// What keyscout-list prints: the text blocks and the JSON document, with hostile texts
// from devices and drivers.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "devices/UsbDeviceScanner.h"
#include "framework/CodePage.h"
#include "listing/ListOutput.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "tests/support/TestData.h"
#include "worker/KeyScoutThread.h"

namespace ks {
namespace {

CDeviceRecordList TwoRecords() {
    CDeviceRecordList list;
    CDeviceRecord stick;
    stick.m_wVendorId = 0x0781;
    stick.m_wProductId = 0xFFFF;
    stick.m_strSerial = "4C530001\x1B[2J";  // an escape sequence in a serial number
    stick.m_details.m_strText = "USB Mass Storage Device";
    CDetailNode& disk = stick.m_details.AppendChild(CDetailNode(&stick.m_details, "Disk"));
    disk.AppendChild(CDetailNode(&disk, "Volume - (E:)"));
    list.Add(stick);
    CDeviceRecord bare;  // no node for its driver key: empty line, no children
    list.Add(bare);
    return list;
}

TEST(ListOutputTest, TextShowsEachRecordWithIdsAndTheTreeIndented) {
    std::string text = FormatRecordsText(TwoRecords(), kCodePageUtf8);
    EXPECT_EQ(text,
              "USB Mass Storage Device\n"
              "  Vendor ID:  0x0781\n"
              "  Product ID: 0xFFFF\n"
              "  Serial:     4C530001\\x1B[2J\n"
              "  Details:\n"
              "    Disk\n"
              "      Volume - (E:)\n"
              "\n"
              "\n"
              "  Vendor ID:  0x0000\n"
              "  Product ID: 0x0000\n"
              "  Serial:     \n"
              "  Details:\n");
}

TEST(ListOutputTest, EscapingKeepsCharactersAndNeutralisesTheRest) {
    EXPECT_EQ(EscapeForTerminal("a\\b\n\x7F", kCodePageUtf8), "a\\\\b\\x0A\\x7F");
    EXPECT_EQ(EscapeForTerminal("\xE3\x83\x87\xFF\xC3", kCodePageUtf8), "\xE3\x83\x87\\xFF\\xC3");
    // In code page 932 a trail byte 0x5C is part of its character, not a backslash.
    EXPECT_EQ(EscapeForTerminal("\x83\x5C\x01", kCodePageShiftJis), "\x83\x5C\\x01");
}

CDevNodeInfo Node(const char* id, const char* friendlyName, const char* description,
                  const char* service = "", char letter = 0) {
    CDevNodeInfo info;
    info.m_strDeviceId = id;
    info.m_strFriendlyName = friendlyName;
    info.m_strDescription = description;
    info.m_strService = service;
    info.m_driveLetter = letter;
    return info;
}

// A stick with a disk and two volumes, a device without a node, and hostile texts.
std::vector<CUsbDeviceEntry> ThreeEntries() {
    std::vector<CUsbDeviceEntry> entries(3);
    CUsbDeviceEntry& stick = entries[0];
    stick.m_idVendor = 0x0781;
    stick.m_idProduct = 0xFFFF;
    stick.m_strSerialNumber = "4C530001\x1B[2J";
    CDevNodeTree& tree = stick.m_devNodeTree;
    auto* root = tree.SetRoot(
        Node("USB\\VID_0781&PID_FFFF\\4C530001", "", "USB Mass Storage Device", "USBSTOR"));
    auto* disk =
        tree.AppendChild(root, Node("USBSTOR\\DISK\\1", "Kestrel Flash", "Disk drive", "disk"));
    tree.AppendChild(disk, Node("STORAGE\\VOLUME\\1", "", "Volume", "volume", 'E'));
    tree.AppendChild(disk, Node("STORAGE\\VOLUME\\2", "Second", "", "", 'F'));
    entries[2].m_strSerialNumber = "\xFF\xFE";  // not text in any code page the tests run under
    entries[2].m_devNodeTree.SetRoot(Node("X\\1", "quote\" and \\", ""));
    return entries;
}

TEST(ListOutputTest, JsonCarriesTheRecordsFieldsAndWhatTheEntryKnows) {
    const std::vector<CUsbDeviceEntry> entries = ThreeEntries();
    const std::string out = FormatEntriesJson(entries);
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(out.find('\n'), out.size() - 1) << "one document, one line";
    auto doc = nlohmann::json::parse(out);
    EXPECT_EQ(doc["schemaVersion"], kListSchemaVersion);
    ASSERT_EQ(doc["devices"].size(), 3u);

    // What the window shows, as the record built from the entry has it.
    const auto& stick = doc["devices"][0];
    EXPECT_EQ(stick["vendorId"], 0x0781);
    EXPECT_EQ(stick["productId"], 0xFFFF);
    EXPECT_EQ(stick["vendorIdText"], "0x0781");
    EXPECT_EQ(stick["productIdText"], "0xFFFF");
    EXPECT_EQ(stick["serial"], "4C530001\x1B[2J");
    EXPECT_EQ(stick["volumes"], nlohmann::json::array({"E:", "F:"}));
    const auto& root = stick["details"];
    EXPECT_EQ(root["text"], "USB Mass Storage Device");
    const auto& disk = root["children"][0];
    EXPECT_EQ(disk["text"], "Kestrel Flash");
    EXPECT_EQ(disk["children"][0]["text"], "Volume - (E:)");
    EXPECT_EQ(disk["children"][1]["text"], "Second - (F:)");
    // ... and what the nodes hold, where they hold it.
    EXPECT_EQ(root["instanceId"], "USB\\VID_0781&PID_FFFF\\4C530001");
    EXPECT_EQ(root["description"], "USB Mass Storage Device");
    EXPECT_EQ(root["service"], "USBSTOR");
    EXPECT_FALSE(root.contains("friendlyName"));
    EXPECT_EQ(disk["friendlyName"], "Kestrel Flash");
    EXPECT_EQ(disk["description"], "Disk drive");
    EXPECT_FALSE(disk["children"][1].contains("description"));
    EXPECT_FALSE(disk["children"][1].contains("service"));

    // A device without a node: an empty line with nothing below, no volume.
    const auto& bare = doc["devices"][1];
    EXPECT_EQ(bare["details"],
              nlohmann::json({{"text", ""}, {"children", nlohmann::json::array()}}));
    EXPECT_EQ(bare["volumes"], nlohmann::json::array());
    EXPECT_EQ(bare["vendorIdText"], "0x0000");

    EXPECT_EQ(doc["devices"][2]["details"]["text"], "quote\" and \\");
    EXPECT_TRUE(doc["devices"][2]["serial"].is_string());

    const std::string empty = FormatEntriesJson({});
    EXPECT_EQ(empty, "{\"schemaVersion\":1,\"devices\":[]}\n");
}

// The document as the JSON library writes it, made of the library's own values.
nlohmann::ordered_json NodeDocument(const CDevNodeTree::Node& node) {
    const CDevNodeInfo& info = node.Info();
    nlohmann::ordered_json out = {{"text", AnsiToUtf8(MakeNodeLabel(info).View())}};
    const std::pair<const char*, const CString*> fields[] = {
        {"instanceId", &info.m_strDeviceId},
        {"friendlyName", &info.m_strFriendlyName},
        {"description", &info.m_strDescription},
        {"service", &info.m_strService}};
    for (const auto& [name, value] : fields)
        if (!value->IsEmpty())
            out[name] = AnsiToUtf8(value->View());
    nlohmann::ordered_json children = nlohmann::ordered_json::array();
    for (const CDevNodeTree::Node* child = node.FirstChild(); child != nullptr;
         child = child->NextSibling())
        children.push_back(NodeDocument(*child));
    out["children"] = std::move(children);
    return out;
}

std::string LibraryJson(const std::vector<CUsbDeviceEntry>& entries) {
    nlohmann::ordered_json devices = nlohmann::ordered_json::array();
    for (const CUsbDeviceEntry& entry : entries) {
        const CDeviceRecord record = BuildDeviceRecord(entry);
        nlohmann::ordered_json volumes = nlohmann::ordered_json::array();
        for (const CString& volume : DeviceVolumes(entry))
            volumes.push_back(AnsiToUtf8(volume.View()));
        char vid[8], pid[8];
        std::snprintf(vid, sizeof vid, "0x%04X", record.m_wVendorId);
        std::snprintf(pid, sizeof pid, "0x%04X", record.m_wProductId);
        const CDevNodeTree::Node* root = entry.m_devNodeTree.GetRoot();
        devices.push_back(
            {{"vendorId", record.m_wVendorId},
             {"productId", record.m_wProductId},
             {"vendorIdText", vid},
             {"productIdText", pid},
             {"serial", AnsiToUtf8(record.m_strSerial.View())},
             {"volumes", std::move(volumes)},
             {"details", root != nullptr
                             ? NodeDocument(*root)
                             : nlohmann::ordered_json{
                                   {"text", ""}, {"children", nlohmann::ordered_json::array()}}}});
    }
    const nlohmann::ordered_json doc = {{"schemaVersion", kListSchemaVersion},
                                        {"devices", std::move(devices)}};
    return EscapeControlCharacters(
               doc.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace),
               kCodePageUtf8, EEscape::Json) +
           "\n";
}

std::vector<CUsbDeviceEntry> ScanFixture(const std::string& name) {
    CModelPlatform platform(LoadMachineFile(test::DataPath(name)));
    CPlatformScope scope(platform);
    std::vector<CUsbDeviceEntry> entries;
    CUsbDeviceScanner scanner(&entries);
    scanner.m_fields = kScannerFields;
    scanner.m_nodeFieldMask = kScannerNodeFields;
    scanner.Scan();
    return entries;
}

TEST(ListOutputTest, JsonIsWhatTheJsonLibraryWritesOfTheSameDocument) {
    // Every byte in every field, one text a byte, and the texts that act on a terminal.
    std::vector<CUsbDeviceEntry> hostile = ThreeEntries();
    CUsbDeviceEntry& every = hostile.emplace_back();
    every.m_idVendor = 0xFFFF;
    CDevNodeTree::Node* root = every.m_devNodeTree.SetRoot(Node("R", "root", ""));
    for (int b = 1; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        const std::string text = "a" + one + "\"\\" + one;
        every.m_devNodeTree.AppendChild(
            root, Node(text.c_str(), text.c_str(), text.c_str(), text.c_str(), 'A' + b % 26));
    }
    for (const char* text : {"\xC2\x9B"
                             "2J",
                             "\xE2\x80\xA8", "\xE2\x80\xAE", "\xE2\x81\xA6x", "\xD8\x9C", "\x7F",
                             "\xEF\xBF\xBD", "\xF0\x9F\x98\x80", "\xED\xA0\x80", "\xC0\xAF",
                             "\xF4\x90\x80\x80", "\xE3\x83", "\xE3\x83\x87\xFF\xC3"}) {
        every.m_devNodeTree.AppendChild(root, Node(text, text, text, text));
        every.m_strSerialNumber = text;
    }
    EXPECT_EQ(FormatEntriesJson(hostile), LibraryJson(hostile));
    EXPECT_EQ(FormatEntriesJson({}), LibraryJson({}));
    for (const char* fixture :
         {"scan-windows-desktop.json", "strings-hostile.json", "machine-realistic.json",
          "scan-labels.json", "volumes-letters.json"}) {
        const std::vector<CUsbDeviceEntry> entries = ScanFixture(fixture);
        EXPECT_FALSE(entries.empty()) << fixture;
        EXPECT_EQ(FormatEntriesJson(entries), LibraryJson(entries)) << fixture;
    }
}

TEST(ListOutputTest, VolumesAreDriveLettersAndTheMountPointsOfBlockDevices) {
    CUsbDeviceEntry entry;
    CDevNodeTree& tree = entry.m_devNodeTree;
    auto* root = tree.SetRoot(Node("USB\\VID_2E1A&PID_5567\\KF1", "Kestrel Flash", ""));
    auto* disk = tree.AppendChild(
        root, Node("BLOCK\\DISK\\sdb", "Kestrel Flash 16GB (sdb) on /media/whole", "Disk drive"));
    auto* part = tree.AppendChild(
        disk,
        Node("BLOCK\\PARTITION\\sdb1", "sdb1 on /media/my stick, /mnt/a, b", "Disk partition"));
    tree.AppendChild(part, Node("BLOCK\\DISK\\dm-0", "dm-0 on /secret", "Block device"));
    tree.AppendChild(part, Node("BLOCK\\DISK\\dm-1", "dm-1", "Block device"));
    // A Windows name that happens to read like a mount: not a block device of Linux.
    tree.AppendChild(root, Node("USBSTOR\\DISK\\2", "Disk on /dev", "", "", 'G'));
    std::vector<std::string> volumes;
    for (const CString& v : DeviceVolumes(entry))
        volumes.emplace_back(v.View());
    EXPECT_EQ(volumes, (std::vector<std::string>{"/media/whole", "/media/my stick", "/mnt/a, b",
                                                 "/secret", "G:"}));
}

TEST(ListOutputTest, AMountPointInANameCutToItsBoundIsLeftOut) {
    // The Linux backend cuts a name to the 199 bytes of a device-manager text.
    std::string name = "sdb1 on /media/first, /media/" + std::string(200, 'x');
    for (std::size_t size : {std::size_t{199}, std::size_t{196}, std::size_t{195}}) {
        CUsbDeviceEntry entry;
        entry.m_devNodeTree.SetRoot(
            Node("BLOCK\\PARTITION\\sdb1", name.substr(0, size).c_str(), "Disk partition"));
        const std::vector<CString> volumes = DeviceVolumes(entry);
        ASSERT_FALSE(volumes.empty()) << size;
        EXPECT_EQ(volumes[0], "/media/first") << size;
        EXPECT_EQ(volumes.size(), size >= 196 ? 1u : 2u) << size;
    }
}

}  // namespace
}  // namespace ks

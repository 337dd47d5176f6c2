// The device-node queries over fixture device trees: property reads and their bounds, the
// instance-ID scan, and the driver-key search (order, letter case, unreachable and cyclic
// parts of the tree).
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "devmgr/DevNodeQueries.h"
#include "framework/CodePage.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "tests/support/TestData.h"

namespace ks {
namespace {

CString Ansi(std::string_view utf8) {
    const std::u16string wide = Utf8ToUtf16(utf8);
    return CString(Utf16ToAnsi(wide.data(), wide.size()));
}

class DevNodeQueries : public ::testing::Test {
  protected:
    explicit DevNodeQueries(const char* fixture = "devnode-tree.json")
        : m_platform(LoadMachineFile(test::DataPath(fixture))), m_scope(m_platform) {}

    DEVINST Node(std::string_view id) {
        const DEVINST node = m_platform.DevInstOf(id);
        EXPECT_NE(node, 0u) << id;
        return node;
    }
    unsigned PropertyReads() const {
        return m_platform.CallCount("CM_Get_DevNode_Registry_PropertyA");
    }

    CModelPlatform m_platform;
    CPlatformScope m_scope;
};

constexpr const char* kFlashDrive = "USB\\VID_2E1A&PID_5567\\4C530001230804117455";
constexpr const char* kFilters = "ROOT\\LEGACY_FILTERS\\0000";

TEST_F(DevNodeQueries, NodeZeroFailsEveryOperationAtOnce) {
    const DEVINST none = 0;
    CString value = "keep";
    EXPECT_EQ(GetDevNodeStringProperty(none, CM_DRP_DEVICEDESC, value), 0);
    EXPECT_EQ(value, "keep");
    std::vector<CString> values{"a", "b"};
    EXPECT_EQ(GetDevNodeMultiStringProperty(none, CM_DRP_UPPERFILTERS, values), 0);
    EXPECT_TRUE(values.empty());
    EXPECT_EQ(GetDevNodeDeviceId(none, value), 0);
    EXPECT_EQ(value, "keep");
    WORD vid = 0x1111, pid = 0x2222;
    CString serial = "keep", location = "keep";
    EXPECT_EQ(GetUsbIdentityFromDevNode(none, vid, pid, serial, location), 0);
    EXPECT_EQ(vid, 0x1111);
    EXPECT_EQ(pid, 0x2222);
    EXPECT_EQ(serial, "keep");
    EXPECT_EQ(location, "keep");
    EXPECT_EQ(PropertyReads(), 0u);
    EXPECT_EQ(m_platform.CallCount("CM_Get_Device_IDA"), 0u);
}

TEST_F(DevNodeQueries, StringPropertyFitsIn200Bytes) {
    const DEVINST pci = Node("PCI\\VEN_8086&DEV_1C26\\3&11583659&0&E8");
    CString value = "keep";
    // 199 characters and the NUL fill the buffer exactly.
    EXPECT_EQ(GetDevNodeStringProperty(pci, CM_DRP_DEVICEDESC, value), 1);
    EXPECT_EQ(value, std::string(199, 'A'));
    // 200 characters need 201 bytes: not read at all.
    value = "keep";
    EXPECT_EQ(GetDevNodeStringProperty(pci, CM_DRP_FRIENDLYNAME, value), 0);
    EXPECT_EQ(value, "keep");
    // A property the node lacks, and a read the configuration manager refuses.
    EXPECT_EQ(GetDevNodeStringProperty(pci, CM_DRP_LOCATION_INFORMATION, value), 0);
    EXPECT_EQ(GetDevNodeStringProperty(Node(kFilters), CM_DRP_SERVICE, value), 0);
    EXPECT_EQ(value, "keep");
    EXPECT_EQ(GetDevNodeStringProperty(Node(kFilters), CM_DRP_ENUMERATOR_NAME, value), 1);
    EXPECT_EQ(value, "ROOT");
}

TEST_F(DevNodeQueries, MultiStringProperty) {
    std::vector<CString> values{"stale"};
    EXPECT_EQ(GetDevNodeMultiStringProperty(Node(kFilters), CM_DRP_UPPERFILTERS, values), 1);
    EXPECT_EQ(values, (std::vector<CString>{"PartMgr", "fvevol"}));
    // An empty string in the middle ends the list.
    EXPECT_EQ(GetDevNodeMultiStringProperty(Node(kFilters), CM_DRP_LOWERFILTERS, values), 1);
    EXPECT_EQ(values, (std::vector<CString>{"A"}));
    // No terminator at all: the last string ends with the buffer.
    EXPECT_EQ(GetDevNodeMultiStringProperty(Node("ROOT\\NO_ID\\0000"), CM_DRP_UPPERFILTERS, values),
              1);
    EXPECT_EQ(values, (std::vector<CString>{"Alpha", "Beta"}));
    // The node has no such value: success and an empty list.
    values = {"stale"};
    EXPECT_EQ(GetDevNodeMultiStringProperty(Node(kFlashDrive), CM_DRP_LOWERFILTERS, values), 1);
    EXPECT_TRUE(values.empty());
    // The size query fails: failure and an empty list.
    values = {"stale"};
    EXPECT_EQ(GetDevNodeMultiStringProperty(Node("HID\\VID_046D&PID_C52B&MI_00\\8&1234ABCD&0&0000"),
                                            CM_DRP_UPPERFILTERS, values),
              0);
    EXPECT_TRUE(values.empty());
}

TEST_F(DevNodeQueries, PureMultiStringSplit) {
    const unsigned char twoStrings[] = {'a', 0, 'b', 'c', 0, 0};
    EXPECT_EQ(SplitMultiString(twoStrings, sizeof twoStrings), (std::vector<CString>{"a", "bc"}));
    const unsigned char unterminated[] = {'a', 'b'};
    EXPECT_EQ(SplitMultiString(unterminated, sizeof unterminated), (std::vector<CString>{"ab"}));
    const unsigned char leadingEmpty[] = {0, 'a', 0, 0};
    EXPECT_TRUE(SplitMultiString(leadingEmpty, sizeof leadingEmpty).empty());
    EXPECT_TRUE(SplitMultiString(twoStrings, 0).empty());
}

TEST_F(DevNodeQueries, DeviceInstanceId) {
    CString id = "keep";
    EXPECT_EQ(GetDevNodeDeviceId(Node(kFlashDrive), id), 1);
    EXPECT_EQ(id, kFlashDrive);
    id = "keep";
    EXPECT_EQ(GetDevNodeDeviceId(Node("ROOT\\NO_ID\\0000"), id), 0);
    EXPECT_EQ(id, "keep");
}

TEST_F(DevNodeQueries, UsbIdentityFromTheInstanceId) {
    struct {
        const char* m_id;
        WORD m_vid, m_pid;
        const char* m_serialBefore;
        const char* m_serial;
        const char* m_location;
    } const cases[] = {
        {kFlashDrive, 0x2E1A, 0x5567, "", "4C530001230804117455", "Port_#0001.Hub_#0001"},
        // A last part with an ampersand: the ids, no serial number.
        {"USB\\VID_1A40&PID_0101\\SER&AMP", 0x1A40, 0x0101, "keep", "", "keep"},
        // Text after the Product ID digits: two fields only, nothing written but the location.
        {"USB\\VID_046D&PID_C52B&MI_00\\7&2A3B4C5D&0&0000", 0x1111, 0x2222, "keep", "keep",
         "0000.001a.0000.001.002.000.000.000.000"},
        // Another bus converts nothing.
        {"HID\\VID_046D&PID_C52B&MI_00\\8&1234ABCD&0&0000", 0x1111, 0x2222, "keep", "keep",
         "HID location"},
        // ... and a serial kept from before is still emptied when it holds an ampersand.
        {"HID\\VID_046D&PID_C52B&MI_00\\8&1234ABCD&0&0000", 0x1111, 0x2222, "x&y", "",
         "HID location"},
        // The literal parts match letter case exactly.
        {"usb\\vid_abcd&pid_1234\\lower", 0x1111, 0x2222, "keep", "keep", "keep"},
        // Wider numbers keep their low 16 bits.
        {"USB\\VID_12345&PID_6789A\\WIDE", 0x2345, 0x789A, "keep", "WIDE", "keep"},
        // No instance ID: success, nothing touched (not even the location).
        {"ROOT\\NO_ID\\0000", 0x1111, 0x2222, "keep", "keep", "keep"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.m_id) + " serial before: " + c.m_serialBefore);
        WORD vid = 0x1111, pid = 0x2222;
        CString serial = c.m_serialBefore, location = "keep";
        EXPECT_EQ(GetUsbIdentityFromDevNode(Node(c.m_id), vid, pid, serial, location), 1);
        EXPECT_EQ(vid, c.m_vid);
        EXPECT_EQ(pid, c.m_pid);
        EXPECT_EQ(serial, c.m_serial);
        EXPECT_EQ(location, c.m_location);
    }
}

TEST_F(DevNodeQueries, DriverKeySearch) {
    const CString flashKey = "{36FC9E60-C465-11CF-8056-444553540000}\\0005";
    EXPECT_EQ(FindDevNodeByDriverKey(flashKey), Node(kFlashDrive));
    EXPECT_EQ(FindDevNodeByDriverKey("{36fc9e60-c465-11cf-8056-444553540000}\\0005"),
              Node(kFlashDrive));
    // Pre-order: the deep node of the first branch before the later shallow one.
    EXPECT_EQ(FindDevNodeByDriverKey("DUPLICATE\\0001"),
              Node("USB\\VID_046D&PID_C52B&MI_00\\7&2A3B4C5D&0&0000"));
    // Nodes that are not present, and their children, are passed over.
    EXPECT_EQ(FindDevNodeByDriverKey("HIDDEN\\0001"), 0u);
    EXPECT_EQ(FindDevNodeByDriverKey("HIDDEN\\0002"), 0u);
    // Every search starts afresh at the root.
    EXPECT_EQ(FindDevNodeByDriverKey(flashKey), Node(kFlashDrive));
}

TEST_F(DevNodeQueries, DriverKeyNobodyHasVisitsEveryNode) {
    const unsigned before = PropertyReads();
    EXPECT_EQ(FindDevNodeByDriverKey("{00000000-0000-0000-0000-000000000000}\\9999"), 0u);
    EXPECT_EQ(PropertyReads() - before, 14u);  // one driver-key read per present node
}

// Letter case is folded a whole character at a time: a double-byte character whose trail
// byte looks like a small ASCII letter is not another character folded; full-width letters
// compare without regard to case.
TEST_F(DevNodeQueries, DriverKeyComparisonIsMultibyteAware) {
    const DEVINST wide = Node("USB\\VID_12345&PID_6789A\\WIDE");
    EXPECT_EQ(FindDevNodeByDriverKey(Ansi("{ヂ}\\0001")), wide);
    EXPECT_EQ(FindDevNodeByDriverKey(Ansi("{ア}\\0001")), 0u);
    EXPECT_EQ(FindDevNodeByDriverKey(Ansi("ｋｅｙ\\0001")), Node("ROOT\\FULLWIDTH\\0000"));
}

class DevNodeCycles : public DevNodeQueries {
  protected:
    DevNodeCycles() : DevNodeQueries("devnode-cycles.json") {}
};

TEST_F(DevNodeCycles, LinksThatLeadBackEndTheSearch) {
    EXPECT_EQ(FindDevNodeByDriverKey("KEY\\A"), Node("ROOT\\A\\0000"));
    EXPECT_EQ(FindDevNodeByDriverKey("KEY\\C"), Node("ROOT\\C\\0000"));
    EXPECT_EQ(FindDevNodeByDriverKey("KEY\\B"), Node("ROOT\\B\\0000"));
    const unsigned before = PropertyReads();
    EXPECT_EQ(FindDevNodeByDriverKey("KEY\\A1"), 0u);
    EXPECT_EQ(PropertyReads() - before, 4u);  // root, A, C, B: each once
}

// A run of siblings that comes back, not to its first node, but to one further on: the
// search reads each node once and ends, where following the links would go round for ever.
TEST(DevNodeTreeFaults, SiblingRunThatComesBackEnds) {
    CModelPlatform platform(LoadMachineText(
        R"({"deviceTree": {"children": [
            {"id": "ROOT\\A\\0", "properties": {"DRIVER": "KEY\\A"}},
            {"id": "ROOT\\B\\0", "properties": {"DRIVER": "KEY\\B"}},
            {"id": "ROOT\\C\\0", "properties": {"DRIVER": "KEY\\C"},
             "faults": {"siblingLink": "ROOT\\B\\0"}}]}})",
        "sibling-loop.json"));
    CPlatformScope scope(platform);
    EXPECT_EQ(FindDevNodeByDriverKey("KEY\\C"), platform.DevInstOf("ROOT\\C\\0"));
    platform.ClearLog();
    EXPECT_EQ(FindDevNodeByDriverKey("KEY\\NONE"), 0u);
    EXPECT_EQ(platform.CallCount("CM_Get_DevNode_Registry_PropertyA"), 4u);  // root, A, B, C
}

// Every navigation call claims success without writing its output, as Wine's may: the
// search reads the root and ends.
TEST(DevNodeTreeFaults, NavigationThatWritesNothingEnds) {
    CModelPlatform platform(LoadMachineText(
        R"({"deviceTree": {"faults": {"child": "noWrite", "sibling": "noWrite", "parent": "noWrite"},
            "children": [{"id": "ROOT\\X\\0", "properties": {"DRIVER": "KEY"},
                          "faults": {"sibling": "noWrite", "parent": "noWrite"}}]}})",
        "nowrite.json"));
    CPlatformScope scope(platform);
    EXPECT_EQ(FindDevNodeByDriverKey("KEY"), 0u);
    EXPECT_EQ(platform.CallCount("CM_Get_DevNode_Registry_PropertyA"), 1u);
}

// A chain of nodes deeper than the search goes is walked down to its bound and no further,
// and the search comes back up from there.
TEST(DevNodeTreeFaults, ChainDeeperThanTheBound) {
    CMachineModel model;
    std::optional<std::size_t> parent;
    for (std::size_t depth = 0; depth < kMaxDevNodeDepth + 40; ++depth) {
        CDevNode node;
        node.m_strInstanceId =
            depth == 0 ? kRootInstanceId : "ROOT\\DEEP\\" + std::to_string(depth);
        node.m_vProperties.push_back(
            {CM_DRP_DRIVER, kRegTypeSz, {"KEY\\" + std::to_string(depth)}, {}});
        parent = model.AddNode(std::move(node), parent);
    }
    CModelPlatform platform(std::move(model));
    CPlatformScope scope(platform);
    const std::string last = std::to_string(kMaxDevNodeDepth - 1);
    EXPECT_EQ(FindDevNodeByDriverKey(("KEY\\" + last).c_str()),
              platform.DevInstOf("ROOT\\DEEP\\" + last));
    platform.ClearLog();
    EXPECT_EQ(FindDevNodeByDriverKey(("KEY\\" + std::to_string(kMaxDevNodeDepth)).c_str()), 0u);
    EXPECT_EQ(platform.CallCount("CM_Get_DevNode_Registry_PropertyA"), kMaxDevNodeDepth);
    EXPECT_EQ(platform.CallCount("CM_Get_Parent"), kMaxDevNodeDepth);
}

// The key is compared with the whole of each node's text, up to its NUL or to the end of
// the 200-byte buffer: neither a longer nor a shorter text matches, and a text of exactly 200
// bytes (no NUL fits) is read whole.
TEST(DevNodeTreeFaults, KeyComparedWithTheWholeText) {
    const std::string full(200, 'k');
    std::string raw;
    for (std::size_t i = 0; i < full.size(); ++i)
        raw += (i ? ", " : "") + std::to_string(static_cast<int>(full[i]));
    CModelPlatform platform(LoadMachineText(
        R"({"deviceTree": {"children": [
            {"id": "ROOT\\LONGER\\0", "properties": {"DRIVER": "KEY\\0001X"}},
            {"id": "ROOT\\SHORTER\\0", "properties": {"DRIVER": "KEY\\000"}},
            {"id": "ROOT\\KEY\\0", "properties": {"DRIVER": "key\\0001"}},
            {"id": "ROOT\\FULL\\0", "properties": {"DRIVER": {"raw": [)" +
            raw + R"(]}}}]}})",
        "keys.json"));
    CPlatformScope scope(platform);
    EXPECT_EQ(FindDevNodeByDriverKey("KEY\\0001"), platform.DevInstOf("ROOT\\KEY\\0"));
    EXPECT_EQ(FindDevNodeByDriverKey("KEY\\00"), 0u);
    EXPECT_EQ(FindDevNodeByDriverKey(CString(std::string(200, 'K'))),
              platform.DevInstOf("ROOT\\FULL\\0"));
    EXPECT_EQ(FindDevNodeByDriverKey(CString(std::string(199, 'K'))), 0u);
    EXPECT_EQ(FindDevNodeByDriverKey(CString(std::string(201, 'K'))), 0u);
}

// An empty driver key names no driver: it finds no node, not even one whose read claims
// success without writing (an empty text) or whose value is empty.
TEST(DevNodeTreeFaults, EmptyKeyFindsNoNode) {
    CModelPlatform platform(LoadMachineText(
        R"({"deviceTree": {"children": [
            {"id": "ROOT\\SILENT\\0", "faults": {"properties": {"DRIVER": "noWrite"}}},
            {"id": "ROOT\\EMPTY\\0", "properties": {"DRIVER": ""}}]}})",
        "empty.json"));
    CPlatformScope scope(platform);
    EXPECT_EQ(FindDevNodeByDriverKey(""), 0u);
    EXPECT_EQ(platform.CallCount("CM_Get_DevNode_Registry_PropertyA"), 3u);
}

TEST(DevNodeTreeFaults, UnreadableRootFindsNothing) {
    for (const char* fault : {"\"CR_FAILURE\"", "\"noWrite\""}) {
        SCOPED_TRACE(fault);
        CModelPlatform platform(LoadMachineText(
            std::string(R"({"deviceTree": {"faults": {"locate": )") + fault +
                R"(}, "children": [{"id": "ROOT\\X\\0", "properties": {"DRIVER": "KEY"}}]}})",
            "locate.json"));
        CPlatformScope scope(platform);
        EXPECT_EQ(FindDevNodeByDriverKey("KEY"), 0u);
    }
    // A child request that succeeds without writing: the root has no children then.
    CModelPlatform platform(LoadMachineText(
        R"({"deviceTree": {"faults": {"child": "noWrite"},
            "children": [{"id": "ROOT\\X\\0", "properties": {"DRIVER": "KEY"}}]}})",
        "navigate.json"));
    CPlatformScope scope(platform);
    EXPECT_EQ(FindDevNodeByDriverKey("KEY"), 0u);
    EXPECT_EQ(platform.CallCount("CM_Get_DevNode_Registry_PropertyA"), 1u);
}

}  // namespace
}  // namespace ks

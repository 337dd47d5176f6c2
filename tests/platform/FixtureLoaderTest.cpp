// The JSON fixture loader: the example machine, and the error messages for malformed and
// inconsistent fixtures.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "framework/CodePage.h"
#include "platform/sim/FixtureLoader.h"
#include "tests/support/TestData.h"

namespace ks {
namespace {

std::string LoadError(const std::string& json) {
    try {
        LoadMachineText(json, "machine.json");
    } catch (const CFixtureError& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(FixtureLoader, ExampleYieldsTheDescribedMachine) {
    const CMachineModel m = LoadMachineFile(test::DataPath("example-small.json"));

    ASSERT_EQ(m.m_vControllers.size(), 1u);
    const CHostController& hc = m.m_vControllers[0];
    EXPECT_EQ(hc.m_optHcdNumber, 0);
    ASSERT_TRUE(hc.m_optInterfacePath && hc.m_optDriverKey && hc.m_optRootHubName);
    EXPECT_EQ(*hc.m_optDriverKey, u"{36FC9E60-C465-11CF-8056-444553540000}\\0000");

    // Hubs in walk order: the root hub, then the hub on its port 3.
    ASSERT_EQ(m.m_vHubs.size(), 2u);
    const CUsbHub& root = m.m_vHubs[0];
    EXPECT_EQ(root.m_wstrName, *hc.m_optRootHubName);
    EXPECT_EQ(root.m_byNumberOfPorts, 4);
    EXPECT_EQ(root.m_wHubCharacteristics, 0x0009);
    ASSERT_EQ(root.m_vPorts.size(), 2u);

    const CUsbPort* flash = root.FindPort(1);
    ASSERT_TRUE(flash && flash->m_optDevice);
    EXPECT_EQ(flash->m_dwConnectionStatus, DeviceConnected);
    const CUsbDevice& fd = *flash->m_optDevice;
    EXPECT_EQ(fd.m_wIdVendor, 0x2E1A);
    EXPECT_EQ(fd.m_wIdProduct, 0x5567);
    EXPECT_EQ(fd.m_bySpeed, kUsbHighSpeed);
    EXPECT_FALSE(fd.m_bDeviceIsHub);
    EXPECT_EQ(fd.m_bySerialNumber, 3);
    ASSERT_EQ(fd.m_vStrings.size(), 3u);
    EXPECT_EQ(fd.m_vStrings[2].m_wstrText, u"4C530001230804117455");
    EXPECT_EQ(fd.m_vStrings[2].m_wLanguage, 0x0409);

    const CUsbPort* hubPort = root.FindPort(3);
    ASSERT_TRUE(hubPort && hubPort->m_optDevice);
    EXPECT_TRUE(hubPort->m_optDevice->m_bDeviceIsHub);
    EXPECT_EQ(hubPort->m_optDevice->m_byDeviceClass, 9);
    EXPECT_EQ(hubPort->m_optDevice->m_optHubName, m.m_vHubs[1].m_wstrName);
    // A device without "languages" lists the languages its strings use.
    EXPECT_EQ(hubPort->m_optDevice->m_optLanguageIds, std::vector<WORD>{0x0409});
    EXPECT_EQ(root.FindPort(2), nullptr);

    const CUsbPort* keyboard = m.m_vHubs[1].FindPort(2);
    ASSERT_TRUE(keyboard && keyboard->m_optDevice);
    EXPECT_EQ(keyboard->m_optDevice->m_bySpeed, kUsbLowSpeed);
    EXPECT_EQ(keyboard->m_optDevice->m_bySerialNumber, 0);

    // The device tree: root first, children linked both ways.
    ASSERT_FALSE(m.m_vNodes.empty());
    EXPECT_EQ(m.m_vNodes[0].m_strInstanceId, "HTREE\\ROOT\\0");
    EXPECT_EQ(m.m_vNodes[0].m_vChildren.size(), 2u);
    auto usb = m.FindNode("usb\\vid_2e1a&pid_5567\\4c530001230804117455");  // any letter case
    ASSERT_TRUE(usb);
    const CDevNode& usbNode = m.m_vNodes[*usb];
    ASSERT_EQ(usbNode.m_vChildren.size(), 1u);
    const CDevNode& disk = m.m_vNodes[usbNode.m_vChildren[0]];
    EXPECT_EQ(disk.m_optParent, usb);
    ASSERT_EQ(disk.m_vRemovalRelations.size(), 1u);
    EXPECT_TRUE(m.FindNode(disk.m_vRemovalRelations[0]));
    const CRegistryProperty* desc = usbNode.FindProperty(CM_DRP_DEVICEDESC);
    ASSERT_NE(desc, nullptr);
    EXPECT_EQ(desc->m_vValues, std::vector<std::string>{"USB 大容量記憶装置"});
    const CRegistryProperty* filters = disk.FindProperty(CM_DRP_UPPERFILTERS);
    ASSERT_NE(filters, nullptr);
    EXPECT_EQ(filters->m_ulType, kRegTypeMultiSz);
    EXPECT_EQ(usbNode.m_ulStatus, kDefaultDevNodeStatus);
    EXPECT_TRUE(usbNode.m_bPresent);

    ASSERT_EQ(m.m_vVolumes.size(), 1u);
    EXPECT_EQ(m.m_vVolumes[0].m_vLetters, std::vector<char>{'E'});
    ASSERT_TRUE(m.m_vVolumes[0].m_optInstanceId);
    EXPECT_EQ(*m.m_vVolumes[0].m_optInstanceId, disk.m_vRemovalRelations[0]);
}

TEST(FixtureLoader, FaultsAndRawValuesAreRead) {
    const CMachineModel m = LoadMachineText(R"({
      "controllers": [{"hcd": 9, "driverKey": "k",
        "faults": {"driverKey": {"actualLength": 6}, "open": false},
        "rootHub": {"name": "R", "bNumberOfPorts": "0x02",
          "faults": {"connectionInformationEx": {"fail": true}},
          "ports": [{"port": 2, "connectionStatus": "DeviceFailedEnumeration",
                     "faults": {"vanishAfter": 3, "nodeName": {"noTerminator": true}},
                     "device": {"idVendor": 65535, "strings": [{"index": 4, "raw": [3, 3, 65]}]}}]}}],
      "deviceTree": {"children": [{"id": "A", "present": false, "status": "0x1",
        "properties": {"LOWERFILTERS": {"raw": [65, 0]}, "0x1C": "custom"},
        "faults": {"deviceId": "noWrite", "child": "CR_FAILURE", "parent": 7,
                   "properties": {"SERVICE": "CR_BUFFER_SMALL"}, "siblingLink": null,
                   "childLink": "HTREE\\ROOT\\0", "vanishAfter": 2}}]},
      "volumes": [{"name": "V", "letters": ["z"], "faults": {"rootMountPoint": "noWrite"}}],
      "faults": {"volumeSetFails": true}
    })",
                                            "inline.json");
    const CHostController& hc = m.m_vControllers[0];
    EXPECT_EQ(hc.m_faults.m_driverKey.m_optActualLength, 6u);
    EXPECT_EQ(m.m_vHubs[0].m_byNumberOfPorts, 2);
    EXPECT_TRUE(m.m_vHubs[0].m_faults.m_connectionInfoEx.m_bFail);
    const CUsbPort& port = m.m_vHubs[0].m_vPorts[0];
    EXPECT_EQ(port.m_dwConnectionStatus,
              DeviceFailedEnumeration);  // kept although a device is given
    EXPECT_EQ(port.m_faults.m_optVanishAfter, 3u);
    EXPECT_TRUE(port.m_faults.m_nodeName.m_bNoTerminator);
    EXPECT_EQ(port.m_optDevice->m_vStrings[0].m_optRaw, (std::vector<BYTE>{3, 3, 65}));

    ASSERT_EQ(m.m_vNodes.size(), 2u);
    EXPECT_EQ(m.m_vNodes[0].m_strInstanceId, kRootInstanceId);  // default root ID
    const CDevNode& a = m.m_vNodes[1];
    EXPECT_FALSE(a.m_bPresent);
    EXPECT_EQ(a.m_ulStatus, 1u);
    EXPECT_EQ(a.FindProperty(CM_DRP_LOWERFILTERS)->m_ulType, kRegTypeMultiSz);
    EXPECT_EQ(a.FindProperty(0x1C)->m_vValues[0], "custom");
    EXPECT_TRUE(a.m_faults.m_optDeviceId->m_bNoWrite);
    EXPECT_EQ(a.m_faults.m_optChild->m_crResult, CR_FAILURE);
    EXPECT_EQ(a.m_faults.m_optParent->m_crResult, 7u);
    EXPECT_EQ(a.FindPropertyFault(CM_DRP_SERVICE)->m_crResult, CR_BUFFER_SMALL);
    EXPECT_EQ(a.m_faults.m_optSiblingLink, std::string());  // null: no node
    EXPECT_EQ(a.m_faults.m_optChildLink, "HTREE\\ROOT\\0");
    EXPECT_EQ(m.m_vVolumes[0].m_vLetters, std::vector<char>{'Z'});
    EXPECT_EQ(m.m_vVolumes[0].m_faults.m_rootMountPoint, ECallFault::NoWrite);
    EXPECT_TRUE(m.m_faults.m_bVolumeSetFails);
}

TEST(FixtureLoader, SyntaxErrorsNameFileLineAndColumn) {
    EXPECT_EQ(LoadError("{\n  \"controllers\": [\n    {\"hcd\": 0,,}\n  ]\n}")
                  .rfind("machine.json: line 3, column 15: ", 0),
              0u)
        << LoadError("{\n  \"controllers\": [\n    {\"hcd\": 0,,}\n  ]\n}");
    EXPECT_EQ(LoadError("").rfind("machine.json: line 1, column 1: ", 0), 0u) << LoadError("");
    const std::string unterminated = LoadError("{\"volumes\": [\n");
    EXPECT_NE(unterminated.find("machine.json: line 2"), std::string::npos) << unterminated;
    // A number no double can hold is no syntax error to the parser, but still a bad fixture
    // (found by the fixture fuzzer: it used to escape as the parser's own exception).
    const std::string overflow = LoadError("{\"controllers\": [{\"hcd\": -1e6861}]}");
    EXPECT_EQ(overflow.rfind("machine.json: ", 0), 0u) << overflow;
    // Comments are allowed, so a commented fixture is no syntax error.
    EXPECT_NO_THROW(LoadMachineText("// a machine\n{ /* empty */ }", "c.json"));
}

TEST(FixtureLoader, SemanticErrorsNameTheJsonPointer) {
    const std::string hub = R"("rootHub": {"name": "R", "bNumberOfPorts": 4, "ports": [)";
    const struct {
        std::string json;
        std::string message;
    } cases[] = {
        {R"({"controller": []})", "machine.json: /controller: unknown key"},
        {R"({"controllers": {}})", "machine.json: /controllers: expected an array"},
        {R"({"controllers": [{"hcd": 10}]})",
         "machine.json: /controllers/0/hcd: expected an integer 0..9"},
        {R"({"controllers": [{"hcd": 0}, {"hcd": 0}]})",
         "machine.json: /controllers/1/hcd: HCD number 0 is already used at /controllers/0/hcd"},
        {R"({"controllers": [{"driverKey": "k"}]})",
         "machine.json: /controllers/0: a controller needs"},
        {R"({"controllers": [{"hcd": 0, )" + hub +
             R"({"port": 3, "device": {"idVendor": 65536}}]}}]})",
         "machine.json: /controllers/0/rootHub/ports/0/device/idVendor: expected an integer "
         "0..65535"},
        {R"({"controllers": [{"hcd": 0, )" + hub +
             R"({"port": 1, "device": {"idVendor": "0x1G"}}]}}]})",
         "machine.json: /controllers/0/rootHub/ports/0/device/idVendor: expected an integer "
         "0..65535"},
        {R"({"controllers": [{"hcd": 0, )" + hub + R"({"port": 1, "device": {"bLength": -1}}]}}]})",
         "/device/bLength: expected an integer 0..255"},
        {R"({"controllers": [{"hcd": 0, )" + hub + R"({"port": 5}]}}]})",
         "machine.json: /controllers/0/rootHub/ports/0/port: expected a port number 1..4"},
        {R"({"controllers": [{"hcd": 0, )" + hub + R"({"port": 2}, {"port": 2}]}}]})",
         "/rootHub/ports/1/port: port 2 is already described at /controllers/0/rootHub/ports/0"},
        {R"({"controllers": [{"hcd": 0, )" + hub +
             R"({"port": 1, "device": {"strings": [{"index": 1, "text": "a"},
                 {"index": 2, "text": "b"}, {"index": 1, "text": "c"}]}}]}}]})",
         "/device/strings/2: string 1 in this language is already given at "
         "/controllers/0/rootHub/ports/0/device/strings/0"},
        {R"({"controllers": [{"hcd": 0, )" + hub +
             R"({"port": 1, "device": {"speed": "fast"}}]}}]})",
         "/device/speed: expected one of: low, full, high, super"},
        {R"({"controllers": [{"hcd": 0, )" + hub + R"({"port": 1, "connectionStatus": true}]}}]})",
         "/ports/0/connectionStatus: expected one of: NoDeviceConnected"},
        {R"({"controllers": [{"hcd": 0, "faults": {"driverKey": {"fail": 1}}}]})",
         "machine.json: /controllers/0/faults/driverKey/fail: expected true or false"},
        {R"({"controllers": [{"hcd": 0, "instanceId": "PCI\\X"}]})",
         "machine.json: /controllers/0/instanceId: no node of /deviceTree has the instance ID "
         "\"PCI\\X\""},
        {R"({"deviceTree": {"children": [{"id": "A"}, {"id": "a"}]}})",
         "machine.json: /deviceTree/children/1/id: instance ID \"a\" is already used at "
         "/deviceTree/children/0/id"},
        {R"({"deviceTree": {"children": [{"present": true}]}})",
         "/deviceTree/children/0: missing \"id\""},
        {R"({"deviceTree": {"properties": {"NAME": "x"}}})",
         "/deviceTree/properties/NAME: unknown property"},
        {R"({"deviceTree": {"faults": {"child": "CR_OOPS"}}})",
         "/deviceTree/faults/child: expected \"noWrite\""},
        {R"({"volumes": [{"name": "V", "letters": ["E:"]}]})",
         "machine.json: /volumes/0/letters/0: expected a drive letter \"A\"..\"Z\""},
        {R"({"volumes": [{"name": "V", "letters": ["E"]}, {"name": "W", "letters": ["e"]}]})",
         "/volumes/1/letters/0: drive letter E is already used at /volumes/0/letters/0"},
        {R"({"volumes": [{"name": "V", "faults": {"rootMountPoint": "maybe"}}]})",
         "/volumes/0/faults/rootMountPoint: expected \"fail\" or \"noWrite\""},
        {R"({"volumes": [{"name": "V", "name": "W"}]})",
         "machine.json: /volumes/0/name: the key is given twice in one object"},
        {R"([])", "machine.json: /: expected an object"},
    };
    for (const auto& c : cases) {
        const std::string error = LoadError(c.json);
        EXPECT_NE(error.find(c.message), std::string::npos)
            << "fixture: " << c.json << "\nerror: " << error;
    }
}

// A device-node tree nested `levels` nodes below the root: each node one object and one
// "children" array deeper.
std::string NodeChain(std::size_t levels, bool lastHasChildren = false) {
    std::string open, close;
    for (std::size_t i = 1; i <= levels; ++i) {
        open += "{\"id\": \"N\\\\" + std::to_string(i) + "\"" +
                (i < levels || lastHasChildren ? ", \"children\": [" : "");
        close = std::string(i < levels || lastHasChildren ? "]}" : "}") + close;
    }
    return "{\"deviceTree\": {\"children\": [" + open + close + "]}}";
}

std::string Repeat(const std::string& part, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += part;
    return out;
}

TEST(FixtureLoader, NestingBeyondTheBoundIsRefusedWhereItBegins) {
    // The root object is level 1, the device tree 2, and each node below it two more: the
    // node at the last level loads, an array inside it does not.
    const std::size_t deepest = (kMaxFixtureNesting - 2) / 2;
    EXPECT_EQ(LoadMachineText(NodeChain(deepest), "m.json").m_vNodes.size(), deepest + 1);
    EXPECT_EQ(LoadError(NodeChain(deepest, true)),
              "machine.json: /deviceTree" + Repeat("/children/0", deepest - 1) +
                  "/children/0/children: nested deeper than " + std::to_string(kMaxFixtureNesting) +
                  " levels of objects and arrays");

    // Ten thousand levels, of nodes and of hubs, are refused the same way, without running
    // out of stack or memory on the way.
    const std::string nodes = NodeChain(10000);
    EXPECT_EQ(LoadError(nodes).rfind("machine.json: /deviceTree/children/0/children/0/", 0), 0u);
    EXPECT_NE(LoadError(nodes).find(": nested deeper than " + std::to_string(kMaxFixtureNesting) +
                                    " levels"),
              std::string::npos);
    std::string open, close;
    for (int i = 0; i < 10000; ++i) {
        open += "{\"name\": \"H" + std::to_string(i) +
                "\", \"bNumberOfPorts\": 1, \"ports\": [{\"port\": 1, \"device\": {\"hub\": ";
        close += "}}]}";
    }
    const std::string hubs = "{\"controllers\": [{\"hcd\": 0, \"rootHub\": " + open +
                             "{\"name\": \"LAST\", \"bNumberOfPorts\": 0}" + close + "}]}";
    const std::string hubError = LoadError(hubs);
    EXPECT_EQ(hubError.rfind("machine.json: /controllers/0/rootHub/ports/0/device/hub/ports/0/", 0),
              0u)
        << hubError.substr(0, 200);
    EXPECT_NE(
        hubError.find(": nested deeper than " + std::to_string(kMaxFixtureNesting) + " levels"),
        std::string::npos);
    // Plain arrays anywhere count alike.
    EXPECT_NE(LoadError("{\"volumes\": " + std::string(5000, '[') + std::string(5000, ']') + "}")
                  .find("machine.json: /volumes/0/0/0/"),
              std::string::npos);
}

TEST(FixtureLoader, UnreadableFileIsAnErrorNamingIt) {
    const std::string path = test::DataPath("no-such-machine.json");
    try {
        LoadMachineFile(path);
        FAIL() << "no error";
    } catch (const CFixtureError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(path + ": ", 0), 0u) << e.what();
    }
}

// A file longer than any fixture may be (a sparse one: nothing of it is stored) is refused
// before it is read, not read whole into memory first.
TEST(FixtureLoader, FileLongerThanAFixtureIsRefusedUnread) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / "keyscout-fixture-too-long.json";
    std::ofstream(path, std::ios::binary) << "{}";
    std::error_code error;
    std::filesystem::resize_file(path, std::uintmax_t{kMaxFixtureSize} + 1, error);
    ASSERT_FALSE(error) << "cannot make the sparse file " << path << ": " << error.message();
    std::string message = "(no error)";
    try {
        LoadMachineFile(path.string());
    } catch (const CFixtureError& e) {
        message = e.what();
    }
    std::filesystem::remove(path);
    EXPECT_EQ(message, path.string() + ": the file is " +
                           std::to_string(std::uintmax_t{kMaxFixtureSize} + 1) +
                           " bytes long; a fixture holds at most " +
                           std::to_string(kMaxFixtureSize));
}

}  // namespace
}  // namespace ks

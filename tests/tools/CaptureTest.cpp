// Capture and replay: one scan of a machine with its answers recorded, written as a fixture
// and scanned again from that fixture, gives the same list, text and JSON, from the same
// requests answered the same way.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/capture/FixtureWriter.h"
#include "platform/sim/FixtureLoader.h"
#include "tests/support/TestData.h"
#include "tests/tools/CaptureScan.h"
#include "usb/UsbBusWalker.h"

namespace ks {
namespace {

using test::CScanResult;
using test::Scan;

// Every machine fixture of tests/data: not the outputs written down for some of them, and
// not the ones made to be refused.
std::vector<std::string> MachineFixtures() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(test::DataPath(""))) {
        const std::string name = entry.path().filename().string();
        const bool json = name.size() > 5 && name.substr(name.size() - 5) == ".json";
        if (json && name.find(".list.") == std::string::npos && name.rfind("malformed-", 0) != 0)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(Capture, EveryFixtureReplaysTheSameListFromTheSameAnswers) {
    const std::vector<std::string> fixtures = MachineFixtures();
    ASSERT_GE(fixtures.size(), 15u);
    for (const std::string& name : fixtures) {
        SCOPED_TRACE(name);
        CModelPlatform plain(LoadMachineFile(test::DataPath(name)));
        const CScanResult expected = Scan(plain);

        CModelPlatform original(LoadMachineFile(test::DataPath(name)));
        std::string fixture;
        const CScanResult recorded = Scan(original, &fixture);
        // The recorder passes every call through unchanged.
        EXPECT_EQ(recorded.m_strText, expected.m_strText);
        EXPECT_EQ(recorded.m_strCalls, expected.m_strCalls);
        EXPECT_EQ(test::FirstDifference(expected.m_strAnswers, recorded.m_strAnswers), "");

        CMachineModel model;
        try {
            model = LoadMachineText(fixture, name + " (captured)");
        } catch (const CFixtureError& e) {
            ADD_FAILURE() << e.what() << "\n" << fixture;
            continue;
        }
        CModelPlatform replay(std::move(model));
        std::string again;
        const CScanResult replayed = Scan(replay, &again);
        EXPECT_EQ(replayed.m_strText, expected.m_strText);
        EXPECT_EQ(replayed.m_strJson, expected.m_strJson);
        EXPECT_EQ(replayed.m_strCalls, expected.m_strCalls);
        // The replay answers every request as the machine did, byte for byte: what the
        // list does not show (a revision, a power flag, a pipe's schedule) is kept too, and
        // so is what the scan saw of an answer it never read whole (the first letter of a
        // name, the size of a value or a path).
        EXPECT_EQ(test::FirstDifference(expected.m_strAnswers, replayed.m_strAnswers), "")
            << "the replay answered differently from the machine captured";
        // A capture of the replay holds exactly the same machine: nothing was lost or made
        // up on the way.
        EXPECT_EQ(test::WithoutComments(again), test::WithoutComments(fixture));
    }
}

// The writer alone, on machines written by hand with faults the recorder never needs
// (links, nodes that are not present, vanishing devices, hub-wide faults): what it writes
// scans as the machine itself does.
TEST(Capture, EveryFixtureWrittenAgainScansTheSame) {
    for (const std::string& name : MachineFixtures()) {
        SCOPED_TRACE(name);
        CModelPlatform original(LoadMachineFile(test::DataPath(name)));
        const CScanResult expected = Scan(original);
        const std::string text = WriteMachineFixture(LoadMachineFile(test::DataPath(name)));
        CModelPlatform written(LoadMachineText(text, name + " (written)"));
        const CScanResult actual = Scan(written);
        EXPECT_EQ(actual.m_strText, expected.m_strText);
        EXPECT_EQ(actual.m_strCalls, expected.m_strCalls);
        EXPECT_EQ(WriteMachineFixture(LoadMachineText(text, name)), text);
    }
}

CMachineModel Captured(const std::string& fixture, CModelPlatform** platform = nullptr) {
    static std::unique_ptr<CModelPlatform> s_pLast;
    s_pLast = std::make_unique<CModelPlatform>(LoadMachineFile(test::DataPath(fixture)));
    if (platform != nullptr)
        *platform = s_pLast.get();
    std::string text;
    Scan(*s_pLast, &text);
    return LoadMachineText(text, fixture + " (captured)");
}

const CUsbDevice& DeviceOn(const CMachineModel& m, std::size_t hub, DWORD port) {
    const CUsbPort* p = m.m_vHubs.at(hub).FindPort(port);
    EXPECT_TRUE(p != nullptr && p->m_optDevice);
    static const CUsbDevice kNone;
    return p != nullptr && p->m_optDevice ? *p->m_optDevice : kNone;
}

TEST(Capture, HoldsEveryStringInEveryLanguageTheDeviceLists) {
    // The scan reads only the serial number, in the first language; the capture has all
    // three strings in both languages.
    const CMachineModel m = Captured("strings-devices.json");
    const CUsbDevice& d = DeviceOn(m, 0, 1);
    ASSERT_EQ(d.m_optLanguageIds, (std::vector<WORD>{0x0411, 0x0409}));
    std::map<std::pair<int, int>, std::u16string> texts;
    for (const CStringDescriptor& s : d.m_vStrings)
        texts[{s.m_byIndex, s.m_wLanguage}] = s.m_wstrText;
    EXPECT_EQ(texts[std::make_pair(1, 0x0409)], u"Yamase Electric");
    EXPECT_EQ(texts[std::make_pair(1, 0x0411)], u"\u30E4\u30DE\u30BB\u96FB\u6A5F");
    EXPECT_EQ(texts[std::make_pair(2, 0x0409)], u"USB Memory");
    EXPECT_EQ(texts[std::make_pair(3, 0x0409)], u"EN-SERIAL");
    EXPECT_EQ(texts[std::make_pair(3, 0x0411)], u"JA-SERIAL");
    EXPECT_EQ(texts.size(), 6u);
    // A hub's own strings, which the scan never reads, are there too.
    const CMachineModel small = Captured("example-small.json");
    const CUsbDevice& hub = DeviceOn(small, 0, 3);
    ASSERT_EQ(hub.m_vStrings.size(), 1u);
    EXPECT_EQ(hub.m_vStrings[0].m_wstrText, u"USB 2.0 Hub");
}

TEST(Capture, HoldsThePropertiesAndParentsOfTheNodesItMet) {
    const CMachineModel m = Captured("example-small.json");
    // The stick's node: the scan reads its driver key, description, friendly name and
    // service; its location, class and enumerator come from the recorder's own reads.
    auto node = m.FindNode("USB\\VID_2E1A&PID_5567\\4C530001230804117455");
    ASSERT_TRUE(node);
    const CRegistryProperty* location = m.m_vNodes[*node].FindProperty(CM_DRP_LOCATION_INFORMATION);
    ASSERT_NE(location, nullptr);
    EXPECT_EQ(location->m_vValues, std::vector<std::string>{"Port_#0001.Hub_#0001"});
    EXPECT_NE(m.m_vNodes[*node].FindProperty(CM_DRP_ENUMERATOR_NAME), nullptr);
    // The volume's node is met only through its interface; it hangs below its own parent,
    // not below the root.
    auto volume = m.FindNode(
        "STORAGE\\VOLUME\\_??_USBSTOR#DISK&VEN_KESTREL&PROD_FLASH_16GB&REV_1.00#"
        "4C530001230804117455&0#{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}");
    ASSERT_TRUE(volume && m.m_vNodes[*volume].m_optParent);
    EXPECT_EQ(m.m_vNodes[*m.m_vNodes[*volume].m_optParent].m_strInstanceId, "ROOT\\VOLMGR\\0000");
}

TEST(Capture, AsksOnlyWhatTheScanAsksAndClosesWhatItOpens) {
    CModelPlatform* platform = nullptr;
    Captured("machine-realistic.json", &platform);
    // The recorder's own requests are of the scan's kinds, to the scan's targets.
    EXPECT_TRUE(platform->UnknownIoctlCalls().empty());
    std::set<std::string> interfaces;
    for (const CHostController& hc : platform->Model().m_vControllers)
        if (hc.m_optInterfacePath)
            interfaces.insert(*hc.m_optInterfacePath);
    for (const std::string& path : platform->OpenedPaths())
        EXPECT_TRUE(path.rfind("\\\\.\\", 0) == 0 || interfaces.count(path)) << path;
    EXPECT_EQ(platform->OpenHandleCount(), 0u);
    EXPECT_EQ(platform->OpenDeviceInfoSetCount(), 0u);
}

TEST(Capture, KeepsAFailureTheScanSawAsAFault) {
    // The language list of the device on port 4 is refused (bLength 3): the capture says
    // so with the same raw reply, and replays the serial number from the instance ID.
    const CMachineModel m = Captured("strings-devices.json");
    const CUsbDevice& d = DeviceOn(m, 0, 4);
    ASSERT_FALSE(d.m_vStrings.empty());
    EXPECT_EQ(d.m_vStrings[0].m_byIndex, 0);
    EXPECT_EQ(d.m_vStrings[0].m_optRaw, (std::vector<BYTE>{3, 3, 9}));
    // A configuration-manager call that claimed success without writing keeps doing so.
    const CMachineModel faults = Captured("scan-node-faults.json");
    auto k1 = faults.FindNode("X\\K1");
    ASSERT_TRUE(k1);
    ASSERT_TRUE(faults.m_vNodes[*k1].m_faults.m_optChild);
    EXPECT_TRUE(faults.m_vNodes[*k1].m_faults.m_optChild->m_bNoWrite);
}

// How deep the JSON of a fixture nests.
std::size_t Nesting(const std::string& text) {
    std::size_t depth = 0, deepest = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == '{' || c == '[') {
            deepest = std::max(deepest, ++depth);
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return deepest;
}

TEST(Capture, ADeviceTreeDeeperThanAFixtureNestsReplaysThroughLinks) {
    // A chain of 120 nodes; the device's node is the last, so the scan's search walks down
    // the whole chain and the tree it sees is 120 levels deep.
    CMachineModel m;
    CDevNode root;
    root.m_strInstanceId = kRootInstanceId;
    std::size_t at = m.AddNode(root, std::nullopt);
    for (int i = 1; i <= 120; ++i) {
        CDevNode n;
        n.m_strInstanceId = "CHAIN\\" + std::to_string(i);
        CRegistryProperty desc;
        desc.m_ulCode = CM_DRP_DEVICEDESC;
        desc.m_vValues = {"level " + std::to_string(i)};
        n.m_vProperties.push_back(desc);
        if (i == 120) {
            CRegistryProperty key;
            key.m_ulCode = CM_DRP_DRIVER;
            key.m_vValues = {"KEY\\DEEP"};
            n.m_vProperties.push_back(key);
        }
        at = m.AddNode(n, at);
    }
    CUsbHub hub;
    hub.m_wstrName = u"ROOT";
    hub.m_byNumberOfPorts = 1;
    CUsbPort port;
    port.m_dwConnectionStatus = DeviceConnected;
    port.m_optDevice = CUsbDevice();
    port.m_optDevice->m_wIdVendor = 0x1234;
    port.m_optDevice->m_optDriverKey = u"KEY\\DEEP";
    hub.m_vPorts.push_back(port);
    m.m_vHubs.push_back(hub);
    CHostController hc;
    hc.m_optHcdNumber = 0;
    hc.m_optDriverKey = u"HCD";
    hc.m_optRootHubName = u"ROOT";
    m.m_vControllers.push_back(hc);

    CModelPlatform plain(m);
    const CScanResult expected = Scan(plain);
    ASSERT_NE(expected.m_strText.find("level 120"), std::string::npos);
    CModelPlatform original(m);
    std::string fixture;
    Scan(original, &fixture);
    EXPECT_LE(Nesting(fixture), 110u);
    CModelPlatform replay(LoadMachineText(fixture, "deep (captured)"));
    const CScanResult replayed = Scan(replay);
    EXPECT_EQ(replayed.m_strText, expected.m_strText);
    EXPECT_EQ(replayed.m_strCalls, expected.m_strCalls);
}

TEST(Capture, TheDeepestHubChainTheWalkFollowsLoadsAgain) {
    // Hubs one below the other as deep as the walk follows them, one more beyond that, and
    // at the bottom a device with everything a port can say: a raw string descriptor, a
    // fault, pipes. Its node hangs at the end of a chain as deep as the written tree goes.
    CMachineModel m;
    CDevNode root;
    root.m_strInstanceId = kRootInstanceId;
    std::size_t at = m.AddNode(root, std::nullopt);
    for (int i = 1; i <= 60; ++i) {
        CDevNode n;
        n.m_strInstanceId = "CHAIN\\" + std::to_string(i);
        CRegistryProperty filters;
        filters.m_ulCode = CM_DRP_UPPERFILTERS;
        filters.m_ulType = kRegTypeMultiSz;
        filters.m_vValues = {"f" + std::to_string(i)};
        n.m_vProperties.push_back(filters);
        if (i == 60) {
            CRegistryProperty key;
            key.m_ulCode = CM_DRP_DRIVER;
            key.m_vValues = {"KEY\\BOTTOM"};
            n.m_vProperties.push_back(key);
        }
        at = m.AddNode(n, at);
    }
    const std::size_t hubs = CUsbBusWalker::kMaxHubDepth + 1;
    for (std::size_t h = 0; h < hubs; ++h) {
        CUsbHub hub;
        hub.m_wstrName = u"HUB" + Utf8ToUtf16(std::to_string(h));
        hub.m_byNumberOfPorts = 2;
        CUsbPort port;
        port.m_dwPort = 1;
        port.m_dwConnectionStatus = DeviceConnected;
        port.m_optDevice = CUsbDevice();
        if (h + 1 < hubs) {
            port.m_optDevice->m_bDeviceIsHub = true;
            port.m_optDevice->m_optHubName = u"HUB" + Utf8ToUtf16(std::to_string(h + 1));
        }
        hub.m_vPorts.push_back(port);
        if (h + 2 == hubs) {
            // The last hub the walk opens: a device beside the hub it does not follow.
            CUsbPort dev;
            dev.m_dwPort = 2;
            dev.m_dwConnectionStatus = DeviceConnected;
            CUsbDevice d;
            d.m_wIdVendor = 0x1234;
            d.m_bySerialNumber = 3;
            d.m_optDriverKey = u"KEY\\BOTTOM";
            d.m_optLanguageIds = std::vector<WORD>{0x0409};
            CStringDescriptor serial;
            serial.m_byIndex = 3;
            serial.m_optRaw = std::vector<BYTE>{7, 3, 'A', 0, 'B', 0, 'C'};
            d.m_vStrings.push_back(serial);
            d.m_vPipes.resize(2);
            d.m_dwNumberOfOpenPipes = 2;
            dev.m_optDevice = d;
            dev.m_faults.m_connectionInfoEx.m_bFail = true;
            hub.m_vPorts.push_back(dev);
        }
        m.m_vHubs.push_back(hub);
    }
    CHostController hc;
    hc.m_optHcdNumber = 0;
    hc.m_optDriverKey = u"HCD";
    hc.m_optRootHubName = u"HUB0";
    m.m_vControllers.push_back(hc);

    CModelPlatform plain(m);
    const CScanResult expected = Scan(plain);
    ASSERT_NE(expected.m_strText.find("0x1234"), std::string::npos) << expected.m_strText;
    CModelPlatform original(m);
    std::string fixture;
    Scan(original, &fixture);
    // As deep as the writer nests (four levels a hub), and within the loader's bound.
    const std::size_t nesting = Nesting(fixture);
    EXPECT_GE(nesting, 4 * CUsbBusWalker::kMaxHubDepth);
    EXPECT_LE(nesting, kMaxFixtureNesting);
    CMachineModel model;
    try {
        model = LoadMachineText(fixture, "hub chain (captured)");
    } catch (const CFixtureError& e) {
        FAIL() << e.what();
    }
    CModelPlatform replay(std::move(model));
    const CScanResult replayed = Scan(replay);
    EXPECT_EQ(replayed.m_strText, expected.m_strText);
    EXPECT_EQ(replayed.m_strCalls, expected.m_strCalls);
}

}  // namespace
}  // namespace ks

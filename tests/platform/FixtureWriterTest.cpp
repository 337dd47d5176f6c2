// The fixture writer on models the format cannot hold as they stand: what it writes loads,
// and answers the requests concerned as the model itself does.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/capture/FixtureWriter.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"

namespace ks {
namespace {

CMachineModel Reloaded(const CMachineModel& model) {
    const std::string text = WriteMachineFixture(model);
    try {
        return LoadMachineText(text, "written.json");
    } catch (const CFixtureError& e) {
        ADD_FAILURE() << e.what() << "\n" << text;
        return CMachineModel();
    }
}

// One driver request to a path; the reply bytes and the result.
struct CReply {
    BOOL m_bOk = FALSE;
    DWORD m_dwReturned = 0;
    std::vector<BYTE> m_vOut;
    bool operator==(const CReply& o) const {
        return m_bOk == o.m_bOk && m_dwReturned == o.m_dwReturned && m_vOut == o.m_vOut;
    }
};

CReply Request(CModelPlatform& p, const std::string& path, DWORD code, std::vector<BYTE> in,
               std::size_t outSize) {
    CReply r;
    HANDLE h = p.CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return r;
    in.resize(std::max(in.size(), outSize), 0);
    r.m_bOk = p.DeviceIoControl(h, code, in.data(), static_cast<DWORD>(in.size()), in.data(),
                                static_cast<DWORD>(outSize), &r.m_dwReturned, nullptr);
    r.m_vOut.assign(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(outSize));
    p.CloseHandle(h);
    return r;
}

CReply StringRequest(CModelPlatform& p, const std::string& hub, BYTE index, WORD language) {
    std::vector<BYTE> in(kDescriptorRequestSize, 0);
    in[0] = 1;  // port 1
    in[6] = index;
    in[7] = 3;
    in[8] = static_cast<BYTE>(language & 0xFF);
    in[9] = static_cast<BYTE>(language >> 8);
    in[10] = 255;
    return Request(p, "\\\\.\\" + hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION, in,
                   kDescriptorRequestSize);
}

CUsbHub HubWithDevice(const std::u16string& name, CUsbDevice device) {
    CUsbHub hub;
    hub.m_wstrName = name;
    hub.m_byNumberOfPorts = 2;
    CUsbPort port;
    port.m_dwPort = 1;
    port.m_dwConnectionStatus = DeviceConnected;
    port.m_optDevice = std::move(device);
    hub.m_vPorts.push_back(std::move(port));
    return hub;
}

CMachineModel WithRoot() {
    CMachineModel m;
    CDevNode root;
    root.m_strInstanceId = kRootInstanceId;
    m.AddNode(root, std::nullopt);
    return m;
}

TEST(FixtureWriter, StringsTheFormatCannotSayAsTextAreWrittenAsTheirBytes) {
    CMachineModel m = WithRoot();
    CUsbDevice d;
    CStringDescriptor lone;  // an unpaired surrogate has no UTF-8
    lone.m_byIndex = 1;
    lone.m_wLanguage = 0x0409;
    lone.m_wstrText =
        u"A\xD800"
        u"B";
    d.m_vStrings.push_back(lone);
    CStringDescriptor zero;  // descriptor 0 given as text
    zero.m_byIndex = 0;
    zero.m_wstrText = u"\x0409";
    d.m_vStrings.push_back(zero);
    m.m_vHubs.push_back(HubWithDevice(u"HUB", d));
    // Strings without a language list: descriptor 0 stays refused after loading.
    CUsbDevice bare;
    bare.m_vStrings.push_back(lone);
    m.m_vHubs.push_back(HubWithDevice(u"BARE", bare));
    for (int n : {0, 1}) {  // a hub is written where something names it
        CHostController hc;
        hc.m_optHcdNumber = n;
        hc.m_optRootHubName = m.m_vHubs[static_cast<std::size_t>(n)].m_wstrName;
        m.m_vControllers.push_back(hc);
    }

    CModelPlatform before(m);
    CModelPlatform after(Reloaded(m));
    EXPECT_EQ(StringRequest(after, "HUB", 1, 0x0409), StringRequest(before, "HUB", 1, 0x0409));
    EXPECT_EQ(StringRequest(after, "HUB", 0, 0), StringRequest(before, "HUB", 0, 0));
    EXPECT_TRUE(StringRequest(before, "HUB", 0, 0).m_bOk);
    EXPECT_FALSE(StringRequest(after, "BARE", 0, 0).m_bOk);
    EXPECT_EQ(StringRequest(after, "BARE", 1, 0x0409), StringRequest(before, "BARE", 1, 0x0409));
}

TEST(FixtureWriter, ARootHubTwoControllersShareIsCopiedUnderANewName) {
    CMachineModel m = WithRoot();
    CUsbHub hub;
    hub.m_wstrName = u"SHARED";
    hub.m_byNumberOfPorts = 3;
    m.m_vHubs.push_back(hub);
    for (int n : {0, 1}) {
        CHostController hc;
        hc.m_optHcdNumber = n;
        hc.m_optDriverKey = n == 0 ? u"KEY0" : u"KEY1";
        hc.m_optRootHubName = u"SHARED";
        m.m_vControllers.push_back(hc);
    }
    const CMachineModel back = Reloaded(m);
    ASSERT_EQ(back.m_vControllers.size(), 2u);
    ASSERT_EQ(back.m_vHubs.size(), 2u);
    const CUsbHub* second = back.FindHub(*back.m_vControllers[1].m_optRootHubName);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second->m_wstrName, u"SHARED");
    EXPECT_EQ(second->m_byNumberOfPorts, 3);
}

TEST(FixtureWriter, NamesAndLettersUsedTwiceKeepWhatTheModelAnswers) {
    CMachineModel m = WithRoot();
    CDevNode a, b;
    a.m_strInstanceId = "X\\SAME";
    b.m_strInstanceId = "x\\same";  // the same ID to the configuration manager
    CRegistryProperty desc;
    desc.m_ulCode = CM_DRP_DEVICEDESC;
    desc.m_vValues = {"second"};
    b.m_vProperties.push_back(desc);
    m.AddNode(a, 0);
    m.AddNode(b, 0);
    CVolume first, second, unnamed;
    first.m_strName = "\\\\?\\Volume{1}\\";
    first.m_vLetters = {'E'};
    second.m_strName = "\\\\?\\Volume{2}\\";
    second.m_vLetters = {'E', 'F'};  // E answers the first volume's name
    unnamed.m_vLetters = {'G'};      // a name that is empty
    m.m_vVolumes = {first, second, unnamed};
    CModelPlatform before(m);
    const CMachineModel back = Reloaded(m);
    CModelPlatform after(back);

    // Both nodes stay in the tree, the second under a stand-in ID, with its property.
    ASSERT_EQ(back.m_vNodes.size(), 3u);
    EXPECT_EQ(back.m_vNodes[2].m_vProperties.size(), 1u);
    for (const char* root : {"E:\\", "F:\\", "G:\\", "H:\\"}) {
        char a1[260] = {}, a2[260] = {};
        EXPECT_EQ(after.GetVolumeNameForVolumeMountPointA(root, a2, 260),
                  before.GetVolumeNameForVolumeMountPointA(root, a1, 260))
            << root;
        EXPECT_STREQ(a2, a1) << root;
    }
}

TEST(FixtureWriter, PortsTheHubCannotAnswerAreLeftOutAndHubsOpenAsTheirNamesRead) {
    CMachineModel m = WithRoot();
    CUsbDevice child;
    child.m_bDeviceIsHub = true;
    child.m_optHubName = std::u16string(u"INNER\0JUNK", 10);  // opens as "INNER"
    CUsbHub root = HubWithDevice(u"ROOT", child);
    CUsbPort beyond;
    beyond.m_dwPort = 9;  // beyond the two ports the hub reports
    beyond.m_optDevice = CUsbDevice();
    root.m_vPorts.push_back(beyond);
    CUsbPort again = root.m_vPorts.front();  // port 1 once more: the model answers the first
    again.m_optDevice->m_wIdVendor = 0x1234;
    root.m_vPorts.push_back(again);
    m.m_vHubs.push_back(root);
    CUsbHub inner;
    inner.m_wstrName = u"INNER";
    inner.m_byNumberOfPorts = 7;
    m.m_vHubs.push_back(inner);
    CHostController hc;
    hc.m_optHcdNumber = 0;
    hc.m_optRootHubName = u"ROOT";
    m.m_vControllers.push_back(hc);

    CModelPlatform before(m);
    const CMachineModel back = Reloaded(m);
    CModelPlatform after(back);
    ASSERT_EQ(back.m_vHubs.size(), 2u);
    EXPECT_EQ(back.m_vHubs[0].m_vPorts.size(), 1u);
    std::vector<BYTE> connection(kConnectionInfoSize, 0);
    connection[0] = 1;
    EXPECT_EQ(Request(after, "\\\\.\\ROOT", IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX,
                      connection, kConnectionInfoSize),
              Request(before, "\\\\.\\ROOT", IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX,
                      connection, kConnectionInfoSize));
    EXPECT_EQ(
        Request(after, "\\\\.\\INNER", IOCTL_USB_GET_NODE_INFORMATION, {}, kNodeInformationSize),
        Request(before, "\\\\.\\INNER", IOCTL_USB_GET_NODE_INFORMATION, {}, kNodeInformationSize));
}

TEST(FixtureWriter, CommentsAreOneLineEach) {
    const std::string text = WriteMachineFixture(WithRoot(), {"first\nsecond", "third"});
    EXPECT_EQ(text.rfind("// first second\n// third\n{", 0), 0u) << text;
    EXPECT_NO_THROW(LoadMachineText(text, "comments.json"));
}

}  // namespace
}  // namespace ks

// The bus walk, step by step: controller discovery (HCD names, then interfaces, each
// controller once), the hub and port walk (depth first by port, hubs entered once per path),
// and the records the lister makes of what it meets.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/usb/UsbTestMachine.h"

namespace ks {
namespace {

using test::CMachineScope;
using test::DescribeDevice;
using test::ListDevices;
using test::VendorIds;

using Ids = std::vector<WORD>;

// --- Controller discovery ------------------------------------------------------------

class ControllerDiscovery : public ::testing::Test {
  protected:
    CMachineScope m_machine{"walk-discovery.json"};
};

TEST_F(ControllerDiscovery, EachControllerOnceHcdNamesFirst) {
    // HCD1, HCD3, HCD4 by name (HCD0 and HCD2 missing, HCD5 does not open, HCD6 has no
    // driver key); then the interface-only controller, although it is listed first. The
    // interfaces of HCD1 and HCD3, and the one with HCD4's key in other letter case, add
    // nothing.
    EXPECT_EQ(VendorIds(ListDevices(0x1)), (Ids{0x0A01, 0x0A03, 0x0A04, 0x0C00}));

    std::vector<std::string> hcdPaths;
    for (const std::string& p : m_machine.Platform().OpenedPaths())
        if (p.rfind("\\\\.\\HCD", 0) == 0)
            hcdPaths.push_back(p);
    ASSERT_EQ(hcdPaths.size(), 10u + 3u);  // all ten tried; HCD1, HCD3, HCD4 reopened to be walked
    EXPECT_EQ(hcdPaths.front(), "\\\\.\\HCD0");
    EXPECT_EQ(m_machine.Opens("\\\\.\\HCD9"), 1u);
    EXPECT_EQ(m_machine.Opens("\\\\.\\ROOT_HCD1"), 1u);
    EXPECT_EQ(m_machine.Opens("\\\\.\\ROOT_SAME_KEY_UPPER"), 0u);
    EXPECT_EQ(m_machine.Opens("\\\\.\\ROOT_NO_KEY"), 0u);

    // Seven interfaces: two detail calls each, except the one whose required size is 0.
    EXPECT_EQ(m_machine.Platform().CallCount("SetupDiGetDeviceInterfaceDetailA"), 13u);
    EXPECT_EQ(m_machine.Opens("\\\\.\\ROOT_SIZE_ZERO"), 0u);
    EXPECT_EQ(m_machine.Opens("\\\\.\\ROOT_DETAIL_FAILS"), 0u);

    EXPECT_EQ(m_machine.Platform().OpenHandleCount(), 0u);
    EXPECT_EQ(m_machine.Platform().OpenDeviceInfoSetCount(), 0u);
}

TEST_F(ControllerDiscovery, EveryScanStartsAfresh) {
    std::vector<CUsbDeviceInfo> devices;
    CUsbDeviceLister lister(&devices);
    lister.m_fields = 0x7F;
    lister.Scan();
    const std::vector<CUsbDeviceInfo> first = devices;
    lister.Scan();
    ASSERT_EQ(devices.size(), first.size());
    for (std::size_t i = 0; i < first.size(); ++i)
        EXPECT_EQ(DescribeDevice(devices[i]), DescribeDevice(first[i]));
    // The controllers remembered in the first scan are walked again in the second.
    EXPECT_EQ(m_machine.Opens("\\\\.\\ROOT_HCD1"), 2u);
    EXPECT_EQ(m_machine.Opens("\\\\.\\ROOT_INTERFACE_ONLY"), 2u);
}

TEST_F(ControllerDiscovery, NullListWalksTheWholeBus) {
    ListDevices(0x7F);
    const std::vector<std::string> withList = m_machine.Platform().OpenedPaths();
    const unsigned requests = static_cast<unsigned>(m_machine.Platform().IoctlCalls().size());
    m_machine.Platform().ClearLog();

    CUsbDeviceLister lister(nullptr);
    lister.m_fields = 0x7F;
    lister.Scan();
    EXPECT_EQ(m_machine.Platform().OpenedPaths(), withList);
    EXPECT_EQ(m_machine.Platform().IoctlCalls().size(), requests);
}

TEST_F(ControllerDiscovery, InterfaceModeAlone) {
    struct CInterfacesOnly : CUsbBusWalker {
        CInterfacesOnly() : CUsbBusWalker(kDiscoverInterfaces) {}
        void OnDevicePort(CUsbIoHandle&, int&, const BYTE* connection) override {
            if (connection[31] != DeviceConnected)
                return;
            m_vendors.push_back(static_cast<WORD>(connection[12] | connection[13] << 8));
        }
        Ids m_vendors;
    } walker;
    walker.Scan();
    // Interface order; HCD4's controller has no interface, so the one with its key in
    // other letter case is new now.
    EXPECT_EQ(walker.m_vendors, (Ids{0x0C00, 0x0A01, 0x0A03, 0x0B04}));
    EXPECT_EQ(m_machine.Opens("\\\\.\\HCD0"), 0u);
}

TEST(ControllerDiscoveryFaults, NoInterfaceSetLeavesTheHcdNames) {
    CMachineScope machine(R"({
        "faults": {"hostControllerSetFails": true},
        "controllers": [{"hcd": 2, "interfacePath": "\\\\?\\pci#x", "driverKey": "K",
                         "rootHub": {"name": "R", "bNumberOfPorts": 1,
                                     "ports": [{"port": 1, "device": {"idVendor": "0x0202"}}]}}]})",
                          "no-set.json");
    EXPECT_EQ(VendorIds(ListDevices(0x1)), (Ids{0x0202}));
    EXPECT_EQ(machine.Platform().CallCount("SetupDiEnumDeviceInterfaces"), 0u);
}

// --- Hubs and ports --------------------------------------------------------------------

class PortWalk : public ::testing::Test {
  protected:
    CMachineScope m_machine{"walk-ports.json"};
};

TEST_F(PortWalk, DepthFirstByPortNumber) {
    // Hub on root port 1 (devices on its ports 1 and 3) before root port 2; below root port
    // 3 the hub whose node information fails adds nothing and its sibling port follows;
    // the failed enumeration, the unnamed hub and the hub without ports add nothing.
    EXPECT_EQ(VendorIds(ListDevices(0x1)), (Ids{0x1001, 0x1003, 0x2002, 0x3002, 0x7007}));

    // Empty ports are asked all the same.
    EXPECT_EQ(m_machine.Ioctls(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, "\\\\.\\HUB_FOUR"),
              4u);
    EXPECT_EQ(m_machine.Ioctls(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, "\\\\.\\ROOT_PORTS"),
              7u);
    EXPECT_EQ(
        m_machine.Ioctls(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, "\\\\.\\HUB_NO_INFORMATION"),
        0u);
    EXPECT_EQ(m_machine.Ioctls(IOCTL_USB_GET_NODE_INFORMATION, "\\\\.\\HUB_NO_PORTS"), 1u);
    EXPECT_EQ(m_machine.Ioctls(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, "\\\\.\\HUB_NO_PORTS"),
              0u);
    EXPECT_EQ(m_machine.Opens("\\\\.\\HUB_NO_NAME"), 0u);
    EXPECT_EQ(m_machine.Platform().OpenHandleCount(), 0u);
}

TEST_F(PortWalk, FieldMaskSelectsWhatARecordHolds) {
    const auto all = ListDevices(0x7F);
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(DescribeDevice(all[0]),
              "1001:0001 serial=\"\" manufacturer=\"\" product=\"\" bcdUSB=0x0200 speed=1");
    EXPECT_EQ(DescribeDevice(all[4]),
              "7007:0007 serial=\"KB-7007\" manufacturer=\"Larkspur\" product=\"Keyboard\" "
              "bcdUSB=0x0110 speed=0");

    const auto worker = ListDevices(0x13);
    ASSERT_EQ(worker.size(), 5u);
    EXPECT_EQ(DescribeDevice(worker[4]),
              "7007:0007 serial=\"KB-7007\" manufacturer=\"\" product=\"\" bcdUSB=0x0000 speed=0");

    // Nothing selected: still one record per device, every field at its default.
    const auto none = ListDevices(0);
    ASSERT_EQ(none.size(), 5u);
    for (const CUsbDeviceInfo& d : none)
        EXPECT_EQ(DescribeDevice(d),
                  "0000:0000 serial=\"\" manufacturer=\"\" product=\"\" bcdUSB=0x0000 speed=0");
}

TEST(PortWalkLegacyHub, SpeedFromTheLegacyRequest) {
    CMachineScope machine("requests-connection.json");
    // Ports 1-3 answer only the legacy request (low, full, high); port 5 answers neither
    // and is skipped; port 6 answers the extended request without writing, which reads as
    // an empty port.
    const auto devices = ListDevices(0x7F);
    EXPECT_EQ(VendorIds(devices), (Ids{0x0101, 0x0102, 0x0103, 0x0104, 0x0107}));
    std::vector<int> speeds;
    for (const CUsbDeviceInfo& d : devices)
        speeds.push_back(d.m_speed);
    EXPECT_EQ(speeds, (std::vector<int>{0, 1, 1, 2, 0}));
}

TEST(PortWalkCycles, HubsOnThePathAreNotEnteredAgain) {
    CMachineScope machine("walk-cycles.json");
    EXPECT_EQ(VendorIds(ListDevices(0x1)), (Ids{0x7003, 0x7004}));
    EXPECT_EQ(machine.Opens("\\\\.\\ROOT_LOOP"), 1u);
    EXPECT_EQ(machine.Opens("\\\\.\\HUB_LOOP"), 1u);
    EXPECT_EQ(machine.Platform().OpenHandleCount(), 0u);
}

// A chain of 40 hubs, each with a device on port 1 and the next hub on port 2: the walk
// follows 32 hub levels and no more.
TEST(PortWalkCycles, HubNestingIsBounded) {
    std::string hub =
        R"({"name": "HUB_40", "bNumberOfPorts": 2, "ports": [{"port": 1, "device": {"idVendor": 40}}]})";
    for (int level = 39; level >= 1; --level) {
        const std::string n = std::to_string(level);
        hub = R"({"name": "HUB_)" + n +
              R"(", "bNumberOfPorts": 2, "ports": [{"port": 1, "device": {"idVendor": )" + n +
              R"(}}, {"port": 2, "device": {"hub": )" + hub + "}}]}";
    }
    CMachineScope machine(
        R"({"controllers": [{"hcd": 0, "driverKey": "K", "rootHub": )" + hub + "}]}", "chain.json");
    Ids expected;
    for (WORD level = 1; level <= 32; ++level)
        expected.push_back(level);
    EXPECT_EQ(VendorIds(ListDevices(0x1)), expected);
    EXPECT_EQ(machine.Opens("\\\\.\\HUB_33"), 0u);
    EXPECT_EQ(machine.Platform().OpenHandleCount(), 0u);
}

// Platform calls that report success without writing their outputs: nothing the walk
// reads afterwards may come from uninitialised memory, and nothing is invented.
TEST(PortWalkFaults, SuccessWithoutDataAddsNothing) {
    CMachineScope machine("walk-nowrite.json");
    const auto devices = ListDevices(0x7F);
    ASSERT_EQ(VendorIds(devices), (Ids{0x3002, 0x4001}));
    EXPECT_EQ(DescribeDevice(devices[1]),
              "4001:0000 serial=\"\" manufacturer=\"\" product=\"\" bcdUSB=0x0200 speed=1");
    EXPECT_EQ(machine.Opens("\\\\.\\ROOT_0"), 0u);
    EXPECT_EQ(machine.Opens("\\\\.\\ROOT_1"), 0u);
    EXPECT_EQ(machine.Ioctls(IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, "\\\\.\\ROOT_2"), 0u);
    EXPECT_EQ(machine.Platform().OpenHandleCount(), 0u);
}

}  // namespace
}  // namespace ks

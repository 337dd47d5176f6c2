// The strings of a device record: which are asked for under which field mask, the language
// they are read in, and the serial number taken from the instance ID when the device will
// not give its serial string. Every device of strings-devices.json sits on its own port of
// one root hub; the lister below notes what each record cost.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/usb/UsbTestMachine.h"

namespace ks {
namespace {

using test::CMachineScope;
using test::DescribeDevice;

// The requests made while one record was filled: those since the previous record.
struct CRecordCost {
    unsigned m_descriptors = 0;
    unsigned m_driverKeys = 0;  // IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME
    unsigned m_searches = 0;    // CM_Locate_DevNodeA: driver-key searches of the device tree
};

class CCostingLister : public CUsbDeviceLister {
  public:
    CCostingLister(CMachineScope& machine, std::vector<CUsbDeviceInfo>* devices)
        : CUsbDeviceLister(devices), m_machine(machine) {}

    void AddDevice(CUsbDeviceInfo& device) override {
        CRecordCost total{m_machine.Ioctls(IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION),
                          m_machine.Ioctls(IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME),
                          m_machine.Platform().CallCount("CM_Locate_DevNodeA")};
        m_costs.push_back({total.m_descriptors - m_last.m_descriptors,
                           total.m_driverKeys - m_last.m_driverKeys,
                           total.m_searches - m_last.m_searches});
        m_last = total;
        CUsbDeviceLister::AddDevice(device);
    }

    std::vector<CRecordCost> m_costs;

  private:
    CMachineScope& m_machine;
    CRecordCost m_last;
};

class DeviceStrings : public ::testing::Test {
  protected:
    void Scan(int fields) {
        m_devices.clear();
        CCostingLister lister(m_machine, &m_devices);
        lister.m_fields = fields;
        lister.Scan();
        m_costs = lister.m_costs;
        ASSERT_EQ(m_devices.size(), 12u);
        ASSERT_EQ(m_costs.size(), 12u);
    }
    const CUsbDeviceInfo& Device(int port) const {
        return m_devices.at(static_cast<std::size_t>(port - 1));
    }
    const CRecordCost& Cost(int port) const {
        return m_costs.at(static_cast<std::size_t>(port - 1));
    }

    CMachineScope m_machine{"strings-devices.json"};
    std::vector<CUsbDeviceInfo> m_devices;
    std::vector<CRecordCost> m_costs;
};

TEST_F(DeviceStrings, AllStringsInTheFirstLanguageOfTheList) {
    Scan(0x7F);
    // Descriptor 0 lists 0x0411 then 0x0409; the device has every string in both.
    EXPECT_EQ(DescribeDevice(Device(1)),
              "0411:0001 serial=\"JA-SERIAL\" manufacturer=\"ヤマセ電機\" product=\"USBメモリ\" "
              "bcdUSB=0x0200 speed=1");
    EXPECT_EQ(Cost(1).m_descriptors, 4u);
    EXPECT_EQ(Cost(1).m_driverKeys, 0u);
}

TEST_F(DeviceStrings, SerialFromTheInstanceIdWhenTheSerialStringIsRefused) {
    Scan(0x7F);
    // Port 2: an odd bLength; the instance ID's last part is the serial number.
    EXPECT_EQ(Device(2).m_strSerialNumber, "FROM-INSTANCE-ID");
    EXPECT_EQ(Cost(2).m_descriptors, 2u);
    EXPECT_EQ(Cost(2).m_driverKeys, 2u);  // probe and full request
    EXPECT_EQ(Cost(2).m_searches, 1u);
    // Port 3: type 2; the instance ID's last part holds an ampersand (made up by the
    // system), so there is no serial number.
    EXPECT_EQ(Device(3).m_strSerialNumber, "");
    EXPECT_EQ(Cost(3).m_searches, 1u);
    // Port 11: refused, and the hub gives no driver key: no search at all.
    EXPECT_EQ(Device(11).m_strSerialNumber, "");
    EXPECT_EQ(Cost(11).m_driverKeys, 1u);
    EXPECT_EQ(Cost(11).m_searches, 0u);
}

TEST_F(DeviceStrings, NoUsableLanguageListLeavesTextsEmpty) {
    Scan(0x7F);
    // Port 4: descriptor 0 refused; port 5: an empty list. Both devices have all their
    // strings in 0x0409, but without a language none is asked for; the serial number
    // comes from the instance ID (port 4's driver key differs from the node's in case).
    EXPECT_EQ(
        DescribeDevice(Device(4)),
        "0004:0004 serial=\"NO-LANGUAGES\" manufacturer=\"\" product=\"\" bcdUSB=0x0200 speed=1");
    EXPECT_EQ(Cost(4).m_descriptors, 1u);
    EXPECT_EQ(DescribeDevice(Device(5)),
              "0005:0005 serial=\"EMPTY-LANGUAGES\" manufacturer=\"\" product=\"\" bcdUSB=0x0200 "
              "speed=1");
    EXPECT_EQ(Cost(5).m_descriptors, 1u);
}

TEST_F(DeviceStrings, SerialStringsTheDeviceDoesGive) {
    Scan(0x7F);
    // Port 6: iSerialNumber 0. The node's instance ID has a serial-like last part, but it
    // is not consulted.
    EXPECT_EQ(Device(6).m_strSerialNumber, "");
    EXPECT_EQ(Device(6).m_strProduct, "No Serial");
    EXPECT_EQ(Cost(6).m_driverKeys, 0u);
    EXPECT_EQ(Cost(6).m_searches, 0u);
    // Port 12: no serial index and no language list either: still no lookup.
    EXPECT_EQ(Device(12).m_strSerialNumber, "");
    EXPECT_EQ(Device(12).m_strManufacturer, "");
    EXPECT_EQ(Cost(12).m_descriptors, 1u);
    EXPECT_EQ(Cost(12).m_driverKeys, 0u);
    // Port 7: a NUL code unit in the middle of the serial string cuts it.
    EXPECT_EQ(Device(7).m_strSerialNumber, "AB");
    // Port 8: an empty serial string (bLength 2) is a serial number, empty.
    EXPECT_EQ(Device(8).m_strSerialNumber, "");
    EXPECT_EQ(Cost(8).m_descriptors, 2u);
    EXPECT_EQ(Cost(8).m_driverKeys, 0u);
}

TEST_F(DeviceStrings, FailedStringsNeverCostTheRecord) {
    Scan(0x7F);
    // Port 9: the device is gone after its connection information: nothing else answers.
    EXPECT_EQ(DescribeDevice(Device(9)),
              "0009:0009 serial=\"\" manufacturer=\"\" product=\"\" bcdUSB=0x0200 speed=1");
    // Port 10: the manufacturer string is refused, the product string is read.
    EXPECT_EQ(Device(10).m_strManufacturer, "");
    EXPECT_EQ(Device(10).m_strProduct, "Product Ten");
}

TEST_F(DeviceStrings, WorkerMaskAsksForTheSerialOnly) {
    Scan(0x13);
    EXPECT_EQ(
        DescribeDevice(Device(1)),
        "0411:0001 serial=\"JA-SERIAL\" manufacturer=\"\" product=\"\" bcdUSB=0x0000 speed=0");
    // Descriptor 0 and the serial string, nothing else.
    EXPECT_EQ(Cost(1).m_descriptors, 2u);
    EXPECT_EQ(Cost(2).m_descriptors, 2u);
    // No serial index: no string is needed, so nothing is asked of the device.
    EXPECT_EQ(Cost(6).m_descriptors, 0u);
    EXPECT_EQ(Device(6).m_strProduct, "");
    EXPECT_EQ(Cost(10).m_descriptors, 0u);
}

TEST_F(DeviceStrings, NoFieldsAskNothing) {
    Scan(0);
    for (std::size_t i = 0; i < m_devices.size(); ++i) {
        SCOPED_TRACE("port " + std::to_string(i + 1));
        EXPECT_EQ(DescribeDevice(m_devices[i]),
                  "0000:0000 serial=\"\" manufacturer=\"\" product=\"\" bcdUSB=0x0000 speed=0");
        EXPECT_EQ(m_costs[i].m_descriptors, 0u);
    }
}

}  // namespace
}  // namespace ks

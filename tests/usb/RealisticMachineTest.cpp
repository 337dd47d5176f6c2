// A realistic machine (three controllers found by names and interfaces, a three-deep hub
// chain, composite devices, devices without serial numbers, Japanese product strings)
// against the list of records written down for it in machine-realistic.lister.txt.
//
// The golden file is UTF-8. When the machine changes, print the new list with
//   KS_PRINT_LISTER_TEXT=1 usb_tests --gtest_filter=RealisticMachine.*
// check it by hand against the fixture, and replace the file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/usb/UsbTestMachine.h"

namespace ks {
namespace {

using test::CMachineScope;
using test::DescribeDevice;
using test::ListDevices;

std::string ListerText(const std::vector<CUsbDeviceInfo>& devices) {
    std::string text;
    for (const CUsbDeviceInfo& d : devices)
        text += DescribeDevice(d) + "\n";
    return text;
}

std::string ReadGolden() {
    std::ifstream in(test::DataPath("machine-realistic.lister.txt"), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string out;  // tolerate a checkout with CRLF line ends
    for (char c : text)
        if (c != '\r')
            out += c;
    return out;
}

bool PrintRequested() {
    return std::getenv("KS_PRINT_LISTER_TEXT") != nullptr;
}

TEST(RealisticMachine, ListerFindsTheGoldenList) {
    CMachineScope machine("machine-realistic.json");
    const std::string text = ListerText(ListDevices(0x7F));
    if (PrintRequested())
        std::cout << text;
    const std::string golden = ReadGolden();
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(text, golden);
    EXPECT_EQ(machine.Platform().OpenHandleCount(), 0u);
    EXPECT_EQ(machine.Platform().OpenDeviceInfoSetCount(), 0u);
}

// With the worker's mask the same devices come out, in the same order, with only their
// identity filled in.
TEST(RealisticMachine, WorkerMaskKeepsTheIdentity) {
    CMachineScope machine("machine-realistic.json");
    const auto full = ListDevices(0x7F);
    const auto identity = ListDevices(0x13);
    ASSERT_EQ(identity.size(), full.size());
    for (std::size_t i = 0; i < full.size(); ++i) {
        SCOPED_TRACE(DescribeDevice(full[i]));
        EXPECT_EQ(identity[i].m_idVendor, full[i].m_idVendor);
        EXPECT_EQ(identity[i].m_idProduct, full[i].m_idProduct);
        EXPECT_EQ(identity[i].m_strSerialNumber, full[i].m_strSerialNumber);
        EXPECT_TRUE(identity[i].m_strManufacturer.IsEmpty());
        EXPECT_TRUE(identity[i].m_strProduct.IsEmpty());
        EXPECT_EQ(identity[i].m_bcdUSB, 0);
        EXPECT_EQ(identity[i].m_speed, 0);
    }
}

}  // namespace
}  // namespace ks

// What keyscout-list prints: the text blocks and the JSON document, with hostile texts
// from devices and drivers.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "framework/CodePage.h"
#include "listing/ListOutput.h"

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

TEST(ListOutputTest, JsonIsValidAndCarriesTheSameRecords) {
    CDeviceRecordList list = TwoRecords();
    CDeviceRecord broken;
    broken.m_strSerial = "\xFF\xFE";  // not text in any code page the tests run under
    broken.m_details.m_strText = "quote\" and \\";
    list.Add(broken);
    auto doc = nlohmann::json::parse(FormatRecordsJson(list));
    ASSERT_EQ(doc["devices"].size(), 3u);
    const auto& stick = doc["devices"][0];
    EXPECT_EQ(stick["vendorId"], 0x0781);
    EXPECT_EQ(stick["productId"], 0xFFFF);
    EXPECT_EQ(stick["serial"], "4C530001\x1B[2J");
    EXPECT_EQ(stick["details"]["text"], "USB Mass Storage Device");
    EXPECT_EQ(stick["details"]["children"][0]["children"][0]["text"], "Volume - (E:)");
    EXPECT_TRUE(doc["devices"][1]["details"]["children"].empty());
    EXPECT_EQ(doc["devices"][2]["details"]["text"], "quote\" and \\");
    EXPECT_TRUE(doc["devices"][2]["serial"].is_string());
}

}  // namespace
}  // namespace ks

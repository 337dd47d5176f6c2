// The volume table (drive letters A to Y, the volume interfaces behind them) and the drive
// letters it gives the nodes of a USB device's tree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devmgr/VolumeTable.h"
#include "tests/devices/ScanFixture.h"

namespace ks {
namespace {

using test::ScanFixture;

struct Row {
    char letter;
    std::string name, path, instanceId;
    bool operator==(const Row&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Row& r) {
    return os << r.letter << " [" << r.name << "] [" << r.path << "] [" << r.instanceId << "]";
}

std::vector<Row> Rows(const std::vector<CVolumeEntry>& table) {
    std::vector<Row> out;
    for (const CVolumeEntry& e : table)
        out.push_back({e.m_letter, std::string(e.m_strVolumeName.View()),
                       std::string(e.m_strInterfacePath.View()),
                       std::string(e.m_strInstanceId.View())});
    return out;
}

std::string Volume(const char* tail) {
    return std::string("\\\\?\\Volume{00000000-0000-0000-0000-") + tail + "}\\";
}
std::string Interface(const char* id) {
    return std::string("\\\\?\\STORAGE#Volume#") + id + "#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}\\";
}

// What volumes-letters.json gives: no row for D: (no name), G: (empty name) or Z: (never
// asked); E: and F: share one volume and both take its interface; H:, I:, J: and K: keep
// empty paths and IDs; the folder-mounted volume changes no row.
const std::vector<Row> kExpectedRows = {
    {'C', Volume("00000000000c"), Interface("SYS"), "STORAGE\\VOLUME\\SYS"},
    {'E', Volume("0000000000ef"), Interface("DUAL"), "STORAGE\\VOLUME\\DUAL"},
    {'F', Volume("0000000000ef"), Interface("DUAL"), "STORAGE\\VOLUME\\DUAL"},
    {'H', Volume("000000000008"), "", ""},
    {'I', Volume("000000000009"), "", ""},
    {'J', Volume("00000000000b"), "", ""},
    {'K', Volume("000000000007"), "", ""},
};

class VolumeTableTest : public ScanFixture {};

TEST_F(VolumeTableTest, RefreshBuildsOneRowPerNamedLetterAToYAndTiesInterfacesByName) {
    Load("volumes-letters.json");
    std::vector<CVolumeEntry> table;
    table.emplace_back('X', CString("stale"));
    CVolumeTableBuilder builder(&table);
    builder.Refresh();
    EXPECT_EQ(Rows(table), kExpectedRows);
    EXPECT_EQ(m_platform->OpenDeviceInfoSetCount(), 0u) << "the interface set was not closed";
}

TEST_F(VolumeTableTest, AnInterfaceSetThatCannotBeOpenedLeavesEveryRowWithoutInterface) {
    Load("volumes-letters.json", [](CMachineModel& m) { m.m_faults.m_bVolumeSetFails = true; });
    std::vector<CVolumeEntry> table;
    CVolumeTableBuilder builder(&table);
    builder.Refresh();
    std::vector<Row> expected;
    for (Row r : kExpectedRows)
        expected.push_back({r.letter, r.name, "", ""});
    EXPECT_EQ(Rows(table), expected);
}

TEST_F(VolumeTableTest, WithoutATableRefreshStillAsksAndRecordsNothing) {
    Load("volumes-letters.json");
    CVolumeTableBuilder builder(nullptr);
    builder.Refresh();
    EXPECT_EQ(m_platform->CallCount("SetupDiGetClassDevsA"), 1u);
    EXPECT_GE(m_platform->CallCount("GetVolumeNameForVolumeMountPointA"), 25u);
    EXPECT_EQ(m_platform->OpenDeviceInfoSetCount(), 0u);
}

// Rows are added only through AddVolumeEntry and changed only through SetInterfaceInfo, so
// a subclass sees every letter and every interface that names a volume.
class CRecordingBuilder : public CVolumeTableBuilder {
  public:
    using CVolumeTableBuilder::CVolumeTableBuilder;
    void AddVolumeEntry(const CVolumeEntry& entry) override {
        m_letters += entry.m_letter;
        CVolumeTableBuilder::AddVolumeEntry(entry);
    }
    void SetInterfaceInfo(const CString& volumeName, const CString& interfacePath,
                          const CString& instanceId) override {
        m_interfaces.emplace_back(instanceId.View());
        CVolumeTableBuilder::SetInterfaceInfo(volumeName, interfacePath, instanceId);
    }
    std::string m_letters;
    std::vector<std::string> m_interfaces;
};

TEST_F(VolumeTableTest, RowsAreAddedAndChangedThroughTheVirtualSteps) {
    Load("volumes-letters.json");
    std::vector<CVolumeEntry> table;
    CRecordingBuilder builder(&table);
    builder.Refresh();
    EXPECT_EQ(builder.m_letters, "CEFHIJK");
    EXPECT_EQ(builder.m_interfaces,
              (std::vector<std::string>{"STORAGE\\VOLUME\\SYS", "STORAGE\\VOLUME\\DUAL",
                                        "STORAGE\\VOLUME\\FOLDER", "STORAGE\\VOLUME\\ZED"}));
    EXPECT_EQ(Rows(table), kExpectedRows);
}

TEST(VolumeTableBuilder, SetInterfaceInfoUpdatesEveryRowOfTheVolumeWhateverItsCase) {
    std::vector<CVolumeEntry> table;
    table.emplace_back('E', CString("\\\\?\\Volume{ab}\\"));
    table.emplace_back('F', CString("\\\\?\\Volume{cd}\\"));
    table.emplace_back('G', CString("\\\\?\\VOLUME{AB}\\"));
    CVolumeTableBuilder builder(&table);
    builder.SetInterfaceInfo(CString("\\\\?\\volume{AB}\\"), CString("path\\"), CString("ID"));
    builder.SetInterfaceInfo(CString("\\\\?\\Volume{ef}\\"), CString("other\\"), CString("OTHER"));
    EXPECT_EQ(Rows(table), (std::vector<Row>{{'E', "\\\\?\\Volume{ab}\\", "path\\", "ID"},
                                             {'F', "\\\\?\\Volume{cd}\\", "", ""},
                                             {'G', "\\\\?\\VOLUME{AB}\\", "path\\", "ID"}}));
}

// --- Letters on the nodes of a scan ------------------------------------------------------

TEST_F(VolumeTableTest, ANodeTakesTheLetterOfItsVolumeTheHigherOfTwo) {
    // Z: is never a letter; the node whose own instance ID cannot be read takes nothing
    // from the rows whose instance ID stayed empty; C: is on no USB device's node.
    Load("volumes-letters.json");
    const auto& entries = Scan(0x419);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(Outline(entries[0]), "usb(disk(dual:F,zed,noid))");
    EXPECT_EQ(Rows(m_scanner.m_volumes), kExpectedRows);

    // The next pass starts from an empty table.
    Scan(0x419);
    EXPECT_EQ(Rows(m_scanner.m_volumes), kExpectedRows);
}

TEST_F(VolumeTableTest, WithoutBit001TheTableStaysEmptyAndNoNodeHasALetter) {
    Load("volumes-letters.json");
    Scan(0x419);
    ASSERT_FALSE(m_scanner.m_volumes.empty());
    m_platform->ClearLog();
    const auto& entries = Scan(0x41A);  // instance IDs without letters
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(Outline(entries[0]), "usb(disk(dual,zed,noid))");
    EXPECT_TRUE(m_scanner.m_volumes.empty());
    EXPECT_EQ(m_platform->CallCount("GetVolumeNameForVolumeMountPointA"), 0u);
}

TEST_F(VolumeTableTest, WhenTheInterfaceSetCannotBeOpenedNoNodeHasALetter) {
    Load("volumes-letters.json", [](CMachineModel& m) { m.m_faults.m_bVolumeSetFails = true; });
    const auto& entries = Scan(0x419);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(Outline(entries[0]), "usb(disk(dual,zed,noid))");
    EXPECT_EQ(m_scanner.m_volumes.size(), kExpectedRows.size());
    for (const CVolumeEntry& row : m_scanner.m_volumes)
        EXPECT_TRUE(row.m_strInstanceId.IsEmpty()) << row.m_letter;
}

}  // namespace
}  // namespace ks

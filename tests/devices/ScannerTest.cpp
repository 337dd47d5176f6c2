// CUsbDeviceScanner over simulated machines: which ports become entries, the shape of each
// device's node tree, links that lead back, the node fields each mask bit reads, and
// configuration-manager calls that fail or answer without writing.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "framework/CodePage.h"
#include "tests/devices/ScanFixture.h"

namespace ks {
namespace {

using test::ScanFixture;

constexpr unsigned kWorkerNodeFields = 0x419;
constexpr unsigned kAllNodeFields = 0x7FF;

class ScannerTest : public ScanFixture {};

// --- Ports and entries -------------------------------------------------------------------

TEST_F(ScannerTest, EntriesComeFromConnectedNonHubDevicesWithADriverKeyInWalkOrder) {
    Load("scan-ports.json");
    const auto& entries = Scan(kWorkerNodeFields);
    ASSERT_EQ(entries.size(), 5u);

    // Port 1; the hub of port 3 is no entry, its two identical devices are two, in port
    // order; port 2 (failed enumeration) and port 4 (no driver key name) give none.
    EXPECT_EQ(entries[0].m_idVendor, 0x1111);
    EXPECT_EQ(entries[0].m_strSerialNumber, "SN-A");
    EXPECT_EQ(Outline(entries[0]), "device A");
    for (int i : {1, 2}) {
        EXPECT_EQ(entries[i].m_idVendor, 0x4444) << i;
        EXPECT_EQ(entries[i].m_idProduct, 0x0004) << i;
        EXPECT_EQ(entries[i].m_strSerialNumber, "TWIN") << i;
    }
    EXPECT_EQ(Outline(entries[1]), "twin on port 1");
    EXPECT_EQ(Outline(entries[2]), "twin on port 2");

    // Port 5: no node carries the driver key. The entry keeps its identity; its tree is a
    // lone root with blank info.
    EXPECT_EQ(entries[3].m_idVendor, 0x6666);
    EXPECT_EQ(entries[3].m_strSerialNumber, "SN-F");
    const CDevNodeTree::Node* root = entries[3].m_devNodeTree.GetRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->Info().m_devInst, 0u);
    EXPECT_TRUE(root->Info().m_strDeviceId.IsEmpty());
    EXPECT_TRUE(root->Info().m_strDescription.IsEmpty());
    EXPECT_TRUE(root->Info().m_strService.IsEmpty());
    EXPECT_EQ(root->ChildCount(), 0);

    // Port 6: no serial-number index, listed all the same.
    EXPECT_EQ(entries[4].m_idVendor, 0x7777);
    EXPECT_TRUE(entries[4].m_strSerialNumber.IsEmpty());
    EXPECT_EQ(Outline(entries[4]), "no serial");
}

TEST_F(ScannerTest, EachPassReplacesTheEntriesOfTheLastAndANullVectorKeepsNothing) {
    Load("scan-ports.json");
    Scan(kWorkerNodeFields);
    EXPECT_EQ(Scan(kWorkerNodeFields).size(), 5u);

    CUsbDeviceScanner keepsNothing(nullptr);
    keepsNothing.m_fields = 0x13;
    keepsNothing.m_nodeFieldMask = kWorkerNodeFields;
    keepsNothing.Scan();  // walks the bus all the same
    EXPECT_GT(m_platform->CallCount("DeviceIoControl"), 0u);
}

// --- Tree shape -------------------------------------------------------------------------

TEST_F(ScannerTest, ChildrenInDeviceTreeOrderThenRemovalRelationsInListOrder) {
    // A relation brings its own children but not its next sibling; an ID with no node is
    // skipped.
    Load("scan-tree-order.json");
    const auto& entries = Scan(kWorkerNodeFields);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(Outline(entries[0]), "D(C1(C1a),C2,C3,R1(R1a,R1b),R2)");
}

TEST_F(ScannerTest, ANodeReachedTwiceByLegitimateLinksStandsAtEveryPlace) {
    Load("scan-tree-twice.json");
    const auto& entries = Scan(kWorkerNodeFields);
    ASSERT_EQ(entries.size(), 1u);
    // B's removal relation A is B's sibling, not one of its ancestors: A stands below B
    // both where B is D's child and where B is D's removal relation.
    EXPECT_EQ(Outline(entries[0]), "D(A(A1),B(A(A1)),B(A(A1)))");
}

TEST_F(ScannerTest, LinksThatLeadBackEndTheBranchInsteadOfLooping) {
    Load("scan-tree-cycles.json");
    const auto& entries = Scan(kWorkerNodeFields);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(Outline(entries[0]), "D(C1(C1a),C2,C3,R(S))");
    EXPECT_EQ(Outline(entries[1]), "E(F)");
}

TEST_F(ScannerTest, AWideTreeIsWholeAndOnlyItsDepthIsBounded) {
    // A thousand children below the device's node, the last with a chain below it deeper
    // than the scanner follows.
    Load("scan-tree-order.json", [](CMachineModel& m) {
        const std::size_t device = *m.FindNode("USB\\VID_1234&PID_0001\\1");
        std::size_t last = 0;
        for (int i = 0; i < 1000; ++i) {
            CDevNode n;
            n.m_strInstanceId = "WIDE\\" + std::to_string(i);
            last = m.AddNode(n, device);
        }
        for (int i = 0; i < 300; ++i) {
            CDevNode n;
            n.m_strInstanceId = "DEEP\\" + std::to_string(i);
            last = m.AddNode(n, last);
        }
    });
    const auto& entries = Scan(kWorkerNodeFields);
    ASSERT_EQ(entries.size(), 1u);
    const CDevNodeTree::Node* root = entries[0].m_devNodeTree.GetRoot();
    // C1, C2, C3, the thousand, then the two relations.
    ASSERT_EQ(root->ChildCount(), 3 + 1000 + 2);
    const CDevNodeTree::Node* wide = root->FirstChild();
    for (int i = 0; i < 3; ++i)
        wide = wide->NextSibling();
    for (int i = 0; i < 1000; ++i, wide = wide->NextSibling())
        ASSERT_EQ(std::string(wide->Info().m_strDeviceId.View()), "WIDE\\" + std::to_string(i));
    // Below the last of them, the chain down to the bound: the device's node and the
    // nodes below it make kMaxNodePath levels.
    const CDevNodeTree::Node* deepest = root->FirstChild();
    for (int i = 0; i < 1002; ++i)
        deepest = deepest->NextSibling();
    std::size_t levels = 2;
    while (deepest->FirstChild() != nullptr) {
        deepest = deepest->FirstChild();
        ++levels;
    }
    EXPECT_EQ(levels, CUsbDeviceScanner::kMaxNodePath);
    EXPECT_EQ(std::string(deepest->Info().m_strDeviceId.View()),
              "DEEP\\" + std::to_string(CUsbDeviceScanner::kMaxNodePath - 3));
}

TEST_F(ScannerTest, TheLongestSerialNumberADescriptorHoldsIsReadWhole) {
    // 126 characters, the most a string descriptor holds; the instance ID says "1".
    const std::string serial = std::string(100, 'S') + "0123456789ABCDEFGHIJKLMNOP";
    Load("scan-tree-order.json", [&](CMachineModel& m) {
        CUsbDevice& d = *m.m_vHubs[0].m_vPorts[0].m_optDevice;
        d.m_bySerialNumber = 3;
        d.m_optLanguageIds = std::vector<WORD>{0x0409};
        CStringDescriptor s;
        s.m_byIndex = 3;
        s.m_wstrText = Utf8ToUtf16(serial);
        d.m_vStrings = {s};
    });
    const auto& entries = Scan(kWorkerNodeFields);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(std::string(entries[0].m_strSerialNumber.View()), serial);
}

TEST_F(ScannerTest, WithoutTheInstanceIdNoRemovalRelationIsAsked) {
    Load("scan-tree-order.json");
    const auto& entries = Scan(0x010);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(Outline(entries[0]), "D(C1(C1a),C2,C3)");
    EXPECT_EQ(m_platform->CallCount("CM_Get_Device_ID_List_SizeA"), 0u);
}

// --- Node fields ------------------------------------------------------------------------

// The names of the fields of `info` that are not blank (m_devInst aside).
std::set<std::string> Filled(const CDevNodeInfo& info) {
    std::set<std::string> s;
    if (!info.m_strDeviceId.IsEmpty())
        s.insert("deviceId");
    if (info.m_driveLetter != 0)
        s.insert("driveLetter");
    if (!info.m_strEnumerator.IsEmpty())
        s.insert("enumerator");
    if (!info.m_strFriendlyName.IsEmpty())
        s.insert("friendlyName");
    if (!info.m_strDescription.IsEmpty())
        s.insert("description");
    if (!info.m_strClassGuid.IsEmpty())
        s.insert("classGuid");
    if (!info.m_lowerFilters.empty())
        s.insert("lowerFilters");
    if (!info.m_upperFilters.empty())
        s.insert("upperFilters");
    if (info.m_status != 0)
        s.insert("status");
    if (info.m_problem != 0)
        s.insert("problem");
    if (!info.m_strService.IsEmpty())
        s.insert("service");
    return s;
}

std::vector<std::string> Texts(const std::vector<CString>& list) {
    std::vector<std::string> out;
    for (const CString& s : list)
        out.emplace_back(s.View());
    return out;
}

struct FieldCase {
    unsigned mask;
    std::set<std::string> filled;
};

class NodeFieldTest : public ScanFixture, public ::testing::WithParamInterface<FieldCase> {};

TEST_P(NodeFieldTest, EachBitReadsItsFieldAndOnlyThat) {
    Load("scan-node-fields.json");
    const auto& entries = Scan(GetParam().mask);
    ASSERT_EQ(entries.size(), 1u);
    const CDevNodeTree::Node* root = entries[0].m_devNodeTree.GetRoot();
    ASSERT_NE(root, nullptr);
    const CDevNodeInfo& info = root->Info();
    EXPECT_EQ(Filled(info), GetParam().filled);
    EXPECT_EQ(info.m_devInst, m_platform->DevInstOf("USB\\VID_1234&PID_0005\\NODE"));

    // The value of each field that is read.
    const std::set<std::string>& filled = GetParam().filled;
    if (filled.count("deviceId")) {
        EXPECT_EQ(info.m_strDeviceId, "USB\\VID_1234&PID_0005\\NODE");
    }
    if (filled.count("enumerator")) {
        EXPECT_EQ(info.m_strEnumerator, "USB");
    }
    if (filled.count("friendlyName")) {
        EXPECT_EQ(info.m_strFriendlyName, "the friendly name");
    }
    if (filled.count("description")) {
        EXPECT_EQ(info.m_strDescription, "the description");
    }
    if (filled.count("classGuid")) {
        EXPECT_EQ(info.m_strClassGuid, "{36fc9e60-c465-11cf-8056-444553540000}");
    }
    if (filled.count("upperFilters")) {
        EXPECT_EQ(Texts(info.m_upperFilters), (std::vector<std::string>{"upper1", "upper2"}));
    }
    if (filled.count("lowerFilters")) {
        EXPECT_EQ(Texts(info.m_lowerFilters), (std::vector<std::string>{"lower1"}));
    }
    if (filled.count("status")) {
        EXPECT_EQ(info.m_status, 0x0180200Au);
    }
    if (filled.count("problem")) {
        EXPECT_EQ(info.m_problem, 28u);
    }
    if (filled.count("service")) {
        EXPECT_EQ(info.m_strService, "thesvc");
    }

    // The child is always walked; the removal relation (the volume at E:) only when the
    // instance ID is read, and it carries the letter only under bit 0x001.
    const bool idRead = GetParam().filled.count("deviceId") != 0;
    ASSERT_EQ(root->ChildCount(), idRead ? 2 : 1);
    if (idRead) {
        const CDevNodeInfo& volume = root->LastChild()->Info();
        EXPECT_EQ(volume.m_strDeviceId, "STORAGE\\VOLUME\\NODE");
        EXPECT_EQ(volume.m_driveLetter, (GetParam().mask & 0x001) ? 'E' : 0);
    }
    if ((GetParam().mask & 0x001) == 0) {
        EXPECT_TRUE(m_scanner.m_volumes.empty());
        EXPECT_EQ(m_platform->CallCount("GetVolumeNameForVolumeMountPointA"), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Masks, NodeFieldTest,
    ::testing::Values(
        FieldCase{0x000, {}}, FieldCase{0x001, {"deviceId"}}, FieldCase{0x002, {"deviceId"}},
        FieldCase{0x004, {"enumerator"}}, FieldCase{0x008, {"friendlyName"}},
        FieldCase{0x010, {"description"}}, FieldCase{0x020, {"classGuid"}},
        FieldCase{0x040, {"status"}}, FieldCase{0x080, {"problem"}},
        FieldCase{0x100, {"lowerFilters"}}, FieldCase{0x200, {"upperFilters"}},
        FieldCase{0x400, {"service"}},
        FieldCase{kWorkerNodeFields, {"deviceId", "friendlyName", "description", "service"}},
        FieldCase{kAllNodeFields,
                  {"deviceId", "enumerator", "friendlyName", "description", "classGuid",
                   "lowerFilters", "upperFilters", "status", "problem", "service"}}),
    [](const ::testing::TestParamInfo<FieldCase>& p) {
        char name[16];
        std::snprintf(name, sizeof name, "Mask%03X", p.param.mask);
        return std::string(name);
    });

// --- Calls that fail or answer without writing ------------------------------------------

TEST_F(ScannerTest, FailedAndUnwrittenAnswersLeaveFieldsBlankAndAddNoNode) {
    Load("scan-node-faults.json");
    const auto& entries = Scan(kAllNodeFields);
    ASSERT_EQ(entries.size(), 3u);

    // Port 1: of the device's own node only the instance ID could be read. The size query
    // of its removal relations wrote nothing, so none is added; K1's child and K2's next
    // sibling were answered without a node; K2's instance ID came back empty, so its
    // removal relation is not asked for either.
    const CDevNodeTree::Node* root = entries[0].m_devNodeTree.GetRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(Filled(root->Info()), (std::set<std::string>{"deviceId"}));
    EXPECT_EQ(Outline(entries[0]), "?(K1,K2)");
    EXPECT_TRUE(root->LastChild()->Info().m_strDeviceId.IsEmpty());

    // Port 2: a removal-relations list answered without writing holds no ID; a status
    // answered without writing leaves status and problem 0.
    EXPECT_EQ(Outline(entries[1]), "M(L)");
    const CDevNodeInfo& l = entries[1].m_devNodeTree.GetRoot()->FirstChild()->Info();
    EXPECT_EQ(l.m_status, 0u);
    EXPECT_EQ(l.m_problem, 0u);

    // Port 3: the relation whose locate call wrote no node is skipped; the child that
    // vanished while it was read stands without its own child.
    const CDevNodeTree::Node* p = entries[2].m_devNodeTree.GetRoot();
    ASSERT_EQ(p->ChildCount(), 1);
    EXPECT_EQ(p->FirstChild()->ChildCount(), 0);
    EXPECT_NE(p->FirstChild()->Info().m_devInst, 0u);
}

}  // namespace
}  // namespace ks

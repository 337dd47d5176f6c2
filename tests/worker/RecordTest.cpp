// Device records, details trees and device-node trees: labels, shapes, and deep copies
// that survive their source.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "worker/DeviceRecord.h"

namespace ks {
namespace {

CDevNodeInfo Info(const char* friendly, const char* description = "", char letter = 0) {
    CDevNodeInfo i;
    i.m_strFriendlyName = friendly;
    i.m_strDescription = description;
    i.m_driveLetter = letter;
    return i;
}

void ExpectLinksRenewed(const CDetailNode& node) {
    for (const CDetailNode& c : node.m_children) {
        EXPECT_EQ(c.m_pParent, &node);
        ExpectLinksRenewed(c);
    }
}

TEST(DetailNodeTest, HundredAppendsKeepEveryParentLinkRight) {
    CDetailNode root(nullptr, "root");
    for (int i = 0; i < 100; ++i) {
        CString text;
        text.Format("child %d", i);
        CDetailNode& child = root.AppendChild(CDetailNode(&root, text));
        child.AppendChild(CDetailNode(&child, "grandchild"));
    }
    ASSERT_EQ(root.GetChildCount(), 100);
    EXPECT_EQ(root.GetChild(99).m_strText, "child 99");
    ExpectLinksRenewed(root);
    EXPECT_THROW(root.GetChild(100), std::out_of_range);
}

TEST(DetailNodeTest, CopyIsIndependentOfItsSource) {
    auto source = std::make_unique<CDetailNode>(nullptr, "disk");
    source->AppendChild(CDetailNode(source.get(), "volume - (E:)"))
        .AppendChild(CDetailNode(nullptr, "leaf"));
    CDetailNode copy(*source);
    CDetailNode assigned;
    assigned = *source;
    source->m_children.clear();
    source->m_strText = "changed";
    source.reset();
    for (const CDetailNode* n : {&copy, &assigned}) {
        EXPECT_EQ(n->m_strText, "disk");
        ASSERT_EQ(n->GetChildCount(), 1);
        EXPECT_EQ(n->GetChild(0).m_strText, "volume - (E:)");
        EXPECT_EQ(n->GetChild(0).GetChild(0).m_strText, "leaf");
        ExpectLinksRenewed(*n);
    }
    assigned = assigned;  // self-assignment changes nothing
    EXPECT_EQ(assigned.GetChild(0).GetChild(0).m_strText, "leaf");
}

// root { a { a1 { a1x, a1y }, a2 }, b { b1 }, c }: assigning a node from one of its own
// descendants replaces the node's children while the source lies among them.
std::unique_ptr<CDetailNode> Family() {
    auto root = std::make_unique<CDetailNode>(nullptr, "root");
    CDetailNode& a = root->AppendChild(CDetailNode(root.get(), "a"));
    CDetailNode& a1 = a.AppendChild(CDetailNode(&a, "a1"));
    a1.AppendChild(CDetailNode(&a1, "a1x"));
    a1.AppendChild(CDetailNode(&a1, "a1y"));
    a.AppendChild(CDetailNode(&a, "a2"));
    CDetailNode& b = root->AppendChild(CDetailNode(root.get(), "b"));
    b.AppendChild(CDetailNode(&b, "b1"));
    root->AppendChild(CDetailNode(root.get(), "c"));
    return root;
}

std::string Shape(const CDetailNode& node) {
    std::string out(node.m_strText.View());
    if (!node.m_children.empty()) {
        out += " {";
        for (const CDetailNode& c : node.m_children)
            out += " " + Shape(c);
        out += " }";
    }
    return out;
}

TEST(DetailNodeTest, AssignedFromItsOwnDescendantTakesTheDescendantsTree) {
    // A child, a grandchild with more children than the node has (the vector grows) and one
    // with fewer (its elements are assigned in place), copied and moved.
    struct Case {
        const char* name;
        std::vector<int> path;
        const char* shape;
    };
    const Case cases[] = {
        {"child", {0}, "a { a1 { a1x a1y } a2 }"},
        {"grandchild", {0, 0}, "a1 { a1x a1y }"},
        {"leaf", {0, 0, 1}, "a1y"},
        {"last child", {2}, "c"},
    };
    for (const Case& c : cases) {
        for (bool move : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (move ? " (moved)" : " (copied)"));
            std::unique_ptr<CDetailNode> root = Family();
            CDetailNode* source = root.get();
            for (int i : c.path)
                source = &source->GetChild(i);
            if (move)
                *root = std::move(*source);
            else
                *root = *source;
            EXPECT_EQ(Shape(*root), c.shape);
            EXPECT_EQ(root->m_pParent, nullptr);  // the node keeps its own place
            ExpectLinksRenewed(*root);
        }
    }
}

TEST(DevNodeTreeTest, RootSiblingsAndOrder) {
    CDevNodeTree tree;
    CDevNodeTree::Node* root = tree.SetRoot(Info("first"));
    EXPECT_EQ(tree.SetRoot(Info("second")), root);
    EXPECT_EQ(root->Info().m_strFriendlyName, "first");
    CDevNodeTree::Node* a = tree.AppendChild(root, Info("a"));
    tree.AppendChild(root, Info("b"));
    tree.AppendSibling(a, Info("c"));  // after all of root's children, not merely after a
    EXPECT_EQ(tree.AppendSibling(root, Info("x")), nullptr);
    CString order;
    for (auto* n = root->FirstChild(); n != nullptr; n = n->NextSibling())
        order += n->Info().m_strFriendlyName;
    EXPECT_EQ(order, "abc");
    EXPECT_EQ(tree.Count(), 4);
}

TEST(DevNodeTreeTest, CopySurvivesClearingTheSource) {
    CDevNodeTree tree;
    auto* root = tree.SetRoot(Info("usb"));
    auto* disk = tree.AppendChild(root, Info("disk"));
    CDevNodeInfo vol = Info("vol", "", 'E');
    vol.m_upperFilters = {"a", "b"};
    vol.m_status = 0x0180200A;
    tree.AppendChild(disk, vol);
    CDevNodeTree copy(tree);
    tree.Clear();
    EXPECT_TRUE(tree.IsEmpty());
    ASSERT_EQ(copy.Count(), 3);
    const CDevNodeInfo& v = copy.GetRoot()->FirstChild()->FirstChild()->Info();
    EXPECT_EQ(v.m_driveLetter, 'E');
    EXPECT_EQ(v.m_upperFilters.size(), 2u);
    EXPECT_EQ(v.m_status, 0x0180200Au);
    CDevNodeTree empty;
    copy = empty;
    EXPECT_TRUE(copy.IsEmpty());
}

TEST(DeviceRecordTest, LabelsFollowNamesAndDriveLetters) {
    EXPECT_EQ(MakeNodeLabel(Info("ABC", "desc", 'E')), "ABC - (E:)");
    EXPECT_EQ(MakeNodeLabel(Info("", "desc")), "desc");
    EXPECT_EQ(MakeNodeLabel(Info("", "", 'F')), " - (F:)");
    EXPECT_EQ(MakeNodeLabel(Info("", "")), "");
}

TEST(DeviceRecordTest, RecordMirrorsTheDeviceTree) {
    CUsbDeviceEntry entry;
    entry.m_idVendor = 0xFFFF;
    entry.m_idProduct = 0x0001;
    entry.m_strSerialNumber = "SN1";
    auto* root = entry.m_devNodeTree.SetRoot(Info("USB Mass Storage"));
    auto* disk = entry.m_devNodeTree.AppendChild(root, Info("Disk"));
    entry.m_devNodeTree.AppendChild(disk, Info("", "Volume", 'E'));
    entry.m_devNodeTree.AppendChild(root, Info("Second"));

    CDeviceRecord r = BuildDeviceRecord(entry);
    EXPECT_EQ(r.m_wVendorId, 0xFFFF);
    EXPECT_EQ(r.m_strSerial, "SN1");
    EXPECT_EQ(r.m_details.m_strText, "USB Mass Storage");
    ASSERT_EQ(r.m_details.GetChildCount(), 2);
    EXPECT_EQ(r.m_details.GetChild(0).m_strText, "Disk");
    EXPECT_EQ(r.m_details.GetChild(0).GetChild(0).m_strText, "Volume - (E:)");
    EXPECT_EQ(r.m_details.GetChild(1).m_strText, "Second");

    CUsbDeviceEntry bare;
    CDeviceRecord empty = BuildDeviceRecord(bare);
    EXPECT_EQ(empty.m_details.m_strText, "");
    EXPECT_EQ(empty.m_details.GetChildCount(), 0);
}

TEST(DeviceRecordTest, ListCopiesAreDeepAndAssignmentReplaces) {
    CDeviceRecordList list;
    for (int i = 0; i < 3; ++i) {
        CDeviceRecord r;
        r.m_wVendorId = static_cast<WORD>(0xFFFD + i);
        r.m_details.m_strText.Format("dev %d", i);
        r.m_details.AppendChild(CDetailNode(&r.m_details, "child"));
        list.Add(r);
    }
    auto copy = std::make_unique<CDeviceRecordList>(list);
    CDeviceRecordList assigned;
    assigned.Add(CDeviceRecord());
    assigned = *copy;
    copy.reset();
    list.RemoveAll();
    ASSERT_EQ(assigned.GetCount(), 3);
    EXPECT_EQ(assigned.GetAt(2)->m_wVendorId, 0xFFFF);
    EXPECT_EQ(assigned.GetAt(1)->m_details.m_strText, "dev 1");
    EXPECT_EQ(assigned.GetAt(1)->m_details.GetChild(0).m_strText, "child");
    EXPECT_EQ(assigned.GetAt(3), nullptr);
    assigned = list;  // assigning an empty list empties the target
    EXPECT_TRUE(assigned.IsEmpty());
}

}  // namespace
}  // namespace ks

#include "worker/DeviceRecord.h"

namespace ks {

CDeviceRecordList& CDeviceRecordList::operator=(const CDeviceRecordList& other) {
    if (this == &other)
        return *this;
    m_list.RemoveAll();
    for (POSITION pos = other.m_list.GetHeadPosition(); pos != nullptr;)
        m_list.AddTail(other.m_list.GetNext(pos));
    return *this;
}

const CDeviceRecord* CDeviceRecordList::GetAt(int index) const {
    POSITION pos = m_list.FindIndex(index);
    return pos != nullptr ? &m_list.GetAt(pos) : nullptr;
}

CString MakeNodeLabel(const CDevNodeInfo& info) {
    CString label = info.m_strFriendlyName;
    if (label.IsEmpty())
        label = info.m_strDescription;
    if (info.m_driveLetter != 0) {
        CString suffix;
        suffix.Format(" - (%c:)", info.m_driveLetter);
        label += suffix;
    }
    return label;
}

void CopyDeviceTree(const CDevNodeTree::Node& node, CDetailNode& mirror) {
    for (const CDevNodeTree::Node* child = node.FirstChild(); child != nullptr;
         child = child->NextSibling()) {
        CDetailNode& appended =
            mirror.AppendChild(CDetailNode(&mirror, MakeNodeLabel(child->Info())));
        CopyDeviceTree(*child, appended);
    }
}

CDeviceRecord BuildDeviceRecord(const CUsbDeviceEntry& entry) {
    CDeviceRecord record;
    record.m_wVendorId = entry.m_idVendor;
    record.m_wProductId = entry.m_idProduct;
    record.m_strSerial = entry.m_strSerialNumber;
    if (const CDevNodeTree::Node* root = entry.m_devNodeTree.GetRoot()) {
        record.m_details.m_strText = MakeNodeLabel(root->Info());
        CopyDeviceTree(*root, record.m_details);
    }
    return record;
}

}  // namespace ks

#include "devices/UsbDeviceScanner.h"

#include <algorithm>

#include "devmgr/DevNodeQueries.h"
#include "platform/Platform.h"
#include "usb/UsbReplies.h"

namespace ks {

namespace {
// Removal-relations lists hold a few instance IDs of at most 200 characters each.
constexpr ULONG kMaxRelationsLength = 64 * 1024;
}  // namespace

void CUsbDeviceScanner::Scan() {
    Platform().BeginScan();
    m_volumes.clear();
    if (m_nodeFieldMask & kNodeDeviceIdAndLetter) {
        CVolumeTableBuilder builder(&m_volumes);
        builder.Refresh();
    }
    if (m_pEntries != nullptr)
        m_pEntries->clear();
    CUsbDeviceLister::Scan();
}

void CUsbDeviceScanner::OnDevicePort(CUsbIoHandle& hub, int& port, const BYTE* connection) {
    CUsbDeviceEntry entry;
    if (FillEntryFromPort(hub, port, connection, entry))
        AddDeviceEntry(entry);
}

int CUsbDeviceScanner::FillEntryFromPort(CUsbIoHandle& hub, int& port, const BYTE* connection,
                                         CUsbDeviceEntry& entry) {
    entry = CUsbDeviceEntry();
    if (ReadLe32(connection + conn::ConnectionStatus) != DeviceConnected)
        return 0;
    if (!FillFromConnection(hub, port, connection, entry))
        return 0;
    CString driverKey;
    if (!hub.GetNodeConnectionDriverKeyName(port, driverKey))
        return 0;
    DEVINST node = FindDevNodeByDriverKey(driverKey);
    BuildDevNodeTree(node, entry);
    return 1;
}

void CUsbDeviceScanner::BuildDevNodeTree(DEVINST& devInst, CUsbDeviceEntry& entry) {
    CDevNodeTree::Node* root = entry.m_devNodeTree.SetRoot(CDevNodeInfo());
    m_nodePath.clear();
    m_siblingRun.clear();
    m_runStart = 0;
    m_depth = 0;
    m_nodesThisDevice = 1;
    int walkSiblings = 0;
    AddDevNodeSubtree(devInst, walkSiblings, entry.m_devNodeTree, root);
}

bool CUsbDeviceScanner::MayEnter(DEVINST candidate) const {
    if (candidate == 0)
        return false;
    // Every call in progress holds a stack frame, whether it stands for an ancestor or for
    // an earlier sibling, so the bound is on the calls.
    if (m_depth >= kMaxNodePath || m_nodesThisDevice >= kMaxNodesPerDevice)
        return false;
    return std::find(m_nodePath.begin(), m_nodePath.end(), candidate) == m_nodePath.end();
}

bool CUsbDeviceScanner::MayEnterSibling(DEVINST candidate) const {
    if (!MayEnter(candidate))
        return false;
    auto run = m_siblingRun.begin() + static_cast<std::ptrdiff_t>(m_runStart);
    return std::find(run, m_siblingRun.end(), candidate) == m_siblingRun.end();
}

void CUsbDeviceScanner::AddDevNodeSubtree(DEVINST& devInst, int& walkSiblings, CDevNodeTree& tree,
                                          CDevNodeTree::Node* node) {
    ReadDevNodeInfo(devInst, node->Info());
    if (devInst == 0)
        return;  // no node: a lone root with blank info
    IPlatform& p = Platform();
    m_nodePath.push_back(devInst);
    ++m_depth;

    // Children: the first child; every further child follows as its sibling, in a run of
    // siblings of its own.
    DEVINST child = 0;
    if (p.CM_Get_Child(&child, devInst, 0) == CR_SUCCESS && MayEnter(child)) {
        ++m_nodesThisDevice;
        CDevNodeTree::Node* added = tree.AppendChild(node, CDevNodeInfo());
        const std::size_t outerRun = m_runStart;
        m_runStart = m_siblingRun.size();
        int siblings = 1;
        AddDevNodeSubtree(child, siblings, tree, added);
        m_runStart = outerRun;
    }

    // Devices removed together with this one, each with its own subtree but not its siblings.
    const CString& deviceId = node->Info().m_strDeviceId;
    ULONG length = 0;
    if (!deviceId.IsEmpty() &&
        p.CM_Get_Device_ID_List_SizeA(&length, deviceId, CM_GETIDLIST_FILTER_REMOVALRELATIONS) ==
            CR_SUCCESS &&
        length != 0 && length <= kMaxRelationsLength) {
        std::vector<unsigned char> list(length, 0);
        if (p.CM_Get_Device_ID_ListA(deviceId, reinterpret_cast<char*>(list.data()), length,
                                     CM_GETIDLIST_FILTER_REMOVALRELATIONS) == CR_SUCCESS) {
            for (const CString& id : SplitMultiString(list.data(), list.size())) {
                DEVINST related = 0;
                if (p.CM_Locate_DevNodeA(&related, id, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS ||
                    !MayEnter(related))
                    continue;
                ++m_nodesThisDevice;
                CDevNodeTree::Node* added = tree.AppendChild(node, CDevNodeInfo());
                int siblings = 0;
                AddDevNodeSubtree(related, siblings, tree, added);
            }
        }
    }

    // The next sibling, for a node entered as a child. This node is no ancestor of it.
    m_nodePath.pop_back();
    DEVINST sibling = 0;
    if (walkSiblings == 1) {
        m_siblingRun.push_back(devInst);
        if (p.CM_Get_Sibling(&sibling, devInst, 0) == CR_SUCCESS && MayEnterSibling(sibling)) {
            ++m_nodesThisDevice;
            CDevNodeTree::Node* added = tree.AppendSibling(node, CDevNodeInfo());
            if (added != nullptr) {
                int siblings = 1;
                AddDevNodeSubtree(sibling, siblings, tree, added);
            }
        }
        m_siblingRun.pop_back();
    }
    --m_depth;
}

void CUsbDeviceScanner::ReadDevNodeInfo(DEVINST& devInst, CDevNodeInfo& info) {
    const unsigned mask = m_nodeFieldMask;
    if (mask & (kNodeDeviceIdAndLetter | kNodeDeviceId))
        GetDevNodeDeviceId(devInst, info.m_strDeviceId);
    if ((mask & kNodeDeviceIdAndLetter) && !info.m_strDeviceId.IsEmpty()) {
        // Rows whose instance ID stayed empty match nothing; the last matching row wins.
        for (const CVolumeEntry& row : m_volumes) {
            if (!row.m_strInstanceId.IsEmpty() &&
                row.m_strInstanceId.CompareNoCase(info.m_strDeviceId) == 0)
                info.m_driveLetter = row.m_letter;
        }
    }
    if (mask & kNodeEnumerator)
        GetDevNodeStringProperty(devInst, CM_DRP_ENUMERATOR_NAME, info.m_strEnumerator);
    if (mask & kNodeDescription)
        GetDevNodeStringProperty(devInst, CM_DRP_DEVICEDESC, info.m_strDescription);
    if (mask & kNodeFriendlyName)
        GetDevNodeStringProperty(devInst, CM_DRP_FRIENDLYNAME, info.m_strFriendlyName);
    if (mask & kNodeClassGuid)
        GetDevNodeStringProperty(devInst, CM_DRP_CLASSGUID, info.m_strClassGuid);
    if (mask & kNodeUpperFilters)
        GetDevNodeMultiStringProperty(devInst, CM_DRP_UPPERFILTERS, info.m_upperFilters);
    if (mask & kNodeLowerFilters)
        GetDevNodeMultiStringProperty(devInst, CM_DRP_LOWERFILTERS, info.m_lowerFilters);
    info.m_devInst = devInst;
    if ((mask & (kNodeStatus | kNodeProblem)) && devInst != 0) {
        ULONG status = 0, problem = 0;
        if (Platform().CM_Get_DevNode_Status(&status, &problem, devInst, 0) == CR_SUCCESS) {
            if (mask & kNodeStatus)
                info.m_status = status;
            if (mask & kNodeProblem)
                info.m_problem = problem;
        }
    }
    if (mask & kNodeService)
        GetDevNodeStringProperty(devInst, CM_DRP_SERVICE, info.m_strService);
}

void CUsbDeviceScanner::AddDeviceEntry(const CUsbDeviceEntry& entry) {
    if (m_pEntries != nullptr)
        m_pEntries->push_back(entry);
}

}  // namespace ks

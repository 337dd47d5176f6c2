#include "devices/UsbDeviceScanner.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "devmgr/DevNodeQueries.h"
#include "framework/CodePage.h"
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
    m_bCalledByRun = false;
    m_pendingSibling = {};
    m_nodesThisDevice = 1;
    int walkSiblings = 0;
    AddDevNodeSubtree(devInst, walkSiblings, entry.m_devNodeTree, root);
}

bool CUsbDeviceScanner::MayEnter(DEVINST candidate) const {
    if (candidate == 0)
        return false;
    // The bound is on depth: the nodes from the device's own node down to the candidate's
    // parent. A run of siblings is a loop, not a nesting of calls, and does not count.
    if (m_nodePath.size() >= kMaxNodePath || m_nodesThisDevice >= kMaxNodesPerDevice)
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
    // Whether the loop over a run of siblings made this call (then the next sibling is
    // handed back to it), or this node begins a run of its own.
    const bool calledByRun = m_bCalledByRun;
    m_bCalledByRun = false;
    ReadDevNodeInfo(devInst, node->Info());
    if (devInst == 0)
        return;  // no node: a lone root with blank info
    IPlatform& p = Platform();
    m_nodePath.push_back(devInst);

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
        // Most nodes have no relations, or one or two: their list fits a buffer on the stack.
        unsigned char local[512];
        std::vector<unsigned char> heap;
        unsigned char* list = local;
        if (length > sizeof local) {
            heap.resize(length);
            list = heap.data();
        }
        std::memset(list, 0, length);
        if (p.CM_Get_Device_ID_ListA(deviceId, reinterpret_cast<char*>(list), length,
                                     CM_GETIDLIST_FILTER_REMOVALRELATIONS) == CR_SUCCESS) {
            for (const CString& id : SplitMultiString(list, length)) {
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
    if (walkSiblings != 1)
        return;
    m_siblingRun.push_back(devInst);
    CSibling next = NextSibling(devInst, tree, node);
    if (calledByRun) {
        m_pendingSibling = next;  // the loop below, in the call that began the run, goes on
        return;
    }
    // This node began the run: every further sibling is entered from here, one after the
    // other, each by its own call with walk-siblings 1, as if each called the next.
    const std::size_t runFrom = m_siblingRun.size() - 1;
    while (next.m_devInst != 0) {
        DEVINST sibling = next.m_devInst;
        int siblings = 1;
        m_pendingSibling = {};
        m_bCalledByRun = true;
        AddDevNodeSubtree(sibling, siblings, tree, next.m_pNode);
        m_bCalledByRun = false;
        next = m_pendingSibling;
        m_pendingSibling = {};
    }
    m_siblingRun.resize(runFrom);
}

CUsbDeviceScanner::CSibling CUsbDeviceScanner::NextSibling(DEVINST devInst, CDevNodeTree& tree,
                                                           CDevNodeTree::Node* node) {
    DEVINST sibling = 0;
    if (Platform().CM_Get_Sibling(&sibling, devInst, 0) != CR_SUCCESS || !MayEnterSibling(sibling))
        return {};
    ++m_nodesThisDevice;
    CDevNodeTree::Node* added = tree.AppendSibling(node, CDevNodeInfo());
    if (added == nullptr)
        return {};
    return {sibling, added};
}

void CUsbDeviceScanner::ReadDevNodeInfo(DEVINST& devInst, CDevNodeInfo& info) {
    const unsigned mask = m_nodeFieldMask;
    if (mask & (kNodeDeviceIdAndLetter | kNodeDeviceId))
        GetDevNodeDeviceId(devInst, info.m_strDeviceId);
    if ((mask & kNodeDeviceIdAndLetter) && !info.m_strDeviceId.IsEmpty()) {
        // Rows whose instance ID stayed empty match nothing; the last matching row wins. The
        // node's ID is upper-cased once (IDs fit the 200-byte buffer they were read into).
        const std::string_view id(info.m_strDeviceId.GetString());
        const UINT codePage = GetAnsiCodePage();
        char upper[MAX_DEVICE_ID_LEN];
        const bool folded = id.size() <= sizeof upper;
        if (folded) {
            std::memcpy(upper, id.data(), id.size());
            MbMakeUpper(upper, id.size(), codePage);
        }
        for (const CVolumeEntry& row : m_volumes) {
            if (row.m_strInstanceId.IsEmpty())
                continue;
            const bool same = folded
                                  ? MbEqualsUpperCased(row.m_strInstanceId.GetString(),
                                                       std::string_view(upper, id.size()), codePage)
                                  : row.m_strInstanceId.CompareNoCase(info.m_strDeviceId) == 0;
            if (same)
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

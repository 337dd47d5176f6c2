// CUsbDeviceScanner: the scanner the worker owns. For every device connected to a hub port
// that is not itself a hub and whose driver key the hub reports, it makes one
// CUsbDeviceEntry: the identity read from the port, and the tree of the device's
// device-manager nodes (its own node, the nodes below it, and the devices removed together
// with it), each node with the properties that m_nodeFieldMask selects.
// Used by one thread at a time (the scan worker).
#pragma once

#include <vector>

#include "devices/UsbDeviceEntry.h"
#include "devmgr/VolumeTable.h"
#include "usb/UsbBusWalker.h"

namespace ks {

class CUsbDeviceScanner : public CUsbDeviceLister {
  public:
    // Bits of m_nodeFieldMask.
    static constexpr unsigned kNodeDeviceIdAndLetter = 0x001;
    static constexpr unsigned kNodeDeviceId = 0x002;
    static constexpr unsigned kNodeEnumerator = 0x004;
    static constexpr unsigned kNodeFriendlyName = 0x008;
    static constexpr unsigned kNodeDescription = 0x010;
    static constexpr unsigned kNodeClassGuid = 0x020;
    static constexpr unsigned kNodeStatus = 0x040;
    static constexpr unsigned kNodeProblem = 0x080;
    static constexpr unsigned kNodeLowerFilters = 0x100;
    static constexpr unsigned kNodeUpperFilters = 0x200;
    static constexpr unsigned kNodeService = 0x400;
    // A device's node tree is a handful of nodes; a platform whose links go on for ever
    // is not followed past these bounds: kMaxNodePath levels, the device's own node the
    // first (however many siblings stand beside each other on a level), and
    // kMaxNodesPerDevice nodes in all.
    static constexpr std::size_t kMaxNodePath = 256;
    static constexpr int kMaxNodesPerDevice = 4096;

    explicit CUsbDeviceScanner(std::vector<CUsbDeviceEntry>* entries)
        : CUsbDeviceLister(nullptr), m_pEntries(entries) {}
    ~CUsbDeviceScanner() override = default;

    void Scan() override;
    void OnDevicePort(CUsbIoHandle& hub, int& port, const BYTE* connection) override;
    virtual void AddDevNodeSubtree(DEVINST& devInst, int& walkSiblings, CDevNodeTree& tree,
                                   CDevNodeTree::Node* node);
    virtual void BuildDevNodeTree(DEVINST& devInst, CUsbDeviceEntry& entry);
    virtual void ReadDevNodeInfo(DEVINST& devInst, CDevNodeInfo& info);
    virtual void AddDeviceEntry(const CUsbDeviceEntry& entry);

    std::vector<CUsbDeviceEntry>* m_pEntries;  // the owner's vector; not owned; may be null
    std::vector<CVolumeEntry> m_volumes;
    unsigned m_nodeFieldMask = 0;

  protected:
    // 1 when the entry is complete, 0 when the device on the port gets no entry.
    int FillEntryFromPort(CUsbIoHandle& hub, int& port, const BYTE* connection,
                          CUsbDeviceEntry& entry);

  private:
    // Whether `candidate` may be entered as a child or removal relation of the node being
    // built: not when it is that node or one of its ancestors (links that lead back), nor
    // past the bounds.
    bool MayEnter(DEVINST candidate) const;
    // Whether `candidate` may be entered as the next sibling: not when it is an ancestor,
    // nor one of the siblings already entered in this run of siblings.
    bool MayEnterSibling(DEVINST candidate) const;

    // A sibling entered into the tree, still to be walked.
    struct CSibling {
        DEVINST m_devInst = 0;
        CDevNodeTree::Node* m_pNode = nullptr;
    };
    // The next sibling of `devInst`, appended after `node`; none past the bounds.
    CSibling NextSibling(DEVINST devInst, CDevNodeTree& tree, CDevNodeTree::Node* node);

    // The nodes from the device's own node down to the one being built. Siblings entered
    // one after another are not each other's ancestors: a node leaves this path before its
    // next sibling is entered, and waits in m_siblingRun meanwhile.
    std::vector<DEVINST> m_nodePath;
    std::vector<DEVINST> m_siblingRun;  // siblings entered so far, run after run
    std::size_t m_runStart = 0;  // where the innermost run of siblings starts in m_siblingRun
    // A run of siblings is walked by a loop in the call for its first node, which calls
    // AddDevNodeSubtree for each further sibling in turn; the call it makes hands the next
    // sibling back instead of calling for it, so the calls in progress follow the depth.
    bool m_bCalledByRun = false;
    CSibling m_pendingSibling;
    int m_nodesThisDevice = 0;
};

}  // namespace ks

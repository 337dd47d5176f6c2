// CDevNodeInfo: what was read of one device-manager node. CDevNodeTree: the ordered tree of
// a device's nodes (its own node, the nodes below it and the devices removed together with
// it). Both are values: copies are deep and share nothing with their source. Built, copied
// and read on the scan worker thread only.
#pragma once

#include <memory>
#include <vector>

#include "framework/CString.h"
#include "platform/PlatformTypes.h"

namespace ks {

class CDevNodeInfo {
  public:
    CDevNodeInfo() = default;
    CDevNodeInfo(const CDevNodeInfo&) = default;
    CDevNodeInfo& operator=(const CDevNodeInfo&) = default;
    virtual ~CDevNodeInfo() = default;

    DEVINST m_devInst = 0;
    char m_driveLetter = 0;  // an uppercase letter, or 0 for none
    CString m_strDeviceId;
    CString m_strEnumerator;
    CString m_strFriendlyName;
    CString m_strDescription;
    CString m_strClassGuid;
    std::vector<CString> m_lowerFilters;
    std::vector<CString> m_upperFilters;
    ULONG m_status = 0;
    ULONG m_problem = 0;
    CString m_strService;
};

class CDevNodeTree {
  public:
    class Node {
      public:
        CDevNodeInfo& Info() { return m_info; }
        const CDevNodeInfo& Info() const { return m_info; }
        Node* Parent() const { return m_pParent; }
        Node* FirstChild() const { return m_children.empty() ? nullptr : m_children.front().get(); }
        Node* LastChild() const { return m_children.empty() ? nullptr : m_children.back().get(); }
        Node* NextSibling() const;
        Node* PrevSibling() const;
        int ChildCount() const { return static_cast<int>(m_children.size()); }

      private:
        friend class CDevNodeTree;
        CDevNodeInfo m_info;
        Node* m_pParent = nullptr;
        std::size_t m_index = 0;  // position among the parent's children
        std::vector<std::unique_ptr<Node>> m_children;
    };

    CDevNodeTree() = default;
    CDevNodeTree(const CDevNodeTree& other);
    CDevNodeTree& operator=(const CDevNodeTree& other);
    CDevNodeTree(CDevNodeTree&&) noexcept = default;
    CDevNodeTree& operator=(CDevNodeTree&&) noexcept = default;
    virtual ~CDevNodeTree() = default;

    bool IsEmpty() const { return m_root == nullptr; }
    Node* GetRoot() const { return m_root.get(); }
    // Creates the root from a copy of info when the tree is empty; yields the root either way
    // (an existing root keeps its info).
    Node* SetRoot(const CDevNodeInfo& info);
    // A new last child of `node` holding a copy of info.
    Node* AppendChild(Node* node, const CDevNodeInfo& info);
    // A new last child of `node`'s parent: it follows all the parent's children. nullptr
    // for the root, which has no parent.
    Node* AppendSibling(Node* node, const CDevNodeInfo& info);
    void Clear() { m_root.reset(); }
    // Number of nodes in the tree.
    int Count() const;

  private:
    static std::unique_ptr<Node> CopySubtree(const Node& source, Node* parent, std::size_t index);
    std::unique_ptr<Node> m_root;
};

}  // namespace ks

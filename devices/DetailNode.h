// CDetailNode: one node of a device's details tree: the text shown, a link to the parent
// and the children held by value, in display order. A value type: copies are deep, and a
// copy's parent links point into the copy. Built on the worker thread, then only copied
// and read; one thread uses one tree at a time.
#pragma once

#include <vector>

#include "framework/CString.h"

namespace ks {

class CDetailNode {
  public:
    CDetailNode() = default;
    CDetailNode(CDetailNode* parent, const CString& text) : m_strText(text), m_pParent(parent) {}
    CDetailNode(const CDetailNode& other);
    CDetailNode(CDetailNode&& other) noexcept;
    CDetailNode& operator=(const CDetailNode& other);
    CDetailNode& operator=(CDetailNode&& other) noexcept;
    // Assigning from one of this node's own descendants is safe: the source is taken whole
    // before this node's old children go.
    virtual ~CDetailNode() = default;

    // Puts a copy of `child` at the end of the children; appending may move the children
    // already there, so the parent links of this node's whole subtree are renewed. The new
    // child is then the last element of m_children.
    CDetailNode& AppendChild(const CDetailNode& child);
    int GetChildCount() const { return static_cast<int>(m_children.size()); }
    // std::out_of_range for an index at or past the number of children.
    CDetailNode& GetChild(int index);
    const CDetailNode& GetChild(int index) const;

    // Sets every node's m_pParent below this node to the node that holds it.
    void RenewParentLinks();

    CString m_strText;
    CDetailNode* m_pParent = nullptr;
    std::vector<CDetailNode> m_children;

  private:
    void TakeChildren(CString&& text, std::vector<CDetailNode>&& children) noexcept;
};

}  // namespace ks

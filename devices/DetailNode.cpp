#include "devices/DetailNode.h"

#include <stdexcept>

namespace ks {

// A copy keeps the source's parent pointer for its root (what a caller that copies a
// subtree into place expects to renew) and links its own children to itself.
CDetailNode::CDetailNode(const CDetailNode& other)
    : m_strText(other.m_strText), m_pParent(other.m_pParent), m_children(other.m_children) {
    RenewParentLinks();
}

CDetailNode::CDetailNode(CDetailNode&& other) noexcept
    : m_strText(std::move(other.m_strText)),
      m_pParent(other.m_pParent),
      m_children(std::move(other.m_children)) {
    for (auto& c : m_children)
        c.m_pParent = this;
}

// `other` may lie inside this node's own tree (a descendant assigned to its ancestor): it is
// copied out whole before the old children, and `other` with them, are destroyed. Assigning
// the vector directly would assign element by element and destroy `other` half-way.
CDetailNode& CDetailNode::operator=(const CDetailNode& other) {
    if (this != &other) {
        CString text = other.m_strText;
        std::vector<CDetailNode> children = other.m_children;
        TakeChildren(std::move(text), std::move(children));
    }
    return *this;
}

CDetailNode& CDetailNode::operator=(CDetailNode&& other) noexcept {
    if (this != &other) {
        CString text = std::move(other.m_strText);
        std::vector<CDetailNode> children = std::move(other.m_children);
        TakeChildren(std::move(text), std::move(children));
    }
    return *this;
}

void CDetailNode::TakeChildren(CString&& text, std::vector<CDetailNode>&& children) noexcept {
    m_strText = std::move(text);
    // Moving the vector keeps its elements where they are, so only their own parent links
    // change; the old children go only after the new ones are in place.
    m_children.swap(children);
    for (auto& c : m_children)
        c.m_pParent = this;
}

CDetailNode& CDetailNode::AppendChild(const CDetailNode& child) {
    m_children.push_back(child);
    RenewParentLinks();
    return m_children.back();
}

CDetailNode& CDetailNode::GetChild(int index) {
    if (index < 0 || index >= GetChildCount())
        throw std::out_of_range("CDetailNode: child index");
    return m_children[static_cast<std::size_t>(index)];
}

const CDetailNode& CDetailNode::GetChild(int index) const {
    if (index < 0 || index >= GetChildCount())
        throw std::out_of_range("CDetailNode: child index");
    return m_children[static_cast<std::size_t>(index)];
}

void CDetailNode::RenewParentLinks() {
    for (auto& c : m_children) {
        c.m_pParent = this;
        c.RenewParentLinks();
    }
}

}  // namespace ks

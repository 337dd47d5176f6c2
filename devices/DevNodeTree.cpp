#include "devices/DevNodeTree.h"

namespace ks {

CDevNodeTree::Node* CDevNodeTree::Node::NextSibling() const {
    if (m_pParent == nullptr || m_index + 1 >= m_pParent->m_children.size())
        return nullptr;
    return m_pParent->m_children[m_index + 1].get();
}

CDevNodeTree::Node* CDevNodeTree::Node::PrevSibling() const {
    if (m_pParent == nullptr || m_index == 0)
        return nullptr;
    return m_pParent->m_children[m_index - 1].get();
}

CDevNodeTree::CDevNodeTree(const CDevNodeTree& other) {
    if (other.m_root)
        m_root = CopySubtree(*other.m_root, nullptr, 0);
}

CDevNodeTree& CDevNodeTree::operator=(const CDevNodeTree& other) {
    if (this != &other) {
        std::unique_ptr<Node> copy =
            other.m_root ? CopySubtree(*other.m_root, nullptr, 0) : nullptr;
        m_root = std::move(copy);
    }
    return *this;
}

std::unique_ptr<CDevNodeTree::Node> CDevNodeTree::CopySubtree(const Node& source, Node* parent,
                                                              std::size_t index) {
    auto node = std::make_unique<Node>();
    node->m_info = source.m_info;
    node->m_pParent = parent;
    node->m_index = index;
    node->m_children.reserve(source.m_children.size());
    for (std::size_t i = 0; i < source.m_children.size(); ++i)
        node->m_children.push_back(CopySubtree(*source.m_children[i], node.get(), i));
    return node;
}

CDevNodeTree::Node* CDevNodeTree::SetRoot(const CDevNodeInfo& info) {
    if (!m_root) {
        m_root = std::make_unique<Node>();
        m_root->m_info = info;
    }
    return m_root.get();
}

CDevNodeTree::Node* CDevNodeTree::AppendChild(Node* node, const CDevNodeInfo& info) {
    if (node == nullptr)
        return nullptr;
    auto child = std::make_unique<Node>();
    child->m_info = info;
    child->m_pParent = node;
    child->m_index = node->m_children.size();
    node->m_children.push_back(std::move(child));
    return node->m_children.back().get();
}

CDevNodeTree::Node* CDevNodeTree::AppendSibling(Node* node, const CDevNodeInfo& info) {
    if (node == nullptr || node->m_pParent == nullptr)
        return nullptr;
    return AppendChild(node->m_pParent, info);
}

int CDevNodeTree::Count() const {
    int n = 0;
    std::vector<const Node*> stack;
    if (m_root)
        stack.push_back(m_root.get());
    while (!stack.empty()) {
        const Node* x = stack.back();
        stack.pop_back();
        ++n;
        for (const auto& c : x->m_children)
            stack.push_back(c.get());
    }
    return n;
}

}  // namespace ks

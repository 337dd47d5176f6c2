#include "ui/DetailTreeCtrl.h"

#include "ui/DisplayText.h"

namespace ks {

IMPLEMENT_DYNAMIC(CDetailTreeCtrl, CTreeCtrl)

BEGIN_MESSAGE_MAP(CDetailTreeCtrl, CTreeCtrl)
END_MESSAGE_MAP()

void CDetailTreeCtrl::ShowTree(const CDetailNode* root) {
    DeleteItem(TVI_ROOT);
    if (root != nullptr)
        InsertNode(root, TVI_ROOT);
}

void CDetailTreeCtrl::InsertNode(const CDetailNode* node, HTREEITEM parent) {
    if (node != nullptr) {
        HTREEITEM item = InsertItem(DisplayText(node->m_strText), parent, TVI_LAST);
        for (const CDetailNode& child : node->m_children)
            InsertNode(&child, item);
    }
    // Every node expands its parent once its own subtree is in, so the whole tree ends up
    // expanded; the root's request addresses TVI_ROOT and changes nothing.
    Expand(parent, TVE_EXPAND);
}

}  // namespace ks

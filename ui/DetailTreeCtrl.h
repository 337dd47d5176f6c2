// CDetailTreeCtrl: the details tree of the main window (control 1002). It shows one
// CDetailNode tree: one item per node, text only, children in order, every item that has
// children expanded. Window thread only.
#pragma once

#include "devices/DetailNode.h"
#include "framework/Controls.h"

namespace ks {

class CDetailTreeCtrl : public CTreeCtrl {
  public:
    DECLARE_DYNAMIC(CDetailTreeCtrl)

    // Empties the tree, then shows `root` and everything below it (nothing for nullptr).
    void ShowTree(const CDetailNode* root);
    // Inserts `node` as the last child of `parent` with its subtree below it, then expands
    // `parent`; with no node only the expansion happens.
    void InsertNode(const CDetailNode* node, HTREEITEM parent);

  protected:
    DECLARE_MESSAGE_MAP()
};

}  // namespace ks

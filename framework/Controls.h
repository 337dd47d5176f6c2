// The common controls the dialogs bind (DDX_Control): the list view (CListCtrl) and the
// tree view (CTreeCtrl). Every operation is one request to the control, the list-view and
// tree-view messages of the window system (ANSI variants), so that what a control shows is
// exactly what the requests made of it; and CPaintDC, the paint context of WM_PAINT.
//
// Threads: the window's thread only.
#pragma once

#include "framework/CString.h"
#include "framework/Wnd.h"

namespace ks {

class CListCtrl : public CWnd {
  public:
    DECLARE_DYNAMIC(CListCtrl)

    // LVM_INSERTCOLUMNA: the new column's index, or -1.
    int InsertColumn(int column, const LVCOLUMNA* description);
    // LVM_SETCOLUMNWIDTH; width may be LVSCW_AUTOSIZE or LVSCW_AUTOSIZE_USEHEADER.
    BOOL SetColumnWidth(int column, int width);
    int GetColumnWidth(int column) const;
    BOOL DeleteAllItems();
    int GetItemCount() const;
    // LVM_INSERTITEMA with the mask and fields given: the new item's index, or -1.
    int InsertItem(UINT mask, int item, const char* text, UINT state, UINT stateMask, int image,
                   LPARAM data);
    BOOL SetItemState(int item, UINT state, UINT stateMask);
    UINT GetItemState(int item, UINT stateMask) const;
    // LVM_GETNEXTITEM: the next item after `start` (-1: from the beginning) with the flags.
    int GetNextItem(int start, int flags) const;
    // LVM_GETITEMA with LVIF_PARAM; 0 for an item that does not exist.
    DWORD_PTR GetItemData(int item) const;
    BOOL SetItemData(int item, DWORD_PTR data);
    CString GetItemText(int item, int subItem) const;
    BOOL GetItemRect(int item, RECT* rect, int code) const;
    // LVM_ENSUREVISIBLE: scrolls the list until the item is in view (wholly, unless
    // `partialOk`).
    BOOL EnsureVisible(int item, BOOL partialOk);
};

class CTreeCtrl : public CWnd {
  public:
    DECLARE_DYNAMIC(CTreeCtrl)

    // TVM_INSERTITEMA with TVIF_TEXT: the new item, or nullptr.
    HTREEITEM InsertItem(const char* text, HTREEITEM parent = TVI_ROOT,
                         HTREEITEM insertAfter = TVI_LAST);
    BOOL DeleteItem(HTREEITEM item);
    BOOL DeleteAllItems() { return DeleteItem(TVI_ROOT); }
    BOOL Expand(HTREEITEM item, UINT code);
    UINT GetCount() const;
    HTREEITEM GetNextItem(HTREEITEM item, UINT code) const;
    HTREEITEM GetRootItem() const { return GetNextItem(nullptr, TVGN_ROOT); }
    HTREEITEM GetChildItem(HTREEITEM item) const { return GetNextItem(item, TVGN_CHILD); }
    HTREEITEM GetNextSiblingItem(HTREEITEM item) const { return GetNextItem(item, TVGN_NEXT); }
    CString GetItemText(HTREEITEM item) const;
    UINT GetItemState(HTREEITEM item, UINT stateMask) const;
};

class CPaintDC {
  public:
    explicit CPaintDC(CWnd* wnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON icon) { return ks::DrawIcon(m_hDC, x, y, icon); }

    PAINTSTRUCT m_ps;
    HDC m_hDC = nullptr;

  private:
    HWND m_hWnd;
};

}  // namespace ks

#include "framework/Controls.h"

#include <vector>

namespace ks {

IMPLEMENT_DYNAMIC(CListCtrl, CWnd)
IMPLEMENT_DYNAMIC(CTreeCtrl, CWnd)

namespace {
// Item texts are read into a buffer that grows until the text fits, up to a bound: the
// controls never hold more than this program put in, and that is device text of bounded size.
constexpr int kMaxItemText = 1 << 16;
}  // namespace

int CListCtrl::InsertColumn(int column, const LVCOLUMNA* description) {
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNA, static_cast<WPARAM>(column),
                                        reinterpret_cast<LPARAM>(description)));
}

BOOL CListCtrl::SetColumnWidth(int column, int width) {
    return static_cast<BOOL>(SendMessage(LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column),
                                         MAKELPARAM(static_cast<WORD>(width), 0)));
}

int CListCtrl::GetColumnWidth(int column) const {
    return static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

BOOL CListCtrl::DeleteAllItems() {
    return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS));
}

int CListCtrl::GetItemCount() const {
    return static_cast<int>(SendMessage(LVM_GETITEMCOUNT));
}

int CListCtrl::InsertItem(UINT mask, int item, const char* text, UINT state, UINT stateMask,
                          int image, LPARAM data) {
    LVITEMA lvi;
    lvi.mask = mask;
    lvi.iItem = item;
    lvi.iSubItem = 0;
    lvi.state = state;
    lvi.stateMask = stateMask;
    lvi.pszText = const_cast<char*>(text);
    lvi.iImage = image;
    lvi.lParam = data;
    return static_cast<int>(SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&lvi)));
}

BOOL CListCtrl::SetItemState(int item, UINT state, UINT stateMask) {
    LVITEMA lvi;
    lvi.stateMask = stateMask;
    lvi.state = state;
    return static_cast<BOOL>(
        SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lvi)));
}

UINT CListCtrl::GetItemState(int item, UINT stateMask) const {
    return static_cast<UINT>(
        SendMessage(LVM_GETITEMSTATE, static_cast<WPARAM>(item), static_cast<LPARAM>(stateMask)));
}

int CListCtrl::GetNextItem(int start, int flags) const {
    return static_cast<int>(SendMessage(LVM_GETNEXTITEM, static_cast<WPARAM>(start),
                                        MAKELPARAM(static_cast<WORD>(flags), 0)));
}

DWORD_PTR CListCtrl::GetItemData(int item) const {
    LVITEMA lvi;
    lvi.mask = LVIF_PARAM;
    lvi.iItem = item;
    lvi.iSubItem = 0;
    if (!SendMessage(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&lvi)))
        return 0;
    return static_cast<DWORD_PTR>(lvi.lParam);
}

BOOL CListCtrl::SetItemData(int item, DWORD_PTR data) {
    LVITEMA lvi;
    lvi.mask = LVIF_PARAM;
    lvi.iItem = item;
    lvi.lParam = static_cast<LPARAM>(data);
    return static_cast<BOOL>(SendMessage(LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&lvi)));
}

CString CListCtrl::GetItemText(int item, int subItem) const {
    for (int size = 256; size <= kMaxItemText; size *= 2) {
        std::vector<char> buffer(static_cast<std::size_t>(size), '\0');
        LVITEMA lvi;
        lvi.iSubItem = subItem;
        lvi.pszText = buffer.data();
        lvi.cchTextMax = size;
        auto got = static_cast<int>(SendMessage(LVM_GETITEMTEXTA, static_cast<WPARAM>(item),
                                                reinterpret_cast<LPARAM>(&lvi)));
        if (got < size - 1 || size == kMaxItemText)
            return CString(buffer.data(), got > 0 && got < size ? got : 0);
    }
    return CString();
}

BOOL CListCtrl::GetItemRect(int item, RECT* rect, int code) const {
    rect->left = code;
    return static_cast<BOOL>(
        SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(rect)));
}

BOOL CListCtrl::EnsureVisible(int item, BOOL partialOk) {
    return static_cast<BOOL>(
        SendMessage(LVM_ENSUREVISIBLE, static_cast<WPARAM>(item), static_cast<LPARAM>(partialOk)));
}

HTREEITEM CTreeCtrl::InsertItem(const char* text, HTREEITEM parent, HTREEITEM insertAfter) {
    TVINSERTSTRUCTA tvis;
    tvis.hParent = parent;
    tvis.hInsertAfter = insertAfter;
    tvis.item.mask = TVIF_TEXT;
    tvis.item.pszText = const_cast<char*>(text);
    return reinterpret_cast<HTREEITEM>(
        SendMessage(TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&tvis)));
}

BOOL CTreeCtrl::DeleteItem(HTREEITEM item) {
    return static_cast<BOOL>(SendMessage(TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item)));
}

BOOL CTreeCtrl::Expand(HTREEITEM item, UINT code) {
    return static_cast<BOOL>(SendMessage(TVM_EXPAND, code, reinterpret_cast<LPARAM>(item)));
}

UINT CTreeCtrl::GetCount() const {
    return static_cast<UINT>(SendMessage(TVM_GETCOUNT));
}

HTREEITEM CTreeCtrl::GetNextItem(HTREEITEM item, UINT code) const {
    return reinterpret_cast<HTREEITEM>(
        SendMessage(TVM_GETNEXTITEM, code, reinterpret_cast<LPARAM>(item)));
}

CString CTreeCtrl::GetItemText(HTREEITEM item) const {
    for (int size = 256; size <= kMaxItemText; size *= 2) {
        std::vector<char> buffer(static_cast<std::size_t>(size), '\0');
        TVITEMA tvi;
        tvi.mask = TVIF_TEXT | TVIF_HANDLE;
        tvi.hItem = item;
        tvi.pszText = buffer.data();
        tvi.cchTextMax = size;
        if (!SendMessage(TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&tvi)))
            return CString();
        buffer.back() = '\0';
        CString text(buffer.data());
        if (text.GetLength() < size - 1 || size == kMaxItemText)
            return text;
    }
    return CString();
}

UINT CTreeCtrl::GetItemState(HTREEITEM item, UINT stateMask) const {
    return static_cast<UINT>(SendMessage(TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item),
                                         static_cast<LPARAM>(stateMask)));
}

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd->m_hWnd) {
    m_hDC = BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC() {
    EndPaint(m_hWnd, &m_ps);
}

}  // namespace ks

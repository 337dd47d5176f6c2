#include "framework/Wnd.h"

#include <vector>

#include "framework/WinApp.h"

namespace ks {

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

CWnd::~CWnd() {
    if (m_hWnd != 0)
        CWnd::DestroyWindow();
    // A main window that is destroyed is no longer the thread's main window.
    if (CWinApp* app = AfxGetApp(); app != nullptr && app->m_pMainWnd == this)
        app->m_pMainWnd = nullptr;
}

BOOL CWnd::CreateMessageOnly() {
    if (m_hWnd != 0)
        return FALSE;
    m_hWnd = detail::CreateMessageOnlyWindow(this);
    return m_hWnd != 0;
}

BOOL CWnd::DestroyWindow() {
    if (m_hWnd == 0)
        return FALSE;
    HWND h = m_hWnd;
    BOOL ok = ks::DestroyWindow(h);
    // A window the backend could not route to us (none left) still loses its handle here.
    if (m_hWnd == h && !ks::IsWindow(h))
        OnNcDestroyed();
    return ok;
}

BOOL CWnd::SubclassWindow(HWND window) {
    if (m_hWnd != 0 || window == 0 || !ks::IsWindow(window))
        return FALSE;
    if (!detail::SubclassWindow(window, this))
        return FALSE;
    m_hWnd = window;
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(int id, CWnd* parent) {
    if (parent == nullptr)
        return FALSE;
    return SubclassWindow(ks::GetDlgItem(parent->m_hWnd, id));
}

HWND CWnd::UnsubclassWindow() {
    HWND h = m_hWnd;
    if (h != 0)
        detail::UnsubclassWindow(h);
    m_hWnd = 0;
    return h;
}

CWnd* CWnd::FromHandlePermanent(HWND window) {
    return window != 0 ? detail::WindowOwner(window) : nullptr;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_hWnd == 0)
        return 0;
    return detail::CallDefaultProc(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (message == WM_COMMAND) {
        if (OnCommand(wParam, lParam)) {
            *result = 0;
            return TRUE;
        }
        return FALSE;
    }
    if (message == WM_NOTIFY)
        return OnNotify(wParam, lParam, result);
    const AFX_MSGMAP_ENTRY* e = FindMessageEntry(AfxSig_wnd, message);
    if (e == nullptr)
        return FALSE;
    return e->pfn(this, wParam, lParam, result);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM) {
    // Menus and accelerators send code 0, buttons BN_CLICKED (also 0): both are commands.
    if (HIWORD(wParam) != BN_CLICKED)
        return FALSE;
    return OnCmdMsg(LOWORD(wParam));
}

BOOL CWnd::OnNotify(WPARAM, LPARAM lParam, LRESULT* result) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    if (header == nullptr)
        return FALSE;
    const AFX_MSGMAP_ENTRY* e =
        FindMessageEntry(AfxSig_notify, WM_NOTIFY, header->code, static_cast<UINT>(header->idFrom));
    if (e == nullptr)
        return FALSE;
    *result = 0;
    return e->pfn(this, 0, lParam, result);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ks::SendMessage(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ks::PostMessage(m_hWnd, message, wParam, lParam);
}

CString CWnd::GetWindowText() const {
    int length = ks::GetWindowTextLengthA(m_hWnd);
    if (length <= 0)
        return CString();
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
    int got = ks::GetWindowTextA(m_hWnd, buffer.data(), length + 1);
    return CString(buffer.data(), got > 0 ? got : 0);
}

HICON CWnd::SetIcon(HICON icon, BOOL bigIcon) {
    return reinterpret_cast<HICON>(
        SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon)));
}

LRESULT CWnd::Default() {
    return DefWindowProc(m_current.message, m_current.wParam, m_current.lParam);
}

void CWnd::OnSysCommand(UINT, LPARAM) {
    Default();
}
void CWnd::OnPaint() {
    Default();
}
HCURSOR CWnd::OnQueryDragIcon() {
    return reinterpret_cast<HCURSOR>(Default());
}
void CWnd::OnDestroy() {
    Default();
}
BOOL CWnd::OnDeviceChange(UINT, DWORD_PTR) {
    return static_cast<BOOL>(Default());
}

void CWnd::OnNcDestroyed() {
    m_hWnd = 0;
    if (CWinApp* app = AfxGetApp(); app != nullptr && app->m_pMainWnd == this)
        app->m_pMainWnd = nullptr;
    PostNcDestroy();
}

LRESULT CWndAccess::Dispatch(CWnd* wnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd::CurrentMessage saved = wnd->m_current;
    wnd->m_current = {message, wParam, lParam};
    LRESULT result = wnd->WindowProc(message, wParam, lParam);
    wnd->m_current = saved;
    return result;
}

}  // namespace ks

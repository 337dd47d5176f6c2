#include "framework/Wnd.h"

namespace ks {

IMPLEMENT_DYNAMIC(CWnd, CCmdTarget)

CWnd::~CWnd() {
    if (m_hWnd != 0)
        CWnd::DestroyWindow();
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
    m_hWnd = 0;
    return detail::DestroyWindow(h);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (const AFX_MSGMAP_ENTRY* e = FindMessageEntry(AfxSig_wnd, message))
        return (this->*(e->pfnWnd))(wParam, lParam);
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT, WPARAM, LPARAM) {
    return 0;
}

}  // namespace ks

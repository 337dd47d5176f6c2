#include "framework/Dialog.h"

#include <cstring>
#include <vector>

#include "framework/WinApp.h"

namespace ks {

HWND CDataExchange::PrepareCtrl(int id) {
    return m_pDlgWnd != nullptr ? ks::GetDlgItem(m_pDlgWnd->m_hWnd, id) : 0;
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (control.m_hWnd != 0)
        return;
    HWND h = dx->PrepareCtrl(id);
    if (h != 0)
        control.SubclassWindow(h);
}

void DDX_Text(CDataExchange* dx, int id, CString& value) {
    HWND h = dx->PrepareEditCtrl(id);
    if (h == 0)
        return;
    if (dx->m_bSaveAndValidate) {
        int length = GetWindowTextLengthA(h);
        std::vector<char> buffer(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
        int got = GetWindowTextA(h, buffer.data(), static_cast<int>(buffer.size()));
        value = CString(buffer.data(), got > 0 ? got : 0);
        return;
    }
    int length = GetWindowTextLengthA(h);
    if (length == value.GetLength()) {
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
        int got = GetWindowTextA(h, buffer.data(), length + 1);
        if (got == length &&
            std::memcmp(buffer.data(), value.GetString(), static_cast<std::size_t>(length)) == 0)
            return;
    }
    SetWindowTextA(h, value.GetString());
}

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_MESSAGE(WM_INITDIALOG, HandleInitDialog)
ON_COMMAND(IDOK, CDialog::OnOK)
ON_COMMAND(IDCANCEL, CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nTemplateId(templateId), m_pParentWnd(parent) {}

CDialog::~CDialog() {
    if (m_hWnd != 0)
        CWnd::DestroyWindow();
}

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
    if (m_hWnd != 0)
        return FALSE;
    m_nTemplateId = templateId;
    m_pParentWnd = parent;
    HWND h = detail::CreateDialogFromTemplate(templateId, parent ? parent->m_hWnd : 0, this);
    return h != 0 && m_hWnd == h;
}

INT_PTR CDialog::DoModal() {
    // Without a parent of its own the dialog belongs to the main window (unless it is the
    // main window itself), which stays disabled while the dialog runs.
    HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : 0;
    if (owner == 0) {
        if (CWinApp* app = AfxGetApp();
            app != nullptr && app->m_pMainWnd != nullptr && app->m_pMainWnd != this)
            owner = app->m_pMainWnd->m_hWnd;
    }
    if (owner != 0 && !ks::IsWindow(owner))
        owner = 0;
    const bool disableOwner = owner != 0 && IsWindowEnabled(owner);
    if (disableOwner)
        ks::EnableWindow(owner, FALSE);

    m_nModalResult = -1;
    HWND h = detail::CreateDialogFromTemplate(m_nTemplateId, owner, this);
    if (h == 0 || m_hWnd != h) {
        if (disableOwner)
            ks::EnableWindow(owner, TRUE);
        return -1;
    }
    if (!IsWindowVisible(m_hWnd))
        ks::ShowWindow(m_hWnd, SW_SHOWNORMAL);
    RunModalLoop();
    // The owner comes back before this window goes, so that activation returns to it.
    if (disableOwner)
        ks::EnableWindow(owner, TRUE);
    if (owner != 0 && GetActiveWindow() == m_hWnd)
        SetActiveWindow(owner);
    if (m_hWnd != 0) {
        ks::ShowWindow(m_hWnd, SW_HIDE);
        CWnd::DestroyWindow();
    }
    return m_nModalResult;
}

int CDialog::RunModalLoop() {
    m_bModalRunning = true;
    while (m_bModalRunning && m_hWnd != 0) {
        MSG msg;
        if (!GetMessage(&msg)) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            m_bModalRunning = false;
            return -1;
        }
        if (!PreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessage(&msg);
        }
    }
    m_bModalRunning = false;
    return m_nModalResult;
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
    return m_hWnd != 0 && IsDialogMessageA(m_hWnd, msg);
}

void CDialog::EndDialog(int result) {
    m_nModalResult = result;
    if (m_bModalRunning) {
        m_bModalRunning = false;
        // Wakes the loop in case nothing else is queued.
        PostMessage(WM_NULL);
    } else if (m_hWnd != 0) {
        ShowWindow(SW_HIDE);
    }
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    if (m_hWnd == 0)
        return FALSE;
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) {
    return OnInitDialog();
}

}  // namespace ks

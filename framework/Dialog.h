// CDialog: a dialog made from a template of the program's resources, run modally (DoModal:
// the owner is disabled, a message loop runs until EndDialog, the window is destroyed) or
// created modeless (Create). OnInitDialog binds and fills the controls through data exchange
// (DoDataExchange with DDX_Control and DDX_Text); the OK and Cancel commands end the dialog.
// The dialog manager's keyboard interface (Tab, Enter for the default button, Escape for
// Cancel, Alt with a mnemonic) works in both modes.
//
// Threads: the thread that creates the dialog runs it and all its handlers.
#pragma once

#include "framework/CString.h"
#include "framework/Wnd.h"

namespace ks {

class CDialog;

// One pass of data exchange between a dialog's controls and its members.
class CDataExchange {
  public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate)
        : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}
    // The control's window; 0 when the dialog has no control of that id.
    HWND PrepareCtrl(int id);
    HWND PrepareEditCtrl(int id) { return PrepareCtrl(id); }

    CDialog* m_pDlgWnd;
    BOOL m_bSaveAndValidate;  // TRUE: controls to members; FALSE: members to controls
};

// Binds control `id` to `control` (once: a bound control stays bound).
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
// Exchanges the text of control `id` with `value`. Towards the control the text is set only
// when it differs from what the control shows, so unchanged fields do not flicker.
void DDX_Text(CDataExchange* dx, int id, CString& value);

class CDialog : public CWnd {
  public:
    DECLARE_DYNAMIC(CDialog)
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // Runs the dialog modally; the result EndDialog gave (IDOK, IDCANCEL), or -1 when the
    // dialog could not be created.
    virtual INT_PTR DoModal();
    // Creates the dialog modeless; FALSE on failure.
    BOOL Create(UINT templateId, CWnd* parent = nullptr);
    // Ends a modal run with `result` (a modeless dialog is hidden).
    void EndDialog(int result);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    // Exchanges data in the direction given; TRUE on success.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    // The dialog manager's keyboard handling for messages meant for this dialog.
    virtual BOOL PreTranslateMessage(MSG* msg);

    UINT m_nIDHelp = 0;
    UINT m_nTemplateId;
    CWnd* m_pParentWnd;

  protected:
    virtual void DoDataExchange(CDataExchange* dx);
    LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);
    // Runs messages until EndDialog; -1 when WM_QUIT ended the loop (it is posted again).
    int RunModalLoop();

    DECLARE_MESSAGE_MAP()

  private:
    bool m_bModalRunning = false;
    int m_nModalResult = -1;
};

}  // namespace ks

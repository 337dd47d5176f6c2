// CAboutDlg: the About box (template 100), opened from the main window's system menu.
// Window thread only.
#pragma once

#include "framework/Dialog.h"

namespace ks {

class CAboutDlg : public CDialog {
  public:
    DECLARE_DYNAMIC(CAboutDlg)
    CAboutDlg();

  protected:
    DECLARE_MESSAGE_MAP()
};

}  // namespace ks

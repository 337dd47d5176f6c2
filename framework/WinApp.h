// CWinApp: the application object, one per process, and AfxWinMain, the framework's entry
// that runs it: InitInstance, then the message loop (Run) when it answers TRUE or
// ExitInstance when it answers FALSE, then the process's end. Main thread only.
#pragma once

#include "framework/WinThread.h"

namespace ks {

inline constexpr UINT ID_HELP = 0xE146;

class CWinApp : public CWinThread {
  public:
    DECLARE_DYNAMIC(CWinApp)
    explicit CWinApp(const char* appName = nullptr);
    ~CWinApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    // The framework's help command handler. This framework has no help system, so the
    // command is accepted and does nothing.
    void OnHelp();

    const char* m_pszAppName = nullptr;

    DECLARE_MESSAGE_MAP()
};

CWinApp* AfxGetApp();

// Runs the application object; the result is the process's exit code.
int AfxWinMain();

}  // namespace ks

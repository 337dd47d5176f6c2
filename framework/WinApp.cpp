#include "framework/WinApp.h"

#include "framework/Wnd.h"

namespace ks {

namespace {
CWinApp* g_pApp = nullptr;
}

IMPLEMENT_DYNAMIC(CWinApp, CWinThread)

BEGIN_MESSAGE_MAP(CWinApp, CWinThread)
END_MESSAGE_MAP()

CWinApp::CWinApp(const char* appName) : m_pszAppName(appName) {
    m_bAutoDelete = FALSE;  // a static object: never deleted by the framework
    if (g_pApp == nullptr)
        g_pApp = this;
}

CWinApp::~CWinApp() {
    if (g_pApp == this)
        g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::ExitInstance() {
    return static_cast<int>(m_msgCur.wParam);
}

void CWinApp::OnHelp() {}

CWinApp* AfxGetApp() {
    return g_pApp;
}

int AfxWinMain() {
    CWinApp* app = AfxGetApp();
    if (app == nullptr)
        return EndProcess(-1);
    app->m_nThreadID = GetCurrentThreadId();
    EnsureMessageQueue();
    int code;
    if (!app->InitInstance()) {
        if (app->m_pMainWnd != nullptr)
            app->m_pMainWnd->DestroyWindow();
        code = app->ExitInstance();
    } else {
        code = app->Run();
    }
    return EndProcess(code);
}

}  // namespace ks

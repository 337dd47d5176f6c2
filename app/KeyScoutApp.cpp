#include "app/KeyScoutApp.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/WinUser.h"
#include "listing/ScanThreadControl.h"
#include "ui/KeyScoutDlg.h"

namespace ks {

BEGIN_MESSAGE_MAP(CKeyScoutApp, CWinApp)
ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

// Created owned: a mutex that did not exist before belongs to this process from here on,
// while a copy that finds it existing opens it without ownership.
// When the mutex cannot be created at all, the guard cannot tell whether a copy runs:
// the process ends silently rather than risk running as a second copy.
CKeyScoutApp::CKeyScoutApp() try
    : CWinApp(nullptr),
      m_instanceMutex(TRUE, kInstanceMutexName, nullptr),
      m_instanceLock(&m_instanceMutex, FALSE) {
} catch (const CResourceException&) {
    std::_Exit(1);
}

CKeyScoutApp::~CKeyScoutApp() = default;  // the lock releases if still held; the mutex closes

BOOL CKeyScoutApp::InitInstance() {
    // The first copy owns the mutex since construction, so its own wait succeeds at once
    // (ownership count 2); any later copy times out or finds it abandoned and ends here.
    if (m_instanceLock.IsLocked())
        return FALSE;
    if (!m_instanceLock.Lock(kInstanceWaitTimeout))
        return FALSE;

    StartScanThread();
    // Without a worker the window could show nothing and would have nobody to ask: start-up
    // ends quietly, as for any other refused start. The worker is missing only when the
    // system could not give it a thread or a synchronisation object.
    if (m_pScanThread != nullptr) {
        RunMainWindow();
        StopScanThread();
    }

    // Gives back one level only: the mutex stays owned until this thread ends.
    m_instanceLock.Unlock();
    return FALSE;
}

void CKeyScoutApp::StartScanThread() {
    ks::StartScanThread(m_pScanThread, m_pScanThreadClass);
}

namespace {

// Where neither the system nor a watch tells the window of device changes: the worker is
// asked for a scan at intervals, and its requests fold as the broadcasts' do.
class CTimedScans final : public IDeviceChangeWatch {
  public:
    CTimedScans(CKeyScoutThread* worker, DWORD interval) : m_timer(worker, interval) {}

  private:
    CScanRequestTimer m_timer;
};

// The main window, which notes that it was made: a modal run that ends with -1 was either
// never shown or ended by a WM_QUIT, and only the first is a failed start.
class CMainDlg final : public CKeyScoutDlg {
  public:
    bool m_bMade = false;

  protected:
    BOOL OnInitDialog() override {
        m_bMade = true;
        return CKeyScoutDlg::OnInitDialog();
    }
};

}  // namespace

std::unique_ptr<IDeviceChangeWatch> CKeyScoutApp::WatchDeviceChanges() {
    std::string failure;
    std::unique_ptr<IDeviceChangeWatch> watch =
        StartDeviceChangeWatch([](DWORD eventType) { BroadcastDeviceChange(eventType); }, &failure);
    if (watch != nullptr || failure.empty())
        return watch;
    std::fprintf(stderr,
                 "keyscout: device changes cannot be watched here (%s): the list is "
                 "scanned again every %u s\n",
                 failure.c_str(), static_cast<unsigned>(kScanRequestInterval / 1000));
    return std::make_unique<CTimedScans>(m_pScanThread, kScanRequestInterval);
}

void CKeyScoutApp::RunMainWindow() {
    // The window hears of device changes for as long as it is open.
    std::unique_ptr<IDeviceChangeWatch> watch = WatchDeviceChanges();
    // The dialog object outlives its window: the framework forgets it as the main window
    // when the window goes, so nothing reaches it after DoModal has returned.
    CMainDlg dialog;
    m_pMainWnd = &dialog;
    // Whether the user ended the run with OK or Cancel makes no difference; a window that
    // was never made (its template, or the window system, refused) is a failed start, which
    // the process's exit code tells whoever started it. The shutdown is the same.
    if (dialog.DoModal() == -1 && !dialog.m_bMade) {
        std::fputs("keyscout: the main window could not be created\n", stderr);
        m_bWindowFailed = true;
    }
}

int CKeyScoutApp::ExitInstance() {
    const int code = CWinApp::ExitInstance();
    return m_bWindowFailed ? 1 : code;
}

void CKeyScoutApp::StopScanThread() {
    ks::StopScanThread(m_pScanThread, m_dwStopTimeout);
}

}  // namespace ks

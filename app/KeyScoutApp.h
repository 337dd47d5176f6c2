// CKeyScoutApp: the application object. It guards against a second running copy with a
// named mutex, starts the scan worker before any window exists, runs the main window, and
// stops the worker when the window has closed. The whole life of the program lies inside
// InitInstance, which always answers FALSE so that the process ends at once.
// Main thread only.
#pragma once

#include <memory>

#include "framework/Sync.h"
#include "framework/WinApp.h"
#include "platform/DeviceChanges.h"
#include "worker/KeyScoutThread.h"

namespace ks {

inline constexpr const char kInstanceMutexName[] =
    "{5D0C8A3E-2B71-49ca-8C46-1E3B7A90D2F5}-KeyScout";
inline constexpr DWORD kInstanceWaitTimeout = 10;  // ms

class CKeyScoutApp : public CWinApp {
  public:
    CKeyScoutApp();
    ~CKeyScoutApp() override;

    BOOL InitInstance() override;
    // The process's exit code: 1 when the main window could not be created, else the
    // framework's (0). A copy refused by the single-instance guard ends with 0.
    int ExitInstance() override;
    void StartScanThread();
    void StopScanThread();
    // Where the window system does not broadcast device changes itself (Linux), the
    // platform's watch broadcasts them to the program's windows while it lives; nullptr
    // where the system does it (Windows). Where no watch can be set up (netlink refused),
    // one line on stderr says so, and the worker is asked for a scan every 2 s instead.
    // Call it once the worker has started; destroy what it answers before the worker stops.
    std::unique_ptr<IDeviceChangeWatch> WatchDeviceChanges();

    CKeyScoutThread* m_pScanThread = nullptr;  // not owned: the worker deletes itself
    CMutex m_instanceMutex;
    CSingleLock m_instanceLock;

  protected:
    // The main window's modal run (CKeyScoutDlg): it registers with the worker through
    // m_pScanThread and returns when the window has closed. A window that could not be
    // created sets m_bWindowFailed.
    virtual void RunMainWindow();
    bool m_bWindowFailed = false;
    // How long the stop waits before it ends the worker by force.
    DWORD m_dwStopTimeout = 10000;
    // The worker's run-time class.
    const CRuntimeClass* m_pScanThreadClass = RUNTIME_CLASS(CKeyScoutThread);

    DECLARE_MESSAGE_MAP()
};

}  // namespace ks

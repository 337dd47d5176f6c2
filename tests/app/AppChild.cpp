// A stand-in for KeyScout.exe whose main window is replaced by a script of what the test
// needs. It prints what happened, one word per line, for the driver script to check:
//   keyscout-appchild once            window shown, worker running: "window", "worker"
//   keyscout-appchild hold DIR        as once, then waits until DIR/release exists
//                                     (DIR/ready is written once the window is up)
//   keyscout-appchild force-stop      the scan hangs; the stop has to end the worker by force
//   keyscout-appchild main-window     the main window object is gone before start-up returns
//                                     (the framework must not reach it afterwards)
//   keyscout-appchild no-worker       the worker cannot get its system resources: no window
// A copy refused by the single-instance guard prints nothing and exits 0.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/KeyScoutApp.h"
#include "framework/Kernel.h"
#include "framework/Sync.h"
#include "framework/Wnd.h"
#include "tests/support/FakePlatforms.h"

namespace ks {
namespace {

std::string g_mode;
std::string g_dir;

bool Exists(const std::string& path) {
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
        return true;
    }
    return false;
}

// A scan pass that never comes back.
class CHangingPlatform : public test::CFakeEmptyPlatform {
  public:
    HANDLE CreateFileA(const char*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) override {
        SetEvent(m_entered);
        WaitForSingleObject(m_never, INFINITE);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE m_entered = CreateEventObject(TRUE, FALSE);
    HANDLE m_never = CreateEventObject(TRUE, FALSE);
};

// A worker whose members cannot get their semaphores: its construction raises the resource
// exception, as CKeyScoutThread's does when the system has none left.
class CStarvedThread : public CKeyScoutThread {
    DECLARE_DYNCREATE(CStarvedThread)

  public:
    CStarvedThread() { AfxThrowResourceException(); }
};
IMPLEMENT_DYNCREATE(CStarvedThread, CKeyScoutThread)

class CTestApp : public CKeyScoutApp {
  public:
    BOOL InitInstance() override {
        if (g_mode == "no-worker")
            m_pScanThreadClass = RUNTIME_CLASS(CStarvedThread);
        return CKeyScoutApp::InitInstance();
    }

  protected:
    void RunMainWindow() override {
        std::puts("window");
        if (m_pScanThread != nullptr)
            std::puts("worker");
        std::fflush(stdout);
        if (g_mode == "hold") {
            if (FILE* f = std::fopen((g_dir + "/ready").c_str(), "wb"))
                std::fclose(f);
            while (!Exists(g_dir + "/release"))
                Sleep(10);
        } else if (g_mode == "main-window") {
            // As the real window does: the main window for the run, gone when the run ends.
            auto* window = new CWnd;
            window->CreateMessageOnly();
            m_pMainWnd = window;
            delete window;
        } else if (g_mode == "force-stop") {
            m_dwStopTimeout = 200;
            m_pScanThread->RequestScan();
            WaitForSingleObject(m_platform.m_entered, INFINITE);
        }
    }

  public:
    CHangingPlatform m_platform;
};

CTestApp theApp;

}  // namespace
}  // namespace ks

int main(int argc, char** argv) {
    using namespace ks;
    g_mode = argc > 1 ? argv[1] : "once";
    g_dir = argc > 2 ? argv[2] : ".";
    CPlatformScope scope(theApp.m_platform);
    int code = AfxWinMain();
    std::puts("ended");
    return code;
}

// A stand-in for KeyScout.exe whose main window is replaced by a script of what the test
// needs. It prints what happened, one word per line, for the driver script to check:
//   keyscout-appchild once            window shown, worker running: "window", "worker"
//   keyscout-appchild hold DIR        as once, then waits until DIR/release exists
//                                     (DIR/ready is written once the window is up)
//   keyscout-appchild linger DIR      as once, and once start-up has returned (the guard
//                                     given back, the process still ending) writes
//                                     DIR/ending and waits until DIR/release exists
//   keyscout-appchild force-stop      the scan hangs; the stop has to end the worker by force
//                                     (its wait shortened to 200 ms)
//   keyscout-appchild hang-stop DIR   the scan hangs, and the stop waits as long as the
//                                     program's own does; DIR/stopping is written as the
//                                     stop begins
//   keyscout-appchild main-window     the main window object is gone before start-up returns
//                                     (the framework must not reach it afterwards)
//   keyscout-appchild no-worker       the worker cannot get its system resources: no window
//   keyscout-appchild no-window       the program's own main window, which cannot be made here
//                                     (this program has no dialog templates)
// After a stop by force it prints the worker's exit code ("worker-exit ffffffff").
// A copy refused by the single-instance guard prints nothing and exits 0.
// Every wait of its own has a bound (kLimitMs); the pass that hangs is the point.
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
constexpr DWORD kLimitMs = 60000;

void Touch(const std::string& path) {
    if (FILE* f = std::fopen(path.c_str(), "wb"))
        std::fclose(f);
}

bool Exists(const std::string& path) {
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
        return true;
    }
    return false;
}

// Waits until the driver script makes `path`, at most kLimitMs.
void AwaitFile(const std::string& path) {
    for (DWORD waited = 0; !Exists(path) && waited < kLimitMs; waited += 10)
        Sleep(10);
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
    // Runs after start-up has returned: the guard has been given back, the process ends next.
    int ExitInstance() override {
        if (m_hWorker != nullptr) {
            DWORD code = 0;
            if (GetExitCodeThread(m_hWorker, &code))
                std::printf("worker-exit %lx\n", static_cast<unsigned long>(code));
            CloseHandle(m_hWorker);
            m_hWorker = nullptr;
        }
        std::fflush(stdout);
        if (g_mode == "linger") {
            Touch(g_dir + "/ending");
            AwaitFile(g_dir + "/release");
        }
        return CKeyScoutApp::ExitInstance();
    }

  protected:
    void RunMainWindow() override {
        if (g_mode == "no-window") {
            CKeyScoutApp::RunMainWindow();
            return;
        }
        std::puts("window");
        if (m_pScanThread != nullptr)
            std::puts("worker");
        std::fflush(stdout);
        if (g_mode == "hold") {
            Touch(g_dir + "/ready");
            AwaitFile(g_dir + "/release");
        } else if (g_mode == "main-window") {
            // As the real window does: the main window for the run, gone when the run ends.
            auto* window = new CWnd;
            window->CreateMessageOnly();
            m_pMainWnd = window;
            delete window;
        } else if (g_mode == "force-stop" || g_mode == "hang-stop") {
            if (g_mode == "force-stop")
                m_dwStopTimeout = 200;
            // A copy of the handle outlives the worker object, for its exit code.
            m_hWorker = DuplicateHandle(m_pScanThread->m_hThread);
            m_pScanThread->RequestScan();
            if (WaitForSingleObject(m_platform.m_entered, kLimitMs) != WAIT_OBJECT_0)
                std::puts("the pass never started");
            if (g_mode == "hang-stop")
                Touch(g_dir + "/stopping");
        }
    }

  public:
    CHangingPlatform m_platform;
    HANDLE m_hWorker = nullptr;
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

// A stand-in for KeyScout.exe whose main window is replaced by a script of what the test
// needs. It prints what happened, one word per line, for the driver script to check:
//   keyscout-appchild once            window shown, worker running: "window", "worker"
//   keyscout-appchild hold DIR        as once, then waits until DIR/release exists
//                                     (DIR/ready is written once the window is up)
//   keyscout-appchild force-stop      the scan hangs; the stop has to end the worker by force
// A copy refused by the single-instance guard prints nothing and exits 0.
#include <cstdio>
#include <cstring>
#include <string>

#include "app/KeyScoutApp.h"
#include "framework/Kernel.h"
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

class CTestApp : public CKeyScoutApp {
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

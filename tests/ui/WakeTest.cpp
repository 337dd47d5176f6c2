// A window thread that waits in its message loop with nothing else to do: the worker's
// notification, posted from the worker's thread, wakes it. Nothing else would: no input, no
// timer, no window that asks to be drawn. Should the post not wake the loop, the watchdog
// ends the program within seconds, saying what did not happen.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "res/resource.h"
#include "tests/ui/UiTestSupport.h"
#include "ui/AboutDlg.h"
#include "worker/KeyScoutThread.h"

namespace ks::test {
namespace {

using namespace std::chrono_literals;

// Ends the loop of its thread when the worker's notification arrives.
class CQuitOnNotification : public CWnd {
  public:
    std::atomic<bool> m_notified{false};
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_KEYSCOUT_SCAN) {
            m_notified = true;
            PostQuitMessage(0);
            return 0;
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }
};

TEST(IdleWindowWakeTest, AWorkersNotificationWakesAWindowThreadWaitingInItsLoop) {
    CFakeGatedPlatform platform;
    CPlatformScope scope(platform);
    // The window system of this thread, as the program's first window makes it; then no
    // window is left that could bring events of its own.
    {
        CAboutDlg about;
        ASSERT_TRUE(about.Create(IDD_ABOUTBOX));
        about.DestroyWindow();
    }
    PumpPending();
    CQuitOnNotification window;
    ASSERT_TRUE(window.CreateMessageOnly());
    TheApp().StartScanThread();
    CKeyScoutThread* worker = TheApp().m_pScanThread;
    ASSERT_NE(worker, nullptr);
    worker->RegisterWindow(window.GetSafeHwnd(), WM_KEYSCOUT_SCAN);
    worker->RequestScan();
    ASSERT_TRUE(platform.WaitForPassesStarted(1)) << "the worker's pass did not start";

    // The pass is let through once this thread has gone to wait in its loop.
    std::mutex mutex;
    std::condition_variable cv;
    bool done = false;
    std::thread helper([&] {
        std::this_thread::sleep_for(300ms);
        platform.ReleaseOne();
        std::unique_lock<std::mutex> lock(mutex);
        if (!cv.wait_for(lock, 10s, [&] { return done; })) {
            std::fputs(
                "FAILED: the worker's notification did not wake the window thread "
                "waiting in its message loop (10 s)\n",
                stderr);
            std::_Exit(1);
        }
    });
    MSG msg;
    while (GetMessage(&msg))
        DispatchMessage(&msg);
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    cv.notify_all();
    helper.join();
    EXPECT_TRUE(window.m_notified.load());
    platform.Open();
    TheApp().StopScanThread();
}

}  // namespace
}  // namespace ks::test

// The worker's test fixture: a worker over a platform whose passes block until the test
// lets them through, and a message-only window registered with it that counts what it gets.
// Every wait has a bound (kLimit) and fails with a message when it runs out.
#pragma once

#include <gtest/gtest.h>

#include <map>

#include "framework/Wnd.h"
#include "listing/ScanThreadControl.h"
#include "tests/support/FakePlatforms.h"
#include "tests/support/WaitBound.h"
#include "worker/KeyScoutThread.h"

namespace ks::test {

constexpr DWORD kLimit = 30000;       // ms: far beyond what any step here takes
constexpr DWORD kStartLimit = 10000;  // ms: for the worker's thread to begin

class CCountingWindow : public CWnd {
  public:
    std::map<UINT, int> m_received;
    LRESULT WindowProc(UINT message, WPARAM, LPARAM) override {
        ++m_received[message];
        return 0;
    }
};

class WorkerTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_window.CreateMessageOnly()); }
    void TearDown() override {
        if (m_worker != nullptr)
            Stop();
    }

    void Start() {
        StartScanThread(m_worker);
        ASSERT_NE(m_worker, nullptr);
        m_worker->RegisterWindow(m_window.GetSafeHwnd(), WM_KEYSCOUT_SCAN);
        ASSERT_EQ(BoundedWait(m_worker->m_startedEvent.m_hObject, kStartLimit), WAIT_OBJECT_0)
            << "the worker's thread did not start: InitInstance never ran after ResumeThread";
    }
    // Opens the gate, quits the worker and waits for its thread to end.
    void Stop() {
        m_platform.Open();
        const bool ended = StopScanThread(m_worker, WaitBound(kLimit));
        if (!ended)
            NoteStall();
        ASSERT_TRUE(ended) << "the worker did not end after its quit";
    }
    // Dispatches what is queued for this thread; counts messages addressed to `other`.
    int Drain(HWND other = 0) {
        int toOther = 0;
        MSG msg;
        while (PeekMessage(&msg, TRUE)) {
            if (other != 0 && msg.hwnd == other)
                ++toOther;
            DispatchMessage(&msg);
        }
        return toOther;
    }
    int Notifications() { return m_window.m_received[WM_KEYSCOUT_SCAN]; }

    test::CFakeGatedPlatform m_platform;
    CPlatformScope m_scope{m_platform};
    CCountingWindow m_window;
    CKeyScoutThread* m_worker = nullptr;
};

}  // namespace ks::test

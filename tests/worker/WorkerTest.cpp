// The scan worker: request folding, notifications and the quit message, driven by a
// platform whose passes block until the test lets them through (no sleeps, no timing).
// Every wait has a bound (kLimit) and fails with a message when it runs out.
#include <gtest/gtest.h>

#include <map>

#include "listing/ScanThreadControl.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "tests/support/TestData.h"
#include "tests/worker/WorkerFixture.h"

namespace ks {

struct CKeyScoutThreadProbe {
    static CGuardedValue<int>& Busy(CKeyScoutThread& t) { return t.m_busy; }
    static CGuardedValue<int>& Rescan(CKeyScoutThread& t) { return t.m_rescan; }
    static std::map<HWND, UINT> Windows(CKeyScoutThread& t) {
        CSingleLock lock(&t.m_windowsLock, TRUE);
        return t.m_windows;
    }
};

namespace {

using test::BoundedWait;
using test::CCountingWindow;
using test::kLimit;
using test::WorkerTest;

TEST_F(WorkerTest, RequestsDuringAPassFoldIntoExactlyOneMorePass) {
    Start();
    m_worker->RequestScan();
    ASSERT_TRUE(m_platform.WaitForPassesStarted(1)) << "pass 1 did not start";
    for (int i = 0; i < 10; ++i)
        m_worker->RequestScan();
    m_platform.ReleaseOne();
    ASSERT_TRUE(m_platform.WaitForPassesStarted(2)) << "pass 2 did not start";
    m_platform.ReleaseOne();
    Stop();
    Drain();
    EXPECT_EQ(m_platform.PassesStarted(), 2);
    EXPECT_EQ(Notifications(), 2);
}

TEST_F(WorkerTest, RequestsWhileIdleFoldIntoTheOnePassTheyQueue) {
    // Suspended, the worker takes no message: every request finds it idle. The first queues
    // a pass; the others are served by that pass, which begins after all of them, so a
    // storm of broadcasts queues one pass and not hundreds.
    m_worker = static_cast<CKeyScoutThread*>(
        AfxBeginThread(RUNTIME_CLASS(CKeyScoutThread), 0, 0, CREATE_SUSPENDED));
    ASSERT_NE(m_worker, nullptr);
    m_worker->RegisterWindow(m_window.GetSafeHwnd(), WM_KEYSCOUT_SCAN);
    for (int i = 0; i < 300; ++i)
        m_worker->RequestScan();
    m_platform.Open();
    m_worker->ResumeThread();
    ASSERT_TRUE(m_platform.WaitForPassesStarted(1)) << "the queued pass did not start";
    ASSERT_EQ(BoundedWait(m_worker->m_scanDoneEvent.m_hObject, kLimit), WAIT_OBJECT_0)
        << "the queued pass did not finish";
    // Idle again: the next request queues a pass of its own.
    m_worker->RequestScan();
    ASSERT_TRUE(m_platform.WaitForPassesStarted(2)) << "a request after the pass was lost";
    Stop();
    Drain();
    EXPECT_EQ(m_platform.PassesStarted(), 2);
    EXPECT_EQ(Notifications(), 2);
}

TEST_F(WorkerTest, RequestLandingAfterTheLastCheckIsServed) {
    Start();
    m_worker->RequestScan();
    ASSERT_TRUE(m_platform.WaitForPassesStarted(1)) << "pass 1 did not start";
    // Hold the busy flag so that the worker, once its pass is done, cannot clear it; then
    // leave a request behind as RequestScan does when it finds the worker busy. Wherever
    // the worker is when it lands (before or after its last look at the rescan flag), the
    // request must be served by exactly one more pass.
    CGuardedValue<int>& busy = CKeyScoutThreadProbe::Busy(*m_worker);
    ASSERT_EQ(BoundedWait(busy.m_hSemaphore, kLimit), WAIT_OBJECT_0)
        << "the busy flag's guard was never free";
    m_platform.ReleaseOne();
    ASSERT_EQ(BoundedWait(m_worker->m_scanDoneEvent.m_hObject, kLimit), WAIT_OBJECT_0)
        << "no pass finished";
    CKeyScoutThreadProbe::Rescan(*m_worker).Write(1);
    ReleaseSemaphore(busy.m_hSemaphore, 1, nullptr);
    ASSERT_TRUE(m_platform.WaitForPassesStarted(2)) << "pass 2 did not start";
    m_platform.ReleaseOne();
    Stop();
    Drain();
    EXPECT_EQ(m_platform.PassesStarted(), 2);
    EXPECT_EQ(Notifications(), 2);
}

TEST_F(WorkerTest, QuitDuringAPassTakesEffectAfterThePassAndItsRescan) {
    Start();
    m_worker->RequestScan();
    ASSERT_TRUE(m_platform.WaitForPassesStarted(1)) << "pass 1 did not start";
    m_worker->RequestScan();  // folded
    HANDLE thread = DuplicateHandle(m_worker->m_hThread);
    ASSERT_NE(thread, nullptr);
    m_worker->PostThreadMessage(WM_QUIT, 0, 0);
    m_platform.ReleaseOne();
    ASSERT_TRUE(m_platform.WaitForPassesStarted(2)) << "pass 2 did not start";
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT)
        << "the worker quit in the middle of its work";
    m_platform.ReleaseOne();
    EXPECT_EQ(BoundedWait(thread, kLimit), WAIT_OBJECT_0) << "the worker did not quit";
    CloseHandle(thread);
    m_worker = nullptr;  // it has deleted itself
    Drain();
    EXPECT_EQ(Notifications(), 2);
}

TEST_F(WorkerTest, WindowsGetTheirFirstMessageAndDeadOnesNothing) {
    CCountingWindow gone;
    ASSERT_TRUE(gone.CreateMessageOnly());
    HWND goneHandle = gone.GetSafeHwnd();
    Start();
    m_worker->RegisterWindow(m_window.GetSafeHwnd(), WM_APP + 7);  // already registered: ignored
    m_worker->RegisterWindow(goneHandle, WM_KEYSCOUT_SCAN);

    // Destroyed during a pass: still registered when the pass ends, never posted to.
    m_worker->RequestScan();
    ASSERT_TRUE(m_platform.WaitForPassesStarted(1)) << "pass 1 did not start";
    gone.DestroyWindow();
    m_platform.ReleaseOne();
    ASSERT_EQ(BoundedWait(m_worker->m_scanDoneEvent.m_hObject, kLimit), WAIT_OBJECT_0)
        << "no pass finished";
    EXPECT_EQ(Drain(goneHandle), 0);
    EXPECT_EQ(Notifications(), 1);
    EXPECT_EQ(m_window.m_received[WM_APP + 7], 0);

    // The next request drops it from the registrations. Posted straight to the worker, it
    // starts a handler run of its own even if the worker has not yet left the last one
    // (a RequestScan then would only be folded into a pass without pruning).
    m_platform.Open();
    m_worker->PostThreadMessage(WM_KEYSCOUT_SCAN, 0, 0);
    ASSERT_EQ(BoundedWait(m_worker->m_scanDoneEvent.m_hObject, kLimit), WAIT_OBJECT_0)
        << "no pass finished";
    auto windows = CKeyScoutThreadProbe::Windows(*m_worker);
    EXPECT_EQ(windows.count(goneHandle), 0u);
    EXPECT_EQ(windows.at(m_window.GetSafeHwnd()), WM_KEYSCOUT_SCAN);
}

TEST_F(WorkerTest, UnregisteredWindowIsNotNotifiedAndResultsStartEmpty) {
    Start();
    CDeviceRecordList before;
    CDeviceRecord stale;
    before.Add(stale);
    m_worker->GetResults(before);
    EXPECT_TRUE(before.IsEmpty());

    m_worker->RequestScan();
    ASSERT_TRUE(m_platform.WaitForPassesStarted(1)) << "pass 1 did not start";
    m_worker->UnregisterWindow(m_window.GetSafeHwnd());
    m_worker->UnregisterWindow(m_window.GetSafeHwnd() + 1000);  // never registered: no effect
    m_platform.ReleaseOne();
    ASSERT_EQ(BoundedWait(m_worker->m_scanDoneEvent.m_hObject, kLimit), WAIT_OBJECT_0)
        << "no pass finished";
    Stop();
    Drain();
    EXPECT_EQ(Notifications(), 0);
}

TEST_F(WorkerTest, APassThatFindsNothingStillPublishesItsEmptyList) {
    // The last device pulled out: the list the window fetches must be empty, not the one
    // from before (the device would stay on screen).
    Start();
    m_platform.Open();
    {
        CModelPlatform machine(LoadMachineFile(test::DataPath("ui-three-devices.json")));
        CPlatformScope withDevices(machine);
        m_worker->RequestScan();
        ASSERT_EQ(BoundedWait(m_worker->m_scanDoneEvent.m_hObject, kLimit), WAIT_OBJECT_0)
            << "the pass over the machine with devices did not finish";
        CDeviceRecordList records;
        m_worker->GetResults(records);
        ASSERT_EQ(records.GetCount(), 3);
    }
    m_worker->RequestScan();  // now over the empty machine
    ASSERT_EQ(BoundedWait(m_worker->m_scanDoneEvent.m_hObject, kLimit), WAIT_OBJECT_0)
        << "the pass over the empty machine did not finish";
    CDeviceRecordList records;
    m_worker->GetResults(records);
    EXPECT_TRUE(records.IsEmpty()) << "the list of the pass before stayed published";
    Stop();
    Drain();
    EXPECT_EQ(Notifications(), 2);  // the empty pass announced itself too
}

}  // namespace
}  // namespace ks

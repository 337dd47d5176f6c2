// The worker where a thread's queue has a bound on the messages posted to it, as on Windows
// and in the framework's own queues (Wine's have none: there a post to a living thread
// never fails, so this file is built for Linux alone).
#include <gtest/gtest.h>

#include "tests/worker/WorkerFixture.h"

namespace ks::test {
namespace {

TEST_F(WorkerTest, ARequestThatCouldNotQueueItsPassLeavesTheNextOneFreeToQueue) {
    // A thread's queue holds a bounded number of posted messages. A request that finds the
    // worker's queue full cannot queue its pass; once there is room again the next request
    // must queue one, and not wait behind a pass that was never queued.
    m_worker = static_cast<CKeyScoutThread*>(
        AfxBeginThread(RUNTIME_CLASS(CKeyScoutThread), 0, 0, CREATE_SUSPENDED));
    ASSERT_NE(m_worker, nullptr);
    m_worker->RegisterWindow(m_window.GetSafeHwnd(), WM_KEYSCOUT_SCAN);
    constexpr UINT kFiller = WM_APP + 0x77;  // no handler: the worker drops it
    int posted = 0;
    while (posted < 20000 && m_worker->PostThreadMessage(kFiller, 0, 0) != FALSE)
        ++posted;
    ASSERT_LT(posted, 20000) << "the worker's queue took 20,000 messages: it has no bound";
    m_worker->RequestScan();  // its post fails: the queue is full
    m_platform.Open();
    m_worker->ResumeThread();
    // The worker drains the fillers; a post that goes through shows there is room again.
    bool room = false;
    for (DWORD waited = 0; !room && waited < WaitBound(kLimit); waited += 10) {
        room = m_worker->PostThreadMessage(kFiller, 0, 0) != FALSE;
        if (!room)
            Sleep(10);
    }
    if (!room)
        NoteStall();
    ASSERT_TRUE(room) << "the worker never emptied its queue";
    m_worker->RequestScan();
    ASSERT_TRUE(m_platform.WaitForPassesStarted(1))
        << "a request after one that could not post queued no pass: the worker still counted "
           "the failed one as queued";
    ASSERT_EQ(BoundedWait(m_worker->m_scanDoneEvent.m_hObject, kLimit), WAIT_OBJECT_0)
        << "the pass did not finish";
    Stop();
    Drain();
    EXPECT_EQ(m_platform.PassesStarted(), 1);
    EXPECT_EQ(Notifications(), 1);
}

}  // namespace
}  // namespace ks::test

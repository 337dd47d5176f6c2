// The worker under load: several window threads register, unregister, destroy windows, ask
// for scans and fetch results at random, against passes of random length over machines that
// change from pass to pass. Every event is stamped from one clock, and afterwards the log
// is judged:
//  - no request is lost: each is followed by a pass that begins after it, also the requests
//    aimed at the moment a pass ends, where a request is most easily lost;
//  - requests fold: the passes that ran are all accounted for, each by a request of its own
//    or by the requests made wholly inside the pass before it (those, however many, earn
//    exactly one further pass, so at most one pass is ever queued behind a running one);
//  - a window hears nothing after it has unregistered, and only the message it registered
//    first;
//  - every list fetched is the whole list of one machine;
//  - and nothing deadlocks: a watchdog ends the run with a message when it stops moving.
// Run it longer with KS_STRESS_ROUNDS (default 150).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "framework/Kernel.h"
#include "framework/Messages.h"
#include "framework/Wnd.h"
#include "listing/ScanThreadControl.h"
#include "platform/Platform.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "tests/support/TestData.h"
#include "worker/KeyScoutThread.h"

namespace ks {
// The test reads the busy flag under its guard, to know when the worker is idle.
struct CKeyScoutThreadProbe {
    static CGuardedValue<int>& Busy(CKeyScoutThread& t) { return t.m_busy; }
};
namespace {

using namespace std::chrono_literals;

// One clock for every event of every thread: its order is the order in which things happened.
std::atomic<std::uint64_t> g_clock{1};
std::uint64_t Tick() {
    return g_clock.fetch_add(1);
}

// Progress, for the watchdog: any thread that gets something done moves it on.
std::atomic<std::uint64_t> g_progress{0};
std::atomic<const char*> g_phase{"starting"};

// Ends the process with a message when the run stops moving for `stall`: a deadlock would
// otherwise end only at CTest's time-out, with nothing said.
class CWatchdog {
  public:
    explicit CWatchdog(std::chrono::seconds stall) : m_stall(stall), m_thread([this] { Run(); }) {}
    ~CWatchdog() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }

  private:
    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        std::uint64_t seen = g_progress.load();
        auto last = std::chrono::steady_clock::now();
        while (!m_done) {
            m_cv.wait_for(lock, 500ms);
            std::uint64_t now = g_progress.load();
            if (now != seen) {
                seen = now;
                last = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - last > m_stall) {
                std::fprintf(stderr,
                             "watchdog: nothing moved for %lld s during \"%s\": the worker or a "
                             "window thread is stuck (deadlock?)\n",
                             static_cast<long long>(m_stall.count()), g_phase.load());
                std::fflush(stderr);
                std::_Exit(3);
            }
        }
    }
    std::chrono::seconds m_stall;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    std::thread m_thread;
};

// What one device list looks like from outside: its serial numbers in order.
std::string Signature(const CDeviceRecordList& list) {
    std::string out = "[";
    for (POSITION pos = list.GetHeadPosition(); pos != nullptr;) {
        out += std::string(list.GetNext(pos).m_strSerial.View());
        out += ';';
    }
    return out + "]";
}

struct Pass {
    std::uint64_t begin = 0;  // the pass's first call on the platform
    std::uint64_t last = 0;   // its latest call so far
    std::size_t machine = 0;
};

// The platform of the run: at the start of every pass it picks one of its machines, holds
// the pass for a random time, and then answers the pass from that machine. Only the worker
// calls it; the log is read by the test under the lock.
class CPassLog : public IPlatform {
  public:
    explicit CPassLog(std::vector<std::unique_ptr<CModelPlatform>> machines)
        : m_machines(std::move(machines)) {}

    void BeginScan() override {
        Pass pass;
        pass.begin = pass.last = Tick();
        pass.machine = m_dice() % m_machines.size();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_passes.empty())
                m_callsOfMachine[m_passes.back().machine] = m_callsThisPass;
            m_callsThisPass = 0;
            auto known = m_callsOfMachine.find(pass.machine);
            m_callsExpected = known != m_callsOfMachine.end() ? known->second : 0;
            m_passes.push_back(pass);
        }
        m_cv.notify_all();
        ++g_progress;
        // Passes from none to a few milliseconds long.
        if (unsigned us = m_dice() % 4000; us > 500)
            std::this_thread::sleep_for(std::chrono::microseconds(us));
        m_current = m_machines[pass.machine].get();
        m_current->BeginScan();
        Touch();
    }

    // Blocks until a pass has begun after `stamp`, at most `limit`; false if none did.
    bool WaitForPassAfter(std::uint64_t stamp, std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, limit,
                             [&] { return !m_passes.empty() && m_passes.back().begin > stamp; });
    }
    // How many passes have made their last call on the platform (known once a machine has
    // been scanned before: its passes make the same calls each time).
    std::uint64_t PassesEnded() { return m_passesEnded.load(); }
    // Spins until more than `ended` passes have made their last call, at most `limit`: a
    // thread woken from a wait would come too late for the moment it is after.
    bool WaitForPassEnd(std::uint64_t ended, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (m_passesEnded.load() <= ended) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
        }
        return true;
    }
    std::vector<Pass> Passes() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_passes;
    }

    HANDLE CreateFileA(const char* path, DWORD access, DWORD share, void* security,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override {
        return Answer(m_current->CreateFileA(path, access, share, security, disposition, flags,
                                             templateFile));
    }
    BOOL DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out,
                         DWORD outSize, DWORD* returned, void* overlapped) override {
        return Answer(m_current->DeviceIoControl(device, code, in, inSize, out, outSize, returned,
                                                 overlapped));
    }
    BOOL CloseHandle(HANDLE handle) override { return Answer(m_current->CloseHandle(handle)); }
    int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR16* src, int srcLen, char* dst,
                            int dstSize, const char* defaultChar, BOOL* usedDefault) override {
        return Answer(m_current->WideCharToMultiByte(codePage, flags, src, srcLen, dst, dstSize,
                                                     defaultChar, usedDefault));
    }
    HDEVINFO SetupDiGetClassDevsA(const GUID* guid, const char* enumerator, HWND parent,
                                  DWORD flags) override {
        return Answer(m_current->SetupDiGetClassDevsA(guid, enumerator, parent, flags));
    }
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* info, const GUID* guid,
                                     DWORD index, SP_DEVICE_INTERFACE_DATA* data) override {
        return Answer(m_current->SetupDiEnumDeviceInterfaces(set, info, guid, index, data));
    }
    BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data,
                                          SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                                          DWORD* required, SP_DEVINFO_DATA* info) override {
        return Answer(
            m_current->SetupDiGetDeviceInterfaceDetailA(set, data, detail, size, required, info));
    }
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override {
        return Answer(m_current->SetupDiDestroyDeviceInfoList(set));
    }
    CONFIGRET CM_Locate_DevNodeA(DEVINST* devInst, const char* id, ULONG flags) override {
        return Answer(m_current->CM_Locate_DevNodeA(devInst, id, flags));
    }
    CONFIGRET CM_Get_Child(DEVINST* child, DEVINST devInst, ULONG flags) override {
        return Answer(m_current->CM_Get_Child(child, devInst, flags));
    }
    CONFIGRET CM_Get_Sibling(DEVINST* sibling, DEVINST devInst, ULONG flags) override {
        return Answer(m_current->CM_Get_Sibling(sibling, devInst, flags));
    }
    CONFIGRET CM_Get_Parent(DEVINST* parent, DEVINST devInst, ULONG flags) override {
        return Answer(m_current->CM_Get_Parent(parent, devInst, flags));
    }
    CONFIGRET CM_Get_Device_IDA(DEVINST devInst, char* buffer, ULONG length, ULONG flags) override {
        return Answer(m_current->CM_Get_Device_IDA(devInst, buffer, length, flags));
    }
    CONFIGRET CM_Get_Device_ID_List_SizeA(ULONG* length, const char* filter, ULONG flags) override {
        return Answer(m_current->CM_Get_Device_ID_List_SizeA(length, filter, flags));
    }
    CONFIGRET CM_Get_Device_ID_ListA(const char* filter, char* buffer, ULONG length,
                                     ULONG flags) override {
        return Answer(m_current->CM_Get_Device_ID_ListA(filter, buffer, length, flags));
    }
    CONFIGRET CM_Get_DevNode_Status(ULONG* status, ULONG* problem, DEVINST devInst,
                                    ULONG flags) override {
        return Answer(m_current->CM_Get_DevNode_Status(status, problem, devInst, flags));
    }
    CONFIGRET CM_Get_DevNode_Registry_PropertyA(DEVINST devInst, ULONG property, ULONG* type,
                                                void* buffer, ULONG* length, ULONG flags) override {
        return Answer(m_current->CM_Get_DevNode_Registry_PropertyA(devInst, property, type, buffer,
                                                                   length, flags));
    }
    BOOL GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* volumeName,
                                           DWORD length) override {
        return Answer(m_current->GetVolumeNameForVolumeMountPointA(mountPoint, volumeName, length));
    }

  private:
    void Touch() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_passes.back().last = Tick();
        if (++m_callsThisPass == m_callsExpected)
            ++m_passesEnded;
    }
    template <class T>
    T Answer(T value) {
        Touch();
        return value;
    }

    std::vector<std::unique_ptr<CModelPlatform>> m_machines;
    CModelPlatform* m_current = nullptr;
    std::minstd_rand m_dice{20261209};
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Pass> m_passes;
    std::map<std::size_t, std::uint64_t> m_callsOfMachine;
    std::uint64_t m_callsThisPass = 0;
    std::uint64_t m_callsExpected = 0;  // 0: not known yet
    std::atomic<std::uint64_t> m_passesEnded{0};
};

struct Request {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
};

constexpr UINT kMarker = WM_APP + 0x300;  // posted by a window's own thread to itself

// A window of a stress thread. Its thread posts it kMarker once it has unregistered: by the
// queue's order, whatever arrives after the marker was posted after the unregistration.
class CStressWindow : public CWnd {
  public:
    UINT m_message = 0;  // the message it registered first
    bool m_unregistered = false;
    bool m_markerSeen = false;
    int m_notifications = 0;
    std::vector<std::string>* m_faults = nullptr;

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == kMarker) {
            m_markerSeen = true;
        } else if (message == m_message) {
            ++m_notifications;
            if (wParam != 0 || lParam != 0)
                m_faults->push_back("a notification carried data");
            if (m_markerSeen)
                m_faults->push_back("a window was notified after it had unregistered");
        } else if (message >= WM_APP) {
            m_faults->push_back("a window got a message it did not register first (" +
                                std::to_string(message) + ")");
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }
};

struct StressThread {
    CKeyScoutThread* worker = nullptr;
    const std::vector<std::string>* signatures = nullptr;
    unsigned seed = 0;
    int operations = 0;
    UINT firstMessage = 0;
    // Results, read once the thread has ended.
    std::vector<Request> requests;
    std::vector<std::string> faults;
    int registrations = 0, unregistrations = 0, destroyed = 0, fetches = 0, notifications = 0;
};

void Pump() {
    MSG msg;
    while (PeekMessage(&msg, TRUE))
        DispatchMessage(&msg);
}

unsigned RunStressThread(void* argument) {
    auto& t = *static_cast<StressThread*>(argument);
    EnsureMessageQueue();
    std::minstd_rand dice(t.seed);
    std::vector<std::unique_ptr<CStressWindow>> windows;
    UINT nextMessage = t.firstMessage;
    auto retire = [&](std::size_t i) {
        t.notifications += windows[i]->m_notifications;
        windows[i]->DestroyWindow();
        windows.erase(windows.begin() + static_cast<std::ptrdiff_t>(i));
        ++t.destroyed;
    };
    for (int op = 0; op < t.operations; ++op) {
        const unsigned roll = dice() % 100;
        if (roll < 15 && windows.size() < 4) {
            auto w = std::make_unique<CStressWindow>();
            w->m_faults = &t.faults;
            if (!w->CreateMessageOnly()) {
                t.faults.push_back("a message-only window could not be made");
                continue;
            }
            w->m_message = nextMessage++;
            t.worker->RegisterWindow(w->GetSafeHwnd(), w->m_message);
            if (dice() % 4 == 0)  // registered again: the first message stays
                t.worker->RegisterWindow(w->GetSafeHwnd(), WM_APP + 0x2FF);
            ++t.registrations;
            windows.push_back(std::move(w));
        } else if (roll < 25 && !windows.empty()) {
            CStressWindow& w = *windows[dice() % windows.size()];
            if (!w.m_unregistered) {
                t.worker->UnregisterWindow(w.GetSafeHwnd());
                w.m_unregistered = true;
                w.PostMessage(kMarker);
                ++t.unregistrations;
            }
        } else if (roll < 30 && !windows.empty()) {
            // Destroyed, registered or not: the worker must skip it and forget it.
            retire(dice() % windows.size());
        } else if (roll < 70) {
            Request r;
            r.start = Tick();
            t.worker->RequestScan();
            r.end = Tick();
            t.requests.push_back(r);
        } else if (roll < 85) {
            CDeviceRecordList list;
            t.worker->GetResults(list);
            ++t.fetches;
            const std::string s = Signature(list);
            if (std::find(t.signatures->begin(), t.signatures->end(), s) == t.signatures->end())
                t.faults.push_back("a fetched list is no machine's whole list: " + s);
        } else if (roll < 95) {
            Pump();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(dice() % 3000));
        }
        ++g_progress;
    }
    Pump();
    while (!windows.empty())
        retire(windows.size() - 1);
    return 0;
}

std::vector<std::unique_ptr<CModelPlatform>> Machines() {
    std::vector<std::unique_ptr<CModelPlatform>> machines;
    for (const char* fixture :
         {"ui-no-devices.json", "ui-three-devices.json", "scan-windows-desktop.json"})
        machines.push_back(
            std::make_unique<CModelPlatform>(LoadMachineFile(test::DataPath(fixture))));
    return machines;
}

// The list that one pass over each machine publishes, seen by a single worker run.
std::vector<std::string> SignaturesOf(
    const std::vector<std::unique_ptr<CModelPlatform>>& machines) {
    std::vector<std::string> out;
    for (const auto& machine : machines) {
        CPlatformScope scope(*machine);
        std::vector<CUsbDeviceEntry> entries;
        CUsbDeviceScanner scanner(&entries);
        scanner.m_fields = kScannerFields;
        scanner.m_nodeFieldMask = kScannerNodeFields;
        scanner.Scan();
        CDeviceRecordList list;
        for (const CUsbDeviceEntry& entry : entries)
            list.Add(BuildDeviceRecord(entry));
        out.push_back(Signature(list));
    }
    return out;
}

// Polls the busy flag, as a window would see it, until the worker is idle.
bool WaitUntilIdle(CKeyScoutThread& worker, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (CKeyScoutThreadProbe::Busy(worker).Read() != 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(100us);
    }
    return true;
}

int Rounds() {
    const char* v = std::getenv("KS_STRESS_ROUNDS");
    int n = v != nullptr ? std::atoi(v) : 0;
    return n > 0 ? n : 150;
}

// Judges the folding: each pass must be paid for, in order, either by the requests made
// wholly inside the pass before it (together worth one pass), or by one request of its own
// that began before it (one that posted a message, or that set the flag while a pass ended).
// The earliest unused request is always the best one to spend, so going through the passes
// in order finds a way to pay for them all whenever there is one.
std::string JudgeFolding(const std::vector<Pass>& passes, std::vector<Request> requests) {
    std::sort(requests.begin(), requests.end(),
              [](const Request& a, const Request& b) { return a.start < b.start; });
    std::vector<bool> inside(requests.size(), false);  // wholly inside some pass
    std::vector<int> insideCount(passes.size(), 0);
    for (std::size_t j = 0; j < requests.size(); ++j) {
        auto it = std::upper_bound(passes.begin(), passes.end(), requests[j].start,
                                   [](std::uint64_t s, const Pass& p) { return s < p.begin; });
        if (it == passes.begin())
            continue;
        const std::size_t k = static_cast<std::size_t>(it - passes.begin()) - 1;
        if (requests[j].end < passes[k].last) {
            inside[j] = true;
            ++insideCount[k];
        }
    }
    std::size_t next = 0;  // the earliest request not yet spent
    for (std::size_t m = 0; m < passes.size(); ++m) {
        if (m > 0 && insideCount[m - 1] > 0) {
            // The pass that the requests made during pass m-1 earned. It must come right
            // after that pass, which it does by being pass m.
            continue;
        }
        while (next < requests.size() && inside[next])
            ++next;
        if (next >= requests.size() || requests[next].start > passes[m].begin)
            return "pass " + std::to_string(m) + " of " + std::to_string(passes.size()) +
                   " ran with no request left to serve: requests were not folded";
        ++next;
    }
    return "";
}

TEST(WorkerStressTest, RequestsFoldNoneIsLostAndUnregisteredWindowsHearNothing) {
    CWatchdog watchdog(60s);
    auto machines = Machines();
    const std::vector<std::string> signatures = SignaturesOf(machines);
    ASSERT_EQ(signatures.size(), 3u);
    EXPECT_EQ(signatures[0], "[]");  // the machine with nothing on it publishes an empty list
    CPassLog platform(std::move(machines));
    CPlatformScope scope(platform);

    CKeyScoutThread* worker = nullptr;
    StartScanThread(worker);
    ASSERT_NE(worker, nullptr);
    HANDLE workerThread = DuplicateHandle(worker->m_hThread);

    constexpr int kThreads = 4;
    const int rounds = Rounds();
    std::vector<Request> requests;
    std::vector<std::string> faults;
    int registrations = 0, unregistrations = 0, destroyed = 0, fetches = 0, notifications = 0;
    std::minstd_rand dice(7);
    int round = 0;
    for (; round < rounds && faults.empty(); ++round) {
        g_phase = "a round of window threads";
        std::vector<StressThread> threads(kThreads);
        std::vector<HANDLE> handles;
        for (int i = 0; i < kThreads; ++i) {
            threads[i].worker = worker;
            threads[i].signatures = &signatures;
            threads[i].seed = dice();
            threads[i].operations = 10 + static_cast<int>(dice() % 60);
            threads[i].firstMessage = WM_APP + 0x400 + static_cast<UINT>(i) * 0x1000;
            HANDLE h = CreateThread(&RunStressThread, &threads[i], nullptr);
            ASSERT_NE(h, nullptr);
            handles.push_back(h);
        }
        for (HANDLE h : handles) {
            ASSERT_EQ(WaitForSingleObject(h, 120000), WAIT_OBJECT_0)
                << "a window thread did not finish its round within 120 s";
            CloseHandle(h);
        }
        std::uint64_t latest = 0;
        for (StressThread& t : threads) {
            for (const Request& r : t.requests)
                latest = std::max(latest, r.start);
            requests.insert(requests.end(), t.requests.begin(), t.requests.end());
            faults.insert(faults.end(), t.faults.begin(), t.faults.end());
            registrations += t.registrations;
            unregistrations += t.unregistrations;
            destroyed += t.destroyed;
            fetches += t.fetches;
            notifications += t.notifications;
        }
        // The round's last request aims at the end of a pass: the moment after the worker's
        // last look at its rescan flag and before it clears its busy flag is where a request
        // is most easily lost.
        // Every request of the round, the last one included, is served by a later pass.
        g_phase = "waiting for the window threads' requests to be served";
        if (latest != 0 && !platform.WaitForPassAfter(latest, 10000ms))
            faults.push_back("round " + std::to_string(round) +
                             ": no pass began within 10 s after its threads' last request");
        // Then requests aimed at the end of a pass: the moment after the worker's last look at
        // its rescan flag and before it clears its busy flag is where a request is most easily
        // lost. From idle, one request starts a pass; the next lands as that pass ends.
        for (int aim = 0; aim < 3 && faults.empty(); ++aim) {
            g_phase = "waiting for the worker to go idle";
            if (!WaitUntilIdle(*worker, 10000ms)) {
                faults.push_back("round " + std::to_string(round) +
                                 ": the worker was still busy 10 s after the round");
                break;
            }
            g_phase = "a request at the end of a pass";
            const std::uint64_t ended = platform.PassesEnded();
            Request opener{Tick(), 0};
            worker->RequestScan();
            opener.end = Tick();
            requests.push_back(opener);
            if (platform.WaitForPassEnd(ended, 5000ms)) {
                // Where that moment lies depends on the build's speed: the aim is spread
                // evenly over the scales from 1 us to 1 ms.
                const auto us =
                    std::exp(std::uniform_real_distribution<double>(0.0, std::log(1000.0))(dice));
                const auto until = std::chrono::steady_clock::now() +
                                   std::chrono::microseconds(static_cast<int>(us));
                while (std::chrono::steady_clock::now() < until) {
                }
            }
            Request closer{Tick(), 0};
            worker->RequestScan();
            closer.end = Tick();
            requests.push_back(closer);
            g_phase = "waiting for the pass that serves a request at the end of a pass";
            if (!platform.WaitForPassAfter(closer.start, 10000ms))
                faults.push_back("round " + std::to_string(round) +
                                 ": no pass began within 10 s after a request made as a pass "
                                 "ended: it was lost");
        }
    }

    g_phase = "stopping the worker";
    EXPECT_TRUE(StopScanThread(worker, 10000)) << "the worker did not end by itself";
    ASSERT_EQ(WaitForSingleObject(workerThread, 10000), WAIT_OBJECT_0);
    CloseHandle(workerThread);

    const std::vector<Pass> passes = platform.Passes();
    for (std::size_t i = 0; i < faults.size() && i < 20; ++i)
        ADD_FAILURE() << faults[i];
    EXPECT_EQ(faults.size(), 0u) << "faults seen (the first 20 are above)";
    EXPECT_EQ(JudgeFolding(passes, requests), "");
    EXPECT_LE(passes.size(), requests.size());
    std::printf(
        "stress: %zu requests, %zu passes, %d registrations, %d unregistrations, "
        "%d windows destroyed, %d fetches, %d notifications, %d rounds\n",
        requests.size(), passes.size(), registrations, unregistrations, destroyed, fetches,
        notifications, round);
    EXPECT_GE(requests.size(), 1000u) << "the stress asked for too few scans to mean much";
}

// The judge itself, on logs made by hand: it must refuse what a broken worker would leave.
TEST(WorkerStressTest, TheFoldingJudgeRefusesAPassThatNoRequestPaidFor) {
    // Pass 0 (10..20) with three requests inside it earns pass 1; a request at 25 pays pass 2.
    const std::vector<Pass> passes = {{10, 20, 0}, {30, 40, 0}, {50, 60, 0}};
    const std::vector<Request> folded = {{1, 2}, {11, 12}, {13, 14}, {15, 16}, {25, 26}};
    EXPECT_EQ(JudgeFolding(passes, folded), "");
    // Without the request at 25, the requests inside pass 0 would have earned two passes.
    const std::vector<Request> twice = {{1, 2}, {11, 12}, {13, 14}, {15, 16}};
    EXPECT_NE(JudgeFolding(passes, twice), "");
    // A request that overlaps the pass's end pays for one pass of its own, not two.
    const std::vector<Request> straddling = {{1, 2}, {19, 22}};
    EXPECT_EQ(JudgeFolding({{10, 20, 0}, {30, 40, 0}}, straddling), "");
    EXPECT_NE(JudgeFolding(passes, straddling), "");
}

}  // namespace
}  // namespace ks

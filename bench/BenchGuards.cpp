// How long the window thread waits on the worker's guards while a storm of requests meets
// passes over a big machine. Usage: keyscout-guard-bench [benchmark flags]
//
// The benchmark's thread plays the window thread: for two seconds it calls RequestScan and
// GetResults back to back, as fast as it can, while the worker runs pass after pass over a
// machine of N USB devices (bench/make-machine.py). Each call is timed from entry to return.
// RequestScan does nothing under its guards but read or write a flag, so its time is the
// wait; GetResults copies the published list under its guard, so its wait is its time less
// the copy, which is measured alone ("copy us", the same copy with the worker stopped).
//
// The worker folds the storm: at most one pass waits behind the one running. "passes" counts
// those run during the storm, "queued" those still to run when it ends; they run over an
// empty machine, so that the benchmark ends soon (each pass reads the interface sets twice,
// so a pass that began on the big machine and ended on the empty one counts half in each).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "listing/ScanThreadControl.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "worker/KeyScoutThread.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string ScaleMachine(long devices) {
    const char* dir = std::getenv("KS_BENCH_MACHINES");
    return std::string(dir != nullptr ? dir : KS_DEFAULT_BENCH_MACHINES) + "/machine-" +
           std::to_string(devices) + ".json";
}

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

struct CTimes {
    std::vector<double> m_v;
    double Max() const { return m_v.empty() ? 0 : *std::max_element(m_v.begin(), m_v.end()); }
    double Quantile(double q) {
        if (m_v.empty())
            return 0;
        std::sort(m_v.begin(), m_v.end());
        return m_v[static_cast<std::size_t>(q * static_cast<double>(m_v.size() - 1))];
    }
};

void GuardStorm(benchmark::State& state) {
    ks::CModelPlatform platform(ks::LoadMachineFile(ScaleMachine(state.range(0))));
    ks::CPlatformScope scope(platform);
    CTimes requests, results;
    double copy = 0;
    std::size_t devices = 0;
    double passes = 0, queued = 0, seen = 0;
    for (auto _ : state) {
        ks::CKeyScoutThread* worker = nullptr;
        ks::StartScanThread(worker);
        if (worker == nullptr) {
            state.SkipWithError("the worker did not start");
            return;
        }
        ks::CDeviceRecordList records;
        const auto end = Clock::now() + std::chrono::seconds(2);
        while (Clock::now() < end) {
            auto t0 = Clock::now();
            worker->RequestScan();
            auto t1 = Clock::now();
            worker->GetResults(records);
            auto t2 = Clock::now();
            requests.m_v.push_back(Micros(t1 - t0));
            results.m_v.push_back(Micros(t2 - t1));
            seen += static_cast<double>(records.GetCount());
        }
        // The passes still queued run over an empty machine; the worker ends after them.
        ks::CModelPlatform empty{ks::CMachineModel()};
        {
            ks::CPlatformScope emptyScope(empty);
            ks::StopScanThread(worker, ks::INFINITE);
        }
        passes = platform.CallCount("SetupDiGetClassDevsA") / 2.0;
        queued = empty.CallCount("SetupDiGetClassDevsA") / 2.0;
        // The last list once more, with no pass running: the copy alone.
        ks::CDeviceRecordList again;
        auto t0 = Clock::now();
        again = records;
        copy = Micros(Clock::now() - t0);
        devices = static_cast<std::size_t>(records.GetCount());
    }
    state.counters["devices"] = static_cast<double>(devices);
    state.counters["calls"] = static_cast<double>(requests.m_v.size());
    state.counters["RequestScan max us"] = requests.Max();
    state.counters["RequestScan p99 us"] = requests.Quantile(0.99);
    state.counters["GetResults max us"] = results.Max();
    state.counters["GetResults p99 us"] = results.Quantile(0.99);
    state.counters["GetResults median us"] = results.Quantile(0.5);
    state.counters["copy us"] = copy;
    state.counters["passes"] = passes;
    state.counters["devices seen"] =
        requests.m_v.empty() ? 0 : seen / static_cast<double>(requests.m_v.size());
    state.counters["queued"] = queued;
}

}  // namespace

BENCHMARK(GuardStorm)->Arg(10)->Arg(100)->Arg(300)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

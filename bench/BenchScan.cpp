// The cost of one scan pass on simulated machines: the whole walk, the device-node trees
// and the volume table, through the model platform, and the records the worker makes of the
// entries. Usage: keyscout-bench [benchmark flags]
//
// ScanScale/N scans a machine of N USB devices written by bench/make-machine.py (the build
// writes them into the build folder; KS_BENCH_MACHINES names another folder).
// DriverKeySearch/N runs, on the same machine, only the driver-key searches a pass makes,
// one per device, each of which walks the device tree from its root: the one cost of a pass
// that grows with devices times nodes. The rest of a pass is ScanScale minus it.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "devices/UsbDeviceScanner.h"
#include "devmgr/DevNodeQueries.h"
#include "framework/CodePage.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "worker/DeviceRecord.h"

namespace {

std::string Fixture(const char* name) {
    const char* dir = std::getenv("KS_TEST_DATA");
    return std::string(dir != nullptr ? dir : KS_DEFAULT_TEST_DATA) + "/" + name;
}

std::string ScaleMachine(long devices) {
    const char* dir = std::getenv("KS_BENCH_MACHINES");
    return std::string(dir != nullptr ? dir : KS_DEFAULT_BENCH_MACHINES) + "/machine-" +
           std::to_string(devices) + ".json";
}

void Scan(benchmark::State& state, ks::CModelPlatform& platform) {
    ks::CPlatformScope scope(platform);
    std::vector<ks::CUsbDeviceEntry> entries;
    ks::CUsbDeviceScanner scanner(&entries);
    scanner.m_fields = 0x13;
    scanner.m_nodeFieldMask = 0x419;
    std::size_t devices = 0;
    std::size_t treeNodes = 0;
    platform.ClearLog();
    for (auto _ : state) {
        scanner.Scan();
        ks::CDeviceRecordList records;
        for (const auto& e : entries)
            records.Add(ks::BuildDeviceRecord(e));
        devices = static_cast<std::size_t>(records.GetCount());
        benchmark::DoNotOptimize(records);
    }
    for (const auto& e : entries)
        treeNodes += static_cast<std::size_t>(e.m_devNodeTree.Count());
    state.counters["devices"] = static_cast<double>(devices);
    state.counters["machine nodes"] = static_cast<double>(platform.Model().m_vNodes.size());
    state.counters["entry nodes"] = static_cast<double>(treeNodes);
    state.counters["platform calls/scan"] =
        static_cast<double>(platform.CallCount("DeviceIoControl") +
                            platform.CallCount("CM_Get_DevNode_Registry_PropertyA")) /
        static_cast<double>(state.iterations());
}

void ScanMachine(benchmark::State& state, const char* fixture) {
    ks::CModelPlatform platform(ks::LoadMachineFile(Fixture(fixture)));
    Scan(state, platform);
}

void ScanScale(benchmark::State& state) {
    ks::CModelPlatform platform(ks::LoadMachineFile(ScaleMachine(state.range(0))));
    Scan(state, platform);
}

void DriverKeySearch(benchmark::State& state) {
    ks::CModelPlatform platform(ks::LoadMachineFile(ScaleMachine(state.range(0))));
    ks::CPlatformScope scope(platform);
    std::vector<ks::CString> keys;
    for (const ks::CUsbHub& hub : platform.Model().m_vHubs)
        for (const ks::CUsbPort& port : hub.m_vPorts)
            if (port.m_optDevice && !port.m_optDevice->m_bDeviceIsHub &&
                port.m_optDevice->m_optDriverKey)
                keys.emplace_back(ks::Utf16ToAnsi(port.m_optDevice->m_optDriverKey->data(),
                                                  port.m_optDevice->m_optDriverKey->size())
                                      .c_str());
    std::size_t found = 0;
    for (auto _ : state) {
        found = 0;
        for (const ks::CString& key : keys)
            found += ks::FindDevNodeByDriverKey(key) != 0 ? 1 : 0;
        benchmark::DoNotOptimize(found);
    }
    state.counters["devices"] = static_cast<double>(keys.size());
    state.counters["found"] = static_cast<double>(found);
}

}  // namespace

BENCHMARK_CAPTURE(ScanMachine, example_small, "example-small.json")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ScanMachine, realistic_20_devices, "machine-realistic.json")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ScanMachine, windows_desktop, "scan-windows-desktop.json")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(ScanScale)->Arg(10)->Arg(100)->Arg(300)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(DriverKeySearch)->Arg(10)->Arg(100)->Arg(300)->Arg(1000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

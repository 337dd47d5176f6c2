// The cost of one scan pass on simulated machines: the whole walk, the device-node trees
// and the volume table, through the model platform. Usage: keyscout-bench [benchmark flags]
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "devices/UsbDeviceScanner.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "worker/DeviceRecord.h"

namespace {

std::string Fixture(const char* name) {
    const char* dir = std::getenv("KS_TEST_DATA");
    return std::string(dir != nullptr ? dir : KS_DEFAULT_TEST_DATA) + "/" + name;
}

void ScanMachine(benchmark::State& state, const char* fixture) {
    ks::CModelPlatform platform(ks::LoadMachineFile(Fixture(fixture)));
    ks::CPlatformScope scope(platform);
    std::vector<ks::CUsbDeviceEntry> entries;
    ks::CUsbDeviceScanner scanner(&entries);
    scanner.m_fields = 0x13;
    scanner.m_nodeFieldMask = 0x419;
    std::size_t devices = 0;
    for (auto _ : state) {
        scanner.Scan();
        ks::CDeviceRecordList records;
        for (const auto& e : entries)
            records.Add(ks::BuildDeviceRecord(e));
        devices = static_cast<std::size_t>(records.GetCount());
        benchmark::DoNotOptimize(records);
    }
    state.counters["devices"] = static_cast<double>(devices);
    state.counters["platform calls/scan"] =
        static_cast<double>(platform.CallCount("DeviceIoControl") +
                            platform.CallCount("CM_Get_DevNode_Registry_PropertyA")) /
        static_cast<double>(state.iterations());
}

}  // namespace

BENCHMARK_CAPTURE(ScanMachine, example_small, "example-small.json")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ScanMachine, realistic_20_devices, "machine-realistic.json")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ScanMachine, windows_desktop, "scan-windows-desktop.json")
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();

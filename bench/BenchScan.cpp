// The cost of one scan pass on simulated machines: the whole walk, the device-node trees
// and the volume table, through the model platform, and the records the worker makes of the
// entries. Usage: keyscout-bench [benchmark flags]
//
// ScanScale/N scans a machine of N USB devices written by bench/make-machine.py (the build
// writes them into the build folder; KS_BENCH_MACHINES names another folder). Its counters
// split each pass: "search ms" is the time in the driver-key searches (one per device, each
// walking the device tree from its root: the one cost of a pass that grows with devices
// times nodes), with "search nodes", the nodes those searches visit (one driver-key read
// each), and "search ns/node"; "rest ms" is everything else, with "rest requests", the
// driver requests and other registry reads, and "rest ns/request". All of these are wall
// time. DriverKeySearch/N runs those searches alone, its "ns/node" in CPU time and "wall
// ns/node"; ScanWithoutSearch/N the pass with each device's node found in a table instead:
// the same entries, without the search or the cache misses it leaves behind.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <unordered_map>

#include "devices/UsbDeviceScanner.h"
#include "devmgr/DevNodeQueries.h"
#include "framework/CodePage.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "usb/UsbReplies.h"
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

// The model platform with a stopwatch on the driver-key search: it begins when the root
// node is asked for, and ends at the first call the search does not make (the search asks
// only for driver keys, children, siblings and parents).
class CTimedModel : public ks::CModelPlatform {
  public:
    using Clock = std::chrono::steady_clock;
    using CModelPlatform::CModelPlatform;

    Clock::duration m_search{};
    std::size_t m_driverReads = 0;  // the search's reads: one per node it visits

    ks::CONFIGRET CM_Locate_DevNodeA(ks::DEVINST* devInst, const char* deviceId,
                                     ks::ULONG flags) override {
        Lap();
        if (deviceId == nullptr) {
            m_bInSearch = true;
            m_start = Clock::now();
        }
        return CModelPlatform::CM_Locate_DevNodeA(devInst, deviceId, flags);
    }
    ks::CONFIGRET CM_Get_Device_IDA(ks::DEVINST devInst, char* buffer, ks::ULONG length,
                                    ks::ULONG flags) override {
        Lap();
        return CModelPlatform::CM_Get_Device_IDA(devInst, buffer, length, flags);
    }
    ks::BOOL DeviceIoControl(ks::HANDLE device, ks::DWORD code, void* in, ks::DWORD inSize,
                             void* out, ks::DWORD outSize, ks::DWORD* bytesReturned,
                             void* overlapped) override {
        Lap();
        return CModelPlatform::DeviceIoControl(device, code, in, inSize, out, outSize,
                                               bytesReturned, overlapped);
    }
    ks::CONFIGRET CM_Get_DevNode_Registry_PropertyA(ks::DEVINST devInst, ks::ULONG property,
                                                    ks::ULONG* type, void* buffer,
                                                    ks::ULONG* length, ks::ULONG flags) override {
        if (property != ks::CM_DRP_DRIVER)
            Lap();
        else
            ++m_driverReads;
        return CModelPlatform::CM_Get_DevNode_Registry_PropertyA(devInst, property, type, buffer,
                                                                 length, flags);
    }
    ks::BOOL CloseHandle(ks::HANDLE handle) override {
        Lap();
        return CModelPlatform::CloseHandle(handle);
    }

  private:
    void Lap() {
        if (m_bInSearch) {
            m_search += Clock::now() - m_start;
            m_bInSearch = false;
        }
    }
    bool m_bInSearch = false;
    Clock::time_point m_start;
};

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// The scanner with the driver-key search replaced by a table of the model's driver keys;
// every other step of an entry is the scanner's own, in its order.
class CTableScanner : public ks::CUsbDeviceScanner {
  public:
    CTableScanner(std::vector<ks::CUsbDeviceEntry>* entries, const ks::CModelPlatform& platform)
        : CUsbDeviceScanner(entries) {
        for (const ks::CDevNode& node : platform.Model().m_vNodes)
            if (const ks::CRegistryProperty* key = node.FindProperty(ks::CM_DRP_DRIVER))
                if (!key->m_vValues.empty())
                    m_mapNodes.emplace(UpperAscii(key->m_vValues.front()),
                                       platform.DevInstOf(node.m_strInstanceId));
    }
    void OnDevicePort(ks::CUsbIoHandle& hub, int& port, const ks::BYTE* connection) override {
        ks::CUsbDeviceEntry entry;
        if (ks::ReadLe32(connection + ks::conn::ConnectionStatus) != ks::DeviceConnected ||
            !FillFromConnection(hub, port, connection, entry))
            return;
        ks::CString key;
        if (!hub.GetNodeConnectionDriverKeyName(port, key))
            return;
        auto it = m_mapNodes.find(UpperAscii(key.GetString()));
        ks::DEVINST node = it == m_mapNodes.end() ? 0 : it->second;
        BuildDevNodeTree(node, entry);
        AddDeviceEntry(entry);
    }

  private:
    std::unordered_map<std::string, ks::DEVINST> m_mapNodes;
};

void Scan(benchmark::State& state, CTimedModel& platform, bool searchByTable = false) {
    ks::CPlatformScope scope(platform);
    std::vector<ks::CUsbDeviceEntry> entries;
    std::unique_ptr<ks::CUsbDeviceScanner> owned =
        searchByTable ? std::make_unique<CTableScanner>(&entries, platform)
                      : std::make_unique<ks::CUsbDeviceScanner>(&entries);
    ks::CUsbDeviceScanner& scanner = *owned;
    scanner.m_fields = 0x13;
    scanner.m_nodeFieldMask = 0x419;
    std::size_t devices = 0;
    std::size_t treeNodes = 0;
    platform.ClearLog();
    platform.m_search = {};
    platform.m_driverReads = 0;
    auto total = CTimedModel::Clock::duration{};
    for (auto _ : state) {
        const auto start = CTimedModel::Clock::now();
        scanner.Scan();
        ks::CDeviceRecordList records;
        for (const auto& e : entries)
            records.Add(ks::BuildDeviceRecord(e));
        devices = static_cast<std::size_t>(records.GetCount());
        benchmark::DoNotOptimize(records);
        total += CTimedModel::Clock::now() - start;
    }
    const double passes = static_cast<double>(state.iterations());
    const auto ms = [&](CTimedModel::Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count() / passes;
    };
    const double searchNodes = static_cast<double>(platform.m_driverReads);
    const double restRequests =
        static_cast<double>(platform.CallCount("DeviceIoControl") +
                            platform.CallCount("CM_Get_DevNode_Registry_PropertyA")) -
        searchNodes;
    state.counters["search ms"] = ms(platform.m_search);
    state.counters["rest ms"] = ms(total - platform.m_search);
    state.counters["search nodes"] = searchNodes / passes;
    state.counters["rest requests"] = restRequests / passes;
    if (searchNodes > 0)
        state.counters["search ns/node"] =
            std::chrono::duration<double, std::nano>(platform.m_search).count() / searchNodes;
    if (restRequests > 0)
        state.counters["rest ns/request"] =
            std::chrono::duration<double, std::nano>(total - platform.m_search).count() /
            restRequests;
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
    CTimedModel platform(ks::LoadMachineFile(Fixture(fixture)));
    Scan(state, platform);
}

void ScanScale(benchmark::State& state) {
    CTimedModel platform(ks::LoadMachineFile(ScaleMachine(state.range(0))));
    Scan(state, platform);
}

void ScanWithoutSearch(benchmark::State& state) {
    CTimedModel platform(ks::LoadMachineFile(ScaleMachine(state.range(0))));
    Scan(state, platform, true);
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
    platform.ClearLog();
    const std::clock_t cpuStart = std::clock();
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        found = 0;
        for (const ks::CString& key : keys)
            found += ks::FindDevNodeByDriverKey(key) != 0 ? 1 : 0;
        benchmark::DoNotOptimize(found);
    }
    const auto wall = std::chrono::steady_clock::now() - start;
    const double cpuNs = 1e9 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    // Every read the searches make is one node's driver key.
    const double visited = platform.CallCount("CM_Get_DevNode_Registry_PropertyA");
    state.counters["devices"] = static_cast<double>(keys.size());
    state.counters["found"] = static_cast<double>(found);
    state.counters["nodes visited"] = visited / static_cast<double>(state.iterations());
    state.counters["ns/node"] = cpuNs / visited;  // the process's CPU time: one thread
    state.counters["wall ns/node"] =
        std::chrono::duration<double, std::nano>(wall).count() / visited;
}

// What a run of keyscout-list --machine does besides the pass: reading the fixture into a
// machine model, and making the model platform that answers from it.
void LoadMachine(benchmark::State& state) {
    const std::string file = ScaleMachine(state.range(0));
    std::size_t nodes = 0;
    for (auto _ : state) {
        ks::CMachineModel model = ks::LoadMachineFile(file);
        nodes = model.m_vNodes.size();
        benchmark::DoNotOptimize(model);
    }
    state.counters["machine nodes"] = static_cast<double>(nodes);
}

void MakeModelPlatform(benchmark::State& state) {
    const ks::CMachineModel model = ks::LoadMachineFile(ScaleMachine(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        ks::CMachineModel copy = model;
        state.ResumeTiming();
        ks::CModelPlatform platform(std::move(copy));
        benchmark::DoNotOptimize(platform);
    }
    state.counters["machine nodes"] = static_cast<double>(model.m_vNodes.size());
}

}  // namespace

BENCHMARK_CAPTURE(ScanMachine, example_small, "example-small.json")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ScanMachine, realistic_20_devices, "machine-realistic.json")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ScanMachine, windows_desktop, "scan-windows-desktop.json")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(ScanScale)->Arg(10)->Arg(100)->Arg(300)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(ScanWithoutSearch)->Arg(10)->Arg(100)->Arg(300)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(DriverKeySearch)->Arg(10)->Arg(100)->Arg(300)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadMachine)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(MakeModelPlatform)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

// The live Linux backend on a umockdev test bed, with lsusb timed on the same bed in the
// same run: one scan pass through the native platform (the picture of sysfs included),
// the picture alone, one whole run of keyscout-list (text and --json), and one run of lsusb
// and of "lsusb -v". Run under umockdev-wrapper
// with a bed file:
//   python3 tests/platform/linux/testbeds.py many 100 > /tmp/bed100.umockdev
//   umockdev-wrapper build/linux/bench/keyscout-linux-bench /tmp/bed100.umockdev
// (bench/run-linux-bench.sh does both.)
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "devices/UsbDeviceScanner.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxMachine.h"
#include "worker/DeviceRecord.h"

// After the framework's types: glib defines TRUE and FALSE as macros.
#include <umockdev.h>

extern char** environ;

namespace {

void LinuxScan(benchmark::State& state) {
    std::vector<ks::CUsbDeviceEntry> entries;
    ks::CUsbDeviceScanner scanner(&entries);
    scanner.m_fields = 0x13;
    scanner.m_nodeFieldMask = 0x419;
    std::size_t devices = 0;
    for (auto _ : state) {
        scanner.Scan();  // begins with a fresh picture of sysfs
        ks::CDeviceRecordList records;
        for (const auto& e : entries)
            records.Add(ks::BuildDeviceRecord(e));
        devices = static_cast<std::size_t>(records.GetCount());
        benchmark::DoNotOptimize(records);
    }
    state.counters["devices"] = static_cast<double>(devices);
}

void LinuxPicture(benchmark::State& state) {
    const ks::CSysfsReader reader;
    std::unique_ptr<ks::IDeviceDatabase> database = ks::MakeUdevDatabase();
    std::size_t nodes = 0;
    for (auto _ : state) {
        ks::CMachineModel model = ks::ReadLinuxMachine(reader, database.get());
        nodes = model.m_vNodes.size();
        benchmark::DoNotOptimize(model);
    }
    state.counters["nodes"] = static_cast<double>(nodes);
}

// Runs a program to its end with its output read through a pipe; returns the lines it
// printed, or -1 when it cannot be started or does not end with 0.
long RunProgram(std::vector<std::string> args) {
    int out[2];
    if (::pipe(out) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int rc = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        return -1;
    }
    long lines = 0;
    char buffer[65536];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        for (ssize_t i = 0; i < n; ++i)
            lines += buffer[i] == '\n';
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? lines : -1;
}

void TimeProgram(benchmark::State& state, const std::vector<std::string>& args,
                 const char* counter) {
    long lines = 0;
    for (auto _ : state) {
        lines = RunProgram(args);
        if (lines < 0) {
            state.SkipWithError((args[0] + " did not run to a clean end").c_str());
            return;
        }
    }
    state.counters[counter] = static_cast<double>(lines);
}

// One run of lsusb, or of "lsusb -v" (every descriptor of every device) when `verbose`.
// Plain: one line per device, hubs too.
void Lsusb(benchmark::State& state, bool verbose) {
    if (verbose)
        TimeProgram(state, {"lsusb", "-v"}, "lines");
    else
        TimeProgram(state, {"lsusb"}, "devices");
}

// One whole run of keyscout-list: start-up, one scan pass through the worker, the output.
void KeyscoutList(benchmark::State& state, bool json) {
    if (json)
        TimeProgram(state, {KS_LIST_PATH, "--json"}, "lines");
    else
        TimeProgram(state, {KS_LIST_PATH}, "lines");
}

}  // namespace

BENCHMARK(LinuxScan)->Unit(benchmark::kMillisecond);
BENCHMARK(LinuxPicture)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Lsusb, plain, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Lsusb, verbose, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(KeyscoutList, text, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(KeyscoutList, json, true)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: umockdev-wrapper keyscout-linux-bench BED.umockdev\n");
        return 2;
    }
    UMockdevTestbed* bed = umockdev_testbed_new();
    GError* error = nullptr;
    if (!umockdev_in_mock_environment() || !umockdev_testbed_add_from_file(bed, argv[1], &error)) {
        std::fprintf(stderr, "keyscout-linux-bench: no test bed (%s); run under umockdev-wrapper\n",
                     error != nullptr ? error->message : "not in a mock environment");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    g_object_unref(bed);
    return 0;
}

// keyscout-list: runs one scan through the same worker pipeline as KeyScout and prints the
// hardware list with each device's ids, serial number and details tree, as text or JSON.
//   keyscout-list [--json] [--machine FILE] [--watch | --capture FILE] | --version | --help
// Exit codes: 0 listed (possibly nothing), 1 a scan or file error (a message on stderr),
// 2 a usage error.
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "framework/CodePage.h"
#include "framework/Kernel.h"
#include "listing/ListOutput.h"
#include "listing/ListScan.h"
#include "platform/Platform.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "res/Version.h"

namespace {

const char kUsage[] =
    "usage: keyscout-list [--json] [--machine FILE] [--watch | --capture FILE]\n"
    "       keyscout-list --version | --help\n"
    "  Lists the USB devices connected now, with Vendor ID, Product ID, serial number\n"
    "  and the device-manager nodes behind each.\n"
    "  --json          print JSON instead of text\n"
    "  --machine FILE  scan the simulated machine of a JSON fixture instead of this one\n"
    "  --watch         print the list again each time it changes, until interrupted\n"
    "                  (Ctrl+C); text lists end with a line \"---\", JSON is one\n"
    "                  document per line. Where the system broadcasts device changes\n"
    "                  only to windows (Windows), or where they cannot be watched\n"
    "                  (netlink refused: one line on stderr says so), the machine is\n"
    "                  scanned every 2 s.\n"
    "  --capture FILE  also write what the scan saw as a fixture that --machine replays\n"
    "  --version       print the version and exit\n"
    "Exit status: 0 listed (possibly nothing), 1 a scan or file error, 2 a usage error.\n";

int Fail(const std::string& message, int code) {
    std::fprintf(stderr, "keyscout-list: %s\n", message.c_str());
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    bool json = false;
    bool watch = false;
    std::optional<std::string> machine;
    std::optional<std::string> capture;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--json") {
            json = true;
        } else if (arg == "--watch") {
            watch = true;
        } else if (arg == "--machine") {
            if (i + 1 >= argc)
                return Fail("--machine needs a file name\n" + std::string(kUsage), 2);
            machine = argv[++i];
        } else if (arg.rfind("--machine=", 0) == 0) {
            machine = arg.substr(10);
        } else if (arg == "--capture") {
            if (i + 1 >= argc)
                return Fail("--capture needs a file name\n" + std::string(kUsage), 2);
            capture = argv[++i];
        } else if (arg.rfind("--capture=", 0) == 0) {
            capture = arg.substr(10);
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::fputs("keyscout-list " KS_VERSION_TEXT "\n", stdout);
            return 0;
        } else {
            return Fail("unknown argument '" + arg + "'\n" + kUsage, 2);
        }
    }

    if (watch && capture)
        return Fail("--capture records one scan, not a --watch\n" + std::string(kUsage), 2);

    std::unique_ptr<ks::CModelPlatform> simulated;
    std::optional<ks::CPlatformScope> scope;
    if (machine) {
        try {
            simulated = std::make_unique<ks::CModelPlatform>(ks::LoadMachineFile(*machine));
        } catch (const ks::CFixtureError& e) {
            return Fail(e.what(), 1);
        }
        scope.emplace(*simulated);
    }

    if (watch) {
        // Print a list only when it differs from the one printed last.
        std::string last;
        bool first = true;
        const bool ok = ks::WatchScans([&](const ks::CDeviceRecordList& records,
                                           const std::vector<ks::CUsbDeviceEntry>& entries) {
            std::string out = json
                                  ? ks::FormatEntriesJson(entries)
                                  : ks::FormatRecordsText(records, ks::GetAnsiCodePage()) + "---\n";
            if (!first && out == last)
                return;
            first = false;
            std::fwrite(out.data(), 1, out.size(), stdout);
            std::fflush(stdout);
            last = std::move(out);
        });
        if (!ok)
            return Fail("the scan worker could not be started", 1);
        return ks::EndProcess(0);
    }

    ks::CDeviceRecordList records;
    std::vector<ks::CUsbDeviceEntry> entries;
    std::string fixture;
    std::vector<ks::CUsbDeviceEntry>* wanted = json ? &entries : nullptr;
    const bool scanned = capture ? ks::RunCapturedScan(ks::Platform(), records, fixture, wanted)
                                 : ks::RunOneScan(records, wanted);
    if (!scanned)
        return Fail("the scan worker could not be started", 1);

    std::string out = json ? ks::FormatEntriesJson(entries)
                           : ks::FormatRecordsText(records, ks::GetAnsiCodePage());
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    if (!json && records.IsEmpty())
        std::fputs("keyscout-list: no USB devices found\n", stderr);
    if (capture) {
        std::ofstream file(*capture, std::ios::binary | std::ios::trunc);
        file << fixture;
        if (!file.flush())
            return ks::EndProcess(Fail(*capture + ": cannot write the capture", 1));
    }
    return ks::EndProcess(0);
}

// The Linux machine reader, fed from bytes: the input is cut at 0xFF bytes into the
// contents of the files of a small sysfs tree (a root hub, a device on its port 1 with an
// interface, a SCSI disk with a partition below it, /proc/self/mountinfo), written into a
// temporary folder and read as the live machine; the machine is then scanned and printed.
// The pure helpers get the pieces directly. Invariants: the property text is valid UTF-8
// without control characters and fits the device-node buffers; the scan's JSON parses and
// its text has no raw control character.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "devices/UsbDeviceScanner.h"
#include "framework/CodePage.h"
#include "fuzz/ScanOutputCheck.h"
#include "listing/ListOutput.h"
#include "platform/linux/LinuxMachine.h"
#include "platform/model/ModelPlatform.h"
#include "worker/DeviceRecord.h"
#include "worker/KeyScoutThread.h"

namespace {

namespace fs = std::filesystem;

const char* const kFiles[] = {
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/uevent",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/descriptors",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/maxchild",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/speed",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/uevent",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/descriptors",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/speed",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/devnum",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/bConfigurationValue",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/manufacturer",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/product",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/serial",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/uevent",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/bInterfaceClass",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/interface",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/uevent",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/vendor",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/model",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda/"
    "uevent",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda/dev",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda/"
    "sda1/uevent",
    "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda/"
    "sda1/dev",
    "/proc/self/mountinfo",
};
constexpr std::size_t kFileCount = sizeof kFiles / sizeof kFiles[0];

// The folders that are devices, with the subsystem their link names.
const char* const kDevices[][2] = {
    {"/sys/devices/pci0000:00/0000:00:14.0/usb1", "bus/usb"},
    {"/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1", "bus/usb"},
    {"/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0", "bus/usb"},
    {"/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0", "bus/scsi"},
    {"/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda",
     "class/block"},
    {"/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host0/target0:0:0/0:0:0:0/block/sda/"
     "sda1",
     "class/block"},
};

char g_rootForExit[64];  // outlives every static string, for the removal at exit

// The tree's folders and links, made once; each input rewrites the files.
const std::string& Root() {
    static const std::string root = [] {
        char pattern[] = "/tmp/ks-fuzz-sysfs-XXXXXX";
        std::string r = ::mkdtemp(pattern);
        fs::create_directories(r + "/sys/bus/usb/devices");
        fs::create_directories(r + "/sys/bus/scsi");
        fs::create_directories(r + "/sys/class/block");
        fs::create_directories(r + "/proc/self");
        for (const auto& d : kDevices) {
            fs::create_directories(r + d[0]);
            fs::create_symlink(r + "/sys/" + d[1], r + d[0] + "/subsystem");
        }
        fs::create_symlink("../../../devices/pci0000:00/0000:00:14.0/usb1",
                           r + "/sys/bus/usb/devices/usb1");
        fs::create_symlink("../../../devices/pci0000:00/0000:00:14.0/usb1/1-1",
                           r + "/sys/bus/usb/devices/1-1");
        fs::create_directories(r + "/sys/bus/usb/drivers/usb-storage");
        fs::create_symlink("../../../../../../bus/usb/drivers/usb-storage",
                           r + kDevices[2][0] + "/driver");
        std::snprintf(g_rootForExit, sizeof g_rootForExit, "%s", r.c_str());
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(g_rootForExit, ec);
        });
        return r;
    }();
    return root;
}

bool IsValidUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80         ? 1
                        : (c >> 5) == 6  ? 2
                        : (c >> 4) == 14 ? 3
                        : (c >> 3) == 30 ? 4
                                         : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ks;
    std::vector<std::string> pieces(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF && pieces.size() < kFileCount)
            pieces.emplace_back();
        else
            pieces.back() += static_cast<char>(data[i]);
    }

    // The pure helpers on every piece.
    for (const std::string& piece : pieces) {
        const std::string text = PropertyText(piece);
        if (!IsValidUtf8(text) || fuzz::HasRawControl(text) ||
            text.find('\n') != std::string::npos || text.size() >= 200)
            __builtin_trap();
        const std::string serial = SerialInstancePart(piece);
        if (serial.size() > 126 || serial.find_first_of(",\\") != std::string::npos)
            __builtin_trap();
        (void)SpeedFromSysfs(piece);
        (void)ParseMountInfo(piece);
    }

    // The tree: a piece that is missing leaves its file out.
    const std::string& root = Root();
    for (std::size_t i = 0; i < kFileCount; ++i) {
        const std::string path = root + kFiles[i];
        if (i < pieces.size()) {
            std::ofstream(path, std::ios::binary | std::ios::trunc) << pieces[i];
        } else {
            std::error_code ec;
            fs::remove(path, ec);
        }
    }
    CSysfsReader reader(root);
    CModelPlatform platform(ReadLinuxMachine(reader, nullptr));
    fuzz::ScanAndCheckOutput(platform);
    return 0;
}

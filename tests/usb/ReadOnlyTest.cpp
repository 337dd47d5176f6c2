// The walk only reads: a full scan of every fixture machine sends no request but the seven
// read-only ones. A machine fixture is a "<name>.json" file of tests/data; files with a
// further dot in the name ("x.list.json") are expected outputs, not machines, and
// "malformed-*.json" fixtures exist to be refused by the loader.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/usb/UsbTestMachine.h"

namespace ks {
namespace {

std::vector<std::filesystem::path> MachineFixtures() {
    const std::filesystem::path folder =
        std::filesystem::path(test::DataPath("README.md")).parent_path();
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string stem = entry.path().stem().string();
        if (entry.path().extension() == ".json" && stem.find('.') == std::string::npos &&
            stem.rfind("malformed-", 0) != 0)
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(ReadOnly, EveryFixtureScanSendsOnlyReadRequests) {
    const auto files = MachineFixtures();
    // The folder holds the fixtures of every topic; an empty list would prove nothing.
    ASSERT_GE(files.size(), 10u);
    unsigned scanned = 0;
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        CModelPlatform platform(LoadMachineFile(file.string()));
        CPlatformScope scope(platform);
        std::vector<CUsbDeviceInfo> devices;
        CUsbDeviceLister lister(&devices);
        lister.m_fields = 0x7F;
        lister.Scan();
        for (const CIoctlCall& call : platform.IoctlCalls()) {
            EXPECT_NE(
                std::find(std::begin(kAllowedIoctls), std::end(kAllowedIoctls), call.m_dwCode),
                std::end(kAllowedIoctls))
                << "code 0x" << std::hex << call.m_dwCode << " to " << call.m_strPath;
        }
        if (!platform.IoctlCalls().empty())
            ++scanned;
    }
    // Most fixtures have controllers; those of the device-node topic have none.
    EXPECT_GE(scanned, files.size() / 2);
}

}  // namespace
}  // namespace ks

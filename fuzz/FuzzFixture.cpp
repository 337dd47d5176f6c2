// Machine fixtures: any text either loads or is refused with a CFixtureError; a machine
// that loads can be scanned to the end without crashing or hanging, and the scan sends
// only the read-only requests.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "devices/UsbDeviceScanner.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ks;
    CMachineModel model;
    try {
        model =
            LoadMachineText(std::string(reinterpret_cast<const char*>(data), size), "fuzz.json");
    } catch (const CFixtureError&) {
        return 0;
    }
    CModelPlatform platform(std::move(model));
    CPlatformScope scope(platform);
    std::vector<CUsbDeviceEntry> entries;
    CUsbDeviceScanner scanner(&entries);
    scanner.m_fields = 0x7F;
    scanner.m_nodeFieldMask = 0x7FF;
    scanner.Scan();
    for (const auto& call : platform.IoctlCalls()) {
        if (std::find(std::begin(kAllowedIoctls), std::end(kAllowedIoctls), call.m_dwCode) ==
            std::end(kAllowedIoctls))
            __builtin_trap();
    }
    return 0;
}

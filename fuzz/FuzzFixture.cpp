// Machine fixtures: any text either loads or is refused with a CFixtureError; a machine
// that loads can be scanned to the end without crashing or hanging, and the scan sends
// only the read-only requests. On the way, the document's plain reader is held against the
// JSON library's parser: the same document of the same text, or the same refusal.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "devices/UsbDeviceScanner.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureDocument.h"
#include "platform/sim/FixtureLoader.h"

namespace {

struct CParsed {
    std::unique_ptr<ks::CFixtureDocument> m_pDocument;
    std::string m_strError;
};

CParsed Parse(const std::string& text, ks::EFixtureParser parser) {
    CParsed out;
    try {
        out.m_pDocument = std::make_unique<ks::CFixtureDocument>(text, "fuzz.json", parser);
    } catch (const ks::CFixtureError& e) {
        out.m_strError = e.what();
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ks;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const CParsed plain = Parse(text, EFixtureParser::PlainFirst);
    const CParsed library = Parse(text, EFixtureParser::LibraryOnly);
    if ((plain.m_pDocument == nullptr) != (library.m_pDocument == nullptr) ||
        plain.m_strError != library.m_strError ||
        (plain.m_pDocument != nullptr &&
         !SameFixtureValue(plain.m_pDocument->Root(), library.m_pDocument->Root())))
        __builtin_trap();
    CMachineModel model;
    try {
        model = LoadMachineText(text, "fuzz.json");
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

// Texts from the configuration manager: multi-string buffers without their terminators,
// instance IDs of every shape, and case folding in both code pages.
#include <cstddef>
#include <cstdint>
#include <string>

#include "devmgr/DevNodeQueries.h"
#include "framework/CodePage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ks;
    std::size_t total = 0;
    for (const CString& s : SplitMultiString(data, size)) {
        if (s.IsEmpty())
            __builtin_trap();  // an empty string ends the list, it is never in it
        total += static_cast<std::size_t>(s.GetLength()) + 1;
    }
    if (total > size + 1)
        __builtin_trap();

    CString id(std::string(reinterpret_cast<const char*>(data), size).c_str());
    unsigned vid = 7, pid = 7;
    CString serial("keep");
    int n = ScanUsbInstanceId(id, vid, pid, serial);
    if (n < 0 || n > 3)
        __builtin_trap();
    if (n < 3 && serial != "keep")
        __builtin_trap();
    if (serial.GetLength() > id.GetLength() + 4)
        __builtin_trap();

    std::string text(reinterpret_cast<const char*>(data), size);
    for (UINT cp : {kCodePageShiftJis, kCodePageUtf8}) {
        std::string upper = text;
        MbMakeUpper(upper, cp);
        if (upper.size() != text.size())
            __builtin_trap();
        if (MbCompareNoCase(text, upper, cp) != 0)
            __builtin_trap();
    }
    std::string utf8 = AnsiToUtf8(text);
    if (Utf16ToUtf8(Utf8ToUtf16(utf8)) != utf8)
        __builtin_trap();  // valid UTF-8 round-trips
    return 0;
}

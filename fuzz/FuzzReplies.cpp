// Driver replies as a hostile or broken hub driver might send them: string-descriptor
// replies with any byte count, name replies with or without their NUL.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/PlatformTypes.h"
#include "usb/UsbReplies.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ks;
    if (size < 4)
        return 0;
    const std::uint32_t returned = ReadLe32(data);
    std::vector<unsigned char> request(kDescriptorRequestSize, 0);
    std::memcpy(request.data(), data + 4, std::min(size - 4, request.size()));
    int bLength = CheckStringDescriptorReply(request.data(), request.size(), returned);
    if (bLength >= 0) {
        if (bLength < 2 || bLength % 2 != 0 || bLength > 255)
            __builtin_trap();
        std::vector<unsigned char> descriptor(request.begin() + 12, request.begin() + 12 + bLength);
        if (StringDescriptorUnits(descriptor).size() != static_cast<std::size_t>(bLength - 2) / 2)
            __builtin_trap();
    }
    // A name reply of exactly the bytes given, read from both name offsets.
    std::vector<unsigned char> reply(data, data + size);
    for (std::size_t offset : {kHcdNameTextOffset, kPortNameTextOffset}) {
        auto name = Utf16FromReply(reply.data(), reply.size(), offset);
        if (name.size() * 2 + offset > reply.size() && !name.empty())
            __builtin_trap();
    }
    return 0;
}

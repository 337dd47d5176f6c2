#include "usb/UsbReplies.h"

#include "platform/PlatformTypes.h"

namespace ks {

std::size_t Utf16UnitsFromReply(const unsigned char* reply, std::size_t size, std::size_t offset,
                                char16_t* out) {
    std::size_t n = 0;
    for (std::size_t i = offset; i + 1 < size; i += 2) {
        const char16_t u = ReadLe16(reply + i);
        if (u == 0)
            break;
        out[n++] = u;
    }
    return n;
}

std::u16string Utf16FromReply(const unsigned char* reply, std::size_t size, std::size_t offset) {
    std::u16string text(size > offset ? (size - offset) / 2 : 0, u'\0');
    text.resize(Utf16UnitsFromReply(reply, size, offset, text.data()));
    return text;
}

int CheckStringDescriptorReply(const unsigned char* request, std::size_t requestSize,
                               std::uint32_t bytesReturned) {
    if (requestSize < kDescriptorRequestSize || bytesReturned < 2)
        return -1;
    const unsigned char* data = request + kDescriptorRequestHeaderSize;
    if (data[1] != 3)
        return -1;
    const int bLength = data[0];
    if (static_cast<std::int64_t>(bLength) != static_cast<std::int64_t>(bytesReturned) - 12)
        return -1;
    if (bLength % 2 != 0 || bLength < 2)
        return -1;
    return bLength;
}

std::u16string StringDescriptorUnits(const std::vector<unsigned char>& descriptor) {
    std::u16string units;
    for (std::size_t i = 2; i + 1 < descriptor.size(); i += 2)
        units += static_cast<char16_t>(ReadLe16(&descriptor[i]));
    return units;
}

}  // namespace ks

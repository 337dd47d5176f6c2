// Pure readers of USB driver replies: little-endian fields, names in name replies, string
// descriptors. They never read outside the bytes they are given; the fuzzers and tests
// call them directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ks {

inline std::uint16_t ReadLe16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t ReadLe32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void WriteLe16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void WriteLe32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// The UTF-16 text that starts at `offset` of a reply of `size` valid bytes: up to its
// first NUL code unit, or to the end of the valid bytes when the driver sent none.
std::u16string Utf16FromReply(const unsigned char* reply, std::size_t size, std::size_t offset);
// The same units written to `out`, which has room for (size - offset) / 2 of them; answers
// how many there are.
std::size_t Utf16UnitsFromReply(const unsigned char* reply, std::size_t size, std::size_t offset,
                                char16_t* out);

// A name reply's ActualLength is taken only within these bounds: at most this many bytes
// are ever allocated for a host-controller or hub name (real ones are a few hundred).
inline constexpr std::uint32_t kMaxNameReplySize = 4096;

// Checks a string-descriptor reply as the hub driver returns it (12-byte request header,
// then the descriptor) and answers the descriptor's bLength, or -1 when the reply is
// refused: fewer than 2 bytes, type not 3, bLength not the reported count minus 12, odd,
// or below 2.
int CheckStringDescriptorReply(const unsigned char* request, std::size_t requestSize,
                               std::uint32_t bytesReturned);

// The UTF-16 code units of a string descriptor (bLength bytes, header included).
std::u16string StringDescriptorUnits(const std::vector<unsigned char>& descriptor);

}  // namespace ks

// Resource files, string tables and DIB pictures read from untrusted bytes.
#include "framework/ResourceFile.h"

#include <algorithm>
#include <array>

#include "framework/detail/ByteReader.h"

namespace ks {

namespace {

using detail::CByteReader;
using detail::PeekLe16;
using detail::PeekLe32;

// Reads the entry whose header starts at `pos` (a multiple of 4) and moves `pos` to the next
// header. False when the entry is malformed: the walk ends there.
bool ReadEntry(std::span<const BYTE> image, std::size_t& pos, CResourceEntry& entry) {
    const std::size_t left = image.size() - pos;
    if (left < 8)
        return false;
    const DWORD dataSize = PeekLe32(image, pos);
    const DWORD headerSize = PeekLe32(image, pos + 4);
    // Both sizes are checked by subtraction, so that no sum can wrap around.
    if (headerSize > left || dataSize > left - headerSize)
        return false;

    // The type, the name and the fixed fields must all lie inside the header's own size.
    CByteReader header(image.subspan(pos, headerSize), 8);
    DWORD dataVersion = 0;
    DWORD version = 0;
    DWORD characteristics = 0;
    if (!detail::ReadNameOrOrdinal(header, entry.type) ||
        !detail::ReadNameOrOrdinal(header, entry.name) || !header.Align(4) ||
        !header.Dword(dataVersion) || !header.Word(entry.memoryFlags) ||
        !header.Word(entry.language) || !header.Dword(version) || !header.Dword(characteristics))
        return false;

    entry.data = image.subspan(pos + headerSize, dataSize);
    const std::size_t end = pos + headerSize + dataSize;
    const std::size_t next = end + ((4 - end % 4) % 4);
    // The last entry's data need not be padded.
    pos = next < image.size() ? next : image.size();
    return true;
}

// Calls `visit` for each entry after the leading empty one until it returns false or the
// walk meets the end or a malformed entry.
template <typename Visit>
void WalkEntries(std::span<const BYTE> image, Visit visit) {
    std::size_t pos = 0;
    CResourceEntry entry;
    if (!ReadEntry(image, pos, entry) || !entry.data.empty() || !entry.type.IsOrdinal(0) ||
        !entry.name.IsOrdinal(0))
        return;
    while (pos < image.size() && ReadEntry(image, pos, entry)) {
        if (!visit(entry))
            return;
    }
}

constexpr std::uint32_t kOpaque = 0xFF000000u;

std::uint32_t Rgb(BYTE red, BYTE green, BYTE blue) {
    return (static_cast<std::uint32_t>(red) << 16) | (static_cast<std::uint32_t>(green) << 8) |
           blue;
}

constexpr DWORD kBiRgb = 0;
constexpr DWORD kBiBitfields = 3;

}  // namespace

std::span<const BYTE> CResourceFile::Find(WORD type, WORD name) const {
    std::span<const BYTE> found;
    WalkEntries(m_image, [&](const CResourceEntry& entry) {
        if (entry.type.IsOrdinal(type) && entry.name.IsOrdinal(name)) {
            found = entry.data;
            return false;
        }
        return true;
    });
    return found;
}

std::vector<CResourceEntry> CResourceFile::Entries() const {
    // One entry takes at least 32 bytes, so the vector is bounded by the image.
    std::vector<CResourceEntry> entries;
    WalkEntries(m_image, [&](const CResourceEntry& entry) {
        entries.push_back(entry);
        return true;
    });
    return entries;
}

namespace detail {

namespace {
constinit CResourceFile g_programResources;
constinit bool g_bRegistered = false;
}  // namespace

void RegisterResourceImage(const BYTE* data, std::size_t size) {
    if (g_bRegistered || data == nullptr)
        return;
    g_programResources = CResourceFile(std::span<const BYTE>(data, size));
    g_bRegistered = true;
}

const CResourceFile* ProgramResources() {
    return g_bRegistered ? &g_programResources : nullptr;
}

}  // namespace detail

std::optional<std::u16string> FindString(const CResourceFile& resources, UINT id) {
    if (id > 0xFFFF)
        return std::nullopt;
    CByteReader block(resources.Find(RT_STRING, static_cast<WORD>(id / 16 + 1)));
    for (UINT index = 0; index < 16; ++index) {
        WORD length = 0;
        std::span<const BYTE> units;
        if (!block.Word(length) || !block.Bytes(std::size_t{length} * 2, units))
            return std::nullopt;
        if (index == id % 16) {
            if (length == 0)
                return std::nullopt;
            std::u16string text;
            text.reserve(length);
            for (std::size_t i = 0; i < units.size(); i += 2)
                text.push_back(static_cast<char16_t>(PeekLe16(units, i)));
            return text;
        }
    }
    return std::nullopt;
}

std::optional<CImageRgba> DecodeDib(std::span<const BYTE> dib, bool iconImage) {
    // Icon entries may hold a PNG file instead of a DIB; none of ours do.
    static constexpr BYTE kPngSignature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (dib.size() >= sizeof kPngSignature &&
        std::equal(std::begin(kPngSignature), std::end(kPngSignature), dib.begin()))
        return std::nullopt;

    constexpr std::size_t kInfoHeaderSize = 40;
    if (dib.size() < kInfoHeaderSize)
        return std::nullopt;
    const DWORD headerSize = PeekLe32(dib, 0);
    const auto width = static_cast<std::int32_t>(PeekLe32(dib, 4));
    const auto storedHeight = static_cast<std::int32_t>(PeekLe32(dib, 8));
    const WORD planes = PeekLe16(dib, 12);
    const WORD bitCount = PeekLe16(dib, 14);
    const DWORD compression = PeekLe32(dib, 16);
    const DWORD colorsUsed = PeekLe32(dib, 32);
    if (headerSize < kInfoHeaderSize || headerSize > dib.size() || planes != 1)
        return std::nullopt;
    if (width <= 0 || width > kMaxDibSide)
        return std::nullopt;

    // Rows: an icon stores the colour rows and the mask rows in one doubled height and is
    // always bottom-up; a bitmap is top-down when its height is negative. Bounding before
    // negating also keeps INT32_MIN away from the negation.
    bool topDown = false;
    std::int32_t height = 0;
    if (iconImage) {
        if (storedHeight <= 0 || storedHeight % 2 != 0 || storedHeight / 2 > kMaxDibSide)
            return std::nullopt;
        height = storedHeight / 2;
    } else {
        if (storedHeight == 0 || storedHeight > kMaxDibSide || storedHeight < -kMaxDibSide)
            return std::nullopt;
        topDown = storedHeight < 0;
        height = topDown ? -storedHeight : storedHeight;
    }

    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 24 && bitCount != 32)
        return std::nullopt;
    std::size_t maskBytes = 0;  // the colour masks that follow a 40-byte header
    bool bitmapAlpha = false;
    if (compression == kBiBitfields) {
        if (bitCount != 32)
            return std::nullopt;
        // In a V2 header or longer the masks are part of the header; after a plain
        // BITMAPINFOHEADER they follow it.
        const std::size_t masksAt = headerSize >= 52 ? 40 : headerSize;
        if (headerSize < 52) {
            maskBytes = 12;
            if (dib.size() - headerSize < maskBytes)
                return std::nullopt;
        }
        if (PeekLe32(dib, masksAt) != 0x00FF0000u || PeekLe32(dib, masksAt + 4) != 0x0000FF00u ||
            PeekLe32(dib, masksAt + 8) != 0x000000FFu)
            return std::nullopt;
        const DWORD alphaMask = headerSize >= 56 ? PeekLe32(dib, 52) : 0;
        if (alphaMask != 0 && alphaMask != 0xFF000000u)
            return std::nullopt;
        bitmapAlpha = alphaMask != 0;
    } else if (compression != kBiRgb) {
        return std::nullopt;
    }

    // The palette: biClrUsed colours, or all 2^n when it is 0. True-colour pictures may
    // carry an optional palette too, which is skipped.
    std::uint64_t paletteColors = colorsUsed;
    if (bitCount <= 8) {
        const std::uint64_t full = std::uint64_t{1} << bitCount;
        if (paletteColors == 0)
            paletteColors = full;
        if (paletteColors > full)
            return std::nullopt;
    }
    const std::uint64_t paletteAt = std::uint64_t{headerSize} + maskBytes;
    const std::uint64_t pixelsAt = paletteAt + paletteColors * 4;
    const std::uint64_t stride =
        (std::uint64_t{static_cast<std::uint32_t>(width)} * bitCount + 31) / 32 * 4;
    const std::uint64_t maskStride =
        (std::uint64_t{static_cast<std::uint32_t>(width)} + 31) / 32 * 4;
    const std::uint64_t colorBytes = stride * static_cast<std::uint32_t>(height);
    const std::uint64_t andBytes = iconImage ? maskStride * static_cast<std::uint32_t>(height) : 0;
    if (pixelsAt + colorBytes + andBytes > dib.size())
        return std::nullopt;

    std::array<std::uint32_t, 256> palette{};
    if (bitCount <= 8) {
        for (std::size_t i = 0; i < paletteColors; ++i) {
            const std::size_t at = static_cast<std::size_t>(paletteAt) + i * 4;
            palette[i] = kOpaque | Rgb(dib[at + 2], dib[at + 1], dib[at]);
        }
    }

    CImageRgba image;
    image.width = width;
    image.height = height;
    image.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    bool anyAlpha = false;
    for (std::int32_t row = 0; row < height; ++row) {
        const std::size_t rowAt = static_cast<std::size_t>(pixelsAt + stride * row);
        const std::int32_t y = topDown ? row : height - 1 - row;
        std::uint32_t* out = image.pixels.data() + static_cast<std::size_t>(y) * width;
        for (std::int32_t x = 0; x < width; ++x) {
            std::uint32_t pixel = 0;
            if (bitCount <= 8) {
                const std::size_t bit = static_cast<std::size_t>(x) * bitCount;
                const BYTE byte = dib[rowAt + bit / 8];
                const unsigned shift = 8 - bitCount - static_cast<unsigned>(bit % 8);
                const unsigned index = (byte >> shift) & ((1u << bitCount) - 1);
                pixel = index < paletteColors ? palette[index] : kOpaque;
            } else if (bitCount == 24) {
                const std::size_t at = rowAt + static_cast<std::size_t>(x) * 3;
                pixel = kOpaque | Rgb(dib[at + 2], dib[at + 1], dib[at]);
            } else {
                const std::size_t at = rowAt + static_cast<std::size_t>(x) * 4;
                const BYTE alpha = dib[at + 3];
                anyAlpha = anyAlpha || alpha != 0;
                const bool alphaCounts = iconImage || bitmapAlpha;
                pixel = (alphaCounts ? static_cast<std::uint32_t>(alpha) << 24 : kOpaque) |
                        Rgb(dib[at + 2], dib[at + 1], dib[at]);
            }
            out[x] = pixel;
        }
    }

    const bool useMask = iconImage && (bitCount != 32 || !anyAlpha);
    if (useMask) {
        const std::uint64_t maskAt = pixelsAt + colorBytes;
        for (std::int32_t row = 0; row < height; ++row) {
            const std::size_t rowAt = static_cast<std::size_t>(maskAt + maskStride * row);
            std::uint32_t* out = image.pixels.data() + static_cast<std::size_t>(height - 1 - row) *
                                                           static_cast<std::size_t>(width);
            for (std::int32_t x = 0; x < width; ++x) {
                const bool transparent = (dib[rowAt + x / 8] >> (7 - x % 8)) & 1;
                out[x] = transparent ? 0 : (out[x] | kOpaque);
            }
        }
    } else if (iconImage || bitmapAlpha) {
        for (std::uint32_t& pixel : image.pixels) {
            if ((pixel >> 24) == 0)
                pixel = 0;
        }
    }
    return image;
}

std::vector<CImageRgba> LoadIconImages(const CResourceFile& resources, WORD groupId) {
    std::vector<CImageRgba> images;
    const std::span<const BYTE> group = resources.Find(RT_GROUP_ICON, groupId);
    CByteReader reader(group);
    WORD reserved = 0;
    WORD type = 0;
    WORD count = 0;
    // Type 1 is an icon group (2 would be a cursor group).
    if (!reader.Word(reserved) || !reader.Word(type) || !reader.Word(count) || reserved != 0 ||
        type != 1)
        return images;
    // GRPICONDIRENTRY: width, height, colours, reserved (bytes), planes, bit count (words),
    // bytes in resource (dword), nID (word): 14 bytes. A count beyond the bytes stops at the
    // last whole entry.
    constexpr std::size_t kEntrySize = 14;
    for (WORD i = 0; i < count && reader.Left() >= kEntrySize; ++i) {
        WORD id = 0;
        if (!reader.Skip(12) || !reader.Word(id))
            break;
        if (auto image = DecodeDib(resources.Find(RT_ICON, id), true))
            images.push_back(std::move(*image));
    }
    return images;
}

}  // namespace ks

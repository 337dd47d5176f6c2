// The program's compiled resources where the platform does not load them itself: a view over
// a 32-bit resource file (.res, as the resource compiler writes it), the string table, and
// the pictures of icon and bitmap resources decoded to plain pixels. On Windows the system
// loads the resources from the module; elsewhere the build turns KeyScout.res into bytes
// that are registered at static initialisation (ks_resources) and read through
// ProgramResources(). The dialog templates are read by DialogTemplate.h.
//
// Everything here is a pure function over bytes that it does not own: the bytes must outlive
// the views and spans taken from them. Input is treated as untrusted: a malformed entry ends
// the walk or fails the decode, nothing is read past the buffer, and no allocation is sized
// by a field that has not been bounded first. Any thread may call these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/WinTypes.h"

namespace ks {

// Resource types by ordinal.
inline constexpr WORD RT_BITMAP = 2;
inline constexpr WORD RT_ICON = 3;
inline constexpr WORD RT_DIALOG = 5;
inline constexpr WORD RT_STRING = 6;
inline constexpr WORD RT_GROUP_ICON = 14;
inline constexpr WORD RT_VERSION = 16;
inline constexpr WORD RT_MANIFEST = 24;

// A resource's type or name, a dialog's menu, class or caption, a control's class or title:
// nothing (a single 0x0000 in the bytes; for a resource type or name this is the empty
// string), an ordinal (0xFFFF followed by the WORD) or a NUL-terminated UTF-16 string.
struct CNameOrOrdinal {
    enum class Kind { None, Ordinal, Name };
    Kind kind = Kind::None;
    WORD ordinal = 0;
    std::u16string name;

    static CNameOrOrdinal MakeOrdinal(WORD value) { return {Kind::Ordinal, value, {}}; }
    static CNameOrOrdinal MakeName(std::u16string text) { return {Kind::Name, 0, std::move(text)}; }
    bool IsNone() const { return kind == Kind::None; }
    bool IsOrdinal(WORD value) const { return kind == Kind::Ordinal && ordinal == value; }
    bool IsName(std::u16string_view text) const { return kind == Kind::Name && name == text; }
    friend bool operator==(const CNameOrOrdinal&, const CNameOrOrdinal&) = default;
};

// One entry of a resource file.
struct CResourceEntry {
    CNameOrOrdinal type;
    CNameOrOrdinal name;
    WORD language = 0;
    WORD memoryFlags = 0;
    std::span<const BYTE> data;
};

// A view over the bytes of a 32-bit resource file: a sequence of entries, each a header
// (data size, header size, type, name, DWORD-aligned, then version, flags, language and
// characteristics) followed by its data, every header starting on a DWORD boundary. The
// first entry is the empty one that marks the 32-bit format; bytes that do not begin with it
// (a 16-bit resource file, anything else) hold no entries. A malformed entry ends the walk:
// the entries before it stay readable.
class CResourceFile {
  public:
    constexpr CResourceFile() = default;
    constexpr explicit CResourceFile(std::span<const BYTE> image) : m_image(image) {}

    // The data of the first resource with that type and name (any language), or an empty
    // span when there is none.
    std::span<const BYTE> Find(WORD type, WORD name) const;

    // Every well-formed entry in file order, without the leading empty one.
    std::vector<CResourceEntry> Entries() const;

    std::span<const BYTE> Image() const { return m_image; }

  private:
    std::span<const BYTE> m_image;
};

namespace detail {
// Called once, during static initialisation, by the generated file of ks_resources, with
// bytes that live as long as the program. One image per program: a later call is ignored.
void RegisterResourceImage(const BYTE* data, std::size_t size);
// The registered resources, or nullptr when nothing was registered (a program that does not
// link ks_resources; Windows programs, whose resources the system loads). Registration
// happens before main, so this may be called from main on, from any thread, but not from
// another translation unit's static constructors.
const CResourceFile* ProgramResources();
}  // namespace detail

// String `id` of the string table: the string tables store 16 counted UTF-16 strings per
// RT_STRING resource, named id / 16 + 1. nullopt when the block is missing or malformed, or
// the string is empty (the resource compiler writes an empty string for each id of a block
// that the script does not define, so an empty string is no string, as for LoadString).
std::optional<std::u16string> FindString(const CResourceFile& resources, UINT id);

// A decoded picture: 0xAARRGGBB with straight (not premultiplied) alpha, top row first,
// width * height pixels. A fully transparent pixel is 0x00000000.
struct CImageRgba {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

// Neither side of a decoded picture may exceed this many pixels (real icons and bitmaps are
// a few hundred at most); it bounds the pixel buffer to 64 MiB whatever the header says.
inline constexpr int kMaxDibSide = 4096;

// A packed DIB as RT_BITMAP and RT_ICON store it: a BITMAPINFOHEADER (or a longer V2 to V5
// header), the colour masks and palette, then the rows, each padded to a DWORD. Taken:
// 1, 4 and 8 bits per pixel with a palette of biClrUsed colours (all 2^n when 0); 24 and 32
// bits per pixel, BI_RGB, and 32 bits per pixel BI_BITFIELDS with the masks 0x00FF0000,
// 0x0000FF00, 0x000000FF (and an alpha mask of 0xFF000000 or 0); bottom-up or top-down.
// Anything else (RLE, 16 bits per pixel, other masks, PNG-compressed icon images, a size
// that does not fit the bytes or exceeds kMaxDibSide) gives nullopt. A palette index past
// the palette's colours is black.
//
// Alpha: a bitmap is opaque unless it is BI_BITFIELDS with an alpha mask of 0xFF000000 in
// its header; the fourth byte of a BI_RGB pixel is reserved (and bitmap 130's is 0xFF
// anyway). An icon image (`iconImage`) has twice its height in biHeight, is bottom-up, and
// its 1-bit AND mask follows the colour rows: a set bit is transparent (the screen-inverting
// combination of a set bit and a non-black colour is taken as transparent too). A 32-bit
// icon uses its alpha channel instead of the mask, unless every alpha byte is 0, as the
// system does with icons made before alpha existed.
std::optional<CImageRgba> DecodeDib(std::span<const BYTE> dib, bool iconImage);

// The images of group icon `groupId` (RT_GROUP_ICON: a GRPICONDIR and its entries, each
// naming an RT_ICON by nID), decoded, in the group's order. Entries that are missing or do
// not decode are skipped; a group that is not an icon group gives none.
std::vector<CImageRgba> LoadIconImages(const CResourceFile& resources, WORD groupId);

}  // namespace ks

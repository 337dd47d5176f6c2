// Resource files, dialog templates and DIBs as a damaged or hostile .res might hold them:
// the bytes are read as a whole resource file, and every entry and the bytes themselves as
// a template and as a bitmap and icon image.
#include <cstddef>
#include <cstdint>
#include <span>

#include "framework/DialogTemplate.h"
#include "framework/ResourceFile.h"

namespace {

void CheckImage(const std::optional<ks::CImageRgba>& image, std::size_t inputSize) {
    if (!image)
        return;
    if (image->width <= 0 || image->height <= 0 || image->width > ks::kMaxDibSide ||
        image->height > ks::kMaxDibSide)
        __builtin_trap();
    if (image->pixels.size() != static_cast<std::size_t>(image->width) * image->height)
        __builtin_trap();
    // Even at 1 bit per pixel every row takes bytes of the input.
    if (static_cast<std::size_t>(image->height) * 4 > inputSize)
        __builtin_trap();
}

void CheckTemplate(std::span<const ks::BYTE> bytes) {
    const auto dialog = ks::ParseDialogTemplate(bytes);
    if (dialog && dialog->items.size() * 24 > bytes.size())
        __builtin_trap();
}

void CheckAll(std::span<const ks::BYTE> bytes) {
    CheckTemplate(bytes);
    CheckImage(ks::DecodeDib(bytes, false), bytes.size());
    CheckImage(ks::DecodeDib(bytes, true), bytes.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ks;
    const std::span<const BYTE> input(data, size);
    CheckAll(input);

    const CResourceFile file(input);
    for (const CResourceEntry& entry : file.Entries()) {
        if (entry.data.data() < data || entry.data.data() + entry.data.size() > data + size)
            __builtin_trap();
        CheckAll(entry.data);
        if (entry.type.kind == CNameOrOrdinal::Kind::Ordinal &&
            entry.name.kind == CNameOrOrdinal::Kind::Ordinal) {
            // Find answers the first entry of that type and name, which is this one or an
            // earlier one.
            const auto found = file.Find(entry.type.ordinal, entry.name.ordinal);
            if (found.data() > entry.data.data() || found.size() > size)
                __builtin_trap();
            if (entry.type.ordinal == RT_GROUP_ICON) {
                for (const CImageRgba& image : LoadIconImages(file, entry.name.ordinal))
                    CheckImage(image, size);
            }
            if (entry.type.ordinal == RT_STRING && entry.name.ordinal > 0) {
                const UINT first = (entry.name.ordinal - 1u) * 16u;
                for (UINT id = first; id < first + 16; ++id) {
                    const auto text = FindString(file, id);
                    if (text && (text->empty() || text->size() * 2 > size))
                        __builtin_trap();
                }
            }
        }
    }
    return 0;
}

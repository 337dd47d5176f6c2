// Dialog templates read from untrusted bytes.
#include "framework/DialogTemplate.h"

#include <algorithm>

#include "framework/WinUser.h"
#include "framework/detail/ByteReader.h"

namespace ks {

namespace {

using detail::CByteReader;

constexpr WORD kExtendedVersion = 1;
constexpr WORD kExtendedSignature = 0xFFFF;
// The smallest item: the classic fixed part (18 bytes), an empty class, an empty title and
// a zero creation-data size.
constexpr std::size_t kMinItemSize = 24;

char16_t AsciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

// The predefined control classes, by the ordinals the dialog manager knows them by.
void NamePredefinedClass(CNameOrOrdinal& windowClass) {
    static constexpr const char16_t* kNames[] = {u"Button",  u"Edit",      u"Static",
                                                 u"ListBox", u"ScrollBar", u"ComboBox"};
    if (windowClass.kind == CNameOrOrdinal::Kind::Ordinal && windowClass.ordinal >= 0x80 &&
        windowClass.ordinal <= 0x85)
        windowClass = CNameOrOrdinal::MakeName(kNames[windowClass.ordinal - 0x80]);
}

bool ReadItem(CByteReader& reader, bool extended, CDialogItemTemplate& item) {
    // Every item starts on a DWORD boundary of the template.
    if (!reader.Align(4))
        return false;
    if (extended) {
        if (!reader.Dword(item.helpId) || !reader.Dword(item.exStyle) || !reader.Dword(item.style))
            return false;
    } else {
        if (!reader.Dword(item.style) || !reader.Dword(item.exStyle))
            return false;
    }
    if (!reader.Short(item.x) || !reader.Short(item.y) || !reader.Short(item.cx) ||
        !reader.Short(item.cy))
        return false;
    if (extended) {
        if (!reader.Dword(item.id))
            return false;
    } else {
        WORD id = 0;
        if (!reader.Word(id))
            return false;
        item.id = id;
    }
    if (!detail::ReadNameOrOrdinal(reader, item.windowClass) ||
        !detail::ReadNameOrOrdinal(reader, item.title))
        return false;
    NamePredefinedClass(item.windowClass);
    // The size word counts the bytes that follow it, in both layouts: that is what the
    // resource compilers write and what the dialog manager skips.
    WORD extra = 0;
    std::span<const BYTE> data;
    if (!reader.Word(extra) || !reader.Bytes(extra, data))
        return false;
    item.creationData.assign(data.begin(), data.end());
    return true;
}

}  // namespace

bool CDialogItemTemplate::IsClass(std::u16string_view className) const {
    if (windowClass.kind != CNameOrOrdinal::Kind::Name ||
        windowClass.name.size() != className.size())
        return false;
    for (std::size_t i = 0; i < className.size(); ++i) {
        if (AsciiLower(windowClass.name[i]) != AsciiLower(className[i]))
            return false;
    }
    return true;
}

std::optional<CDialogTemplate> ParseDialogTemplate(std::span<const BYTE> bytes) {
    CByteReader reader(bytes);
    CDialogTemplate dialog;
    WORD version = 0;
    WORD signature = 0;
    {
        CByteReader probe = reader;
        if (!probe.Word(version) || !probe.Word(signature))
            return std::nullopt;
    }
    WORD count = 0;
    if (signature == kExtendedSignature) {
        if (version != kExtendedVersion)
            return std::nullopt;
        dialog.extended = true;
        if (!reader.Skip(4) || !reader.Dword(dialog.helpId) || !reader.Dword(dialog.exStyle) ||
            !reader.Dword(dialog.style))
            return std::nullopt;
    } else if (!reader.Dword(dialog.style) || !reader.Dword(dialog.exStyle)) {
        return std::nullopt;
    }
    if (!reader.Word(count) || !reader.Short(dialog.x) || !reader.Short(dialog.y) ||
        !reader.Short(dialog.cx) || !reader.Short(dialog.cy))
        return std::nullopt;
    if (!detail::ReadNameOrOrdinal(reader, dialog.menu) ||
        !detail::ReadNameOrOrdinal(reader, dialog.windowClass) ||
        !detail::ReadNameOrOrdinal(reader, dialog.caption))
        return std::nullopt;

    if (dialog.style & DS_SETFONT) {
        CDialogFont font;
        if (!reader.Word(font.pointSize))
            return std::nullopt;
        if (dialog.extended) {
            BYTE italic = 0;
            if (!reader.Word(font.weight) || !reader.Byte(italic) || !reader.Byte(font.charset))
                return std::nullopt;
            font.italic = italic != 0;
        }
        if (!reader.String(font.typeface))
            return std::nullopt;
        dialog.font = std::move(font);
    }

    // The count is a WORD; the bytes bound it further before anything is reserved.
    dialog.items.reserve(std::min<std::size_t>(count, reader.Left() / kMinItemSize));
    for (WORD i = 0; i < count; ++i) {
        CDialogItemTemplate item;
        if (!ReadItem(reader, dialog.extended, item))
            return std::nullopt;
        dialog.items.push_back(std::move(item));
    }
    return dialog;
}

}  // namespace ks

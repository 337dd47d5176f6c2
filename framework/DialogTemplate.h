// Dialog templates (RT_DIALOG) read into plain values, so that a toolkit which is not the
// Windows dialog manager can lay out the same dialogs from the same compiled resources:
// ids, dialog-unit rectangles, styles, texts and font. Both layouts are read: the extended
// DLGTEMPLATEEX (what the resource compiler writes for DIALOGEX, and for DIALOG too when it
// needs the extended fields) and the classic DLGTEMPLATE.
//
// Texts stay UTF-16 as stored; the caller converts them. A pure function over bytes; any
// thread may call it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/ResourceFile.h"
#include "framework/WinTypes.h"

namespace ks {

// The font of a dialog with DS_SETFONT: the classic layout carries only the point size and
// the typeface, so there weight, italic and charset stay 0 (FW_DONTCARE, upright,
// ANSI_CHARSET).
struct CDialogFont {
    WORD pointSize = 0;
    WORD weight = 0;
    bool italic = false;
    BYTE charset = 0;
    std::u16string typeface;
    friend bool operator==(const CDialogFont&, const CDialogFont&) = default;
};

struct CDialogItemTemplate {
    DWORD helpId = 0;  // always 0 in the classic layout
    DWORD exStyle = 0;
    DWORD style = 0;
    std::int16_t x = 0;
    std::int16_t y = 0;
    std::int16_t cx = 0;
    std::int16_t cy = 0;
    // 32 bits in the extended layout (IDC_STATIC is 0xFFFFFFFF); the classic layout's 16-bit
    // id is zero-extended (IDC_STATIC is 0xFFFF there).
    DWORD id = 0;
    // The window class. The predefined ordinals 0x0080 to 0x0085 become the names "Button",
    // "Edit", "Static", "ListBox", "ScrollBar" and "ComboBox"; another ordinal stays one.
    // A name is kept as written, and the resource compiler upper-cases the names it writes
    // ("STATIC", "SYSLISTVIEW32"): compare them with IsClass, which ignores case as window
    // classes do.
    CNameOrOrdinal windowClass;
    // The initial text, or an ordinal naming a resource (the icon of a static SS_ICON
    // control, the bitmap of an SS_BITMAP one).
    CNameOrOrdinal title;
    // The bytes after the creation-data size word (the size word itself not included).
    std::vector<BYTE> creationData;

    // Whether the class is the named one, ignoring ASCII case.
    bool IsClass(std::u16string_view className) const;
};

struct CDialogTemplate {
    bool extended = false;  // DLGTEMPLATEEX
    DWORD helpId = 0;       // always 0 in the classic layout
    DWORD exStyle = 0;
    DWORD style = 0;
    std::int16_t x = 0;
    std::int16_t y = 0;
    std::int16_t cx = 0;
    std::int16_t cy = 0;
    CNameOrOrdinal menu;
    CNameOrOrdinal windowClass;  // None: the system's dialog class
    CNameOrOrdinal caption;
    std::optional<CDialogFont> font;  // present exactly when the style has DS_SETFONT
    std::vector<CDialogItemTemplate> items;
};

// Reads a dialog template. nullopt when anything is malformed: a field or string past the
// end, a string without its NUL, fewer items than the count says, an extended signature
// with a version other than 1. Nothing is read past the bytes, and the item vector never
// grows beyond what the bytes can hold (a WORD count, each item at least 24 bytes).
std::optional<CDialogTemplate> ParseDialogTemplate(std::span<const BYTE> bytes);

}  // namespace ks

// Texts from devices and drivers as the window shows them: each on one line, nothing in them
// acting on the display (a line break, an escape sequence, a direction override becomes a
// visible escape such as "\x0A"), everything printable byte for byte as the device gave it,
// so that a serial number shown for registration is the device's own. Any thread.
#pragma once

#include "framework/CString.h"
#include "framework/CodePage.h"

namespace ks {

inline CString DisplayText(const CString& text) {
    return CString(EscapeControlCharacters(text.View(), GetAnsiCodePage(), EEscape::Visible));
}

}  // namespace ks

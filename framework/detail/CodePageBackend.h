// Host-specific pieces of the code-page support, implemented by each backend.
#pragma once

#include <string>
#include <string_view>

#include "framework/WinTypes.h"

namespace ks::detail {

// Lead-byte test for a double-byte code page other than 932 (Windows only; none elsewhere).
bool IsDbcsLeadByte(UINT codePage, unsigned char byte);

// UTF-8 with every malformed byte replaced by U+FFFD (portable, in CodePage.cpp).
std::string ValidUtf8(std::string_view text);

}  // namespace ks::detail

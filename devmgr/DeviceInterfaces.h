// Reading one device interface's path from a Setup API interface set: the size query, then
// the detail call into a zeroed buffer of the required size. Scan worker thread.
#pragma once

#include <vector>

#include "framework/CString.h"
#include "platform/PlatformTypes.h"

namespace ks {

// The detail of interface `data`: answers the detail call's result (0 when the size query
// gives no usable size: 0, too small for a path, or beyond any real path's 64 KiB), with
// the DevicePath in `path` and, when `deviceInfo` is given, the device record. `buffer` is
// reused from interface to interface; it is zeroed and sized to at least the required size.
BOOL GetInterfaceDevicePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data,
                            std::vector<unsigned char>& buffer, SP_DEVINFO_DATA* deviceInfo,
                            CString& path);

}  // namespace ks

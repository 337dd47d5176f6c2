// Reading one device interface's path from a Setup API interface set: the size query, then
// the detail call into a zeroed buffer of the required size. Scan worker thread.
#pragma once

#include <functional>
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

// Walks the present interfaces of a class, in the set's order: opens the set (nothing when
// it cannot be opened), reads each interface's detail and calls `visit` with the detail
// call's result, the path and the device record (filled only when `withDeviceInfo`), then
// closes the set. Interfaces whose detail size is unusable are passed over unvisited.
void ForEachDeviceInterface(const GUID& interfaceClass, bool withDeviceInfo,
                            const std::function<void(BOOL detailResult, CString& path,
                                                     const SP_DEVINFO_DATA& deviceInfo)>& visit);

}  // namespace ks

// Queries of the configuration manager's device tree: stateless free functions, run on the
// scan worker thread. A node of 0 makes each of them fail at once. Outputs keep their
// earlier values on failure, except the multi-string list, which is always emptied first.
#pragma once

#include <string_view>
#include <vector>

#include "framework/CString.h"
#include "platform/PlatformTypes.h"

namespace ks {

// Single-string property into a 200-byte buffer: 1 and the value, or 0 (a value that needs
// more than 200 bytes is not read at all).
int GetDevNodeStringProperty(const DEVINST& devInst, const ULONG& property, CString& value);
// Multi-string property: 1 and the strings in order (a node without the property gives an
// empty list), or 0 and an empty list.
int GetDevNodeMultiStringProperty(const DEVINST& devInst, const ULONG& property,
                                  std::vector<CString>& values);
// The node's device instance ID: 1 and the ID, or 0.
int GetDevNodeDeviceId(const DEVINST& devInst, CString& deviceId);
// The first node, in depth-first pre-order from the root, whose driver key equals
// driverKey without regard to case; 0 when none does, when driverKey is empty (it names no
// driver) or the tree cannot be read. Each call walks from the root and keeps nothing.
DEVINST FindDevNodeByDriverKey(const CString& driverKey);
// Vendor ID, Product ID and serial part of a "USB\VID_xxxx&PID_xxxx\serial" instance ID,
// and the node's location text. 0 only when the node is 0.
int GetUsbIdentityFromDevNode(const DEVINST& devInst, WORD& vendorId, WORD& productId,
                              CString& serial, CString& location);

// --- Pure parts, over bytes ------------------------------------------------------------

// The strings of a multi-string buffer: each NUL-terminated, the list ended by an empty one
// or by the end of the buffer (a last string without its NUL ends there too).
std::vector<CString> SplitMultiString(const unsigned char* buffer, std::size_t size);
// Scans an instance ID with the format "USB\VID_%x&PID_%x\%s" and answers how many of its
// three fields converted (0 to 3). vendorId, productId and serial are written only for the
// fields that converted.
int ScanUsbInstanceId(const CString& instanceId, unsigned& vendorId, unsigned& productId,
                      CString& serial);

// The largest multi-string property the program reads (filter lists are a few dozen bytes).
inline constexpr ULONG kMaxMultiStringSize = 64 * 1024;
// The driver-key search stops after this many nodes: a device tree is far smaller.
inline constexpr std::size_t kMaxDevNodesVisited = 1u << 20;
// ... and goes no deeper than this many levels below the root (a device tree has a few dozen).
inline constexpr std::size_t kMaxDevNodeDepth = 256;

}  // namespace ks

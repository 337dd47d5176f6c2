// What keyscout-list prints for a scan: the text form (one block per record, as the window
// shows it) and the JSON form (one document per scan, described by
// docs/keyscout-list.schema.json). Texts from devices and drivers are made safe to print:
// control characters and malformed bytes are escaped, JSON is always valid. Every text list
// and every document ends with a newline. Any thread; nothing is shared.
#pragma once

#include <string>
#include <vector>

#include "devices/UsbDeviceEntry.h"
#include "worker/DeviceRecord.h"

namespace ks {

// The version of the JSON document's schema, written into every document. It goes up
// only when a field changes its meaning or goes away; fields that readers may ignore are
// added without it.
inline constexpr int kListSchemaVersion = 1;

// The text in the ANSI code page, with control characters, backslashes and bytes that do
// not form a character of the code page written as \\, \xNN.
std::string EscapeForTerminal(const CString& text, UINT codePage);

std::string FormatRecordsText(const CDeviceRecordList& records, UINT codePage);

// The document for the scanner's entries, one device each, in scan order:
//   {"schemaVersion":1,"devices":[{"vendorId":N,"productId":N,"vendorIdText":"0x046D",
//    "productIdText":"0xC31C","serial":"...","volumes":["E:"],
//    "details":{"text":"...","instanceId":"...","friendlyName":"...","description":"...",
//               "service":"...","children":[...]}}]}
// "vendorId", "productId", "serial" and each node's "text" and "children" are those of the
// record that the worker builds from the entry (what the window shows); a node's other
// fields are there when the node has them. Every text is converted from the ANSI code page
// to UTF-8.
std::string FormatEntriesJson(const std::vector<CUsbDeviceEntry>& entries);

// Where a device's volumes are, in the order of its device-node tree: the drive letters
// of its nodes ("E:"), and the mount points that the Linux backend writes into the names
// of block devices ("sdb1 on /media/stick, /mnt/b"). A mount point in a name that may have
// been cut to the bound of device-manager texts is left out rather than given cut.
std::vector<CString> DeviceVolumes(const CUsbDeviceEntry& entry);

}  // namespace ks

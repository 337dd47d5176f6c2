// What keyscout-list prints for a result list: the text form (one block per record, as the
// window shows it) and the JSON form. Texts from devices and drivers are made safe to
// print: control characters and malformed bytes are escaped, JSON is always valid.
#pragma once

#include <string>

#include "worker/DeviceRecord.h"

namespace ks {

// The text in the ANSI code page, with control characters, backslashes and bytes that do
// not form a character of the code page written as \\, \xNN.
std::string EscapeForTerminal(const CString& text, UINT codePage);

std::string FormatRecordsText(const CDeviceRecordList& records, UINT codePage);
// {"devices":[{"vendorId":N,"productId":N,"serial":"...","details":{"text":"...","children":[...]}}]}
// with every text converted from the ANSI code page to UTF-8.
std::string FormatRecordsJson(const CDeviceRecordList& records);

}  // namespace ks

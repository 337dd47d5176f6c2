// What the whole-machine fuzzers ask of every machine, however it came about: a scan pass
// as the worker makes it, whose text output holds no raw control character (a newline ends
// each line, nothing else below 0x20 and no DEL) and whose JSON output parses. A broken
// promise traps, so that libFuzzer keeps the input.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "devices/UsbDeviceScanner.h"
#include "framework/CodePage.h"
#include "listing/ListOutput.h"
#include "platform/model/ModelPlatform.h"
#include "worker/DeviceRecord.h"
#include "worker/KeyScoutThread.h"

namespace ks::fuzz {

inline bool HasRawControl(const std::string& text) {
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\n') || c == 0x7F)
            return true;
    return false;
}

inline void ScanAndCheckOutput(CModelPlatform& platform) {
    CDeviceRecordList records;
    std::vector<CUsbDeviceEntry> entries;
    {
        CPlatformScope scope(platform);
        CUsbDeviceScanner scanner(&entries);
        scanner.m_fields = kScannerFields;
        scanner.m_nodeFieldMask = kScannerNodeFields;
        scanner.Scan();
        for (const CUsbDeviceEntry& entry : entries)
            records.Add(BuildDeviceRecord(entry));
    }
    if (HasRawControl(FormatRecordsText(records, GetAnsiCodePage())))
        __builtin_trap();
    if (!nlohmann::json::accept(FormatEntriesJson(entries)))
        __builtin_trap();
}

}  // namespace ks::fuzz

// Shared by the capture tests: one scan through the worker pipeline over a simulated
// machine, optionally recorded, with what it printed and what it asked of the machine.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "framework/CodePage.h"
#include "listing/ListOutput.h"
#include "listing/ListScan.h"
#include "platform/Platform.h"
#include "platform/capture/MachineRecorder.h"
#include "platform/model/ModelPlatform.h"
#include "tests/support/SpyPlatform.h"

namespace ks::test {

// What a scan asked of a simulated machine and what it got: the count of every operation
// and every driver request with its target, sizes and result.
inline std::string CallLog(const CModelPlatform& platform) {
    static const char* const kOperations[] = {"CreateFileA",
                                              "DeviceIoControl",
                                              "CloseHandle",
                                              "SetupDiGetClassDevsA",
                                              "SetupDiEnumDeviceInterfaces",
                                              "SetupDiGetDeviceInterfaceDetailA",
                                              "SetupDiDestroyDeviceInfoList",
                                              "CM_Locate_DevNodeA",
                                              "CM_Get_Child",
                                              "CM_Get_Sibling",
                                              "CM_Get_Parent",
                                              "CM_Get_Device_IDA",
                                              "CM_Get_Device_ID_List_SizeA",
                                              "CM_Get_Device_ID_ListA",
                                              "CM_Get_DevNode_Status",
                                              "CM_Get_DevNode_Registry_PropertyA",
                                              "GetVolumeNameForVolumeMountPointA"};
    std::string out;
    for (const char* op : kOperations)
        out += std::string(op) + " " + std::to_string(platform.CallCount(op)) + "\n";
    for (const CIoctlCall& c : platform.IoctlCalls()) {
        char line[96];
        std::snprintf(line, sizeof line, " 0x%06X in=%u out=%u -> %d\n", c.m_dwCode,
                      static_cast<unsigned>(c.m_dwInSize), static_cast<unsigned>(c.m_dwOutSize),
                      c.m_bResult);
        out += c.m_strPath + line;
    }
    return out;
}

struct CScanResult {
    std::string m_strText;
    std::string m_strJson;
    std::string m_strCalls;
    std::string m_strAnswers;  // every call and everything the machine answered to it
};

inline CScanResult Outputs(const CDeviceRecordList& records,
                           const std::vector<CUsbDeviceEntry>& entries,
                           const CModelPlatform& platform, const CSpyPlatform& spy) {
    return {FormatRecordsText(records, GetAnsiCodePage()), FormatEntriesJson(entries),
            CallLog(platform), spy.Log()};
}

// One scan through the worker pipeline, recorded when `fixture` is given.
inline CScanResult Scan(CModelPlatform& platform, std::string* fixture = nullptr) {
    CDeviceRecordList records;
    std::vector<CUsbDeviceEntry> entries;
    CSpyPlatform spy(platform);
    if (fixture == nullptr) {
        CPlatformScope scope(spy);
        EXPECT_TRUE(RunOneScan(records, &entries));
        return Outputs(records, entries, platform, spy);
    }
    CMachineRecorder recorder(spy);
    {
        CPlatformScope scope(recorder);
        EXPECT_TRUE(RunOneScan(records, &entries));
    }
    CScanResult result =
        Outputs(records, entries, platform, spy);  // before the recorder asks anything
    *fixture = CaptureFixtureText(recorder);
    return result;
}

// The first line where two logs part, with its number, or "" when they are the same.
inline std::string FirstDifference(const std::string& expected, const std::string& actual) {
    std::size_t a = 0;
    std::size_t b = 0;
    for (int line = 1;; ++line) {
        const std::size_t ea = expected.find('\n', a);
        const std::size_t eb = actual.find('\n', b);
        const std::string la = expected.substr(a, ea == std::string::npos ? ea : ea - a);
        const std::string lb = actual.substr(b, eb == std::string::npos ? eb : eb - b);
        if (la != lb)
            return "line " + std::to_string(line) + ":\n  expected: " + la + "\n  actual:   " + lb;
        if (ea == std::string::npos || eb == std::string::npos)
            return "";
        a = ea + 1;
        b = eb + 1;
    }
}

// The fixture without its comment lines (the notes of one capture: a stand-in of the first
// round is an instance ID like any other in the second).
inline std::string WithoutComments(const std::string& fixture) {
    std::string out;
    std::size_t at = 0;
    while (at < fixture.size()) {
        std::size_t end = fixture.find('\n', at);
        end = end == std::string::npos ? fixture.size() : end + 1;
        if (fixture.compare(at, 2, "//") != 0)
            out.append(fixture, at, end - at);
        at = end;
    }
    return out;
}

}  // namespace ks::test

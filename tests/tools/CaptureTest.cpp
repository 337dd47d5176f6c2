// Capture and replay: one scan of a machine with its answers recorded, written as a fixture
// and scanned again from that fixture, gives the same list, text and JSON, from the same
// requests answered the same way.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "framework/CodePage.h"
#include "platform/Platform.h"
#include "platform/capture/MachineRecorder.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "tests/support/TestData.h"
#include "tools/keyscout-list/ListOutput.h"
#include "tools/keyscout-list/ListScan.h"

namespace ks {
namespace {

// Every machine fixture of tests/data: not the outputs written down for some of them, and
// not the ones made to be refused.
std::vector<std::string> MachineFixtures() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(test::DataPath(""))) {
        const std::string name = entry.path().filename().string();
        const bool json = name.size() > 5 && name.substr(name.size() - 5) == ".json";
        if (json && name.find(".list.") == std::string::npos && name.rfind("malformed-", 0) != 0)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// What a scan asked of a simulated machine and what it got: the count of every operation
// and every driver request with its target, sizes and result.
std::string CallLog(const CModelPlatform& platform) {
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
};

CScanResult Outputs(const CDeviceRecordList& records, const CModelPlatform& platform) {
    return {FormatRecordsText(records, GetAnsiCodePage()), FormatRecordsJson(records),
            CallLog(platform)};
}

// One scan through the worker pipeline, recorded when `fixture` is given.
CScanResult Scan(CModelPlatform& platform, std::string* fixture = nullptr) {
    CDeviceRecordList records;
    if (fixture == nullptr) {
        CPlatformScope scope(platform);
        EXPECT_TRUE(RunOneScan(records));
        return Outputs(records, platform);
    }
    CMachineRecorder recorder(platform);
    {
        CPlatformScope scope(recorder);
        EXPECT_TRUE(RunOneScan(records));
    }
    CScanResult result = Outputs(records, platform);  // before the recorder asks anything
    *fixture = CaptureFixtureText(recorder);
    return result;
}

TEST(Capture, EveryFixtureReplaysTheSameListFromTheSameAnswers) {
    const std::vector<std::string> fixtures = MachineFixtures();
    ASSERT_GE(fixtures.size(), 15u);
    for (const std::string& name : fixtures) {
        SCOPED_TRACE(name);
        CModelPlatform plain(LoadMachineFile(test::DataPath(name)));
        const CScanResult expected = Scan(plain);

        CModelPlatform original(LoadMachineFile(test::DataPath(name)));
        std::string fixture;
        const CScanResult recorded = Scan(original, &fixture);
        // The recorder passes every call through unchanged.
        EXPECT_EQ(recorded.m_strText, expected.m_strText);
        EXPECT_EQ(recorded.m_strCalls, expected.m_strCalls);

        CMachineModel model;
        try {
            model = LoadMachineText(fixture, name + " (captured)");
        } catch (const CFixtureError& e) {
            ADD_FAILURE() << e.what() << "\n" << fixture;
            continue;
        }
        CModelPlatform replay(std::move(model));
        std::string again;
        const CScanResult replayed = Scan(replay, &again);
        EXPECT_EQ(replayed.m_strText, expected.m_strText);
        EXPECT_EQ(replayed.m_strJson, expected.m_strJson);
        EXPECT_EQ(replayed.m_strCalls, expected.m_strCalls);
        // A capture of the replay holds exactly the same machine: nothing was lost or made
        // up on the way.
        EXPECT_EQ(again, fixture);
    }
}

}  // namespace
}  // namespace ks

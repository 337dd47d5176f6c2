// Capture and replay: one scan of a machine with its answers recorded, written as a fixture
// and scanned again from that fixture, gives the same list, text and JSON, from the same
// requests answered the same way.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/sim/FixtureLoader.h"
#include "tests/support/TestData.h"
#include "tests/tools/CaptureScan.h"

namespace ks {
namespace {

using test::CScanResult;
using test::Scan;

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
        EXPECT_EQ(test::WithoutComments(again), test::WithoutComments(fixture));
    }
}

}  // namespace
}  // namespace ks

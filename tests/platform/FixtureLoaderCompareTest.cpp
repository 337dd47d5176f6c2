// The loader reading its own document against the loader as it was before: every fixture,
// the generated machines, and fixtures broken in many ways give the same model, or the
// same message.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/sim/FixtureLoader.h"
#include "tests/platform/FixtureLoaderBefore.h"
#include "tests/support/TestData.h"

namespace ks {
namespace {

struct COutcome {
    bool m_bLoaded = false;
    CMachineModel m_model;
    std::string m_strError;
};

template <typename Load>
COutcome Outcome(Load load) {
    COutcome out;
    try {
        out.m_model = load();
        out.m_bLoaded = true;
    } catch (const CFixtureError& e) {
        out.m_strError = e.what();
    }
    return out;
}

// The number of texts compared, and a description of the first that differed.
::testing::AssertionResult SameOutcome(const std::string& text, const std::string& what) {
    const COutcome now = Outcome([&] { return LoadMachineText(text, "m.json"); });
    const COutcome before = Outcome([&] { return before::LoadMachineText(text, "m.json"); });
    if (now.m_bLoaded != before.m_bLoaded || now.m_strError != before.m_strError)
        return ::testing::AssertionFailure()
               << what << ": now " << (now.m_bLoaded ? "loads" : now.m_strError) << "; before "
               << (before.m_bLoaded ? "loads" : before.m_strError)
               << "\ntext: " << text.substr(0, 400);
    if (now.m_bLoaded && !(now.m_model == before.m_model))
        return ::testing::AssertionFailure() << what << ": the models differ";
    return ::testing::AssertionSuccess();
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::filesystem::path> Fixtures() {
    std::vector<std::filesystem::path> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(test::DataPath("")))
        if (entry.path().extension() == ".json")
            out.push_back(entry.path());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(FixtureLoaderCompare, EveryFixtureAndGeneratedMachine) {
    std::size_t count = 0;
    for (const auto& path : Fixtures()) {
        EXPECT_TRUE(SameOutcome(ReadFile(path), path.string()));
        ++count;
    }
    EXPECT_GE(count, 25u);
    std::size_t machines = 0;
    for (const char* devices : {"10", "100", "300"}) {
        const std::string path = std::string(KS_COMPARE_MACHINES) + "/machine-" + devices + ".json";
        const std::string text = ReadFile(path);
        ASSERT_FALSE(text.empty()) << path;
        const COutcome now = Outcome([&] { return LoadMachineText(text, "m.json"); });
        ASSERT_TRUE(now.m_bLoaded) << now.m_strError;
        EXPECT_TRUE(SameOutcome(text, path));
        ++machines;
    }
    EXPECT_EQ(machines, 3u);
}

// Each fixture broken at many places: cut short there, a byte taken out, or one of a few
// bytes put in its stead; keys given twice, nesting, hexadecimal texts and numbers.
TEST(FixtureLoaderCompare, BrokenFixtures) {
    const std::string bytes = "\"{}[],:-01x\\/ \nteE.+";
    std::size_t compared = 0;
    for (const auto& path : Fixtures()) {
        const std::string text = ReadFile(path);
        // Thirty places a fixture: the sweep stays within the time a sanitizer build allows.
        const std::size_t step = std::max<std::size_t>(1, text.size() / 30);
        for (std::size_t at = 0; at < text.size(); at += step) {
            std::string cut = text.substr(0, at);
            ASSERT_TRUE(SameOutcome(cut, path.string() + " cut at " + std::to_string(at)));
            std::string removed = text;
            removed.erase(at, 1);
            ASSERT_TRUE(
                SameOutcome(removed, path.string() + " without byte " + std::to_string(at)));
            for (char c : bytes) {
                std::string changed = text;
                changed[at] = c;
                ASSERT_TRUE(SameOutcome(changed, path.string() + " byte " + std::to_string(at) +
                                                     " made " + std::string(1, c)));
            }
            compared += 2 + bytes.size();
        }
    }
    EXPECT_GT(compared, 10000u);
}

TEST(FixtureLoaderCompare, ValuesAtTheEdges) {
    const char* values[] = {"0",
                            "-0",
                            "1",
                            "255",
                            "256",
                            "65535",
                            "65536",
                            "4294967295",
                            "4294967296",
                            "18446744073709551615",
                            "18446744073709551616",
                            "-1",
                            "1.0",
                            "1e2",
                            "-1e6861",
                            "1e400",
                            "\"0x\"",
                            "\"0x0\"",
                            "\"0X1f\"",
                            "\"0xffffffff\"",
                            "\"0x100000000\"",
                            "\"0xFFFFFFFFFFFFFFFF\"",
                            "\"0x10000000000000000\"",
                            "\"0xg\"",
                            "\"\"",
                            "\"x\"",
                            "true",
                            "false",
                            "null",
                            "[]",
                            "{}",
                            "[1]",
                            "{\"a\": 1}",
                            "\"\\u0000\""};
    const char* places[] = {
        R"({"controllers": [{"hcd": %}]})",
        R"({"controllers": [{"hcd": 0, "interfacePath": %}]})",
        R"({"controllers": [{"hcd": 0, "driverKey": %}]})",
        R"({"controllers": [{"hcd": 0, "rootHub": {"name": "R", "bNumberOfPorts": %}}]})",
        R"({"controllers": [{"hcd": 0, "rootHub": {"name": "R", "bNumberOfPorts": 4,
            "ports": [{"port": %}]}}]})",
        R"({"controllers": [{"hcd": 0, "rootHub": {"name": "R", "bNumberOfPorts": 4,
            "ports": [{"port": 1, "connectionStatus": %}]}}]})",
        R"({"controllers": [{"hcd": 0, "rootHub": {"name": "R", "bNumberOfPorts": 4,
            "ports": [{"port": 1, "device": {"speed": %, "idVendor": %}}]}}]})",
        R"({"controllers": [{"hcd": 0, "rootHub": {"name": "R", "bNumberOfPorts": 4,
            "ports": [{"port": 1, "device": {"strings": [{"index": %, "text": %}]}}]}}]})",
        R"({"deviceTree": {"id": %, "status": %, "properties": {"0x10": %, "DRIVER": %}}})",
        R"({"deviceTree": {"properties": {"%": "x"}}})",
        R"({"deviceTree": {"faults": {"child": %, "childLink": %, "properties": {"SERVICE": %}}}})",
        R"({"volumes": [{"name": "V", "letters": [%]}]})",
        R"({"volumes": [{"name": "V", "faults": {"rootMountPoint": %}}]})",
        R"({"faults": {"volumeSetFails": %}})",
    };
    for (const char* place : places)
        for (const char* value : values) {
            std::string text = place;
            for (std::size_t at; (at = text.find('%')) != std::string::npos;)
                text.replace(at, 1, value);
            EXPECT_TRUE(SameOutcome(text, text));
        }
    // Unknown keys anywhere in the order of the text; properties in any order.
    EXPECT_TRUE(SameOutcome(R"({"zeta": 1, "controllers": [], "alpha": 2, "Beta": 3})", "keys"));
    EXPECT_TRUE(
        SameOutcome(R"({"deviceTree": {"zz": 1, "children": [], "\u00e9": 2, "aa": 3}})", "keys"));
    EXPECT_TRUE(SameOutcome(R"({"deviceTree": {"properties": {"SERVICE": "s", "DRIVER": "d",
        "0x1C": "c", "DEVICEDESC": "x", "0x02": ["a"]}}})",
                            "property order"));
    EXPECT_TRUE(SameOutcome(R"({"deviceTree": {"properties": {"SERVICE": "s", "DRIVER": 1,
        "0x1C": 2}}})",
                            "first bad property"));
    EXPECT_TRUE(SameOutcome(R"({"deviceTree": {"faults": {"properties": {"SERVICE": "CR_FAILURE",
        "DRIVER": "noWrite", "0x1C": 3}}}})",
                            "property faults order"));
    // A key given twice in a large object, and after nesting.
    std::string large = "{\"volumes\": [{";
    for (int i = 0; i < 40; ++i)
        large += "\"k" + std::to_string(i) + "\": " + std::to_string(i) + ", ";
    EXPECT_TRUE(SameOutcome(large + "\"k3\": 1}]}", "large object"));
    EXPECT_TRUE(SameOutcome(large + "\"k39\": 1}]}", "large object"));
    EXPECT_TRUE(SameOutcome(large + "\"k40\": 1}]}", "large object"));
    EXPECT_TRUE(SameOutcome("{\"a/b~c\": {\"x\": [[{\"y\": 1, \"y\": 2}]]}}", "escaped key"));
}

}  // namespace
}  // namespace ks

// The fault sweep: on a realistic machine (two controllers, hubs three deep, composite
// devices, a flash drive with its volume), every call of a scan is spoiled in turn, once
// for each way it can be spoiled. Every run must finish (the scan's calls stay bounded),
// leave no handle open, print text without a raw control character and valid JSON, and
// still list, byte for byte, every device the spoiled call could not have changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "devices/UsbDeviceScanner.h"
#include "framework/CodePage.h"
#include "listing/ListOutput.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "tests/support/FaultPlatform.h"
#include "tests/support/TestData.h"
#include "worker/DeviceRecord.h"
#include "worker/KeyScoutThread.h"

namespace ks::test {
namespace {

// The worker's scanner, noting for each entry the part of the machine it came from.
class COwnerScanner : public CUsbDeviceScanner {
  public:
    COwnerScanner(std::vector<CUsbDeviceEntry>* entries, const CFaultPlatform& platform)
        : CUsbDeviceScanner(entries), m_platform(platform) {
        m_fields = kScannerFields;
        m_nodeFieldMask = kScannerNodeFields;
    }
    void AddDeviceEntry(const CUsbDeviceEntry& entry) override {
        m_owners.push_back(m_platform.CurrentOwner());
        CUsbDeviceScanner::AddDeviceEntry(entry);
    }
    std::vector<std::string> m_owners;

  private:
    const CFaultPlatform& m_platform;
};

bool HasDriveLetter(const CDevNodeTree::Node* node) {
    for (; node != nullptr; node = node->NextSibling()) {
        if (node->Info().m_driveLetter != 0 || HasDriveLetter(node->FirstChild()))
            return true;
    }
    return false;
}

struct CRun {
    std::vector<std::string> m_texts;  // each device's text block
    std::vector<std::string> m_jsons;  // each device's JSON document
    std::vector<std::string> m_owners;
    std::vector<bool> m_hasLetter;
    std::string m_strText;
    std::string m_strJson;
    std::vector<CCallRecord> m_calls;
    bool m_injected = false;
    bool m_ranAway = false;
    std::size_t m_openHandles = 0;
};

CRun ScanOnce(const CMachineModel& model, std::size_t index, EFault fault, std::uint32_t seed,
              std::size_t limit) {
    CModelPlatform machine{CMachineModel(model)};
    CFaultPlatform platform(machine);
    platform.Arm(index, fault, seed);
    platform.SetCallLimit(limit);
    CRun run;
    std::vector<CUsbDeviceEntry> entries;
    {
        CPlatformScope scope(platform);
        COwnerScanner scanner(&entries, platform);
        scanner.Scan();
        run.m_owners = scanner.m_owners;
    }
    CDeviceRecordList all;
    for (const CUsbDeviceEntry& entry : entries) {
        CDeviceRecord record = BuildDeviceRecord(entry);
        CDeviceRecordList one;
        one.Add(record);
        all.Add(record);
        run.m_texts.push_back(FormatRecordsText(one, GetAnsiCodePage()));
        run.m_jsons.push_back(FormatEntriesJson({entry}));
        run.m_hasLetter.push_back(HasDriveLetter(entry.m_devNodeTree.GetRoot()));
    }
    run.m_strText = FormatRecordsText(all, GetAnsiCodePage());
    run.m_strJson = FormatEntriesJson(entries);
    run.m_calls = platform.Calls();
    run.m_injected = platform.Injected();
    run.m_ranAway = platform.RanAway();
    run.m_openHandles = machine.OpenHandleCount() + machine.OpenDeviceInfoSetCount();
    return run;
}

// Whether `part` appears in `whole` in the same order (other items may come between).
bool IsSubsequence(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
    std::size_t at = 0;
    for (const std::string& item : part) {
        while (at < whole.size() && whole[at] != item)
            ++at;
        if (at == whole.size())
            return false;
        ++at;
    }
    return true;
}

std::string FirstControlCharacter(const std::string& text) {
    for (unsigned char c : text) {
        if ((c < 0x20 && c != '\n') || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "0x%02X", c);
            return hex;
        }
    }
    return "";
}

class FaultSweepTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_model = LoadMachineFile(DataPath("sweep-machine.json"));
        m_clean = ScanOnce(m_model, static_cast<std::size_t>(-1), EFault::None, 1,
                           static_cast<std::size_t>(-1));
    }
    // The devices of the clean scan that the call could not have changed.
    std::vector<std::size_t> Untouched(const CCallRecord& call) const {
        std::vector<std::size_t> out;
        for (std::size_t d = 0; d < m_clean.m_owners.size(); ++d) {
            const bool touched = call.m_strOwner == "V"
                                     ? static_cast<bool>(m_clean.m_hasLetter[d])
                                     : m_clean.m_owners[d].rfind(call.m_strOwner, 0) == 0;
            if (!touched)
                out.push_back(d);
        }
        return out;
    }

    CMachineModel m_model;
    CRun m_clean;
};

TEST_F(FaultSweepTest, TheCleanScanNamesWhereEachDeviceCameFrom) {
    // Six devices (hubs get no entry): four on the xHCI side, two of them behind a hub, and
    // two on the EHCI side, the keyboard two hubs down; the flash drive alone has a letter.
    ASSERT_EQ(m_clean.m_texts.size(), 6u);
    std::map<std::string, int> owners;
    for (const std::string& o : m_clean.m_owners)
        ++owners[o];
    EXPECT_EQ(owners.size(), m_clean.m_owners.size()) << "two devices share an owner";
    int letters = 0, deepest = 0;
    for (std::size_t d = 0; d < m_clean.m_owners.size(); ++d) {
        letters += m_clean.m_hasLetter[d] ? 1 : 0;
        int depth = 0;
        for (char c : m_clean.m_owners[d])
            depth += c == '>' ? 1 : 0;
        deepest = std::max(deepest, depth);
        EXPECT_EQ(m_clean.m_owners[d].rfind("H", 0), 0u) << m_clean.m_owners[d];
    }
    EXPECT_EQ(letters, 1);
    EXPECT_EQ(deepest, 4) << "controller, port, port, port";
    EXPECT_FALSE(m_clean.m_ranAway);
    EXPECT_EQ(m_clean.m_openHandles, 0u);
}

TEST_F(FaultSweepTest, EverySpoiledCallKeepsEveryDeviceItDidNotServe) {
    const std::vector<CCallRecord> calls = m_clean.m_calls;
    ASSERT_GT(calls.size(), 100u);
    const std::size_t limit = calls.size() * 8 + 1000;
    struct CTally {
        int injected = 0, kept = 0, changed = 0;
    };
    std::map<EFault, CTally> tally;
    std::vector<std::string> failures;
    auto fail = [&](std::size_t k, EFault fault, const std::string& why) {
        failures.push_back("call " + std::to_string(k) + " (" + calls[k].m_pOperation + " of \"" +
                           calls[k].m_strOwner + "\"), " + FaultName(fault) + ": " + why);
    };
    for (std::size_t k = 0; k < calls.size(); ++k) {
        for (EFault fault : kAllFaults) {
            if ((calls[k].m_applicable & (1u << static_cast<unsigned>(fault))) == 0)
                continue;
            CRun run = ScanOnce(m_model, k, fault, static_cast<std::uint32_t>(k * 7 + 1), limit);
            if (!run.m_injected) {
                fail(k, fault, "the scan no longer reaches this call");
                continue;
            }
            CTally& t = tally[fault];
            ++t.injected;
            if (run.m_ranAway)
                fail(k, fault, "the scan ran past " + std::to_string(limit) + " calls");
            const std::string op = calls[k].m_pOperation;
            if (run.m_openHandles != 0 && op != "CloseHandle" &&
                op != "SetupDiDestroyDeviceInfoList")
                fail(k, fault, std::to_string(run.m_openHandles) + " handles left open");
            std::string control = FirstControlCharacter(run.m_strText);
            if (!control.empty())
                fail(k, fault, "raw control character " + control + " in the text");
            if (!nlohmann::json::accept(run.m_strJson))
                fail(k, fault, "invalid JSON");
            std::vector<std::string> texts, jsons;
            for (std::size_t d : Untouched(calls[k])) {
                texts.push_back(m_clean.m_texts[d]);
                jsons.push_back(m_clean.m_jsons[d]);
            }
            if (IsSubsequence(texts, run.m_texts) && IsSubsequence(jsons, run.m_jsons))
                ++t.kept;
            else
                fail(k, fault,
                     "a device it did not serve is missing or changed:\n" + run.m_strText);
            if (run.m_texts != m_clean.m_texts || run.m_jsons != m_clean.m_jsons)
                ++t.changed;
        }
    }
    int injected = 0, kept = 0, changed = 0;
    for (const auto& [fault, t] : tally) {
        std::printf(
            "fault sweep: %-13s %5d injected, %5d kept every untouched device, %5d "
            "changed the output\n",
            FaultName(fault), t.injected, t.kept, t.changed);
        injected += t.injected;
        kept += t.kept;
        changed += t.changed;
    }
    std::printf(
        "fault sweep: %zu calls per scan, %d faults injected, %d runs kept every "
        "untouched device, %d changed the output\n",
        calls.size(), injected, kept, changed);
    std::size_t volumeCalls = 0, listCalls = 0, portCalls = 0;
    for (const CCallRecord& c : calls) {
        if (c.m_strOwner == "V")
            ++volumeCalls;
        else if (c.m_strOwner.empty())
            ++listCalls;
        else if (std::count(c.m_strOwner.begin(), c.m_strOwner.end(), '>') > 1)
            ++portCalls;
    }
    std::printf(
        "fault sweep: calls of the volume table %zu, of the controller list (touch "
        "every device) %zu, of a controller or root hub %zu, of a hub port %zu\n",
        volumeCalls, listCalls, calls.size() - volumeCalls - listCalls - portCalls, portCalls);
    for (std::size_t i = 0; i < failures.size() && i < 20; ++i)
        ADD_FAILURE() << failures[i];
    EXPECT_EQ(failures.size(), 0u);
    EXPECT_EQ(kept, injected);
    // The faults reach the output: a sweep whose every run printed the clean scan would
    // prove nothing.
    EXPECT_GT(changed, injected / 10);
    for (EFault fault : kAllFaults)
        EXPECT_GT(tally[fault].injected, 0) << FaultName(fault);
}

}  // namespace
}  // namespace ks::test

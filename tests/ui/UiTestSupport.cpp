#include "tests/ui/UiTestSupport.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <vector>

#include "framework/CodePage.h"
#include "listing/ScanThreadControl.h"
#include "platform/sim/FixtureLoader.h"
#include "res/resource.h"
#include "tests/support/TestData.h"
#include "tests/support/WaitBound.h"

namespace ks::test {

CUiTestApp& TheApp() {
    // The one application object of the test program, made before any test runs.
    static CUiTestApp app;
    return app;
}

namespace {
const bool g_appMade = (TheApp(), true);
}

void CUiTestApp::StopScanThread() {
    if (m_pScanThread != nullptr && !ks::StopScanThread(m_pScanThread, WaitBound(m_dwStopTimeout)))
        NoteStall();
}

std::string Ansi(const std::string& utf8) {
    std::u16string wide = Utf8ToUtf16(utf8);
    return Utf16ToAnsi(wide.data(), wide.size());
}

std::string Utf8(const std::string& ansi) {
    return AnsiToUtf8(ansi);
}

void PumpPending(HWND dialog) {
    MSG msg;
    while (PeekMessage(&msg, TRUE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (dialog != 0 && IsWindow(dialog) && IsDialogMessageA(dialog, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessage(&msg);
    }
}

bool PumpUntil(const std::function<bool()>& done, HWND dialog, unsigned timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(WaitBound(timeoutMs));
    for (;;) {
        PumpPending(dialog);
        if (done())
            return true;
        if (Clock::now() >= deadline) {
            NoteStall();
            return false;
        }
        Sleep(2);
    }
}

CSimulatedMachine::CSimulatedMachine(const std::string& fixture)
    : CSimulatedMachine(std::make_unique<CModelPlatform>(LoadMachineFile(DataPath(fixture)))) {}

CSimulatedMachine::CSimulatedMachine(std::unique_ptr<CModelPlatform> platform)
    : m_pPlatform(std::move(platform)) {
    m_scope.emplace(*m_pPlatform);
}

void CSimulatedMachine::Replace(CMachineModel model) {
    // The old machine stays alive: a pass that is running may still be asking it.
    auto next = std::make_unique<CModelPlatform>(std::move(model));
    m_scope.reset();
    m_pPrevious = std::move(m_pPlatform);
    m_pPlatform = std::move(next);
    m_scope.emplace(*m_pPlatform);
}

namespace {
using Json = nlohmann::ordered_json;

Json ReadJson(const std::string& name) {
    std::ifstream in(DataPath(name), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return Json::parse(text.str(), nullptr, true, true);
}

Json* FindHub(Json& hub, const std::string& name) {
    if (hub.value("name", "") == name)
        return &hub;
    for (Json& port : hub["ports"])
        if (port.contains("device") && port["device"].contains("hub"))
            if (Json* found = FindHub(port["device"]["hub"], name))
                return found;
    return nullptr;
}

Json* FindNode(Json& node, const std::string& id) {
    if (node.value("id", "") == id)
        return &node;
    if (node.contains("children"))
        for (Json& child : node["children"])
            if (Json* found = FindNode(child, id))
                return found;
    return nullptr;
}
}  // namespace

CMachineJson ThreeDevicesJson() {
    return ReadJson("ui-three-devices.json");
}

CMachineModel LoadMachineJson(const CMachineJson& machine) {
    return LoadMachineText(machine.dump(), "ui-three-devices.json, changed by the test");
}

namespace {
Json& HubOf(Json& machine, const std::string& name) {
    for (Json& controller : machine["controllers"])
        if (Json* hub = FindHub(controller["rootHub"], name))
            return *hub;
    throw CFixtureError("ui-three-devices.json has no hub " + name);
}

Json& NodeOf(Json& machine, const std::string& id) {
    if (Json* node = FindNode(machine["deviceTree"], id))
        return *node;
    throw CFixtureError("ui-three-devices.json has no device node " + id);
}

// A copy's names: the same with the copy's number after them.
void Rename(Json& node, const std::string& suffix) {
    node["id"] = node["id"].get<std::string>() + "&" + suffix;
    if (node["properties"].contains("DRIVER"))
        node["properties"]["DRIVER"] = node["properties"]["DRIVER"].get<std::string>() + suffix;
    if (node.contains("children"))
        for (Json& child : node["children"])
            Rename(child, suffix);
}
}  // namespace

void PullOut(CMachineJson& machine, const char* hubName, int port) {
    for (Json& p : HubOf(machine, hubName)["ports"])
        if (p["port"] == port)
            p.erase("device");
}

void PlugCopyOfFlashDrive(CMachineJson& machine, int port, const char* serial) {
    Json& root = HubOf(machine, kRootHub);
    Json drive = root["ports"][0];
    const std::string suffix = std::to_string(port);
    drive["port"] = port;
    drive["device"]["driverKey"] = drive["device"]["driverKey"].get<std::string>() + suffix;
    if (serial != nullptr)
        for (Json& string : drive["device"]["strings"])
            if (string["index"] == drive["device"]["iSerialNumber"])
                string["text"] = serial;
    root["bNumberOfPorts"] = std::max(root["bNumberOfPorts"].get<int>(), port);
    root["ports"].push_back(drive);
    Json node = NodeOf(machine, "USB\\VID_00AB&PID_0012\\0719AB34CD56EF7890AB");
    Rename(node, suffix);
    NodeOf(machine, "USB\\ROOT_HUB30\\4&1A2B3C4D&0&0")["children"].push_back(node);
}

void PlugHeadset(CMachineJson& machine) {
    Json headset = ReadJson("fragments/ui-headset.json");
    HubOf(machine, headset["hubName"])["ports"].push_back(headset["port"]);
    NodeOf(machine, headset["parentNode"])["children"].push_back(headset["node"]);
}

CMachineModel ThreeDevicesPlusHeadset() {
    CMachineJson machine = ThreeDevicesJson();
    PlugHeadset(machine);
    return LoadMachineJson(machine);
}

void CScriptWindow::Post(std::function<void()> script) {
    m_script = std::move(script);
    PostMessage(kRun);
}

LRESULT CScriptWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kRun && m_script) {
        auto script = std::move(m_script);
        m_script = nullptr;
        script();
        return 0;
    }
    return CWnd::WindowProc(message, wParam, lParam);
}

LRESULT CTextLog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT)
        m_texts.emplace_back(lParam != 0 ? reinterpret_cast<const char*>(lParam) : "");
    return CWnd::WindowProc(message, wParam, lParam);
}

std::string WindowText(HWND window) {
    int length = GetWindowTextLengthA(window);
    std::vector<char> buffer(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
    int got = GetWindowTextA(window, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), got > 0 ? static_cast<std::size_t>(got) : 0);
}

std::string ClassName(HWND window) {
    char buffer[256] = {};
    int got = GetClassNameA(window, buffer, sizeof buffer);
    return std::string(buffer, got > 0 ? static_cast<std::size_t>(got) : 0);
}

void CThreeDevicesWindowTest::SetUp() {
    m_machine.emplace("ui-three-devices.json");
    TheApp().StartScanThread();
    ASSERT_NE(TheApp().m_pScanThread, nullptr);
    TheApp().m_pMainWnd = &m_dialog;
    ASSERT_TRUE(m_dialog.Create(IDD_KEYSCOUT_DIALOG));
    ASSERT_TRUE(
        PumpUntil([&] { return m_dialog.m_listHardware.GetItemCount() == 3; }, m_dialog.m_hWnd));
}

void CThreeDevicesWindowTest::TearDown() {
    if (m_dialog.m_hWnd != 0)
        m_dialog.DestroyWindow();
    TheApp().StopScanThread();
}

namespace {
double Mean(const CImageRgba& image, int shift) {
    double sum = 0;
    for (std::uint32_t p : image.pixels)
        sum += static_cast<double>((p >> shift) & 0xFF);
    return image.pixels.empty() ? 0 : sum / static_cast<double>(image.pixels.size());
}
}  // namespace

void ExpectSmoothCopyOf(const CImageRgba& shown, const CImageRgba& source) {
    ASSERT_FALSE(shown.pixels.empty());
    std::set<std::uint32_t> known;
    for (std::uint32_t p : source.pixels)
        known.insert(p | 0xFF000000u);
    std::size_t fresh = 0;
    for (std::uint32_t p : shown.pixels)
        fresh += known.count(p | 0xFF000000u) == 0 ? 1 : 0;
    EXPECT_GT(static_cast<double>(fresh) / static_cast<double>(shown.pixels.size()), 0.05)
        << "grown by repeating pixels";
    for (int shift : {0, 8, 16})
        EXPECT_NEAR(Mean(shown, shift), Mean(source, shift), 3.0) << "channel at bit " << shift;
}

}  // namespace ks::test

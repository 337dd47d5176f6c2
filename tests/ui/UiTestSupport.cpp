#include "tests/ui/UiTestSupport.h"

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "framework/CodePage.h"
#include "platform/sim/FixtureLoader.h"
#include "tests/support/TestData.h"

namespace ks::test {

CUiTestApp& TheApp() {
    // The one application object of the test program, made before any test runs.
    static CUiTestApp app;
    return app;
}

namespace {
const bool g_appMade = (TheApp(), true);
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
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        PumpPending(dialog);
        if (done())
            return true;
        if (Clock::now() >= deadline)
            return false;
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

CMachineModel ThreeDevicesPlusHeadset() {
    Json machine = ReadJson("ui-three-devices.json");
    Json headset = ReadJson("fragments/ui-headset.json");
    Json* hub = nullptr;
    for (Json& controller : machine["controllers"])
        if (hub == nullptr)
            hub = FindHub(controller["rootHub"], headset["hubName"]);
    Json* parent = FindNode(machine["deviceTree"], headset["parentNode"]);
    if (hub == nullptr || parent == nullptr)
        throw CFixtureError(
            "fragments/ui-headset.json: its hub or parent node is not in the machine");
    (*hub)["ports"].push_back(headset["port"]);
    (*parent)["children"].push_back(headset["node"]);
    return LoadMachineText(machine.dump(), "ui-three-devices.json + headset");
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

}  // namespace ks::test

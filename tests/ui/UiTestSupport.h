// What the window tests share: an application object for the dialog to reach the worker
// through (its own window never runs), a simulated machine installed as the platform, and
// ways to let this thread's messages run until something has happened.
//
// Threads: the test's thread is the window thread; the worker runs on its own.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/KeyScoutApp.h"
#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "platform/model/ModelPlatform.h"
#include "tests/support/FakePlatforms.h"

namespace ks::test {

class CUiTestApp : public CKeyScoutApp {
  protected:
    void RunMainWindow() override {}
};
CUiTestApp& TheApp();

// Text in the ANSI code page from UTF-8 (test sources are UTF-8), and back.
std::string Ansi(const std::string& utf8);
std::string Utf8(const std::string& ansi);

// Runs the messages queued for this thread, as a dialog's loop would (keyboard handling of
// `dialog` included).
void PumpPending(HWND dialog = 0);
// Runs messages until `done` answers true or `timeoutMs` has passed; true when done.
bool PumpUntil(const std::function<bool()>& done, HWND dialog = 0, unsigned timeoutMs = 20000);

// A simulated machine from a fixture (tests/data), installed as the platform for the
// object's lifetime; Replace switches to another machine (a device plugged in).
class CSimulatedMachine {
  public:
    explicit CSimulatedMachine(const std::string& fixture);
    explicit CSimulatedMachine(std::unique_ptr<CModelPlatform> platform);
    void Replace(CMachineModel model);

  private:
    std::unique_ptr<CModelPlatform> m_pPlatform;
    std::unique_ptr<CModelPlatform> m_pPrevious;
    std::optional<CPlatformScope> m_scope;
};

// A simulated machine whose scan passes wait at a gate until the test lets them through.
// Every pass begins with the volume table, whose first question is about drive A.
class CGatedModelPlatform : public CModelPlatform {
  public:
    using CModelPlatform::CModelPlatform;
    BOOL GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* volumeName,
                                           DWORD length) override {
        if (mountPoint != nullptr && std::string_view(mountPoint) == "A:\\")
            m_gate.Enter();
        return CModelPlatform::GetVolumeNameForVolumeMountPointA(mountPoint, volumeName, length);
    }
    CPassGate m_gate;
};

// The fixture's text with the headset of fragments/ui-headset.json plugged in.
CMachineModel ThreeDevicesPlusHeadset();

// A message-only window that runs a function when its message arrives: a test's way to act
// from inside a modal loop that it started itself.
class CScriptWindow : public CWnd {
  public:
    static constexpr UINT kRun = WM_APP + 0x40;
    // Posts the script; it runs when some message loop of this thread reaches it.
    void Post(std::function<void()> script);
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    std::function<void()> m_script;
};

// A control's WM_SETTEXT requests, in order, as the control received them.
class CTextLog : public CWnd {
  public:
    std::vector<std::string> m_texts;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// Texts of windows and controls, read through the window system.
std::string WindowText(HWND window);
std::string ClassName(HWND window);

}  // namespace ks::test

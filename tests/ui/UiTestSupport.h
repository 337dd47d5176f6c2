// What the window tests share: an application object for the dialog to reach the worker
// through (its own window never runs), a simulated machine installed as the platform, and
// ways to let this thread's messages run until something has happened.
//
// Threads: the test's thread is the window thread; the worker runs on its own.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "app/KeyScoutApp.h"
#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "framework/ResourceFile.h"
#include "platform/model/ModelPlatform.h"
#include "tests/support/FakePlatforms.h"
#include "ui/KeyScoutDlg.h"

namespace ks::test {

class CUiTestApp : public CKeyScoutApp {
  public:
    // The program's stop, with the tests' bound on the wait (tests/support/WaitBound.h): a
    // worker that does not end is a stall.
    void StopScanThread();

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
// Runs messages until `done` answers true or `timeoutMs` has passed (less after a stall:
// tests/support/WaitBound.h); true when done.
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

// The machine of ui-three-devices.json as its JSON text, for a test to plug devices in and
// pull them out before it loads it (ThreeDevices).
using CMachineJson = nlohmann::ordered_json;
CMachineJson ThreeDevicesJson();
CMachineModel LoadMachineJson(const CMachineJson& machine);
// Its hubs: the root hub (port 1 the flash drive, 2 the keyboard and mouse, 3 the hub) and
// the hub on root port 3 (port 1 the phone).
inline constexpr const char kRootHub[] =
    "USB#ROOT_HUB30#4&1a2b3c4d&0&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
inline constexpr const char kPhoneHub[] =
    "USB#VID_2B7A&PID_0411#5&3a4b5c6d&0&3#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
// Pulls out the device on a port of a hub (its device node stays, as a phantom).
void PullOut(CMachineJson& machine, const char* hubName, int port);
// Plugs a drive of the flash drive's model into root hub port `port` (5 and up): the same
// descriptors, strings and names, its own driver key and device nodes, and its own serial
// number when one is given (else the same as the flash drive's).
void PlugCopyOfFlashDrive(CMachineJson& machine, int port, const char* serial = nullptr);
// Plugs the headset of fragments/ui-headset.json into the hub's port 3.
void PlugHeadset(CMachineJson& machine);

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

// The main window open on the simulated machine of ui-three-devices.json, its three lines
// listed; it and the worker go at the end of the test.
class CThreeDevicesWindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::optional<CSimulatedMachine> m_machine;
    CKeyScoutDlg m_dialog;
};

// Expects `shown` to be `source` resampled smoothly to another size: many of its pixels have
// a colour the source lacks (a picture grown by repeating pixels has none) and each channel's
// average is the source's (the whole picture, not a part of it, nor it beside a background).
void ExpectSmoothCopyOf(const CImageRgba& shown, const CImageRgba& source);

}  // namespace ks::test

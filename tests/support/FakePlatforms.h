// Test doubles of the platform layer.
//  CFakeEmptyPlatform answers like a machine with nothing on it.
//  CFakeGatedPlatform is that machine whose scan passes can be held: every pass opens
//  "\\.\HCD0" first, and there the pass waits until the test lets it through.
//  CPassGate is that gate, for any platform a test wants to hold the same way.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/Platform.h"

namespace ks::test {

class CFakeEmptyPlatform : public IPlatform {
  public:
    HANDLE CreateFileA(const char*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) override {
        return INVALID_HANDLE_VALUE;
    }
    BOOL DeviceIoControl(HANDLE, DWORD, void*, DWORD, void*, DWORD, DWORD*, void*) override {
        return FALSE;
    }
    BOOL CloseHandle(HANDLE) override { return FALSE; }
    int WideCharToMultiByte(UINT, DWORD, const WCHAR16*, int, char*, int, const char*,
                            BOOL*) override {
        return 0;
    }
    HDEVINFO SetupDiGetClassDevsA(const GUID*, const char*, HWND, DWORD) override {
        return INVALID_HANDLE_VALUE;
    }
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO, SP_DEVINFO_DATA*, const GUID*, DWORD,
                                     SP_DEVICE_INTERFACE_DATA*) override {
        return FALSE;
    }
    BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO, SP_DEVICE_INTERFACE_DATA*,
                                          SP_DEVICE_INTERFACE_DETAIL_DATA_A*, DWORD, DWORD*,
                                          SP_DEVINFO_DATA*) override {
        return FALSE;
    }
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO) override { return FALSE; }
    CONFIGRET CM_Locate_DevNodeA(DEVINST*, const char*, ULONG) override {
        return CR_NO_SUCH_DEVNODE;
    }
    CONFIGRET CM_Get_Child(DEVINST*, DEVINST, ULONG) override { return CR_NO_SUCH_DEVNODE; }
    CONFIGRET CM_Get_Sibling(DEVINST*, DEVINST, ULONG) override { return CR_NO_SUCH_DEVNODE; }
    CONFIGRET CM_Get_Parent(DEVINST*, DEVINST, ULONG) override { return CR_NO_SUCH_DEVNODE; }
    CONFIGRET CM_Get_Device_IDA(DEVINST, char*, ULONG, ULONG) override {
        return CR_NO_SUCH_DEVNODE;
    }
    CONFIGRET CM_Get_Device_ID_List_SizeA(ULONG*, const char*, ULONG) override {
        return CR_NO_SUCH_DEVNODE;
    }
    CONFIGRET CM_Get_Device_ID_ListA(const char*, char*, ULONG, ULONG) override {
        return CR_NO_SUCH_DEVNODE;
    }
    CONFIGRET CM_Get_DevNode_Status(ULONG*, ULONG*, DEVINST, ULONG) override {
        return CR_NO_SUCH_DEVNODE;
    }
    CONFIGRET CM_Get_DevNode_Registry_PropertyA(DEVINST, ULONG, ULONG*, void*, ULONG*,
                                                ULONG) override {
        return CR_NO_SUCH_DEVNODE;
    }
    BOOL GetVolumeNameForVolumeMountPointA(const char*, char*, DWORD) override { return FALSE; }
};

// Every wait here has a bound, so that a worker that never comes fails its test with a
// message instead of running into CTest's time-out (a shorter one after a first stall:
// WaitBound.h).
inline constexpr std::chrono::seconds kGateWaitLimit{30};

class CPassGate {
  public:
    // Called by the platform at the start of every pass: counts the pass and holds it until
    // it is released. A pass held longer than kGateWaitLimit twice over goes on, with a
    // message: the test that held it has failed or forgotten it.
    void Enter();
    // Blocks until `count` passes have started (reached the gate), at most kGateWaitLimit
    // (WaitBound); false if they have not.
    [[nodiscard]] bool WaitForPassesStarted(int count);
    // Lets one more held pass through; Open() lets every pass through from now on.
    void ReleaseOne();
    void Open();
    int PassesStarted();

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_started = 0;
    int m_released = 0;
    bool m_open = false;
};

class CFakeGatedPlatform : public CFakeEmptyPlatform {
  public:
    // Every pass of this empty machine opens "\\.\HCD0" once, and first of its opens.
    HANDLE CreateFileA(const char* path, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) override;
    [[nodiscard]] bool WaitForPassesStarted(int count) {
        return m_gate.WaitForPassesStarted(count);
    }
    void ReleaseOne() { m_gate.ReleaseOne(); }
    void Open() { m_gate.Open(); }
    int PassesStarted() { return m_gate.PassesStarted(); }

  private:
    CPassGate m_gate;
};

}  // namespace ks::test

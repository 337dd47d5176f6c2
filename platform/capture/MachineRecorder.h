// CMachineRecorder: an IPlatform that passes every call unchanged to another backend (the
// live machine, or any other) and remembers what that backend answered, so that the machine
// can afterwards be written as a fixture whose model answers the same calls the same way.
//
// Use: install the recorder as the platform for one scan (CPlatformScope), run the scan, then
// call BuildModel. The model holds what the scan saw: controllers, hubs, ports and their
// connection information, driver keys and hub names, string descriptors, the device-node
// tree as far as the scan walked it with the properties and removal relations it read, and
// the volumes. Where the scan does not ask for something the fixture should hold, BuildModel
// asks the backend itself, with read-only requests of the kinds the scan sends: every string
// of every connected device in every language the device lists, the instance ID, status and
// properties of every device node met, and the parents of nodes met only by instance ID.
//
// Failures are kept as the fixture's faults: a request that fails, that claims success
// without writing, that reports a wrong length or byte count, a configuration-manager call
// that answers an error or a link the tree does not have. Where the format has no word for
// an answer (one that changes while the scan runs, say), the first answer is kept and a note
// says so. Nothing the backend answers is trusted: every length is bounded, and the model is
// one that the fixture writer can always write and the loader always read.
//
// Threads: the IPlatform calls come from one thread at a time, as from any backend. BuildModel
// is called once, after the scan has ended, on any one thread; it calls the backend itself.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/model/MachineModel.h"

namespace ks {

namespace capture {
struct CCaptureLog;
}

class CMachineRecorder : public IPlatform {
  public:
    explicit CMachineRecorder(IPlatform& backend);
    ~CMachineRecorder() override;
    CMachineRecorder(const CMachineRecorder&) = delete;
    CMachineRecorder& operator=(const CMachineRecorder&) = delete;

    // The machine as the scan saw it, completed from the backend. Also fills Notes().
    CMachineModel BuildModel();
    // What the model could not say exactly, one line each (for the fixture's comments).
    const std::vector<std::string>& Notes() const;

    // --- IPlatform: each call goes to the backend, its answer is remembered ------------
    // The backend takes its picture of a live machine here; BuildModel's own requests are
    // answered from the same picture, as long as no further scan has begun.
    void BeginScan() override;
    HANDLE CreateFileA(const char* path, DWORD desiredAccess, DWORD shareMode,
                       void* securityAttributes, DWORD creationDisposition,
                       DWORD flagsAndAttributes, HANDLE templateFile) override;
    BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, void* in, DWORD inSize, void* out,
                         DWORD outSize, DWORD* bytesReturned, void* overlapped) override;
    BOOL CloseHandle(HANDLE handle) override;
    int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR16* src, int srcLen, char* dst,
                            int dstSize, const char* defaultChar, BOOL* usedDefaultChar) override;

    HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator, HWND parent,
                                  DWORD flags) override;
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                     const GUID* classGuid, DWORD memberIndex,
                                     SP_DEVICE_INTERFACE_DATA* interfaceData) override;
    BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                                          SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                          DWORD detailSize, DWORD* requiredSize,
                                          SP_DEVINFO_DATA* deviceInfo) override;
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override;

    CONFIGRET CM_Locate_DevNodeA(DEVINST* devInst, const char* deviceId, ULONG flags) override;
    CONFIGRET CM_Get_Child(DEVINST* child, DEVINST devInst, ULONG flags) override;
    CONFIGRET CM_Get_Sibling(DEVINST* sibling, DEVINST devInst, ULONG flags) override;
    CONFIGRET CM_Get_Parent(DEVINST* parent, DEVINST devInst, ULONG flags) override;
    CONFIGRET CM_Get_Device_IDA(DEVINST devInst, char* buffer, ULONG length, ULONG flags) override;
    CONFIGRET CM_Get_Device_ID_List_SizeA(ULONG* length, const char* filter, ULONG flags) override;
    CONFIGRET CM_Get_Device_ID_ListA(const char* filter, char* buffer, ULONG length,
                                     ULONG flags) override;
    CONFIGRET CM_Get_DevNode_Status(ULONG* status, ULONG* problemNumber, DEVINST devInst,
                                    ULONG flags) override;
    CONFIGRET CM_Get_DevNode_Registry_PropertyA(DEVINST devInst, ULONG property, ULONG* regDataType,
                                                void* buffer, ULONG* length, ULONG flags) override;

    BOOL GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* volumeName,
                                           DWORD length) override;

  private:
    struct CTargets;

    IPlatform& m_backend;
    std::unique_ptr<capture::CCaptureLog> m_pLog;
    std::unique_ptr<CTargets> m_pTargets;  // open handles and sets, and what they name
};

// The fixture text of what the recorder saw (BuildModel, then WriteMachineFixture with its
// notes as comments). Call once, after the scan.
std::string CaptureFixtureText(CMachineRecorder& recorder);

}  // namespace ks

// CModelPlatform: an IPlatform that answers from a CMachineModel, byte for byte in the
// layouts the Windows USB host-controller and hub drivers, the Setup API, the configuration
// manager and the mount-point manager use, with the model's injected faults applied.
//
// What it answers:
//  - CreateFileA of "\\.\HCDn" (n = a controller's HCD number), of a controller's interface
//    path, and of "\\.\<hub symbolic name>" (paths compared without regard to letter case).
//  - DeviceIoControl with the seven USB requests the program sends. Any other code is
//    refused (FALSE) and recorded in the call log. Replies never exceed outSize; a reply
//    that does not fit is cut the way the driver cuts it (names: ActualLength and as much
//    of the name as fits, TRUE) or refused (fixed-size structures: FALSE).
//  - The Setup API for the host-controller and volume interface classes, the
//    configuration-manager calls over the model's device tree (DEVINST handles are nonzero
//    and fixed for the platform's lifetime), and GetVolumeNameForVolumeMountPointA for
//    drive roots and for volume interface paths with "\" appended.
//
// The call log records every operation (counts by name), every DeviceIoControl with the
// path of its handle, and every path passed to CreateFileA, so that a test can prove what
// the program sent.
//
// Threads: one thread at a time (the IPlatform contract); the log is read by the test's
// thread after the scan has returned.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/model/MachineModel.h"

namespace ks {

struct CIoctlCall {
    std::string m_strPath;  // the path the handle was opened with ("" for an unknown handle)
    DWORD m_dwCode = 0;
    DWORD m_dwInSize = 0;
    DWORD m_dwOutSize = 0;
    BOOL m_bResult = FALSE;
};

class CModelPlatform : public IPlatform {
  public:
    explicit CModelPlatform(CMachineModel model);
    ~CModelPlatform() override;
    CModelPlatform(const CModelPlatform&) = delete;
    CModelPlatform& operator=(const CModelPlatform&) = delete;

    const CMachineModel& Model() const { return m_model; }

    // --- Call log ---------------------------------------------------------------------
    // Calls of one operation, by its name ("DeviceIoControl", "CM_Get_Child", ...).
    unsigned CallCount(std::string_view operation) const;
    const std::vector<CIoctlCall>& IoctlCalls() const;
    // The requests whose code is none of kAllowedIoctls (each was refused).
    std::vector<CIoctlCall> UnknownIoctlCalls() const;
    const std::vector<std::string>& OpenedPaths() const { return m_vOpenedPaths; }
    // Handles and device-information sets opened and not yet closed.
    std::size_t OpenHandleCount() const;
    std::size_t OpenDeviceInfoSetCount() const;
    // Forgets the log (counts, calls, paths); the machine's state (vanished devices,
    // fault counters, open handles) stays as it is.
    void ClearLog();

    // The DEVINST of a node by instance ID (0 when the model has none): for tests.
    DEVINST DevInstOf(std::string_view instanceId) const;

    // --- IPlatform --------------------------------------------------------------------
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
    struct CState;

    enum class ENavigate { Child, Sibling, Parent };
    // The operations the call log counts, in the order of kOperationNames.
    enum class EOperation : std::size_t {
        CreateFileA,
        DeviceIoControl,
        CloseHandle,
        WideCharToMultiByte,
        SetupDiGetClassDevsA,
        SetupDiEnumDeviceInterfaces,
        SetupDiGetDeviceInterfaceDetailA,
        SetupDiDestroyDeviceInfoList,
        CM_Locate_DevNodeA,
        CM_Get_Child,
        CM_Get_Sibling,
        CM_Get_Parent,
        CM_Get_Device_IDA,
        CM_Get_Device_ID_List_SizeA,
        CM_Get_Device_ID_ListA,
        CM_Get_DevNode_Status,
        CM_Get_DevNode_Registry_PropertyA,
        GetVolumeNameForVolumeMountPointA,
        Count
    };
    // One driver request as the log keeps it: the handle's slot instead of its path, so
    // that logging a request copies no text.
    struct CIoctlRecord {
        std::size_t m_file;  // slot in the open files; npos for an unknown handle
        DWORD m_dwCode;
        DWORD m_dwInSize;
        DWORD m_dwOutSize;
        BOOL m_bResult;
    };

    void Count(EOperation operation) { ++m_aCounts[static_cast<std::size_t>(operation)]; }
    BOOL ControllerRequest(std::size_t index, DWORD code, void* out, DWORD outSize,
                           DWORD* bytesReturned);
    BOOL HubRequest(std::size_t index, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize,
                    DWORD* bytesReturned);
    BOOL DescriptorRequest(const CUsbPort* port, const CUsbDevice* dev, void* in, DWORD inSize,
                           void* out, DWORD outSize, DWORD* bytesReturned);
    bool IsHubGone(std::size_t hub) const;
    bool IsPortVanished(std::size_t hub, DWORD port) const;
    std::optional<std::size_t> NodeIndex(DEVINST devInst) const;
    DEVINST NodeHandle(std::size_t index) const;
    void TouchNode(std::size_t index);
    bool IsNodeGone(std::size_t index) const;
    CONFIGRET LiveNode(DEVINST devInst, std::size_t* index);
    // Fills the node's record of what its calls answer (CState::CNodeAnswers).
    void AnswerAhead(std::size_t index);
    // The first node with this instance ID (ANSI, or the model's UTF-8), letter case aside.
    std::optional<std::size_t> FindNodeAnsi(std::string_view ansiId) const;
    std::optional<std::size_t> FindNodeById(std::string_view instanceId) const;
    CONFIGRET Navigate(ENavigate which, DEVINST* target, DEVINST devInst, ULONG flags);
    // The list a CM_Get_Device_ID_List call answers, its final NUL included, valid until the
    // next call; none when the call is settled otherwise (a failure, or an injected fault
    // that writes nothing), with the result in *result.
    std::optional<std::string_view> IdList(const char* filter, ULONG flags, CONFIGRET* result,
                                           bool sizeQuery);

    CMachineModel m_model;
    std::unique_ptr<CState> m_pState;  // handles, sets, fault and vanish counters
    std::array<unsigned, static_cast<std::size_t>(EOperation::Count)> m_aCounts{};
    std::vector<CIoctlRecord> m_vIoctlLog;
    mutable std::vector<CIoctlCall> m_vIoctlCalls;  // the log with paths, made when asked
    std::vector<std::string> m_vOpenedPaths;
};

// WideCharToMultiByte as Windows does it, over the framework's conversion: CP_ACP (and
// CP_UTF8) only; srcLen -1 converts up to and including the NUL; with dstSize 0 the size
// needed is returned; a buffer too small gets 0 and is left untouched. Shared by the
// backends that are not Windows.
int ConvertWideCharToMultiByte(UINT codePage, const WCHAR16* src, int srcLen, char* dst,
                               int dstSize, BOOL* usedDefaultChar);

}  // namespace ks

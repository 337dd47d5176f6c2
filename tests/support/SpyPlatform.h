// CSpyPlatform: passes every call on to another platform and writes down, one line a call,
// what was asked and everything the other platform answered: results, the bytes it wrote,
// sizes and handles. Handles, device-information sets and device nodes are written as the
// order in which they first came back (#1, #2, ...), so that two machines that answer alike
// give the same log even where their handle values differ.
#pragma once

#include <map>
#include <string>

#include "platform/Platform.h"

namespace ks::test {

class CSpyPlatform : public IPlatform {
  public:
    explicit CSpyPlatform(IPlatform& inner) : m_inner(inner) {}
    const std::string& Log() const { return m_strLog; }

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
    std::string Handle(const void* handle);
    std::string Node(DEVINST node);
    void Line(const std::string& text) { m_strLog += text + "\n"; }

    IPlatform& m_inner;
    std::string m_strLog;
    std::map<const void*, int> m_handles;
    std::map<DEVINST, int> m_nodes;
};

}  // namespace ks::test

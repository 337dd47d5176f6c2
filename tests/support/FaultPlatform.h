// CFaultPlatform: a platform that passes every call on to another one, numbers the calls
// of a scan from 0, and spoils exactly one of them, the way a failing driver or a lying
// device would: the call fails, or its reply is cut short, carries a wrong length, is
// overwritten with random bytes, or is reported as a success that wrote nothing.
//
// It also says which part of the machine each call served, so that a test can tell the
// devices a spoiled call could have changed from those it could not:
//  - the volume table, read before the USB walk: "V";
//  - the list of host controllers: "" (every device depends on it);
//  - a controller's own requests and its root hub's: "H<path>>";
//  - a port of a hub: the hub's owner followed by "<port>>"; a hub's own requests belong to
//    the port it hangs on. Every configuration-manager call in between belongs to the port
//    whose requests came last (the device being read).
// A device whose owner starts with a call's owner depends on that call.
//
// A scan that runs away (many more calls than the machine needs) is cut off: every call
// past the bound fails, and RanAway() says so.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace ks::test {

enum class EFault {
    None,
    Fail,          // the failure value, nothing written
    Truncate,      // the reply cut to half its length
    ByteCount,     // a returned or required size far beyond the real one
    LengthField,   // a length field inside the reply far beyond the real one
    RandomBytes,   // the output overwritten with random bytes
    EmptySuccess,  // success reported, nothing written
};
inline constexpr EFault kAllFaults[] = {EFault::Fail,        EFault::Truncate,
                                        EFault::ByteCount,   EFault::LengthField,
                                        EFault::RandomBytes, EFault::EmptySuccess};
const char* FaultName(EFault fault);

struct CCallRecord {
    const char* m_pOperation;
    std::string m_strOwner;
    // Which faults this call can take (a bit per EFault).
    unsigned m_applicable;
};

class CFaultPlatform : public IPlatform {
  public:
    explicit CFaultPlatform(IPlatform& inner) : m_inner(inner) {}

    // The fault to apply to call `index` (0-based) of this platform's lifetime.
    void Arm(std::size_t index, EFault fault, std::uint32_t seed);
    // Calls past this count fail, and the scan is marked as run away.
    void SetCallLimit(std::size_t limit) { m_limit = limit; }

    const std::vector<CCallRecord>& Calls() const { return m_calls; }
    // The owner of the call being served now ("" before the first request).
    const std::string& CurrentOwner() const { return m_current; }
    bool Injected() const { return m_injected; }
    bool RanAway() const { return m_ranAway; }

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
    // Records the call under `owner` and returns the fault to apply to it (None when the
    // call is not the armed one, or the fault does not apply to it).
    EFault Enter(const char* operation, const std::string& owner, unsigned applicable);
    std::string OwnerOf(HANDLE handle) const;
    std::uint32_t Random();
    void Scribble(void* buffer, std::size_t size, bool nonZero);

    IPlatform& m_inner;
    std::vector<CCallRecord> m_calls;
    std::map<HANDLE, std::string> m_handleOwners;
    std::string m_current = "V";
    std::string m_pendingHub;  // the owner of the next hub opened, once its name is known
    bool m_inVolumes = true;
    std::size_t m_armedIndex = static_cast<std::size_t>(-1);
    EFault m_armed = EFault::None;
    std::uint32_t m_seed = 1;
    bool m_injected = false;
    std::size_t m_limit = static_cast<std::size_t>(-1);
    bool m_ranAway = false;
    unsigned m_fakeHandles = 0;
};

}  // namespace ks::test

// The operating-system layer of the scan: exactly the operations the USB walk, the
// device-node queries and the volume table need, in their Windows (ANSI) shapes.
//
// Contract, for every backend:
//  - Each operation behaves as its Windows namesake does for the arguments the program
//    passes (documented per operation below); anything else may be refused with the
//    operation's failure value.
//  - Calls come from one thread at a time: the scan worker thread during a scan, or a
//    test's own thread. A backend needs no locking of its own for the scan's sake, but
//    Platform() and CPlatformScope may be used from any thread.
//  - A backend never throws, never blocks without bound, and never writes past the lengths
//    it is given. Output buffers are the caller's; a backend writes only within them.
//  - Callers must not trust a success result alone: some platforms report success without
//    writing their outputs, so every output parameter starts initialised on the caller's
//    side.
//
// Backends: win32/ (forwards to Windows), model/ (answers from a machine model, loaded by
// sim/ from a JSON fixture) and linux/ (the live machine). NativePlatform() is the one that
// the build compiles in for the host; tests install another with CPlatformScope.
#pragma once

#include "platform/PlatformTypes.h"

namespace ks {

class IPlatform {
  public:
    virtual ~IPlatform() = default;

    // A scan of the machine begins (the scanner calls this first, on the scan's thread). A
    // backend that reads a live machine takes its picture of it here, so that every answer
    // of the scan describes the same moment and nothing is carried over from the scan
    // before. Handles and DEVINST values of an earlier scan mean nothing after it.
    virtual void BeginScan() {}

    // --- Device I/O on host controllers and hubs ---------------------------------------
    // Opens a device path ("\\.\HCD0", a host-controller interface path, "\\.\<hub name>").
    // Returns INVALID_HANDLE_VALUE when the path names nothing that can be opened.
    virtual HANDLE CreateFileA(const char* path, DWORD desiredAccess, DWORD shareMode,
                               void* securityAttributes, DWORD creationDisposition,
                               DWORD flagsAndAttributes, HANDLE templateFile) = 0;
    // One synchronous driver request. `in`/`out` may be the same buffer. On success the
    // reply is in `out` and *bytesReturned holds the count the driver reports.
    virtual BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, void* in, DWORD inSize,
                                 void* out, DWORD outSize, DWORD* bytesReturned,
                                 void* overlapped) = 0;
    virtual BOOL CloseHandle(HANDLE handle) = 0;
    // UTF-16 to the ANSI code page (CP_ACP): the system's on Windows, UTF-8 elsewhere.
    // Characters the code page lacks become its default character. With dstSize 0 it
    // returns the size needed; otherwise the bytes written, 0 on failure.
    virtual int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR16* src, int srcLen,
                                    char* dst, int dstSize, const char* defaultChar,
                                    BOOL* usedDefaultChar) = 0;

    // --- Setup API: device-interface sets ----------------------------------------------
    // Only the form (class GUID, no enumerator, no window, DIGCF_PRESENT|DIGCF_DEVICEINTERFACE)
    // is used. Returns INVALID_HANDLE_VALUE on failure. Interfaces come in a stable order.
    virtual HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator,
                                          HWND parent, DWORD flags) = 0;
    virtual BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                             const GUID* classGuid, DWORD memberIndex,
                                             SP_DEVICE_INTERFACE_DATA* interfaceData) = 0;
    // With no buffer and size 0: FALSE, *requiredSize = bytes needed. With a buffer whose
    // cbSize is 5: the DevicePath, and DevInst in *deviceInfo when one is given.
    virtual BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set,
                                                  SP_DEVICE_INTERFACE_DATA* interfaceData,
                                                  SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                                  DWORD detailSize, DWORD* requiredSize,
                                                  SP_DEVINFO_DATA* deviceInfo) = 0;
    virtual BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) = 0;

    // --- Configuration manager: the device tree ----------------------------------------
    // With a null ID, the root of the tree; otherwise the node of a present device.
    virtual CONFIGRET CM_Locate_DevNodeA(DEVINST* devInst, const char* deviceId, ULONG flags) = 0;
    virtual CONFIGRET CM_Get_Child(DEVINST* child, DEVINST devInst, ULONG flags) = 0;
    virtual CONFIGRET CM_Get_Sibling(DEVINST* sibling, DEVINST devInst, ULONG flags) = 0;
    virtual CONFIGRET CM_Get_Parent(DEVINST* parent, DEVINST devInst, ULONG flags) = 0;
    // The NUL-terminated instance ID into a buffer of `length` bytes.
    virtual CONFIGRET CM_Get_Device_IDA(DEVINST devInst, char* buffer, ULONG length,
                                        ULONG flags) = 0;
    // With CM_GETIDLIST_FILTER_REMOVALRELATIONS: the devices removed together with the
    // filter device, as NUL-ended IDs followed by an empty one; the size is in characters,
    // terminators included.
    virtual CONFIGRET CM_Get_Device_ID_List_SizeA(ULONG* length, const char* filter,
                                                  ULONG flags) = 0;
    virtual CONFIGRET CM_Get_Device_ID_ListA(const char* filter, char* buffer, ULONG length,
                                             ULONG flags) = 0;
    virtual CONFIGRET CM_Get_DevNode_Status(ULONG* status, ULONG* problemNumber, DEVINST devInst,
                                            ULONG flags) = 0;
    // A registry property of a node. CR_BUFFER_SMALL with *length = size needed when the
    // buffer is missing or too small; CR_NO_SUCH_VALUE when the node lacks the property.
    virtual CONFIGRET CM_Get_DevNode_Registry_PropertyA(DEVINST devInst, ULONG property,
                                                        ULONG* regDataType, void* buffer,
                                                        ULONG* length, ULONG flags) = 0;

    // --- Volume mount points ------------------------------------------------------------
    // A drive root ("E:\") or a volume interface path with "\" appended: the volume name
    // ("\\?\Volume{...}\") into a buffer of `length` bytes.
    virtual BOOL GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* volumeName,
                                                   DWORD length) = 0;
};

// The backend that serves calls now: the native one unless a scope has installed another.
IPlatform& Platform();

// The host's own backend, chosen once by the build (Win32 on Windows, the live machine on
// Linux).
IPlatform& NativePlatform();

// Installs a backend for the lifetime of the scope (a test's, or a tool's --machine run),
// restoring the previous one when it ends. Scopes nest.
class CPlatformScope {
  public:
    explicit CPlatformScope(IPlatform& platform);
    ~CPlatformScope();
    CPlatformScope(const CPlatformScope&) = delete;
    CPlatformScope& operator=(const CPlatformScope&) = delete;

  private:
    IPlatform* m_pPrevious;
};

}  // namespace ks

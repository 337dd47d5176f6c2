// The Linux backend, for now: a machine with nothing on it. Every open fails, no interface
// set can be opened, the device tree is a lone root node, and no drive root names a volume.
// The live machine (sysfs, /proc/self/mountinfo) comes with the sysfs backend.
#include <cstring>

#include "platform/Platform.h"
#include "platform/model/ModelPlatform.h"

namespace ks {

namespace {

constexpr DEVINST kRoot = 1;
constexpr char kRootId[] = "HTREE\\ROOT\\0";
// DN_DRIVER_LOADED | DN_STARTED | DN_NT_ENUMERATOR | DN_NT_DRIVER
constexpr ULONG kRootStatus = 0x0180000A;

class CLinuxPlatform final : public IPlatform {
  public:
    HANDLE CreateFileA(const char*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) override {
        return INVALID_HANDLE_VALUE;
    }
    BOOL DeviceIoControl(HANDLE, DWORD, void*, DWORD, void*, DWORD, DWORD* bytesReturned,
                         void*) override {
        if (bytesReturned != nullptr)
            *bytesReturned = 0;
        return FALSE;
    }
    BOOL CloseHandle(HANDLE) override { return FALSE; }
    int WideCharToMultiByte(UINT codePage, DWORD, const WCHAR16* src, int srcLen, char* dst,
                            int dstSize, const char*, BOOL* usedDefaultChar) override {
        return ConvertWideCharToMultiByte(codePage, src, srcLen, dst, dstSize, usedDefaultChar);
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

    CONFIGRET CM_Locate_DevNodeA(DEVINST* devInst, const char* deviceId, ULONG) override {
        if (devInst == nullptr)
            return CR_INVALID_POINTER;
        if (deviceId != nullptr && deviceId[0] != '\0' && std::strcmp(deviceId, kRootId) != 0)
            return CR_NO_SUCH_DEVNODE;
        *devInst = kRoot;
        return CR_SUCCESS;
    }
    CONFIGRET CM_Get_Child(DEVINST* child, DEVINST devInst, ULONG) override {
        return Nothing(child, devInst);
    }
    CONFIGRET CM_Get_Sibling(DEVINST* sibling, DEVINST devInst, ULONG) override {
        return Nothing(sibling, devInst);
    }
    CONFIGRET CM_Get_Parent(DEVINST* parent, DEVINST devInst, ULONG) override {
        return Nothing(parent, devInst);
    }
    CONFIGRET CM_Get_Device_IDA(DEVINST devInst, char* buffer, ULONG length, ULONG) override {
        if (buffer == nullptr)
            return CR_INVALID_POINTER;
        if (devInst != kRoot)
            return CR_NO_SUCH_DEVNODE;
        if (length < sizeof(kRootId))
            return CR_BUFFER_SMALL;
        std::memcpy(buffer, kRootId, sizeof(kRootId));
        return CR_SUCCESS;
    }
    CONFIGRET CM_Get_Device_ID_List_SizeA(ULONG* length, const char* filter, ULONG) override {
        if (length == nullptr)
            return CR_INVALID_POINTER;
        if (filter == nullptr || std::strcmp(filter, kRootId) != 0)
            return CR_NO_SUCH_DEVNODE;
        *length = 1;  // the root is removed with nothing: an empty list
        return CR_SUCCESS;
    }
    CONFIGRET CM_Get_Device_ID_ListA(const char* filter, char* buffer, ULONG length,
                                     ULONG) override {
        if (buffer == nullptr || length == 0)
            return CR_INVALID_POINTER;
        if (filter == nullptr || std::strcmp(filter, kRootId) != 0)
            return CR_NO_SUCH_DEVNODE;
        buffer[0] = '\0';
        return CR_SUCCESS;
    }
    CONFIGRET CM_Get_DevNode_Status(ULONG* status, ULONG* problemNumber, DEVINST devInst,
                                    ULONG) override {
        if (status == nullptr || problemNumber == nullptr)
            return CR_INVALID_POINTER;
        if (devInst != kRoot)
            return CR_NO_SUCH_DEVNODE;
        *status = kRootStatus;
        *problemNumber = 0;
        return CR_SUCCESS;
    }
    CONFIGRET CM_Get_DevNode_Registry_PropertyA(DEVINST devInst, ULONG, ULONG*, void*,
                                                ULONG* length, ULONG) override {
        if (length == nullptr)
            return CR_INVALID_POINTER;
        return devInst == kRoot ? CR_NO_SUCH_VALUE : CR_NO_SUCH_DEVNODE;
    }

    BOOL GetVolumeNameForVolumeMountPointA(const char*, char*, DWORD) override { return FALSE; }

  private:
    static CONFIGRET Nothing(DEVINST* out, DEVINST devInst) {
        if (out == nullptr)
            return CR_INVALID_POINTER;
        return devInst == kRoot ? CR_NO_SUCH_DEVNODE : CR_INVALID_DEVNODE;
    }
};

}  // namespace

IPlatform& NativePlatform() {
    static CLinuxPlatform platform;
    return platform;
}

}  // namespace ks

// The Linux backend: the live machine. Each scan begins with a fresh picture of sysfs and
// the mount table (ReadLinuxMachine), and a CModelPlatform answers every call of that scan
// from it, in the Windows layouts the scan expects (see LinuxMachine.h for why a picture).
// A call that comes with no scan begun (a tool or a test asking directly) gets a picture
// taken then.
//
// Threads: the IPlatform contract (one thread at a time); the picture is replaced only in
// BeginScan, on the scanning thread.
#include <memory>

#include "platform/Platform.h"
#include "platform/linux/LinuxMachine.h"
#include "platform/model/ModelPlatform.h"

namespace ks {

namespace {

class CLinuxPlatform final : public IPlatform {
  public:
    void BeginScan() override {
        // The old picture goes first: two pictures of a large machine are never held.
        m_pPicture.reset();
        CSysfsReader reader;
        std::unique_ptr<IDeviceDatabase> database = MakeUdevDatabase();
        m_pPicture = std::make_unique<CModelPlatform>(ReadLinuxMachine(reader, database.get()));
    }

    HANDLE CreateFileA(const char* path, DWORD access, DWORD share, void* security,
                       DWORD disposition, DWORD flags, HANDLE templateFile) override {
        return Picture().CreateFileA(path, access, share, security, disposition, flags,
                                     templateFile);
    }
    BOOL DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out,
                         DWORD outSize, DWORD* bytesReturned, void* overlapped) override {
        return Picture().DeviceIoControl(device, code, in, inSize, out, outSize, bytesReturned,
                                         overlapped);
    }
    BOOL CloseHandle(HANDLE handle) override { return Picture().CloseHandle(handle); }
    int WideCharToMultiByte(UINT codePage, DWORD, const WCHAR16* src, int srcLen, char* dst,
                            int dstSize, const char*, BOOL* usedDefaultChar) override {
        return ConvertWideCharToMultiByte(codePage, src, srcLen, dst, dstSize, usedDefaultChar);
    }

    HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator, HWND parent,
                                  DWORD flags) override {
        return Picture().SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
    }
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                     const GUID* classGuid, DWORD memberIndex,
                                     SP_DEVICE_INTERFACE_DATA* interfaceData) override {
        return Picture().SetupDiEnumDeviceInterfaces(set, deviceInfo, classGuid, memberIndex,
                                                     interfaceData);
    }
    BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interfaceData,
                                          SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                          DWORD detailSize, DWORD* requiredSize,
                                          SP_DEVINFO_DATA* deviceInfo) override {
        return Picture().SetupDiGetDeviceInterfaceDetailA(set, interfaceData, detail, detailSize,
                                                          requiredSize, deviceInfo);
    }
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override {
        return Picture().SetupDiDestroyDeviceInfoList(set);
    }

    CONFIGRET CM_Locate_DevNodeA(DEVINST* devInst, const char* deviceId, ULONG flags) override {
        return Picture().CM_Locate_DevNodeA(devInst, deviceId, flags);
    }
    CONFIGRET CM_Get_Child(DEVINST* child, DEVINST devInst, ULONG flags) override {
        return Picture().CM_Get_Child(child, devInst, flags);
    }
    CONFIGRET CM_Get_Sibling(DEVINST* sibling, DEVINST devInst, ULONG flags) override {
        return Picture().CM_Get_Sibling(sibling, devInst, flags);
    }
    CONFIGRET CM_Get_Parent(DEVINST* parent, DEVINST devInst, ULONG flags) override {
        return Picture().CM_Get_Parent(parent, devInst, flags);
    }
    CONFIGRET CM_Get_Device_IDA(DEVINST devInst, char* buffer, ULONG length, ULONG flags) override {
        return Picture().CM_Get_Device_IDA(devInst, buffer, length, flags);
    }
    CONFIGRET CM_Get_Device_ID_List_SizeA(ULONG* length, const char* filter, ULONG flags) override {
        return Picture().CM_Get_Device_ID_List_SizeA(length, filter, flags);
    }
    CONFIGRET CM_Get_Device_ID_ListA(const char* filter, char* buffer, ULONG length,
                                     ULONG flags) override {
        return Picture().CM_Get_Device_ID_ListA(filter, buffer, length, flags);
    }
    CONFIGRET CM_Get_DevNode_Status(ULONG* status, ULONG* problemNumber, DEVINST devInst,
                                    ULONG flags) override {
        return Picture().CM_Get_DevNode_Status(status, problemNumber, devInst, flags);
    }
    CONFIGRET CM_Get_DevNode_Registry_PropertyA(DEVINST devInst, ULONG property, ULONG* type,
                                                void* buffer, ULONG* length, ULONG flags) override {
        return Picture().CM_Get_DevNode_Registry_PropertyA(devInst, property, type, buffer, length,
                                                           flags);
    }

    // Linux has no drive letters, and no volume names behind them: no root "A:\" to "Y:\"
    // names a volume, so no device node ever shows a letter.
    BOOL GetVolumeNameForVolumeMountPointA(const char*, char*, DWORD) override { return FALSE; }

  private:
    CModelPlatform& Picture() {
        if (m_pPicture == nullptr)
            BeginScan();
        return *m_pPicture;
    }

    std::unique_ptr<CModelPlatform> m_pPicture;
};

}  // namespace

IPlatform& NativePlatform() {
    static CLinuxPlatform platform;
    return platform;
}

}  // namespace ks

// The Windows backend: every operation goes straight to the Windows function of the same
// name. Our own types have the 32-bit SDK layouts, checked below at compile time, so the
// arguments pass through with a cast and nothing else.
//
// Our headers come first: <windows.h> defines macros (TRUE, CR_SUCCESS, IOCTL_USB_...,
// INVALID_HANDLE_VALUE, ...) that would rewrite the names in them. Everything that must be
// compared with the SDK is copied into a name of our own before the SDK headers arrive.
#include "platform/Platform.h"

namespace ks::win32check {
constexpr std::size_t kSizeInterfaceData = sizeof(SP_DEVICE_INTERFACE_DATA);
constexpr std::size_t kSizeDetailData = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
constexpr std::size_t kSizeDevinfoData = sizeof(SP_DEVINFO_DATA);
constexpr std::size_t kOffInterfaceGuid = offsetof(SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid);
constexpr std::size_t kOffInterfaceFlags = offsetof(SP_DEVICE_INTERFACE_DATA, Flags);
constexpr std::size_t kOffInterfaceReserved = offsetof(SP_DEVICE_INTERFACE_DATA, Reserved);
constexpr std::size_t kOffDevicePath = kDevicePathOffset;
constexpr std::size_t kOffDevinfoGuid = offsetof(SP_DEVINFO_DATA, ClassGuid);
constexpr std::size_t kOffDevinfoDevInst = offsetof(SP_DEVINFO_DATA, DevInst);
constexpr std::size_t kOffDevinfoReserved = offsetof(SP_DEVINFO_DATA, Reserved);

constexpr DWORD kRootHubName = IOCTL_USB_GET_ROOT_HUB_NAME;
constexpr DWORD kNodeInformation = IOCTL_USB_GET_NODE_INFORMATION;
constexpr DWORD kConnectionInformation = IOCTL_USB_GET_NODE_CONNECTION_INFORMATION;
constexpr DWORD kDescriptorFromConnection = IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION;
constexpr DWORD kConnectionName = IOCTL_USB_GET_NODE_CONNECTION_NAME;
constexpr DWORD kConnectionDriverKeyName = IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME;
constexpr DWORD kHcdDriverKeyName = IOCTL_GET_HCD_DRIVERKEY_NAME;
constexpr DWORD kConnectionInformationEx = IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX;

constexpr CONFIGRET kCrSuccess = CR_SUCCESS;
constexpr CONFIGRET kCrFailure = CR_FAILURE;
constexpr CONFIGRET kCrInvalidPointer = CR_INVALID_POINTER;
constexpr CONFIGRET kCrInvalidDevnode = CR_INVALID_DEVNODE;
constexpr CONFIGRET kCrNoSuchDevnode = CR_NO_SUCH_DEVNODE;
constexpr CONFIGRET kCrBufferSmall = CR_BUFFER_SMALL;
constexpr CONFIGRET kCrNoSuchValue = CR_NO_SUCH_VALUE;
constexpr ULONG kLocateNormal = CM_LOCATE_DEVNODE_NORMAL;
constexpr ULONG kFilterRemovalRelations = CM_GETIDLIST_FILTER_REMOVALRELATIONS;
constexpr ULONG kMaxDeviceIdLen = MAX_DEVICE_ID_LEN;
constexpr ULONG kDrpDeviceDesc = CM_DRP_DEVICEDESC;
constexpr ULONG kDrpService = CM_DRP_SERVICE;
constexpr ULONG kDrpClassGuid = CM_DRP_CLASSGUID;
constexpr ULONG kDrpDriver = CM_DRP_DRIVER;
constexpr ULONG kDrpFriendlyName = CM_DRP_FRIENDLYNAME;
constexpr ULONG kDrpLocationInformation = CM_DRP_LOCATION_INFORMATION;
constexpr ULONG kDrpUpperFilters = CM_DRP_UPPERFILTERS;
constexpr ULONG kDrpLowerFilters = CM_DRP_LOWERFILTERS;
constexpr ULONG kDrpEnumeratorName = CM_DRP_ENUMERATOR_NAME;

constexpr DWORD kDigcfPresent = DIGCF_PRESENT;
constexpr DWORD kDigcfDeviceInterface = DIGCF_DEVICEINTERFACE;
constexpr DWORD kGenericWrite = GENERIC_WRITE;
constexpr DWORD kFileShareWrite = FILE_SHARE_WRITE;
constexpr DWORD kOpenExisting = OPEN_EXISTING;
constexpr DWORD kFileFlagOverlapped = FILE_FLAG_OVERLAPPED;
constexpr UINT kCpAcp = CP_ACP;
constexpr UINT kCpUtf8 = CP_UTF8;

constexpr DWORD kStatusConnected = DeviceConnected;
constexpr DWORD kStatusFailedEnumeration = DeviceFailedEnumeration;
constexpr DWORD kStatusInLegacyHub = DeviceInLegacyHub;

constexpr GUID kHostControllerGuid = GUID_DEVINTERFACE_USB_HOST_CONTROLLER;
constexpr GUID kVolumeGuid = GUID_DEVINTERFACE_VOLUME;
}  // namespace ks::win32check

// The SDK headers must come in this order.
// clang-format off
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

// The SDK declares its interface GUIDs as extern objects, which a static_assert cannot
// read; for the two headers that declare ours, DEFINE_GUID is made to give compile-time
// constants instead, and <guiddef.h> puts its own definition back afterwards.
#undef DEFINE_GUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    constexpr ks::GUID kSdk_##name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
#include <winioctl.h>
#include <usbiodef.h>
#undef DEFINE_GUID
#include <guiddef.h>

#include <usbioctl.h>
// clang-format on

#include <cstddef>

namespace {

namespace chk = ks::win32check;

constexpr bool SameGuid(const ks::GUID& a, const ks::GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return true;
}

// --- Setup API layouts ------------------------------------------------------------------
static_assert(sizeof(::GUID) == sizeof(ks::GUID));
static_assert(chk::kSizeInterfaceData == sizeof(::SP_DEVICE_INTERFACE_DATA));
static_assert(chk::kOffInterfaceGuid == offsetof(::SP_DEVICE_INTERFACE_DATA, InterfaceClassGuid));
static_assert(chk::kOffInterfaceFlags == offsetof(::SP_DEVICE_INTERFACE_DATA, Flags));
static_assert(chk::kOffInterfaceReserved == offsetof(::SP_DEVICE_INTERFACE_DATA, Reserved));
static_assert(chk::kSizeDetailData == sizeof(::SP_DEVICE_INTERFACE_DETAIL_DATA_A));
static_assert(chk::kOffDevicePath == offsetof(::SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));
static_assert(chk::kSizeDevinfoData == sizeof(::SP_DEVINFO_DATA));
static_assert(chk::kOffDevinfoGuid == offsetof(::SP_DEVINFO_DATA, ClassGuid));
static_assert(chk::kOffDevinfoDevInst == offsetof(::SP_DEVINFO_DATA, DevInst));
static_assert(chk::kOffDevinfoReserved == offsetof(::SP_DEVINFO_DATA, Reserved));
static_assert(SameGuid(chk::kHostControllerGuid, kSdk_GUID_DEVINTERFACE_USB_HOST_CONTROLLER));
static_assert(SameGuid(chk::kVolumeGuid, kSdk_GUID_DEVINTERFACE_VOLUME));
static_assert(chk::kDigcfPresent == DIGCF_PRESENT &&
              chk::kDigcfDeviceInterface == DIGCF_DEVICEINTERFACE);
static_assert(chk::kGenericWrite == GENERIC_WRITE && chk::kFileShareWrite == FILE_SHARE_WRITE &&
              chk::kOpenExisting == OPEN_EXISTING &&
              chk::kFileFlagOverlapped == FILE_FLAG_OVERLAPPED);
static_assert(chk::kCpAcp == CP_ACP && chk::kCpUtf8 == CP_UTF8);

// --- USB driver requests ----------------------------------------------------------------
static_assert(chk::kRootHubName == IOCTL_USB_GET_ROOT_HUB_NAME);
static_assert(chk::kNodeInformation == IOCTL_USB_GET_NODE_INFORMATION);
static_assert(chk::kConnectionInformation == IOCTL_USB_GET_NODE_CONNECTION_INFORMATION);
static_assert(chk::kDescriptorFromConnection == IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION);
static_assert(chk::kConnectionName == IOCTL_USB_GET_NODE_CONNECTION_NAME);
static_assert(chk::kConnectionDriverKeyName == IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME);
static_assert(chk::kHcdDriverKeyName == IOCTL_GET_HCD_DRIVERKEY_NAME);
static_assert(chk::kConnectionInformationEx == IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX);

static_assert(sizeof(::USB_HCD_DRIVERKEY_NAME) == ks::kHcdNameProbeSize);
static_assert(offsetof(::USB_HCD_DRIVERKEY_NAME, DriverKeyName) == ks::kHcdNameTextOffset);
static_assert(sizeof(::USB_ROOT_HUB_NAME) == ks::kHcdNameProbeSize);
static_assert(offsetof(::USB_ROOT_HUB_NAME, RootHubName) == ks::kHcdNameTextOffset);
static_assert(sizeof(::USB_NODE_CONNECTION_NAME) == ks::kPortNameProbeSize);
static_assert(offsetof(::USB_NODE_CONNECTION_NAME, ActualLength) == ks::kPortNameLengthOffset);
static_assert(offsetof(::USB_NODE_CONNECTION_NAME, NodeName) == ks::kPortNameTextOffset);
static_assert(sizeof(::USB_NODE_CONNECTION_DRIVERKEY_NAME) == ks::kPortNameProbeSize);
static_assert(offsetof(::USB_NODE_CONNECTION_DRIVERKEY_NAME, ActualLength) ==
              ks::kPortNameLengthOffset);
static_assert(offsetof(::USB_NODE_CONNECTION_DRIVERKEY_NAME, DriverKeyName) ==
              ks::kPortNameTextOffset);

static_assert(sizeof(::USB_NODE_INFORMATION) == ks::kNodeInformationSize);
static_assert(offsetof(::USB_NODE_INFORMATION, u.HubInformation.HubDescriptor.bNumberOfPorts) ==
              ks::kNodeInfoPortCountOffset);

// The SDK declares the pipe list as PipeList[0], so sizeof gives the fixed part alone (35
// bytes); the 365 bytes the walk sends are that part and room for 30 pipes.
using ConnEx = ::USB_NODE_CONNECTION_INFORMATION_EX;
using Conn = ::USB_NODE_CONNECTION_INFORMATION;
static_assert(sizeof(ConnEx) == ks::conn::PipeList);
static_assert(sizeof(Conn) == ks::conn::PipeList);
static_assert(sizeof(::USB_PIPE_INFO) == ks::conn::PipeInfoSize);
static_assert(sizeof(ConnEx) + ks::conn::PipeCount * sizeof(::USB_PIPE_INFO) ==
              ks::kConnectionInfoSize);
static_assert(offsetof(ConnEx, ConnectionIndex) == ks::conn::ConnectionIndex);
static_assert(offsetof(ConnEx, DeviceDescriptor.bLength) == ks::conn::bLength);
static_assert(offsetof(ConnEx, DeviceDescriptor.bDescriptorType) == ks::conn::bDescriptorType);
static_assert(offsetof(ConnEx, DeviceDescriptor.bcdUSB) == ks::conn::bcdUSB);
static_assert(offsetof(ConnEx, DeviceDescriptor.bDeviceClass) == ks::conn::bDeviceClass);
static_assert(offsetof(ConnEx, DeviceDescriptor.bDeviceSubClass) == ks::conn::bDeviceSubClass);
static_assert(offsetof(ConnEx, DeviceDescriptor.bDeviceProtocol) == ks::conn::bDeviceProtocol);
static_assert(offsetof(ConnEx, DeviceDescriptor.bMaxPacketSize0) == ks::conn::bMaxPacketSize0);
static_assert(offsetof(ConnEx, DeviceDescriptor.idVendor) == ks::conn::idVendor);
static_assert(offsetof(ConnEx, DeviceDescriptor.idProduct) == ks::conn::idProduct);
static_assert(offsetof(ConnEx, DeviceDescriptor.bcdDevice) == ks::conn::bcdDevice);
static_assert(offsetof(ConnEx, DeviceDescriptor.iManufacturer) == ks::conn::iManufacturer);
static_assert(offsetof(ConnEx, DeviceDescriptor.iProduct) == ks::conn::iProduct);
static_assert(offsetof(ConnEx, DeviceDescriptor.iSerialNumber) == ks::conn::iSerialNumber);
static_assert(offsetof(ConnEx, DeviceDescriptor.bNumConfigurations) ==
              ks::conn::bNumConfigurations);
static_assert(offsetof(ConnEx, CurrentConfigurationValue) == ks::conn::CurrentConfigurationValue);
static_assert(offsetof(ConnEx, Speed) == ks::conn::Speed);
static_assert(offsetof(Conn, LowSpeed) == ks::conn::Speed);
static_assert(offsetof(ConnEx, DeviceIsHub) == ks::conn::DeviceIsHub);
static_assert(offsetof(Conn, DeviceIsHub) == ks::conn::DeviceIsHub);
static_assert(offsetof(ConnEx, DeviceAddress) == ks::conn::DeviceAddress);
static_assert(offsetof(ConnEx, NumberOfOpenPipes) == ks::conn::NumberOfOpenPipes);
static_assert(offsetof(ConnEx, ConnectionStatus) == ks::conn::ConnectionStatus);
static_assert(offsetof(Conn, ConnectionStatus) == ks::conn::ConnectionStatus);
static_assert(offsetof(ConnEx, PipeList) == ks::conn::PipeList);
static_assert(sizeof(::USB_CONNECTION_STATUS) == 4);
static_assert(chk::kStatusConnected == ::DeviceConnected &&
              chk::kStatusFailedEnumeration == ::DeviceFailedEnumeration &&
              chk::kStatusInLegacyHub == ::DeviceInLegacyHub);

static_assert(sizeof(::USB_DESCRIPTOR_REQUEST) == ks::kDescriptorRequestHeaderSize);
static_assert(offsetof(::USB_DESCRIPTOR_REQUEST, SetupPacket.wValue) == 6);
static_assert(offsetof(::USB_DESCRIPTOR_REQUEST, SetupPacket.wIndex) == 8);
static_assert(offsetof(::USB_DESCRIPTOR_REQUEST, SetupPacket.wLength) == 10);
static_assert(offsetof(::USB_DESCRIPTOR_REQUEST, Data) == ks::kDescriptorRequestHeaderSize);

// --- Configuration manager --------------------------------------------------------------
static_assert(chk::kCrSuccess == CR_SUCCESS && chk::kCrFailure == CR_FAILURE &&
              chk::kCrInvalidPointer == CR_INVALID_POINTER &&
              chk::kCrInvalidDevnode == CR_INVALID_DEVNODE &&
              chk::kCrNoSuchDevnode == CR_NO_SUCH_DEVNODE &&
              chk::kCrBufferSmall == CR_BUFFER_SMALL && chk::kCrNoSuchValue == CR_NO_SUCH_VALUE);
static_assert(chk::kLocateNormal == CM_LOCATE_DEVNODE_NORMAL &&
              chk::kFilterRemovalRelations == CM_GETIDLIST_FILTER_REMOVALRELATIONS &&
              chk::kMaxDeviceIdLen == MAX_DEVICE_ID_LEN);
static_assert(chk::kDrpDeviceDesc == CM_DRP_DEVICEDESC && chk::kDrpService == CM_DRP_SERVICE &&
              chk::kDrpClassGuid == CM_DRP_CLASSGUID && chk::kDrpDriver == CM_DRP_DRIVER &&
              chk::kDrpFriendlyName == CM_DRP_FRIENDLYNAME &&
              chk::kDrpLocationInformation == CM_DRP_LOCATION_INFORMATION &&
              chk::kDrpUpperFilters == CM_DRP_UPPERFILTERS &&
              chk::kDrpLowerFilters == CM_DRP_LOWERFILTERS &&
              chk::kDrpEnumeratorName == CM_DRP_ENUMERATOR_NAME);
static_assert(sizeof(::DEVINST) == sizeof(ks::DEVINST) &&
              sizeof(::CONFIGRET) == sizeof(ks::CONFIGRET));
static_assert(sizeof(::WCHAR) == sizeof(ks::WCHAR16));
static_assert(sizeof(::HWND) == sizeof(ks::HWND), "window handles pass as 32-bit values");

class CWin32Platform final : public ks::IPlatform {
  public:
    ks::HANDLE CreateFileA(const char* path, ks::DWORD desiredAccess, ks::DWORD shareMode,
                           void* securityAttributes, ks::DWORD creationDisposition,
                           ks::DWORD flagsAndAttributes, ks::HANDLE templateFile) override {
        return ::CreateFileA(path, desiredAccess, shareMode,
                             static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes),
                             creationDisposition, flagsAndAttributes, templateFile);
    }
    ks::BOOL DeviceIoControl(ks::HANDLE device, ks::DWORD code, void* in, ks::DWORD inSize,
                             void* out, ks::DWORD outSize, ks::DWORD* bytesReturned,
                             void* overlapped) override {
        return ::DeviceIoControl(device, code, in, inSize, out, outSize,
                                 reinterpret_cast<LPDWORD>(bytesReturned),
                                 static_cast<LPOVERLAPPED>(overlapped));
    }
    ks::BOOL CloseHandle(ks::HANDLE handle) override { return ::CloseHandle(handle); }
    int WideCharToMultiByte(ks::UINT codePage, ks::DWORD flags, const ks::WCHAR16* src, int srcLen,
                            char* dst, int dstSize, const char* defaultChar,
                            ks::BOOL* usedDefaultChar) override {
        return ::WideCharToMultiByte(codePage, flags, reinterpret_cast<LPCWCH>(src), srcLen, dst,
                                     dstSize, defaultChar, usedDefaultChar);
    }

    ks::HDEVINFO SetupDiGetClassDevsA(const ks::GUID* classGuid, const char* enumerator,
                                      ks::HWND parent, ks::DWORD flags) override {
        return ::SetupDiGetClassDevsA(reinterpret_cast<const ::GUID*>(classGuid), enumerator,
                                      reinterpret_cast<::HWND>(static_cast<std::uintptr_t>(parent)),
                                      flags);
    }
    ks::BOOL SetupDiEnumDeviceInterfaces(ks::HDEVINFO set, ks::SP_DEVINFO_DATA* deviceInfo,
                                         const ks::GUID* classGuid, ks::DWORD memberIndex,
                                         ks::SP_DEVICE_INTERFACE_DATA* interfaceData) override {
        return ::SetupDiEnumDeviceInterfaces(
            set, reinterpret_cast<::PSP_DEVINFO_DATA>(deviceInfo),
            reinterpret_cast<const ::GUID*>(classGuid), memberIndex,
            reinterpret_cast<::PSP_DEVICE_INTERFACE_DATA>(interfaceData));
    }
    ks::BOOL SetupDiGetDeviceInterfaceDetailA(ks::HDEVINFO set,
                                              ks::SP_DEVICE_INTERFACE_DATA* interfaceData,
                                              ks::SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                              ks::DWORD detailSize, ks::DWORD* requiredSize,
                                              ks::SP_DEVINFO_DATA* deviceInfo) override {
        return ::SetupDiGetDeviceInterfaceDetailA(
            set, reinterpret_cast<::PSP_DEVICE_INTERFACE_DATA>(interfaceData),
            reinterpret_cast<::PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(detail), detailSize,
            reinterpret_cast<::PDWORD>(requiredSize),
            reinterpret_cast<::PSP_DEVINFO_DATA>(deviceInfo));
    }
    ks::BOOL SetupDiDestroyDeviceInfoList(ks::HDEVINFO set) override {
        return ::SetupDiDestroyDeviceInfoList(set);
    }

    ks::CONFIGRET CM_Locate_DevNodeA(ks::DEVINST* devInst, const char* deviceId,
                                     ks::ULONG flags) override {
        // The SDK's parameter is a non-const DEVINSTID_A; the call does not write to it.
        return ::CM_Locate_DevNodeA(reinterpret_cast<::PDEVINST>(devInst),
                                    const_cast<char*>(deviceId), flags);
    }
    ks::CONFIGRET CM_Get_Child(ks::DEVINST* child, ks::DEVINST devInst, ks::ULONG flags) override {
        return ::CM_Get_Child(reinterpret_cast<::PDEVINST>(child), devInst, flags);
    }
    ks::CONFIGRET CM_Get_Sibling(ks::DEVINST* sibling, ks::DEVINST devInst,
                                 ks::ULONG flags) override {
        return ::CM_Get_Sibling(reinterpret_cast<::PDEVINST>(sibling), devInst, flags);
    }
    ks::CONFIGRET CM_Get_Parent(ks::DEVINST* parent, ks::DEVINST devInst,
                                ks::ULONG flags) override {
        return ::CM_Get_Parent(reinterpret_cast<::PDEVINST>(parent), devInst, flags);
    }
    ks::CONFIGRET CM_Get_Device_IDA(ks::DEVINST devInst, char* buffer, ks::ULONG length,
                                    ks::ULONG flags) override {
        return ::CM_Get_Device_IDA(devInst, buffer, length, flags);
    }
    ks::CONFIGRET CM_Get_Device_ID_List_SizeA(ks::ULONG* length, const char* filter,
                                              ks::ULONG flags) override {
        return ::CM_Get_Device_ID_List_SizeA(reinterpret_cast<::PULONG>(length), filter, flags);
    }
    ks::CONFIGRET CM_Get_Device_ID_ListA(const char* filter, char* buffer, ks::ULONG length,
                                         ks::ULONG flags) override {
        return ::CM_Get_Device_ID_ListA(filter, buffer, length, flags);
    }
    ks::CONFIGRET CM_Get_DevNode_Status(ks::ULONG* status, ks::ULONG* problemNumber,
                                        ks::DEVINST devInst, ks::ULONG flags) override {
        return ::CM_Get_DevNode_Status(reinterpret_cast<::PULONG>(status),
                                       reinterpret_cast<::PULONG>(problemNumber), devInst, flags);
    }
    ks::CONFIGRET CM_Get_DevNode_Registry_PropertyA(ks::DEVINST devInst, ks::ULONG property,
                                                    ks::ULONG* regDataType, void* buffer,
                                                    ks::ULONG* length, ks::ULONG flags) override {
        return ::CM_Get_DevNode_Registry_PropertyA(devInst, property,
                                                   reinterpret_cast<::PULONG>(regDataType), buffer,
                                                   reinterpret_cast<::PULONG>(length), flags);
    }

    ks::BOOL GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* volumeName,
                                               ks::DWORD length) override {
        return ::GetVolumeNameForVolumeMountPointA(mountPoint, volumeName, length);
    }
};

}  // namespace

namespace ks {

IPlatform& NativePlatform() {
    static CWin32Platform platform;
    return platform;
}

}  // namespace ks

// Windows-shaped types, structures and constants of the operations the scan needs: device
// I/O on the USB host-controller and hub drivers, the Setup API, the configuration manager
// and volume mount points. Layouts are those of 32-bit Windows (the target), on every host;
// the Win32 backend checks them against the SDK headers at compile time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/WinTypes.h"

namespace ks {

using DEVINST = std::uint32_t;  // a configuration-manager device node; 0 = no node
using CONFIGRET = std::uint32_t;
using HDEVINFO = void*;
using WCHAR16 = char16_t;  // one UTF-16 code unit as the USB stack delivers it

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};
inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3)
        return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i])
            return false;
    return true;
}

// {3ABF6F2D-71C4-462A-8A92-1E6861E6AF27}
inline constexpr GUID GUID_DEVINTERFACE_USB_HOST_CONTROLLER = {
    0x3ABF6F2D, 0x71C4, 0x462A, {0x8A, 0x92, 0x1E, 0x68, 0x61, 0xE6, 0xAF, 0x27}};
// {53F5630D-B6BF-11D0-94F2-00A0C91EFB8B}
inline constexpr GUID GUID_DEVINTERFACE_VOLUME = {
    0x53F5630D, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// The 32-bit Setup API layouts: the SDK packs these to one byte on x86, and ULONG_PTR is
// 32 bits there, so the sizes are 28, 5 and 28 on every host.
#pragma pack(push, 1)
struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    std::uint32_t Reserved;
};
struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    char DevicePath[1];
};
struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    std::uint32_t Reserved;
};
#pragma pack(pop)
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
static_assert(sizeof(SP_DEVINFO_DATA) == 28);
inline constexpr std::size_t kDevicePathOffset =
    offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

inline constexpr DWORD DIGCF_PRESENT = 0x02;
inline constexpr DWORD DIGCF_DEVICEINTERFACE = 0x10;

inline constexpr DWORD GENERIC_WRITE = 0x40000000u;
inline constexpr DWORD FILE_SHARE_WRITE = 0x00000002u;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000u;

inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;

// Configuration-manager results.
inline constexpr CONFIGRET CR_SUCCESS = 0x00;
inline constexpr CONFIGRET CR_FAILURE = 0x13;
inline constexpr CONFIGRET CR_INVALID_POINTER = 0x03;
inline constexpr CONFIGRET CR_INVALID_DEVNODE = 0x05;
inline constexpr CONFIGRET CR_NO_SUCH_DEVNODE = 0x0D;
inline constexpr CONFIGRET CR_BUFFER_SMALL = 0x1A;
inline constexpr CONFIGRET CR_NO_SUCH_VALUE = 0x25;

inline constexpr ULONG CM_LOCATE_DEVNODE_NORMAL = 0;
inline constexpr ULONG CM_GETIDLIST_FILTER_REMOVALRELATIONS = 0x00000008;
inline constexpr ULONG MAX_DEVICE_ID_LEN = 200;

// Registry property codes the program asks for.
inline constexpr ULONG CM_DRP_DEVICEDESC = 0x01;
inline constexpr ULONG CM_DRP_SERVICE = 0x05;
inline constexpr ULONG CM_DRP_CLASSGUID = 0x09;
inline constexpr ULONG CM_DRP_DRIVER = 0x0A;
inline constexpr ULONG CM_DRP_FRIENDLYNAME = 0x0D;
inline constexpr ULONG CM_DRP_LOCATION_INFORMATION = 0x0E;
inline constexpr ULONG CM_DRP_UPPERFILTERS = 0x12;
inline constexpr ULONG CM_DRP_LOWERFILTERS = 0x13;
inline constexpr ULONG CM_DRP_ENUMERATOR_NAME = 0x17;

// The seven USB driver requests the program sends, and nothing else: every one only reads.
inline constexpr DWORD IOCTL_USB_GET_ROOT_HUB_NAME = 0x220408;     // to a host controller
inline constexpr DWORD IOCTL_USB_GET_NODE_INFORMATION = 0x220408;  // same code, to a hub
inline constexpr DWORD IOCTL_USB_GET_NODE_CONNECTION_INFORMATION = 0x22040C;
inline constexpr DWORD IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION = 0x220410;
inline constexpr DWORD IOCTL_USB_GET_NODE_CONNECTION_NAME = 0x220414;
inline constexpr DWORD IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME = 0x220420;
inline constexpr DWORD IOCTL_GET_HCD_DRIVERKEY_NAME = 0x220424;
inline constexpr DWORD IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX = 0x220448;
inline constexpr DWORD kAllowedIoctls[] = {
    IOCTL_USB_GET_ROOT_HUB_NAME,
    IOCTL_USB_GET_NODE_CONNECTION_INFORMATION,
    IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION,
    IOCTL_USB_GET_NODE_CONNECTION_NAME,
    IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME,
    IOCTL_GET_HCD_DRIVERKEY_NAME,
    IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX,
};

// USB connection status values (USB_CONNECTION_STATUS).
inline constexpr DWORD NoDeviceConnected = 0;
inline constexpr DWORD DeviceConnected = 1;
inline constexpr DWORD DeviceFailedEnumeration = 2;
inline constexpr DWORD DeviceGeneralFailure = 3;
inline constexpr DWORD DeviceCausedOvercurrent = 4;
inline constexpr DWORD DeviceNotEnoughPower = 5;
inline constexpr DWORD DeviceNotEnoughBandwidth = 6;
inline constexpr DWORD DeviceHubNestedTooDeeply = 7;
inline constexpr DWORD DeviceInLegacyHub = 8;

// Request layouts (byte-packed, little-endian), as offsets and sizes.
inline constexpr std::size_t kHcdNameProbeSize = 6;  // USB_HCD_DRIVERKEY_NAME / USB_ROOT_HUB_NAME
inline constexpr std::size_t kHcdNameTextOffset = 4;
inline constexpr std::size_t kPortNameProbeSize = 10;  // USB_NODE_CONNECTION_(DRIVERKEY_)NAME
inline constexpr std::size_t kPortNameLengthOffset = 4;
inline constexpr std::size_t kPortNameTextOffset = 8;
inline constexpr std::size_t kNodeInformationSize = 76;  // USB_NODE_INFORMATION
inline constexpr std::size_t kNodeInfoPortCountOffset = 6;
inline constexpr std::size_t kConnectionInfoSize = 365;  // USB_NODE_CONNECTION_INFORMATION(_EX)
inline constexpr std::size_t kDescriptorRequestHeaderSize = 12;  // USB_DESCRIPTOR_REQUEST
inline constexpr std::size_t kDescriptorRequestDataSize = 255;
inline constexpr std::size_t kDescriptorRequestSize = 267;

namespace conn {  // offsets in USB_NODE_CONNECTION_INFORMATION_EX
inline constexpr std::size_t ConnectionIndex = 0;
inline constexpr std::size_t bLength = 4;
inline constexpr std::size_t bDescriptorType = 5;
inline constexpr std::size_t bcdUSB = 6;
inline constexpr std::size_t bDeviceClass = 8;
inline constexpr std::size_t bDeviceSubClass = 9;
inline constexpr std::size_t bDeviceProtocol = 10;
inline constexpr std::size_t bMaxPacketSize0 = 11;
inline constexpr std::size_t idVendor = 12;
inline constexpr std::size_t idProduct = 14;
inline constexpr std::size_t bcdDevice = 16;
inline constexpr std::size_t iManufacturer = 18;
inline constexpr std::size_t iProduct = 19;
inline constexpr std::size_t iSerialNumber = 20;
inline constexpr std::size_t bNumConfigurations = 21;
inline constexpr std::size_t CurrentConfigurationValue = 22;
inline constexpr std::size_t Speed = 23;  // LowSpeed (a boolean) in the legacy structure
inline constexpr std::size_t DeviceIsHub = 24;
inline constexpr std::size_t DeviceAddress = 25;
inline constexpr std::size_t NumberOfOpenPipes = 27;
inline constexpr std::size_t ConnectionStatus = 31;
inline constexpr std::size_t PipeList = 35;
inline constexpr std::size_t PipeInfoSize = 11;
inline constexpr std::size_t PipeCount = 30;
}  // namespace conn

}  // namespace ks

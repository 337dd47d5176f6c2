// A Windows machine as the USB driver stack, the configuration manager and the mount-point
// manager see it: plain data, built by hand in a test or loaded from a JSON fixture
// (platform/sim/FixtureLoader.h), and answered by CModelPlatform (ModelPlatform.h).
//
// What the USB stack delivers as UTF-16 (driver keys, hub names, string descriptors) is kept
// as UTF-16 here; what the configuration manager and the mount-point manager deliver through
// their ANSI functions (instance IDs, registry properties, volume names, interface paths) is
// kept as UTF-8 and converted to the ANSI code page when it is answered.
//
// Every misbehaviour the program must survive is described next to the thing that receives
// the request: the `m_faults` member of a controller, hub, port, string descriptor, device
// node or volume. A default-constructed fault changes nothing.
//
// A model is a value: it is built on one thread and then handed to one CModelPlatform, which
// only reads it. It is not internally synchronised.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/PlatformTypes.h"

namespace ks {

// --- Faults -----------------------------------------------------------------------------

// How one kind of driver request (DeviceIoControl) misbehaves. Checked in this order: the
// request fails (m_bFail, or m_optFailAfter answers already given); it claims success and
// writes nothing (m_bNoWrite); otherwise it answers, with the overrides applied.
struct CRequestFault {
    bool m_bFail = false;
    // This many answers succeed; every later request of the kind fails.
    std::optional<DWORD> m_optFailAfter;
    // TRUE with nothing written to the output buffer and a byte count of 0.
    bool m_bNoWrite = false;
    // The byte count reported instead of the true one (the data written stays the same).
    std::optional<DWORD> m_optBytesReturned;
    // Name requests: the ActualLength reported instead of the true one (e.g. exactly the
    // probe size 6 or 10, or something huge).
    std::optional<DWORD> m_optActualLength;
    // Name requests: the name is delivered without its terminating NUL code unit, and
    // ActualLength counts no terminator.
    bool m_bNoTerminator = false;

    bool IsDefault() const {
        return !m_bFail && !m_optFailAfter && !m_bNoWrite && !m_optBytesReturned &&
               !m_optActualLength && !m_bNoTerminator;
    }

    bool operator==(const CRequestFault&) const = default;
};

// How one configuration-manager call on a node misbehaves: it returns m_crResult instead of
// its true answer and writes nothing, or (m_bNoWrite) it returns CR_SUCCESS without writing
// any output, as Wine does for some calls.
struct CCmFault {
    CONFIGRET m_crResult = CR_FAILURE;
    bool m_bNoWrite = false;

    bool operator==(const CCmFault&) const = default;
};

// How a Win32 call that answers TRUE/FALSE misbehaves: it fails, or it returns TRUE without
// writing its output.
enum class ECallFault { None, Fail, NoWrite };

// A device interface as the Setup API lists it.
struct CInterfaceFaults {
    // The size query reports a required size of 0.
    bool m_bRequiredSizeZero = false;
    // The detail call with a buffer fails.
    bool m_bDetailFails = false;

    bool operator==(const CInterfaceFaults&) const = default;
};

// --- USB topology -----------------------------------------------------------------------

inline constexpr BYTE kUsbLowSpeed = 0;
inline constexpr BYTE kUsbFullSpeed = 1;
inline constexpr BYTE kUsbHighSpeed = 2;
inline constexpr BYTE kUsbSuperSpeed = 3;

// One string descriptor of a device, as the device answers GET_DESCRIPTOR(string, index,
// language). Descriptor 0 (the language list) is normally given as CUsbDevice::
// m_optLanguageIds; an entry here with index 0 replaces that list for every language.
struct CStringDescriptor {
    BYTE m_byIndex = 0;
    WORD m_wLanguage = 0x0409;
    std::u16string m_wstrText;
    // The exact bytes the device returns instead of a well-formed descriptor (at most 255
    // are delivered): for descriptors with a wrong bLength, type or an odd length.
    std::optional<std::vector<BYTE>> m_optRaw;
    CRequestFault m_faults;

    bool operator==(const CStringDescriptor&) const = default;
};

// One pipe of the connection information's pipe list.
struct CPipeInfo {
    std::array<BYTE, 7> m_abyEndpointDescriptor{};
    DWORD m_dwScheduleOffset = 0;

    bool operator==(const CPipeInfo&) const = default;
};

inline constexpr std::size_t kMaxPipes = 30;

// What is plugged into a port: the device descriptor and the other connection-information
// fields, the names the hub reports for it, and its string descriptors.
struct CUsbDevice {
    // USB_DEVICE_DESCRIPTOR
    BYTE m_byLength = 18;
    BYTE m_byDescriptorType = 1;
    WORD m_wBcdUsb = 0x0200;
    BYTE m_byDeviceClass = 0;
    BYTE m_byDeviceSubClass = 0;
    BYTE m_byDeviceProtocol = 0;
    BYTE m_byMaxPacketSize0 = 64;
    WORD m_wIdVendor = 0;
    WORD m_wIdProduct = 0;
    WORD m_wBcdDevice = 0;
    BYTE m_byManufacturer = 0;
    BYTE m_byProduct = 0;
    BYTE m_bySerialNumber = 0;
    BYTE m_byNumConfigurations = 1;
    // The rest of USB_NODE_CONNECTION_INFORMATION_EX
    BYTE m_byCurrentConfigurationValue = 1;
    BYTE m_bySpeed = kUsbFullSpeed;
    bool m_bDeviceIsHub = false;
    WORD m_wDeviceAddress = 1;
    DWORD m_dwNumberOfOpenPipes = 0;
    std::vector<CPipeInfo> m_vPipes;  // at most kMaxPipes are reported

    // The answer to GET_NODE_CONNECTION_DRIVERKEY_NAME; none: the request fails.
    std::optional<std::u16string> m_optDriverKey;
    // The answer to GET_NODE_CONNECTION_NAME: the symbolic name of the hub on the port
    // (normally the name of a hub of the model; it may name a hub higher up on the path).
    // None: the hub driver answers an empty name (ActualLength 10), as for any non-hub.
    std::optional<std::u16string> m_optHubName;

    // Descriptor 0. None: the device has no string descriptors and refuses descriptor 0.
    std::optional<std::vector<WORD>> m_optLanguageIds;
    std::vector<CStringDescriptor> m_vStrings;

    bool operator==(const CUsbDevice&) const = default;
};

struct CPortFaults {
    CRequestFault m_connectionInfoEx;
    CRequestFault m_connectionInfo;  // the legacy request
    CRequestFault m_driverKeyName;
    CRequestFault m_nodeName;
    CRequestFault m_descriptor;  // every descriptor request to this port
    // After this many requests to the port the device is gone: the port reports no
    // device, every name and descriptor request for it fails, and a hub on it can no
    // longer be opened or asked.
    std::optional<DWORD> m_optVanishAfter;

    bool operator==(const CPortFaults&) const = default;
};

// One downstream port of a hub (1-based). Ports of a hub that the model does not list are
// empty (NoDeviceConnected).
struct CUsbPort {
    DWORD m_dwPort = 1;
    DWORD m_dwConnectionStatus = NoDeviceConnected;
    std::optional<CUsbDevice> m_optDevice;
    CPortFaults m_faults;

    bool operator==(const CUsbPort&) const = default;
};

struct CHubFaults {
    bool m_bOpenFails = false;
    CRequestFault m_nodeInformation;
    // Applies to every port that has no extended-request fault of its own: a hub driver
    // that only knows the legacy connection request.
    CRequestFault m_connectionInfoEx;

    bool operator==(const CHubFaults&) const = default;
};

// A root hub or an external hub, with its USB_NODE_INFORMATION fields.
struct CUsbHub {
    std::u16string m_wstrName;  // symbolic name; opened as "\\.\" + name
    DWORD m_dwNodeType = 0;     // UsbHub
    // USB_HUB_DESCRIPTOR
    BYTE m_byDescriptorLength = 9;
    BYTE m_byDescriptorType = 0x29;
    BYTE m_byNumberOfPorts = 0;
    WORD m_wHubCharacteristics = 0;
    BYTE m_byPowerOnToPowerGood = 0;
    BYTE m_byHubControlCurrent = 0;
    std::array<BYTE, 64> m_abyRemoveAndPowerMask{};
    bool m_bHubIsBusPowered = false;

    std::vector<CUsbPort> m_vPorts;  // in any order; at most one entry per port number
    CHubFaults m_faults;

    const CUsbPort* FindPort(DWORD port) const;

    bool operator==(const CUsbHub&) const = default;
};

struct CControllerFaults {
    bool m_bOpenFails = false;  // by HCD name and by interface path alike
    CRequestFault m_driverKey;
    CRequestFault m_rootHubName;
    CInterfaceFaults m_interface;

    bool operator==(const CControllerFaults&) const = default;
};

// A USB host controller, reachable as "\\.\HCDn" and/or as a host-controller device
// interface.
struct CHostController {
    std::optional<int> m_optHcdNumber;               // 0..9
    std::optional<std::string> m_optInterfacePath;   // DevicePath of its interface
    std::optional<std::string> m_optInstanceId;      // the node exposing that interface
    std::optional<std::u16string> m_optDriverKey;    // none: GET_HCD_DRIVERKEY_NAME fails
    std::optional<std::u16string> m_optRootHubName;  // none: GET_ROOT_HUB_NAME fails
    CControllerFaults m_faults;

    bool operator==(const CHostController&) const = default;
};

// --- Device-node tree -------------------------------------------------------------------

inline constexpr ULONG kRegTypeSz = 1;
inline constexpr ULONG kRegTypeBinary = 3;
inline constexpr ULONG kRegTypeMultiSz = 7;

// The DN_* status of a started device with a driver: DN_DRIVER_LOADED | DN_STARTED |
// DN_DISABLEABLE | DN_REMOVABLE | DN_NT_ENUMERATOR | DN_NT_DRIVER.
inline constexpr ULONG kDefaultDevNodeStatus = 0x0180600A;

struct CRegistryProperty {
    ULONG m_ulCode = 0;                  // CM_DRP_*
    ULONG m_ulType = kRegTypeSz;         // REG_SZ or REG_MULTI_SZ (or whatever m_optRaw says)
    std::vector<std::string> m_vValues;  // UTF-8; one for REG_SZ
    // The exact bytes of the value instead (a multi-string without its final NUL, ...).
    std::optional<std::vector<BYTE>> m_optRaw;

    bool operator==(const CRegistryProperty&) const = default;
};

struct CPropertyFault {
    ULONG m_ulCode = 0;
    CCmFault m_fault;

    bool operator==(const CPropertyFault&) const = default;
};

struct CDevNodeFaults {
    std::optional<CCmFault> m_optLocate;  // CM_Locate_DevNodeA with this node's ID
    std::optional<CCmFault> m_optChild;
    std::optional<CCmFault> m_optSibling;
    std::optional<CCmFault> m_optParent;
    std::optional<CCmFault> m_optDeviceId;
    std::optional<CCmFault> m_optStatus;
    std::optional<CCmFault> m_optRemovalRelationsSize;
    std::optional<CCmFault> m_optRemovalRelationsList;
    std::vector<CPropertyFault> m_vProperties;
    // Link overrides: the instance ID of the node that CM_Get_Child / _Sibling / _Parent
    // answer, whatever the tree says (an empty text: no node). They may point anywhere,
    // upwards included, to build cyclic trees.
    std::optional<std::string> m_optChildLink;
    std::optional<std::string> m_optSiblingLink;
    std::optional<std::string> m_optParentLink;
    // After this many configuration-manager calls about this node, it (and everything
    // below it) is gone: CR_NO_SUCH_DEVNODE.
    std::optional<DWORD> m_optVanishAfter;

    bool operator==(const CDevNodeFaults&) const = default;
};

// One device node. m_vChildren and m_optParent are indices into CMachineModel::m_vNodes;
// the order of m_vChildren is the configuration manager's child order.
struct CDevNode {
    std::string m_strInstanceId;
    std::vector<CRegistryProperty> m_vProperties;
    ULONG m_ulStatus = kDefaultDevNodeStatus;
    ULONG m_ulProblem = 0;
    std::vector<std::string> m_vRemovalRelations;  // instance IDs, in list order
    // A device that is not present is in the registry only: the tree walk passes over it
    // and CM_Locate_DevNodeA does not find it.
    bool m_bPresent = true;
    std::optional<std::size_t> m_optParent;
    std::vector<std::size_t> m_vChildren;
    CDevNodeFaults m_faults;

    const CRegistryProperty* FindProperty(ULONG code) const;
    const CCmFault* FindPropertyFault(ULONG code) const;

    bool operator==(const CDevNode&) const = default;
};

// --- Volumes ----------------------------------------------------------------------------

struct CVolumeFaults {
    ECallFault m_rootMountPoint = ECallFault::None;       // GetVolumeName... of "X:\"
    ECallFault m_interfaceMountPoint = ECallFault::None;  // ... of the interface path + "\"
    CInterfaceFaults m_interface;

    bool operator==(const CVolumeFaults&) const = default;
};

struct CVolume {
    std::string m_strName;                          // "\\?\Volume{...}\"
    std::vector<char> m_vLetters;                   // upper-case 'A'..'Z'
    std::optional<std::string> m_optInterfacePath;  // DevicePath of its volume interface
    std::optional<std::string> m_optInstanceId;     // the node exposing that interface
    CVolumeFaults m_faults;

    bool operator==(const CVolume&) const = default;
};

// --- The machine ------------------------------------------------------------------------

struct CMachineFaults {
    bool m_bHostControllerSetFails = false;  // SetupDiGetClassDevsA of that class
    bool m_bVolumeSetFails = false;

    bool operator==(const CMachineFaults&) const = default;
};

inline constexpr const char* kRootInstanceId = "HTREE\\ROOT\\0";

struct CMachineModel {
    std::vector<CHostController> m_vControllers;
    std::vector<CUsbHub> m_vHubs;
    // m_vNodes[0] is the root of the device tree (when there is any node at all).
    std::vector<CDevNode> m_vNodes;
    std::vector<CVolume> m_vVolumes;
    CMachineFaults m_faults;

    // Hub by symbolic name, compared without regard to ASCII letter case.
    const CUsbHub* FindHub(std::u16string_view name) const;
    // Node by instance ID, compared without regard to ASCII letter case.
    std::optional<std::size_t> FindNode(std::string_view instanceId) const;
    // Appends a node as the last child of `parent` (none: as the root) and returns its index.
    std::size_t AddNode(CDevNode node, std::optional<std::size_t> parent);

    bool operator==(const CMachineModel&) const = default;
};

// ASCII case-insensitive equality, as Windows compares device paths and instance IDs.
bool EqualsNoCaseAscii(std::string_view a, std::string_view b);
bool EqualsNoCaseAscii(std::u16string_view a, std::u16string_view b);

}  // namespace ks

// The live Linux machine as a Windows machine model: one picture of sysfs and the mount
// table, taken at one moment, in the shapes CModelPlatform answers the scan with.
//
// Why a picture: the scan asks the same things many times (the driver-key search walks
// the whole device tree for every device), and it must see one consistent machine even
// while devices come and go. Reading sysfs once into a CMachineModel when a scan begins
// costs each attribute one read, and every later call of the scan is answered from memory
// by the same code that answers the simulated machines, byte for byte in the Windows
// layouts.
//
// What the picture holds:
//  - one host controller per root hub ("usbN"), by bus number: "\\.\HCD0".."\\.\HCD9" for
//    the first ten, a host-controller interface path for every one;
//  - every hub with its ports (port count from "maxchild"), each port's device with the
//    device descriptor from "descriptors", "speed", "devnum", "bConfigurationValue", and
//    the string descriptors the kernel exposes ("manufacturer", "product", "serial") in one
//    language (0x0409: the kernel keeps no language list);
//  - the device-node tree: the host controllers' devices below the root, and below each
//    the kernel's bus devices and block devices as sysfs nests them; instance IDs of the
//    Windows form for USB devices and interfaces, a stable form for the rest; driver keys;
//    descriptions and friendly names from the udev hardware database or the device's own
//    strings; the bound driver as the service; mount points in a block device's friendly
//    name; the devices stacked on a block device (device-mapper, md) as its removal
//    relations;
//  - no volumes: Linux has no drive letters.
//
// Threads: ReadLinuxMachine runs on the caller's thread and keeps nothing; the pure helpers
// may be called from any thread.
#pragma once

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/SysfsReader.h"
#include "platform/model/MachineModel.h"

namespace ks {

// What the udev hardware database knows about a device.
class IDeviceDatabase {
  public:
    virtual ~IDeviceDatabase() = default;
    // The property `key` (ID_VENDOR_FROM_DATABASE, ID_MODEL_FROM_DATABASE) that the
    // database holds for the device at `sysPath` ("/sys/devices/...") with `modalias`
    // ("usb:v1D6Bp0002*"); empty when unknown.
    virtual std::string Property(const std::string& sysPath, const std::string& modalias,
                                 const char* key) = 0;
};

// libudev's hardware database (udev_hwdb). Safe to create where there is none: it then
// knows nothing.
std::unique_ptr<IDeviceDatabase> MakeUdevDatabase();

// Reads the machine below the reader's root. `database` may be null (no names beyond the
// devices' own strings). A machine beyond the picture's bound (4096 kernel devices below
// the USB controllers) is read up to it, and one line on `notes` (when not null) says so.
CMachineModel ReadLinuxMachine(const CSysfsReader& reader, IDeviceDatabase* database,
                               std::FILE* notes = stderr);

// --- Pure helpers, reached by the tests and the fuzzers directly ---------------------------

// One line of /proc/self/mountinfo, with the table's octal escapes (\040 for a blank) undone.
struct CMountEntry {
    std::string m_strDevice;  // "8:17"; "0:NN" for an anonymous device number (btrfs)
    std::string m_strRoot;    // the folder of the file system mounted there: "/" for its root
    std::string m_strPoint;   // where
    std::string m_strSource;  // "/dev/sdb1", or what the file system says (may be empty)
};
// The mounts in table order; lines that are not whole (no newline at their end) or not of
// the table's form are left out.
std::vector<CMountEntry> ParseMountInfo(std::string_view text);

// The order of sibling folders in the picture: names compared with each run of digits as a
// number ("1-1:1.9" before "1-1:1.10", "sdb9" before "sdb10", "usb2" before "usb10").
bool SysfsNameLess(std::string_view a, std::string_view b);

// The kernel's "speed" attribute ("1.5", "12", "480", "5000", ...) as a USB_DEVICE_SPEED.
BYTE SpeedFromSysfs(std::string_view speed);

// The last part of "USB\VID_...&PID_...\<serial>": the serial when Windows would take it
// as an instance part (printable ASCII without ',' or '\', 1..126 characters), else empty.
std::string SerialInstancePart(std::string_view serial);

// Text for a device-manager property: valid UTF-8, no control characters, and short
// enough for the 200-byte buffer the device-node queries read into (cut at a character).
std::string PropertyText(std::string_view text);

}  // namespace ks

// Devices of the umockdev test beds that the window and the change watch are tried on: a
// root hub with four ports, and a flash drive for any of them, in umockdev's record format.
#pragma once

#include <cstdio>
#include <string>

namespace ks::test {

inline const char kBedRootHub[] =
    "P: /devices/pci0000:00/0000:00:14.0/usb1\n"
    "N: bus/usb/001/001\n"
    "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/bus/usb/001/001\n"
    "A: busnum=1\\n\nA: devnum=1\\n\nA: maxchild=4\\n\nA: speed=480\\n\n"
    "H: descriptors=12010002090000406b1d020000010302010109021900010100e0000904000001090000000705"
    "8103040000ff\n";

// A flash drive on root port `port`: vendor 0x2E1A, product 0x1000 + port, serial SER<port>.
inline std::string BedDevice(int port) {
    char text[1024];
    std::snprintf(text, sizeof text,
                  "P: /devices/pci0000:00/0000:00:14.0/usb1/1-%d\n"
                  "N: bus/usb/001/%03d\n"
                  "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/bus/usb/001/%03d\n"
                  "A: devnum=%d\\n\nA: speed=480\\n\nA: serial=SER%d\\n\n"
                  "A: product=Kestrel Flash\\n\n"
                  "H: descriptors=1201000200000040"
                  "1a2e%02x10000100020301\n",
                  port, port + 1, port + 1, port + 1, port, port);
    return text;
}

inline std::string BedDevicePath(int port) {
    return "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + std::to_string(port);
}

}  // namespace ks::test

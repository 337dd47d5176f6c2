"""umockdev test beds of USB machines, written by the tests themselves.

A bed is a list of devices in umockdev's text format (P: path, E: property, A: attribute,
H: binary attribute, N: device node). Each USB device gets the attributes the kernel
shows (descriptors, speed, devnum, maxchild, strings) and a /dev/bus/usb node, so that
lsusb sees the same machine under the same bed.
"""

import struct

ROOT_PCI = "/devices/pci0000:00/0000:00:14.0"


def device_descriptor(vid, pid, cls=0, iman=0, iprod=0, iser=0, bcd_usb=0x0200, bcd_dev=0x0100):
    return struct.pack("<BBHBBBBHHHBBBB", 18, 1, bcd_usb, cls, 0, 0, 64, vid, pid, bcd_dev,
                       iman, iprod, iser, 1)


def config_descriptor(interfaces):
    """interfaces: list of (class, subclass, protocol) for alternate setting 0."""
    body = b""
    for number, (cls, sub, proto) in enumerate(interfaces):
        body += struct.pack("<BBBBBBBBB", 9, 4, number, 0, 1, cls, sub, proto, 0)
        body += struct.pack("<BBBBHB", 7, 5, 0x81 + number, 3, 8, 10)
    return struct.pack("<BBHBBBBB", 9, 2, 9 + len(body), len(interfaces), 1, 0, 0x80, 50) + body


class Bed:
    def __init__(self):
        self.blocks = []
        self.next_devnum = {}
        self.expected = set()  # (vid, pid, serial) of every non-hub device
        # What lsusb reads: it drops the last byte of every text attribute, newline or not,
        # so of a value written without one it shows one character less.
        self.lsusb_expected = set()

    def _block(self, path, props, attrs, binary=None, node=None):
        lines = ["P: " + path]
        if node:
            lines.append("N: " + node)
        lines += ["E: %s=%s" % kv for kv in props]
        for name, value, newline in attrs:
            lines.append("A: %s=%s%s" % (name, value, "\\n" if newline else ""))
        for name, data in (binary or []):
            lines.append("H: %s=%s" % (name, data.hex()))
        self.blocks.append("\n".join(lines))
        return path

    def controller(self, path=ROOT_PCI):
        return self._block(path, [("SUBSYSTEM", "pci"), ("DRIVER", "xhci_hcd"),
                                  ("ID_MODEL_FROM_DATABASE", "Test xHCI Controller")],
                           [("vendor", "0x8086", True), ("device", "0xa12f", True),
                            ("subsystem_vendor", "0x1028", True),
                            ("subsystem_device", "0x06d6", True), ("revision", "0x31", True)])

    def usb(self, parent, name, vid, pid, *, bus=1, cls=0, manufacturer=None, product=None,
            serial=None, speed="480", maxchild=0, interfaces=((0xFF, 0, 0),), newline=True,
            string_indices=None, extra_props=(), omit=()):
        """A USB device (or root hub, or hub) at parent/name with its interfaces."""
        devnum = self.next_devnum.get(bus, 1)
        self.next_devnum[bus] = devnum + 1
        iman, iprod, iser = string_indices or (1 if manufacturer is not None else 0,
                                               2 if product is not None else 0,
                                               3 if serial is not None else 0)
        path = parent + "/" + name
        node = "bus/usb/%03d/%03d" % (bus, devnum)
        attrs = [("busnum", str(bus), newline), ("devnum", str(devnum), newline),
                 ("speed", speed, newline), ("maxchild", str(maxchild), newline),
                 ("idVendor", "%04x" % vid, newline), ("idProduct", "%04x" % pid, newline),
                 ("bConfigurationValue", "1", newline)]
        for attr, value in (("manufacturer", manufacturer), ("product", product),
                            ("serial", serial)):
            if value is not None:
                attrs.append((attr, value, newline))
        attrs = [a for a in attrs if a[0] not in omit]
        if cls != 9:
            text = serial if serial is not None and iser else ""
            self.expected.add((vid, pid, text))
            self.lsusb_expected.add((vid, pid, text if newline else text[:-1]))
        raw = device_descriptor(vid, pid, cls, iman, iprod, iser) + config_descriptor(
            list(interfaces))
        props = [("SUBSYSTEM", "usb"), ("DEVTYPE", "usb_device"), ("DRIVER", "usb"),
                 ("DEVNAME", "/dev/" + node), ("BUSNUM", "%03d" % bus),
                 ("DEVNUM", "%03d" % devnum)] + list(extra_props)
        self._block(path, props, attrs, [("descriptors", raw)], node)
        for number, (icls, _, _) in enumerate(interfaces):
            self._block("%s/%s:1.%d" % (path, name if "-" in name else "%d-0" % bus, number),
                        [("SUBSYSTEM", "usb"), ("DEVTYPE", "usb_interface")],
                        [("bInterfaceNumber", "%02x" % number, True),
                         ("bInterfaceClass", "%02x" % icls, True)])
        return path

    def root_hub(self, bus=1, parent=ROOT_PCI, ports=4):
        return self.usb(parent, "usb%d" % bus, 0x1D6B, 0x0002, bus=bus, cls=9,
                        manufacturer="Linux 6.1.0 xhci-hcd", product="xHCI Host Controller",
                        serial="0000:00:14.0", maxchild=ports, interfaces=((9, 0, 0),))

    def hub(self, parent, name, bus=1, ports=4, manufacturer="Generic", product="USB2.0 Hub"):
        return self.usb(parent, name, 0x05E3, 0x0608, bus=bus, cls=9, manufacturer=manufacturer,
                        product=product, maxchild=ports, interfaces=((9, 0, 0),))

    def storage(self, parent, name, host, disk, *, serial, vendor="Kestrel", model="Flash 16GB",
                partitions=1, bus=1):
        path = self.usb(parent, name, 0x2E1A, 0x5567, bus=bus, manufacturer=vendor,
                        product=vendor + " " + model, serial=serial,
                        interfaces=((8, 6, 0x50),))
        iface = "%s/%s:1.0" % (path, name)
        self._block(iface + "/host%d" % host, [("SUBSYSTEM", "scsi"), ("DEVTYPE", "scsi_host")],
                    [])
        sdev = iface + "/host%d/target%d:0:0/%d:0:0:0" % (host, host, host)
        self._block(sdev, [("SUBSYSTEM", "scsi"), ("DEVTYPE", "scsi_device"), ("DRIVER", "sd")],
                    [("vendor", "%-8s" % vendor, True), ("model", "%-16s" % model, True)])
        major, minor = 8, 16 * (host - 5)
        dpath = self._block(sdev + "/block/" + disk,
                            [("SUBSYSTEM", "block"), ("DEVTYPE", "disk"), ("MAJOR", str(major)),
                             ("MINOR", str(minor)), ("DEVNAME", "/dev/" + disk)],
                            [("dev", "%d:%d" % (major, minor), True)])
        for n in range(1, partitions + 1):
            self._block("%s/%s%d" % (dpath, disk, n),
                        [("SUBSYSTEM", "block"), ("DEVTYPE", "partition"),
                         ("MAJOR", str(major)), ("MINOR", str(minor + n))],
                        [("dev", "%d:%d" % (major, minor + n), True), ("partition", str(n), True)])
        return path

    def text(self):
        return "\n\n".join(self.blocks) + "\n"


def bed_nested():
    """Hubs nested three deep, a device at the bottom and one beside the first hub."""
    b = Bed()
    b.controller()
    rh = b.root_hub()
    h1 = b.hub(rh, "1-1")
    h2 = b.hub(h1, "1-1.4")
    h3 = b.hub(h2, "1-1.4.2")
    b.usb(h3, "1-1.4.2.3", 0x3F0C, 0xC31C, manufacturer="Larkspur", product="Deep Mouse",
          serial="DEEP0001", speed="1.5", interfaces=((3, 1, 2),))
    b.usb(rh, "1-2", 0x0403, 0x6001, manufacturer="FTDI-like", product="USB Serial",
          serial="A9K3X0QZ", speed="12")
    return b


def bed_storage():
    """A USB flash drive with its SCSI disk and a partition, and a second controller."""
    b = Bed()
    b.controller()
    rh = b.root_hub()
    b.storage(rh, "1-1", 6, "sdb", serial="4C530001230804117455")
    b.controller("/devices/pci0000:00/0000:00:1d.0")
    rh2 = b.root_hub(bus=2, parent="/devices/pci0000:00/0000:00:1d.0", ports=2)
    b.usb(rh2, "2-1", 0x0BDA, 0x0129, bus=2, manufacturer="Realtec", product="Card Reader",
          serial="20100201396000000")
    return b


def bed_serials():
    """Devices with and without serial numbers, and two with the same serial."""
    b = Bed()
    rh = b.root_hub()
    b.usb(rh, "1-1", 0x046D, 0xC52B, manufacturer="Larkspur", product="Receiver")
    b.usb(rh, "1-2", 0x096E, 0x0006, manufacturer="Latchguard", product="Key",
          serial="LG-2024-000731")
    b.usb(rh, "1-3", 0x0C45, 0x6366, product="Camera", serial="SN 0001")  # a blank in it
    b.usb(rh, "1-4", 0x096E, 0x0006, manufacturer="Latchguard", product="Key",
          serial="LG-2024-000731")
    return b


def bed_composite():
    """A composite device with two HID interfaces, each with its HID device."""
    b = Bed()
    rh = b.root_hub()
    dev = b.usb(rh, "1-1", 0x046D, 0xC31C, manufacturer="Larkspur", product="Keyboard Combo",
                speed="1.5", interfaces=((3, 1, 1), (3, 0, 0)),
                extra_props=[("ID_VENDOR_FROM_DATABASE", "Larkspur Devices"),
                             ("ID_MODEL_FROM_DATABASE", "K120 Keyboard")])
    for n in range(2):
        b._block("%s/1-1:1.%d/0003:046D:C31C.000%d" % (dev, n, n + 1),
                 [("SUBSYSTEM", "hid"), ("DRIVER", "hid-generic"),
                  ("HID_NAME", "Larkspur Keyboard Combo")], [])
    return b


def bed_bare_hub():
    """A hub without manufacturer and product files, with attributes ending without a
    newline, and a device behind it."""
    b = Bed()
    rh = b.root_hub()
    hub = b.usb(rh, "1-1", 0x1A40, 0x0101, cls=9, maxchild=4, interfaces=((9, 0, 0),),
                string_indices=(1, 2, 0), newline=False)
    # Ids the udev hardware database does not know: the names are the device's own.
    b.usb(hub, "1-1.3", 0x3F0D, 0x2C99, manufacturer="Pinecrest", product="USB Serial",
          serial="PC2303A0047", speed="12", newline=False)
    b.usb(rh, "1-2", 0x0D8C, 0x0014, manufacturer="C-Mediatek", product="Headset",
          serial="CM0014", speed="12", newline=True)
    return b


# Devices of well-known ids, as real kernels show them: no names in their uevent, so that
# the names come from udev's hardware database, and strings of their own that differ from it.
HWDB_DEVICES = [
    # (name below the root hub or hub, vid, pid, manufacturer, product, serial)
    ("1-1", 0x046D, 0xC52B, "Larkspur", "Receiver", None),
    ("1-2", 0x0781, 0x5567, "Stickmaker", "Stick", "4C530001230804117455"),
    ("1-3", 0x1BCF, 0x2C99, "Pinecrest", "USB Serial", "PC2303A0047"),  # vendor known only
    ("1-4", 0x2E1A, 0x5567, "Kestrel", "Flash", "KF0001"),  # unknown: its own strings
    ("1-5.1", 0x18D1, 0x4EE7, "Phonemaker", "Phone", "0A1B2C3D"),
]


def bed_hwdb():
    b = Bed()
    b.controller()
    rh = b.root_hub(ports=6)
    hub = b.usb(rh, "1-5", 0x8087, 0x0024, cls=9, maxchild=4, interfaces=((9, 0, 0),),
                manufacturer="Hubmaker", product="Hub")
    for name, vid, pid, manufacturer, product, serial in HWDB_DEVICES:
        b.usb(hub if "." in name else rh, name, vid, pid, manufacturer=manufacturer,
              product=product, serial=serial)
    return b


def bed_many(count=100):
    """count USB devices: behind 4 root hubs, 7-port hubs, 6 devices each."""
    b = Bed()
    made = 0
    bus = 0
    while made < count:
        bus += 1
        pci = "/devices/pci0000:00/0000:00:%02x.0" % (0x10 + bus)
        b.controller(pci)
        rh = b.root_hub(bus=bus, parent=pci, ports=8)
        for port in range(1, 9):
            if made >= count:
                break
            hub = b.usb(rh, "%d-%d" % (bus, port), 0x05E3, 0x0608, bus=bus, cls=9,
                        manufacturer="Generic", product="Hub", maxchild=7,
                        interfaces=((9, 0, 0),))
            made += 1
            for hp in range(1, 7):
                if made >= count:
                    break
                b.usb(hub, "%d-%d.%d" % (bus, port, hp), 0x2E1A, 0x1000 + made, bus=bus,
                      manufacturer="Kestrel", product="Device %d" % made,
                      serial="SER%05d" % made, interfaces=((3, 0, 0), (0xFF, 0, 0)))
                made += 1
    return b


BEDS = {
    "nested": bed_nested,
    "storage": bed_storage,
    "serials": bed_serials,
    "composite": bed_composite,
    "bare-hub": bed_bare_hub,
    "hwdb": bed_hwdb,
}

if __name__ == "__main__":
    import sys
    name = sys.argv[1] if len(sys.argv) > 1 else "nested"
    if name == "many":
        sys.stdout.write(bed_many(int(sys.argv[2]) if len(sys.argv) > 2 else 100).text())
    else:
        sys.stdout.write(BEDS[name]().text())

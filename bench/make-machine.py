#!/usr/bin/env python3
"""Writes a machine fixture of N USB devices (tests/data/README.md format) for the scale
benchmarks.

    python3 bench/make-machine.py N > machine.json

The machine: up to ten xHCI controllers (HCD0..9, each also a device interface), each with a
10-port root hub; on every root-hub port a 7-port hub with six devices and, on its port 7, a
4-port hub with four more. Devices take turns among five kinds, each with the device-manager
nodes Windows gives it:

  - a keyboard with a touchpad: composite, three HID interfaces, nine HID collections;
  - a headset: composite, audio control and streaming interfaces, audio endpoints as
    removal relations, a HID interface with its collections;
  - a flash drive: the USB storage device, its disk, the volume (a removal relation of the
    disk, a child of the volume manager) with a drive letter while letters last, and the
    portable-device node of the volume;
  - a dock: composite, network adapter, audio, HID, a card reader with disk and volume;
  - a phone: composite, MTP interface with its portable-device node, a HID interface.

The tree also holds the nodes of an ordinary PC (ACPI, PCI, the volume manager, software
devices) ahead of the USB controllers, so that a driver-key search walks past them. Every
node has a driver key, a description and a service; the average is about 30 nodes per USB
device. The output is deterministic.
"""
import json
import sys

USB_CLASS = "{36FC9E60-C465-11CF-8056-444553540000}"
HID_CLASS = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}"
MEDIA_CLASS = "{4D36E96C-E325-11CE-BFC1-08002BE10318}"
DISK_CLASS = "{4D36E967-E325-11CE-BFC1-08002BE10318}"
VOLUME_CLASS = "{71A27CDD-812A-11D0-BEC7-08002BE2092F}"
NET_CLASS = "{4D36E972-E325-11CE-BFC1-08002BE10318}"
WPD_CLASS = "{EEC5AD98-8080-425F-922A-DABF3DE3F69A}"
SYSTEM_CLASS = "{4D36E97D-E325-11CE-BFC1-08002BE10318}"
HUB_INTERFACE = "{f18a0e88-c30c-11d0-8815-00a0c906bed8}"
HC_INTERFACE = "{3abf6f2d-71c4-462a-8a92-1e6861e6af27}"
VOLUME_INTERFACE = "{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}"

_keys = {}


def driver_key(cls):
    n = _keys.get(cls, 0)
    _keys[cls] = n + 1
    return "%s\\%04d" % (cls, n)


def node(node_id, desc, service, cls, children=None, relations=None, friendly=None):
    n = {"id": node_id,
         "properties": {"DEVICEDESC": desc, "SERVICE": service, "DRIVER": driver_key(cls)}}
    if friendly:
        n["properties"]["FRIENDLYNAME"] = friendly
    if relations:
        n["removalRelations"] = relations
    if children:
        n["children"] = children
    return n


class Machine:
    def __init__(self, count):
        self.count = count
        self.volumes = []           # volume entries of the fixture
        self.volume_nodes = []      # STORAGE\VOLUME nodes, children of the volume manager
        self.software_nodes = []    # SWD\... nodes (audio endpoints, portable devices)
        self.letters = [chr(c) for c in range(ord("E"), ord("Z"))]  # E..Y

    # --- device kinds --------------------------------------------------------------------

    def hid_collections(self, base, count):
        return [node("HID\\%s&COL%02d\\%s&0&%04d" % (base[0], c + 1, base[1], c),
                     "HID 準拠デバイス", "HidUsb" if c == 0 else "mouhid", HID_CLASS)
                for c in range(count)]

    def interface(self, vidpid, serial, mi, desc, service, children=None, relations=None):
        return node("USB\\%s&MI_%02d\\%s&0&%04d" % (vidpid, mi, serial, mi), desc, service,
                    USB_CLASS, children, relations)

    def storage_stack(self, vidpid, serial, tag):
        """The disk below a storage interface or device, and its volume."""
        volume_id = "STORAGE\\VOLUME\\_??_USBSTOR#DISK&VEN_KS&PROD_%s#%s&0#{53F56307}" % (tag, serial)
        wpd_id = "SWD\\WPDBUSENUM\\_??_USBSTOR#DISK&VEN_KS&PROD_%s#%s&0" % (tag, serial)
        self.volume_nodes.append(node(volume_id, "ボリューム", "volume", VOLUME_CLASS))
        self.software_nodes.append(node(wpd_id, "USB ドライブ", "WUDFRd", WPD_CLASS,
                                        friendly="USB ドライブ (%s)" % tag))
        letter = self.letters.pop(0) if self.letters else None
        vol = {"name": "\\\\?\\Volume{%08x-0000-0000-0000-%012x}\\" % (len(self.volumes), len(self.volumes)),
               "interfacePath": "\\\\?\\storage#volume#_??_usbstor#%s&%s#%s" % (serial.lower(), tag.lower(), VOLUME_INTERFACE),
               "instanceId": volume_id}
        if letter:
            vol["letters"] = [letter]
        self.volumes.append(vol)
        disk = node("USBSTOR\\DISK&VEN_KS&PROD_%s&REV_1.00\\%s&0" % (tag, serial),
                    "ディスク ドライブ", "disk", DISK_CLASS,
                    relations=[volume_id, wpd_id], friendly="KS %s USB Device" % tag)
        return disk

    def keyboard(self, vidpid, serial):
        return node("USB\\%s\\%s" % (vidpid, serial), "USB 複合デバイス", "usbccgp", USB_CLASS, [
            self.interface(vidpid, serial, 0, "USB 入力デバイス", "HidUsb", [
                node("HID\\%s&MI_00\\%s&0&0000" % (vidpid, serial), "HID キーボード デバイス",
                     "kbdhid", HID_CLASS)]),
        ] + [self.interface(vidpid, serial, mi, "USB 入力デバイス", "HidUsb",
                            self.hid_collections((vidpid + "&MI_%02d" % mi, serial), 8))
             for mi in range(1, 5)])

    def headset(self, vidpid, serial):
        endpoints = []
        for e, name in enumerate(["スピーカー", "マイク", "ヘッドホン", "ライン入力"]):
            eid = "SWD\\MMDEVAPI\\{0.0.%d.00000000}.{%08x-%04x}" % (e, len(self.software_nodes), e)
            self.software_nodes.append(node(eid, name, "", MEDIA_CLASS, friendly=name + " (ヘッドセット)"))
            endpoints.append(eid)
        return node("USB\\%s\\%s" % (vidpid, serial), "USB 複合デバイス", "usbccgp", USB_CLASS, [
            self.interface(vidpid, serial, 0, "USB オーディオ デバイス", "usbaudio", relations=endpoints),
            self.interface(vidpid, serial, 1, "USB オーディオ ストリーム", "usbaudio"),
            self.interface(vidpid, serial, 2, "USB オーディオ ストリーム", "usbaudio"),
            self.interface(vidpid, serial, 3, "USB 入力デバイス", "HidUsb",
                           self.hid_collections((vidpid + "&MI_03", serial), 16)),
            self.interface(vidpid, serial, 4, "USB ファームウェア更新", "WinUSB"),
            self.interface(vidpid, serial, 5, "USB オーディオ ストリーム", "usbaudio"),
        ])

    def flash_drive(self, vidpid, serial):
        return node("USB\\%s\\%s" % (vidpid, serial), "USB 大容量記憶装置", "USBSTOR", USB_CLASS,
                    [self.storage_stack(vidpid, serial, "LUN%d" % lun) for lun in range(6)])

    def dock(self, vidpid, serial):
        return node("USB\\%s\\%s" % (vidpid, serial), "USB 複合デバイス", "usbccgp", USB_CLASS, [
            self.interface(vidpid, serial, 0, "USB イーサネット アダプター", "rtux64w10", [
                node("SWD\\MSRRAS\\%s_NET" % serial, "WAN ミニポート", "NdisWan", NET_CLASS)]),
            self.interface(vidpid, serial, 1, "USB イーサネット アダプター", "rtux64w10"),
            self.interface(vidpid, serial, 2, "USB オーディオ デバイス", "usbaudio"),
            self.interface(vidpid, serial, 3, "USB オーディオ ストリーム", "usbaudio"),
            self.interface(vidpid, serial, 4, "USB 入力デバイス", "HidUsb",
                           self.hid_collections((vidpid + "&MI_04", serial), 12)),
            self.interface(vidpid, serial, 5, "USB 大容量記憶装置", "USBSTOR",
                           [self.storage_stack(vidpid, serial, "CARD")]),
        ])

    def phone(self, vidpid, serial):
        wpd = "SWD\\WPDBUSENUM\\_??_USB#%s#%s" % (vidpid, serial)
        self.software_nodes.append(node(wpd, "ポータブル デバイス", "WUDFRd", WPD_CLASS, friendly="スマートフォン"))
        return node("USB\\%s\\%s" % (vidpid, serial), "USB 複合デバイス", "usbccgp", USB_CLASS, [
            self.interface(vidpid, serial, 0, "MTP USB デバイス", "WUDFRd", relations=[wpd]),
            self.interface(vidpid, serial, 1, "ADB インターフェイス", "WinUSB"),
        ] + [self.interface(vidpid, serial, mi, "USB 入力デバイス", "HidUsb",
                            self.hid_collections((vidpid + "&MI_%02d" % mi, serial), 8))
             for mi in range(2, 5)])

    KINDS = [("keyboard", 0x046D, "キーボード"), ("headset", 0x0D8C, "ヘッドセット"),
             ("flash_drive", 0x0781, "USB メモリ"), ("dock", 0x17EF, "ドック"),
             ("phone", 0x04DD, "スマートフォン")]

    # --- USB topology --------------------------------------------------------------------

    def device(self, index):
        kind, vendor, product = self.KINDS[index % len(self.KINDS)]
        vidpid = "VID_%04X&PID_%04X" % (vendor, 0x1000 + index % len(self.KINDS))
        serial = "KS%06d" % index
        dev_node = getattr(self, kind)(vidpid, serial)
        key = dev_node["properties"]["DRIVER"]
        usb = {"bcdUSB": "0x0200", "idVendor": "0x%04X" % vendor,
               "idProduct": "0x%04X" % (0x1000 + index % len(self.KINDS)),
               "speed": "high", "driverKey": key, "iManufacturer": 1, "iProduct": 2,
               "iSerialNumber": 3, "languages": ["0x0409"],
               "strings": [{"index": 1, "text": "KeyScout Bench"},
                           {"index": 2, "text": product},
                           {"index": 3, "text": serial}]}
        return usb, dev_node

    def hub(self, name, ports, devices, tail=None):
        """A hub with `devices` ([(port, usb)]) and, on port `tail[0]`, the hub tail[1]."""
        h = {"name": name, "bNumberOfPorts": ports,
             "ports": [{"port": p, "device": d} for p, d in devices]}
        if tail:
            h["ports"].append({"port": tail[0], "device": tail[1]})
        return h

    def build(self):
        groups = (self.count + 9) // 10
        controllers = []
        usb_roots = []
        made = 0
        group = 0
        for c in range((groups + 9) // 10):
            hc_id = "PCI\\VEN_8086&DEV_A36D&SUBSYS_00000000&REV_%02X\\3&11583659&0&%02X" % (c, c)
            root_id = "USB\\ROOT_HUB30\\4&%08X&0&0" % c
            root_ports = []
            root_children = []
            for port in range(1, 11):
                if group >= groups:
                    break
                outer, inner, outer_nodes, inner_nodes = [], [], [], []
                for p in range(1, 7):
                    if made < self.count:
                        usb, dn = self.device(made)
                        outer.append((p, usb))
                        outer_nodes.append(dn)
                        made += 1
                for p in range(1, 5):
                    if made < self.count:
                        usb, dn = self.device(made)
                        inner.append((p, usb))
                        inner_nodes.append(dn)
                        made += 1
                hub_a = "USB#VID_2109&PID_2817#%d&%d#%s" % (c, port, HUB_INTERFACE)
                hub_b = "USB#VID_05E3&PID_0610#%d&%d#%s" % (c, port, HUB_INTERFACE)
                inner_node = node("USB\\VID_05E3&PID_0610\\%d&%d&7" % (c, port), "汎用 USB ハブ",
                                  "USBHUB3", USB_CLASS, inner_nodes)
                outer_node = node("USB\\VID_2109&PID_2817\\%d&%d" % (c, port), "汎用 USB ハブ",
                                  "USBHUB3", USB_CLASS, outer_nodes + [inner_node])
                tail = (7, {"idVendor": "0x05E3", "idProduct": "0x0610",
                            "driverKey": inner_node["properties"]["DRIVER"],
                            "hub": self.hub(hub_b, 4, inner)})
                root_ports.append({"port": port, "device": {
                    "idVendor": "0x2109", "idProduct": "0x2817",
                    "driverKey": outer_node["properties"]["DRIVER"],
                    "hub": self.hub(hub_a, 7, outer, tail)}})
                root_children.append(outer_node)
                group += 1
            root_node = node(root_id, "USB ルート ハブ (USB 3.0)", "USBHUB3", USB_CLASS, root_children)
            hc_node = node(hc_id, "USB xHCI 準拠ホスト コントローラー", "USBXHCI", USB_CLASS, [root_node])
            usb_roots.append(hc_node)
            controllers.append({
                "hcd": c,
                "interfacePath": "\\\\?\\pci#ven_8086&dev_a36d#3&11583659&0&%02x#%s" % (c, HC_INTERFACE),
                "instanceId": hc_id,
                "driverKey": hc_node["properties"]["DRIVER"],
                "rootHub": {"name": "USB#ROOT_HUB30#4&%08x&0&0#%s" % (c, HUB_INTERFACE),
                            "bNumberOfPorts": 10, "ports": root_ports}})

        # The rest of an ordinary PC: ahead of the USB controllers in the tree.
        pc = [node("ACPI\\PNP0C0C\\%d" % i, "ACPI デバイス", "", SYSTEM_CLASS) for i in range(40)]
        pci = [node("PCI\\VEN_8086&DEV_%04X\\3&11583659&0&%02X" % (0x3E00 + i, 0x80 + i),
                    "PCI デバイス", "pci", SYSTEM_CLASS) for i in range(60)]
        pci_root = node("ACPI\\PNP0A08\\0", "PCI Express ルート コンプレックス", "pci",
                        SYSTEM_CLASS, pci + usb_roots)
        acpi = node("ACPI_HAL\\PNP0C08\\0", "Microsoft ACPI 準拠システム", "ACPI", SYSTEM_CLASS,
                    pc + [pci_root])
        volmgr = node("ROOT\\VOLMGR\\0000", "ボリューム マネージャー", "volmgr", SYSTEM_CLASS,
                      self.volume_nodes)
        swd = node("ROOT\\SWD\\0000", "ソフトウェア デバイス", "", SYSTEM_CLASS, self.software_nodes)
        tree = {"children": [acpi, volmgr, swd]}
        return {"controllers": controllers, "deviceTree": tree, "volumes": self.volumes}


def count_nodes(n):
    return 1 + sum(count_nodes(c) for c in n.get("children", []))


def main():
    if len(sys.argv) != 2 or not sys.argv[1].isdigit() or int(sys.argv[1]) > 1000:
        sys.exit("usage: make-machine.py N   (N USB devices, at most 1000)")
    count = int(sys.argv[1])
    machine = Machine(count).build()
    nodes = count_nodes(machine["deviceTree"])
    out = "// %d USB devices, %d device nodes; written by bench/make-machine.py\n" % (count, nodes)
    sys.stdout.write(out + json.dumps(machine, ensure_ascii=False, indent=1) + "\n")


if __name__ == "__main__":
    main()

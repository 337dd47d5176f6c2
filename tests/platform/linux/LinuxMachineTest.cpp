// The Linux backend on sysfs trees built in a temporary folder: what the picture holds, what
// a scan through it yields, and the files and links that must not break it.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "devices/UsbDeviceScanner.h"
#include "platform/Platform.h"
#include "platform/linux/LinuxMachine.h"
#include "platform/linux/SysfsReader.h"
#include "platform/model/ModelPlatform.h"

namespace ks {
namespace {

namespace fs = std::filesystem;

// A sysfs tree in a temporary folder: devices with their uevent and subsystem link,
// attributes, links, and /proc/self/mountinfo.
class CFakeSysfs {
  public:
    CFakeSysfs() {
        char pattern[] = "/tmp/ks-sysfs-XXXXXX";
        m_root = ::mkdtemp(pattern);
        fs::create_directories(m_root + "/sys/bus/usb/devices");
        fs::create_directories(m_root + "/proc/self");
    }
    ~CFakeSysfs() {
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }
    CFakeSysfs(const CFakeSysfs&) = delete;
    CFakeSysfs& operator=(const CFakeSysfs&) = delete;

    const std::string& Root() const { return m_root; }

    // A device at /sys/devices/<rel>; `subsystem` is "bus/usb", "class/block", ...
    std::string Device(const std::string& rel, const std::string& subsystem,
                       const std::string& uevent) {
        const std::string path = "/sys/devices/" + rel;
        fs::create_directories(m_root + path);
        Write(path + "/uevent", uevent);
        fs::create_symlink(m_root + "/sys/" + subsystem, m_root + path + "/subsystem");
        if (subsystem == "bus/usb") {
            const std::string name = fs::path(path).filename();
            fs::create_symlink("../../../devices/" + rel, m_root + "/sys/bus/usb/devices/" + name);
        }
        return path;
    }
    void Write(const std::string& path, const std::string& data) {
        fs::create_directories(fs::path(m_root + path).parent_path());
        std::ofstream(m_root + path, std::ios::binary) << data;
    }
    void Attr(const std::string& device, const std::string& name, const std::string& value) {
        Write(device + "/" + name, value + "\n");
    }
    void Remove(const std::string& path) { fs::remove(m_root + path); }
    void Link(const std::string& path, const std::string& target) {
        fs::create_directories(fs::path(m_root + path).parent_path());
        fs::create_symlink(target, m_root + path);
    }
    void Driver(const std::string& device, const std::string& driver) {
        Link(device + "/driver", "../../../../bus/usb/drivers/" + driver);
    }

    // A USB device with its descriptor and the attributes the kernel shows.
    std::string Usb(const std::string& rel, WORD vid, WORD pid, BYTE cls, int maxchild,
                    std::optional<std::string> manufacturer, std::optional<std::string> product,
                    std::optional<std::string> serial, const std::string& speed = "480") {
        const std::string path = Device(rel, "bus/usb", "DEVTYPE=usb_device\n");
        std::string d(18, '\0');
        d[0] = 18;
        d[1] = 1;
        d[2] = 0x00;
        d[3] = 0x02;
        d[4] = static_cast<char>(cls);
        d[7] = 64;
        d[8] = static_cast<char>(vid & 0xFF);
        d[9] = static_cast<char>(vid >> 8);
        d[10] = static_cast<char>(pid & 0xFF);
        d[11] = static_cast<char>(pid >> 8);
        d[14] = manufacturer ? 1 : 0;
        d[15] = product ? 2 : 0;
        d[16] = serial ? 3 : 0;
        d[17] = 1;
        Write(path + "/descriptors", d);
        Attr(path, "speed", speed);
        Attr(path, "busnum", "1");
        Attr(path, "devnum", std::to_string(++m_devnum));
        Attr(path, "maxchild", std::to_string(maxchild));
        Attr(path, "bConfigurationValue", "1");
        if (manufacturer)
            Attr(path, "manufacturer", *manufacturer);
        if (product)
            Attr(path, "product", *product);
        if (serial)
            Attr(path, "serial", *serial);
        return path;
    }
    std::string Interface(const std::string& deviceRel, const std::string& name, int cls) {
        const std::string path =
            Device(deviceRel + "/" + name, "bus/usb", "DEVTYPE=usb_interface\n");
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02x", cls);
        Attr(path, "bInterfaceClass", hex);
        return path;
    }

  private:
    std::string m_root;
    int m_devnum = 0;
};

class CFakeDeviceDatabase : public IDeviceDatabase {
  public:
    std::map<std::string, std::string> m_map;  // "<sysPath>|<key>" -> value
    std::string Property(const std::string& sysPath, const std::string&, const char* key) override {
        auto it = m_map.find(sysPath + "|" + key);
        return it == m_map.end() ? std::string() : it->second;
    }
};

const CDevNode* FindNode(const CMachineModel& m, const std::string& idPrefix) {
    for (const CDevNode& n : m.m_vNodes)
        if (n.m_strInstanceId.rfind(idPrefix, 0) == 0)
            return &n;
    return nullptr;
}

std::string Prop(const CDevNode* n, ULONG code) {
    if (n == nullptr)
        return "<no node>";
    const CRegistryProperty* p = n->FindProperty(code);
    return p == nullptr ? std::string() : p->m_vValues.at(0);
}

// "label(child,child)" of a scanned entry's tree: friendly name, else description.
std::string Outline(const CDevNodeTree::Node& node) {
    const CDevNodeInfo& i = node.Info();
    std::string out(i.m_strFriendlyName.IsEmpty() ? i.m_strDescription.View()
                                                  : i.m_strFriendlyName.View());
    if (node.FirstChild() == nullptr)
        return out;
    out += "(";
    for (const CDevNodeTree::Node* c = node.FirstChild(); c != nullptr; c = c->NextSibling())
        out += (c == node.FirstChild() ? "" : ",") + Outline(*c);
    return out + ")";
}

class LinuxMachineTest : public ::testing::Test {
  protected:
    CMachineModel Read() { return ReadLinuxMachine(CSysfsReader(m_sys.Root()), &m_db); }

    // One scan through the Windows-shaped calls, as the worker runs it.
    std::vector<CUsbDeviceEntry> Scan() {
        CModelPlatform platform(Read());
        CPlatformScope scope(platform);
        std::vector<CUsbDeviceEntry> entries;
        CUsbDeviceScanner scanner(&entries);
        scanner.m_fields = 0x13;
        scanner.m_nodeFieldMask = 0x419;
        scanner.Scan();
        return entries;
    }

    // A PCI controller with root hub usb1 of `ports` ports.
    std::string RootHub(int ports = 4) {
        const std::string hc =
            m_sys.Device("pci0000:00/0000:00:14.0", "bus/pci", "DRIVER=xhci_hcd\n");
        m_sys.Attr(hc, "vendor", "0x8086");
        m_sys.Attr(hc, "device", "0xa12f");
        return m_sys.Usb("pci0000:00/0000:00:14.0/usb1", 0x1D6B, 0x0002, 9, ports, "Linux",
                         "xHCI Host Controller", "0000:00:14.0");
    }
    static constexpr const char* kRh = "pci0000:00/0000:00:14.0/usb1";

    CFakeSysfs m_sys;
    CFakeDeviceDatabase m_db;
};

TEST_F(LinuxMachineTest, HubsPortsAndIdsInWindowsForm) {
    RootHub(4);
    const std::string rh = kRh;
    m_sys.Usb(rh + "/1-1", 0x2E1A, 0x5567, 0, 0, "Kestrel", "Flash", "4C5300012308");
    m_sys.Usb(rh + "/1-3", 0x05E3, 0x0608, 9, 4, std::nullopt, std::nullopt, std::nullopt);
    m_sys.Usb(rh + "/1-3/1-3.4", 0x05E3, 0x0608, 9, 2, "Generic", "Hub", std::nullopt);
    m_sys.Usb(rh + "/1-3/1-3.4/1-3.4.2", 0x3F0C, 0xC31C, 0, 0, "Larkspur", "Mouse", std::nullopt,
              "1.5");
    m_sys.Usb(rh + "/1-2", 0x0403, 0x6001, 0, 0, "FTDI", "Serial", "A9K3X0QZ", "12");

    const CMachineModel m = Read();
    ASSERT_EQ(m.m_vControllers.size(), 1u);
    const CHostController& hc = m.m_vControllers[0];
    EXPECT_EQ(hc.m_optHcdNumber, 0);
    ASSERT_TRUE(hc.m_optInterfacePath);
    EXPECT_NE(hc.m_optInterfacePath->find("{3abf6f2d-71c4-462a-8a92-1e6861e6af27}"),
              std::string::npos);
    EXPECT_EQ(hc.m_optInstanceId.value_or(""),
              "PCI\\VEN_8086&DEV_A12F&SUBSYS_00000000&REV_00\\"
              "0000:00:14.0");
    const CUsbHub* root = m.FindHub(hc.m_optRootHubName.value_or(u""));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->m_byNumberOfPorts, 4);
    ASSERT_NE(root->FindPort(1), nullptr);
    EXPECT_EQ(root->FindPort(1)->m_optDevice->m_wDeviceAddress, 2);  // devnum, not busnum
    EXPECT_EQ(root->FindPort(2)->m_optDevice->m_bySpeed, kUsbFullSpeed);
    EXPECT_EQ(root->FindPort(4), nullptr);  // empty port: nothing connected
    const CUsbDevice& hub = *root->FindPort(3)->m_optDevice;
    EXPECT_TRUE(hub.m_bDeviceIsHub);
    EXPECT_FALSE(hub.m_optLanguageIds);  // no strings at all: descriptor 0 refused
    const CUsbHub* inner =
        m.FindHub(*m.FindHub(*hub.m_optHubName)->FindPort(4)->m_optDevice->m_optHubName);
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->FindPort(2)->m_optDevice->m_bySpeed, kUsbLowSpeed);

    // The scan: walk order, ids, serials, and the serial-less device's generated ID.
    const std::vector<CUsbDeviceEntry> entries = Scan();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].m_idVendor, 0x2E1A);
    EXPECT_EQ(entries[0].m_strSerialNumber, "4C5300012308");
    EXPECT_EQ(entries[1].m_idProduct, 0x6001);
    EXPECT_EQ(entries[2].m_idVendor, 0x3F0C);
    EXPECT_EQ(entries[2].m_strSerialNumber, "");
    EXPECT_EQ(entries[0].m_devNodeTree.GetRoot()->Info().m_strDeviceId,
              "USB\\VID_2E1A&PID_5567\\4C5300012308");
    const CString& generated = entries[2].m_devNodeTree.GetRoot()->Info().m_strDeviceId;
    EXPECT_EQ(std::string(generated.View()).rfind("USB\\VID_3F0C&PID_C31C\\", 0), 0u);
    EXPECT_NE(std::string(generated.View()).find('&', 22), std::string::npos);
    EXPECT_EQ(entries[0].m_devNodeTree.GetRoot()->Info().m_strService, "");
}

TEST_F(LinuxMachineTest, CompositeInterfacesNamesAndDrivers) {
    RootHub(2);
    const std::string dev = std::string(kRh) + "/1-1";
    const std::string path = m_sys.Usb(dev, 0x046D, 0xC31C, 0, 0, "Larkspur", "Combo", "K1");
    m_sys.Driver(path, "usb");
    m_sys.Driver(m_sys.Interface(dev, "1-1:1.0", 3), "usbhid");
    m_sys.Interface(dev, "1-1:1.1", 3);
    m_sys.Device(dev + "/1-1:1.0/0003:046D:C31C.0001", "bus/hid",
                 "HID_NAME=Larkspur Keyboard\nMODALIAS=hid:b0003\n");
    const std::string single = std::string(kRh) + "/1-2";
    m_sys.Usb(single, 0x0781, 0x5567, 0, 0, "SanKey", "Stick", "S1");
    m_sys.Interface(single, "1-2:1.0", 8);
    m_db.m_map[path + "|ID_VENDOR_FROM_DATABASE"] = "Larkspur Devices";
    m_db.m_map[path + "|ID_MODEL_FROM_DATABASE"] = "K120";

    const CMachineModel m = Read();
    const CDevNode* mi0 = FindNode(m, "USB\\VID_046D&PID_C31C&MI_00\\");
    const CDevNode* mi1 = FindNode(m, "USB\\VID_046D&PID_C31C&MI_01\\");
    ASSERT_NE(mi0, nullptr);
    ASSERT_NE(mi1, nullptr);
    EXPECT_NE(mi0->m_strInstanceId.find('&', 28), std::string::npos);
    EXPECT_EQ(Prop(mi0, CM_DRP_SERVICE), "usbhid");
    EXPECT_EQ(Prop(mi0, CM_DRP_DEVICEDESC), "USB HID interface");
    // One interface only: no composite form, a stable one of the kernel's name.
    EXPECT_EQ(FindNode(m, "USB\\VID_0781&PID_5567&MI_"), nullptr);
    EXPECT_NE(FindNode(m, "USB\\USB_INTERFACE\\1-2:1.0"), nullptr);

    const std::vector<CUsbDeviceEntry> entries = Scan();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(Outline(*entries[0].m_devNodeTree.GetRoot()),
              "Larkspur Devices K120(USB HID interface(Larkspur Keyboard),USB HID interface)");
    EXPECT_EQ(entries[0].m_devNodeTree.GetRoot()->Info().m_strService, "usb");
    // No database entry: the device's own strings, without the vendor said twice.
    EXPECT_EQ(Outline(*entries[1].m_devNodeTree.GetRoot()),
              "SanKey Stick(USB mass storage interface)");
}

TEST_F(LinuxMachineTest, StringsTheKernelShowsOrNot) {
    RootHub(4);
    const std::string rh = kRh;
    // A product attribute the device never delivered; a serial with a blank.
    const std::string a = m_sys.Usb(rh + "/1-1", 0x1111, 0x0001, 0, 0, "Maker", "P", "SN 01");
    ::unlink((m_sys.Root() + a + "/product").c_str());
    // Attributes written without a newline, and a product longer than a descriptor holds.
    const std::string b = m_sys.Usb(rh + "/1-2", 0x1111, 0x0002, 0, 0, "M", "x", "NONL");
    m_sys.Write(b + "/serial", "NONL");
    m_sys.Write(b + "/product", std::string(300, 'p') + "\n");
    // Two devices with the same ids and serial.
    m_sys.Usb(rh + "/1-3", 0x2222, 0x0001, 0, 0, std::nullopt, std::nullopt, "SAME");
    m_sys.Usb(rh + "/1-4", 0x2222, 0x0001, 0, 0, std::nullopt, std::nullopt, "SAME");

    const CMachineModel m = Read();
    const CUsbHub& root = m.m_vHubs.back();
    const CUsbDevice& da = *root.FindPort(1)->m_optDevice;
    ASSERT_EQ(da.m_vStrings.size(), 2u);  // manufacturer and serial; no product descriptor
    EXPECT_EQ(da.m_vStrings[1].m_wstrText, u"SN 01");
    const CUsbDevice& db = *root.FindPort(2)->m_optDevice;
    EXPECT_EQ(db.m_vStrings[2].m_wstrText, u"NONL");
    EXPECT_EQ(db.m_vStrings[1].m_wstrText.size(), 126u);

    const std::vector<CUsbDeviceEntry> entries = Scan();
    ASSERT_EQ(entries.size(), 4u);
    // The serial string is what the device says; its instance ID cannot carry the blank.
    EXPECT_EQ(entries[0].m_strSerialNumber, "SN 01");
    EXPECT_EQ(
        std::string(entries[0].m_devNodeTree.GetRoot()->Info().m_strDeviceId.View()).find("SN 01"),
        std::string::npos);
    EXPECT_EQ(entries[1].m_strSerialNumber, "NONL");
    EXPECT_EQ(entries[2].m_strSerialNumber, "SAME");
    EXPECT_EQ(entries[3].m_strSerialNumber, "SAME");
    const CString& id2 = entries[2].m_devNodeTree.GetRoot()->Info().m_strDeviceId;
    const CString& id3 = entries[3].m_devNodeTree.GetRoot()->Info().m_strDeviceId;
    EXPECT_EQ(id2, "USB\\VID_2222&PID_0001\\SAME");
    // Each device keeps a node of its own: the second gets a generated instance part, as a
    // device whose serial is not unique does on Windows, not the serial with a suffix.
    EXPECT_EQ(std::string(id3.View()).rfind("USB\\VID_2222&PID_0001\\", 0), 0u) << id3.View();
    EXPECT_EQ(std::string(id3.View()).find("SAME"), std::string::npos) << id3.View();
}

TEST_F(LinuxMachineTest, StorageWithMountPointsAndStackedDevices) {
    RootHub(2);
    const std::string dev = std::string(kRh) + "/1-1";
    m_sys.Usb(dev, 0x2E1A, 0x5567, 0, 0, "Kestrel", "Flash", "KF1");
    m_sys.Interface(dev, "1-1:1.0", 8);
    const std::string host = dev + "/1-1:1.0/host6";
    m_sys.Device(host, "bus/scsi", "DEVTYPE=scsi_host\n");
    const std::string sdev =
        m_sys.Device(host + "/target6:0:0/6:0:0:0", "bus/scsi", "DEVTYPE=scsi_device\n");
    m_sys.Attr(sdev, "vendor", "Kestrel ");
    m_sys.Attr(sdev, "model", "Flash 16GB      ");
    const std::string rel = host + "/target6:0:0/6:0:0:0/block/sdb";
    m_sys.Device(rel, "class/block", "DEVTYPE=disk\nMAJOR=8\nMINOR=16\n");
    const std::string part =
        m_sys.Device(rel + "/sdb1", "class/block", "DEVTYPE=partition\nMAJOR=8\nMINOR=17\n");
    // A device-mapper volume on the partition: elsewhere in sysfs, gone when it goes.
    m_sys.Device("virtual/block/dm-0", "class/block", "DEVTYPE=disk\nMAJOR=254\nMINOR=0\n");
    m_sys.Link(part + "/holders/dm-0", "../../../../../../../../../../../../virtual/block/dm-0");
    m_sys.Write("/proc/self/mountinfo",
                "22 1 0:21 / /proc rw - proc proc rw\n"
                "45 30 8:17 / /media/my\\040stick rw,nosuid - vfat /dev/sdb1 rw\n"
                "46 30 8:17 / /mnt/twice rw - vfat /dev/sdb1 rw\n"
                "garbage line\n"
                "47 30 254:0 / /secret rw - ext4 /dev/dm-0 rw\n");

    const std::vector<CUsbDeviceEntry> entries = Scan();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(Outline(*entries[0].m_devNodeTree.GetRoot()),
              "Kestrel Flash(USB mass storage interface(SCSI host adapter (host6)("
              "Kestrel Flash 16GB (6:0:0:0)(Kestrel Flash 16GB (sdb)("
              "sdb1 on /media/my stick, /mnt/twice(dm-0 on /secret))))))");
    // No drive letter anywhere.
    EXPECT_EQ(entries[0].m_devNodeTree.GetRoot()->Info().m_driveLetter, 0);
}

TEST_F(LinuxMachineTest, FilesAndLinksThatMustNotBreakTheScan) {
    RootHub(4);
    const std::string rh = kRh;
    const std::string a = m_sys.Usb(rh + "/1-1", 0x1111, 0x0001, 0, 0, "M", "A", "OK1");
    // A link back up the tree, as sysfs has many: never walked through.
    m_sys.Link(a + "/port", "..");
    m_sys.Link(a + "/loop", ".");
    // A FIFO where an attribute should be: neither read nor waited on.
    ::unlink((m_sys.Root() + a + "/manufacturer").c_str());
    ASSERT_EQ(::mkfifo((m_sys.Root() + a + "/manufacturer").c_str(), 0644), 0);
    // A folder where the serial should be; a descriptor cut short (the attributes stand in).
    const std::string b = m_sys.Usb(rh + "/1-2", 0x1111, 0x0002, 0, 0, "M", "B", std::nullopt);
    std::filesystem::create_directory(m_sys.Root() + b + "/serial");
    m_sys.Write(b + "/descriptors", "\x12\x01\x00");
    m_sys.Attr(b, "idVendor", "1111");
    m_sys.Attr(b, "idProduct", "00b2");
    // Garbage numbers.
    const std::string c = m_sys.Usb(rh + "/1-3", 0x1111, 0x0003, 0, 0, "M", "C", "OK3");
    m_sys.Attr(c, "maxchild", "-7");
    m_sys.Attr(c, "devnum", "lots");
    // A folder chain far deeper than any device nesting.
    std::string deep = m_sys.Root() + a;
    for (int i = 0; i < 60; ++i)
        deep += "/d";
    std::filesystem::create_directories(deep);
    // A device with no subsystem link (half created, or going): not a node.
    m_sys.Write("/sys/devices/" + rh + "/1-4/uevent", "DEVTYPE=usb_device\n");

    const std::vector<CUsbDeviceEntry> entries = Scan();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].m_strSerialNumber, "OK1");
    EXPECT_EQ(entries[1].m_idProduct, 0x00B2);
    EXPECT_EQ(entries[1].m_strSerialNumber, "");
    EXPECT_EQ(entries[2].m_strSerialNumber, "OK3");
}

TEST_F(LinuxMachineTest, ADeviceGoingWhileItIsReadIsNeverListedWithMadeUpIds) {
    RootHub(4);
    const std::string rh = kRh;
    // Its descriptor and id attributes gone after the uevent was read: the uevent's ids.
    const std::string a = m_sys.Usb(rh + "/1-1", 0x2E1A, 0x5567, 0, 0, "K", "Flash", "KEEP1");
    m_sys.Write(a + "/uevent", "DEVTYPE=usb_device\nPRODUCT=2e1a/5567/110\nTYPE=0/0/0\n");
    m_sys.Remove(a + "/descriptors");
    // Its uevent and subsystem link gone, its id attributes still there: still a device,
    // with its interface below it.
    const std::string b = m_sys.Usb(rh + "/1-2", 0x0403, 0x6001, 0, 0, "F", "Serial", "KEEP2");
    m_sys.Remove(b + "/descriptors");
    m_sys.Attr(b, "idVendor", "0403");
    m_sys.Attr(b, "idProduct", "6001");
    m_sys.Interface(rh + "/1-2", "1-2:1.0", 0xFF);
    m_sys.Remove(b + "/uevent");
    m_sys.Remove(b + "/subsystem");
    // Nothing left to tell what it is but its interface: not listed, and its interface is
    // not hung under the hub in its place.
    const std::string c = m_sys.Usb(rh + "/1-3", 0x1111, 0x0003, 0, 0, "M", "Gone", "GONE3");
    m_sys.Interface(rh + "/1-3", "1-3:1.0", 3);
    for (const char* file : {"uevent", "subsystem", "descriptors"})
        m_sys.Remove(c + "/" + file);

    const CMachineModel m = Read();
    EXPECT_EQ(FindNode(m, "USB\\USB_INTERFACE\\1-3:1.0"), nullptr);
    const CUsbHub& root = m.m_vHubs.back();
    EXPECT_EQ(root.FindPort(3), nullptr);
    ASSERT_NE(root.FindPort(1), nullptr);
    EXPECT_EQ(root.FindPort(1)->m_optDevice->m_wBcdDevice, 0x0110);

    const std::vector<CUsbDeviceEntry> entries = Scan();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].m_idVendor, 0x2E1A);
    EXPECT_EQ(entries[0].m_idProduct, 0x5567);
    EXPECT_EQ(entries[0].m_strSerialNumber, "KEEP1");
    EXPECT_EQ(entries[1].m_idVendor, 0x0403);
    EXPECT_EQ(entries[1].m_idProduct, 0x6001);
    EXPECT_EQ(Outline(*entries[1].m_devNodeTree.GetRoot()),
              "F Serial(USB vendor specific interface)");
}

TEST_F(LinuxMachineTest, AHubWithoutItsDescriptorsFileStaysWhatItIs) {
    // A SuperSpeed root hub and hub whose descriptors cannot be read: what they are comes
    // from the attributes the kernel shows one by one.
    const std::string hc = m_sys.Device("pci0000:00/0000:00:14.0", "bus/pci", "");
    const std::string rh = m_sys.Usb("pci0000:00/0000:00:14.0/usb2", 0x1D6B, 0x0003, 9, 4, "L",
                                     "xHCI", "0000:00:14.0", "5000");
    const std::string hub = m_sys.Usb("pci0000:00/0000:00:14.0/usb2/2-1", 0x05E3, 0x0626, 9, 4, "G",
                                      "Hub", std::nullopt, "5000");
    for (const std::string& path : {rh, hub}) {
        m_sys.Remove(path + "/descriptors");
        m_sys.Attr(path, "version", path == rh ? " 3.00" : " 3.10");
        m_sys.Attr(path, "idVendor", path == rh ? "1d6b" : "05e3");
        m_sys.Attr(path, "idProduct", path == rh ? "0003" : "0626");
        m_sys.Attr(path, "bDeviceClass", "09");
        m_sys.Attr(path, "bDeviceSubClass", "00");
        m_sys.Attr(path, "bDeviceProtocol", "03");
        m_sys.Attr(path, "bMaxPacketSize0", "9");
        m_sys.Attr(path, "bNumConfigurations", "1");
    }
    m_sys.Usb("pci0000:00/0000:00:14.0/usb2/2-1/2-1.2", 0x2E1A, 0x5567, 0, 0, "K", "Fast", "SS1",
              "5000");

    const CMachineModel m = Read();
    ASSERT_EQ(m.m_vControllers.size(), 1u);
    EXPECT_NE(FindNode(m, "USB\\ROOT_HUB30\\"), nullptr);
    const CUsbHub* root = m.FindHub(m.m_vControllers[0].m_optRootHubName.value_or(u""));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->m_byDescriptorType, 0x2A);  // a SuperSpeed hub descriptor
    const CUsbDevice& h = *root->FindPort(1)->m_optDevice;
    EXPECT_EQ(h.m_wBcdUsb, 0x0310);
    EXPECT_EQ(h.m_byDeviceClass, 9);
    EXPECT_EQ(h.m_byDeviceProtocol, 3);
    EXPECT_EQ(h.m_byMaxPacketSize0, 9);
    EXPECT_EQ(h.m_byNumConfigurations, 1);
    EXPECT_TRUE(h.m_bDeviceIsHub);
    const CUsbHub* below = m.FindHub(h.m_optHubName.value_or(u""));
    ASSERT_NE(below, nullptr);
    EXPECT_EQ(below->m_byDescriptorType, 0x2A);

    const std::vector<CUsbDeviceEntry> entries = Scan();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].m_strSerialNumber, "SS1");
}

TEST_F(LinuxMachineTest, BusesInterfacesLunsAndPartitionsInTheOrderOfTheirNumbers) {
    // Root hubs usb1, usb2 and usb10: controllers, and so the walk, in the order of buses.
    for (int bus : {10, 2, 1}) {
        char pci[32], hub[16], dev[16];
        std::snprintf(pci, sizeof pci, "pci0000:00/0000:00:%02x.0", 0x10 + bus);
        std::snprintf(hub, sizeof hub, "/usb%d", bus);
        std::snprintf(dev, sizeof dev, "/%d-1", bus);
        m_sys.Device(pci, "bus/pci", "");
        m_sys.Usb(std::string(pci) + hub, 0x1D6B, 0x0002, 9, 2, "L", "Root", pci);
        m_sys.Usb(std::string(pci) + hub + dev, 0x3000, static_cast<WORD>(bus), 0, 0, "M", "P",
                  "BUS" + std::to_string(bus));
    }
    // A phone of 14 interfaces, and a card reader of 11 LUNs, the first with 10 partitions.
    const std::string phone = "pci0000:00/0000:00:11.0/usb1/1-1";
    for (int i = 0; i < 14; ++i)
        m_sys.Interface(phone, "1-1:1." + std::to_string(i), 0xFF);
    const std::string reader = "pci0000:00/0000:00:12.0/usb2/2-1";
    m_sys.Interface(reader, "2-1:1.0", 8);
    const std::string host = reader + "/2-1:1.0/host6";
    m_sys.Device(host, "bus/scsi", "DEVTYPE=scsi_host\n");
    for (int lun = 0; lun < 11; ++lun)
        m_sys.Device(host + "/target6:0:0/6:0:0:" + std::to_string(lun), "bus/scsi",
                     "DEVTYPE=scsi_device\n");
    const std::string disk = host + "/target6:0:0/6:0:0:0/block/sdb";
    m_sys.Device(disk, "class/block", "DEVTYPE=disk\n");
    for (int n = 1; n <= 10; ++n)
        m_sys.Device(disk + "/sdb" + std::to_string(n), "class/block", "DEVTYPE=partition\n");

    const CMachineModel m = Read();
    ASSERT_EQ(m.m_vControllers.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const std::string id = m.m_vControllers[i].m_optInstanceId.value_or("");
        EXPECT_EQ(m.m_vControllers[i].m_optHcdNumber, i);
        EXPECT_EQ(id.substr(id.size() - 12), i == 0   ? "0000:00:11.0"
                                             : i == 1 ? "0000:00:12.0"
                                                      : "0000:00:1a.0");
    }
    const std::vector<CUsbDeviceEntry> entries = Scan();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].m_strSerialNumber, "BUS1");
    EXPECT_EQ(entries[1].m_strSerialNumber, "BUS2");
    EXPECT_EQ(entries[2].m_strSerialNumber, "BUS10");

    std::string interfaces;
    for (const CDevNodeTree::Node* c = entries[0].m_devNodeTree.GetRoot()->FirstChild();
         c != nullptr; c = c->NextSibling()) {
        const std::string id(c->Info().m_strDeviceId.View());
        interfaces += id.substr(id.find("&MI_") + 4, 2) + " ";
    }
    EXPECT_EQ(interfaces, "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D ");
    EXPECT_EQ(Outline(*entries[1].m_devNodeTree.GetRoot()),
              "M P(USB mass storage interface(SCSI host adapter (host6)("
              "SCSI device (6:0:0:0)(sdb(sdb1,sdb2,sdb3,sdb4,sdb5,sdb6,sdb7,sdb8,sdb9,sdb10)),"
              "SCSI device (6:0:0:1),SCSI device (6:0:0:2),SCSI device (6:0:0:3),"
              "SCSI device (6:0:0:4),SCSI device (6:0:0:5),SCSI device (6:0:0:6),"
              "SCSI device (6:0:0:7),SCSI device (6:0:0:8),SCSI device (6:0:0:9),"
              "SCSI device (6:0:0:10))))");
}

TEST_F(LinuxMachineTest, StringsOfADeauthorisedDeviceAreNotItsOwn) {
    RootHub(2);
    const std::string rh = kRh;
    // Older kernels show a text of their own for each string of a de-authorised device.
    const std::string a = m_sys.Usb(rh + "/1-1", 0x096E, 0x0006, 0, 0, "n/a (unauthorized)",
                                    "n/a (unauthorized)", "n/a (unauthorized)");
    m_sys.Attr(a, "authorized", "0");
    // An authorised device whose product says so is taken at its word.
    const std::string b =
        m_sys.Usb(rh + "/1-2", 0x096E, 0x0007, 0, 0, "M", "n/a (unauthorized)", "REAL2");
    m_sys.Attr(b, "authorized", "1");

    const CMachineModel m = Read();
    const CUsbDevice& da = *m.m_vHubs.back().FindPort(1)->m_optDevice;
    EXPECT_TRUE(da.m_vStrings.empty());
    EXPECT_FALSE(da.m_optLanguageIds);
    const std::vector<CUsbDeviceEntry> entries = Scan();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].m_strSerialNumber, "");
    const std::string id(entries[0].m_devNodeTree.GetRoot()->Info().m_strDeviceId.View());
    EXPECT_EQ(id.find("unauthorized"), std::string::npos) << id;
    EXPECT_EQ(id.find("n/a"), std::string::npos) << id;
    EXPECT_EQ(Outline(*entries[0].m_devNodeTree.GetRoot()), "USB device");
    EXPECT_EQ(entries[1].m_strSerialNumber, "REAL2");
    EXPECT_EQ(Outline(*entries[1].m_devNodeTree.GetRoot()), "M n/a (unauthorized)");
}

// findmnt's SOURCE of each mount of `source` in a mount table file: "/dev/sdb1[/photos]".
std::vector<std::string> FindmntSources(const std::string& table, const std::string& source) {
    std::vector<std::string> out;
    const std::string command = "findmnt -F '" + table + "' -n -r -o SOURCE 2>/dev/null";
    std::FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr)
        return out;
    char line[4096];
    while (std::fgets(line, sizeof line, p) != nullptr) {
        std::string s(line);
        while (!s.empty() && s.back() == '\n')
            s.pop_back();
        if (s.rfind(source, 0) == 0)
            out.push_back(s);
    }
    ::pclose(p);
    return out;
}

TEST_F(LinuxMachineTest, MountsAsTheSystemHasThem) {
    RootHub(2);
    const std::string dev = std::string(kRh) + "/1-1";
    m_sys.Usb(dev, 0x2E1A, 0x5567, 0, 0, "Kestrel", "Flash", "KF1");
    m_sys.Interface(dev, "1-1:1.0", 8);
    const std::string disk = dev + "/1-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
    m_sys.Device(disk, "class/block", "DEVTYPE=disk\nMAJOR=8\nMINOR=16\nDEVNAME=sdb\n");
    m_sys.Device(disk + "/sdb1", "class/block",
                 "DEVTYPE=partition\nMAJOR=8\nMINOR=17\nDEVNAME=sdb1\n");
    m_sys.Device(disk + "/sdb2", "class/block",
                 "DEVTYPE=partition\nMAJOR=8\nMINOR=18\nDEVNAME=sdb2\n");
    const std::string part3 = m_sys.Device(disk + "/sdb3", "class/block",
                                           "DEVTYPE=partition\nMAJOR=8\nMINOR=19\nDEVNAME=sdb3\n");
    // An encrypted btrfs on the third partition, by its mapper name.
    const std::string dm = m_sys.Device("virtual/block/dm-0", "class/block",
                                        "DEVTYPE=disk\nMAJOR=254\nMINOR=0\nDEVNAME=dm-0\n");
    m_sys.Attr(dm, "dm/name", "luks-0c4f");
    m_sys.Link(part3 + "/holders/dm-0", "../../../../../../../../../../../../virtual/block/dm-0");
    // A server's table: two thousand mounts and more (well beyond 256 KiB) before the
    // stick's; a bind mount of a folder of it; btrfs, whose device numbers are anonymous;
    // and a last line the read was cut in.
    std::string table;
    for (int i = 0; i < 3000; ++i)
        table += std::to_string(100 + i) + " 30 0:" + std::to_string(60 + i % 50) +
                 " / /srv/containers/c" + std::to_string(i) +
                 "/rootfs/proc/sys/fs/binfmt_misc rw,relatime - proc proc rw\n";
    ASSERT_GT(table.size(), 256u * 1024u);
    table +=
        "5000 30 8:17 / /media/stick rw,nosuid - vfat /dev/sdb1 rw\n"
        "5001 30 8:17 /photos /srv/photos rw - vfat /dev/sdb1 rw\n"
        "5002 30 0:45 / /mnt/btr rw - btrfs /dev/sdb2 rw\n"
        "5003 30 0:46 /@home /home rw - btrfs /dev/mapper/luks-0c4f rw\n"
        "5004 30 0:47 / /tmp/notsdb2 rw - tmpfs /dev/sdb2x rw\n"
        "5005 30 8:18 / /mnt/cut rw - vfat /dev/sd";
    m_sys.Write("/proc/self/mountinfo", table);

    const std::vector<CUsbDeviceEntry> entries = Scan();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(Outline(*entries[0].m_devNodeTree.GetRoot()),
              "Kestrel Flash(USB mass storage interface(sdb(sdb1 on /media/stick, "
              "/srv/photos[/photos],sdb2 on /mnt/btr,sdb3(luks-0c4f on /home[/@home]))))");

    // The folder in brackets is the one findmnt shows for the same table.
    const std::vector<std::string> sources =
        FindmntSources(m_sys.Root() + "/proc/self/mountinfo", "/dev/sdb1");
    EXPECT_EQ(sources, (std::vector<std::string>{"/dev/sdb1", "/dev/sdb1[/photos]"}));
}

TEST_F(LinuxMachineTest, TheDeviceBoundEndsTheWalkAndSaysSo) {
    RootHub(2);
    m_sys.Usb(std::string(kRh) + "/1-1", 0x2E1A, 0x5567, 0, 0, "K", "First", "FIRST");
    // Far more platform devices below the controller than the picture takes.
    for (int i = 0; i < 4100; ++i)
        m_sys.Device("pci0000:00/0000:00:14.0/x" + std::to_string(i), "bus/platform", "");
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* notes = ::open_memstream(&text, &size);
    ASSERT_NE(notes, nullptr);
    const CMachineModel m = ReadLinuxMachine(CSysfsReader(m_sys.Root()), &m_db, notes);
    std::fclose(notes);
    const std::string said(text, size);
    std::free(text);
    EXPECT_NE(said.find("more than 4096 devices"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_LE(m.m_vNodes.size(), 4097u);
    EXPECT_EQ(m.m_vControllers.size(), 1u);  // read before the bound was reached

    // A machine below the bound says nothing.
    text = nullptr;
    notes = ::open_memstream(&text, &size);
    ASSERT_NE(notes, nullptr);
    CFakeSysfs small;
    ReadLinuxMachine(CSysfsReader(small.Root()), nullptr, notes);
    std::fclose(notes);
    EXPECT_EQ(size, 0u);
    std::free(text);
}

TEST_F(LinuxMachineTest, NoControllerWithoutTheBusFolder) {
    std::filesystem::remove_all(m_sys.Root() + "/sys");
    const CMachineModel m = Read();
    EXPECT_TRUE(m.m_vControllers.empty());
    ASSERT_EQ(m.m_vNodes.size(), 1u);  // the root alone
    EXPECT_TRUE(Scan().empty());
}

TEST(LinuxMachineHelpers, MountTableSpeedsAndTexts) {
    const std::vector<CMountEntry> mounts = ParseMountInfo(
        "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw\n"
        "37 35 98:0 / /a\\134b\\011c rw - ext3 /dev/root rw\n"
        "\n  \n38 35 8:1\n39 35 nocolon / /x rw - t s rw\n"
        "40 35 8:1 / /trailing\\0 rw shared:7 - t s rw\n"
        "41 35 8:2 / /cut-short rw - vfat /dev/sd");
    ASSERT_EQ(mounts.size(), 3u);  // the last line has no newline: the read was cut there
    EXPECT_EQ(mounts[0].m_strDevice, "98:0");
    EXPECT_EQ(mounts[0].m_strRoot, "/mnt1");
    EXPECT_EQ(mounts[0].m_strPoint, "/mnt2");
    EXPECT_EQ(mounts[0].m_strSource, "/dev/root");
    EXPECT_EQ(mounts[1].m_strPoint, "/a\\b\tc");
    EXPECT_EQ(mounts[2].m_strPoint, "/trailing\\0");
    EXPECT_EQ(mounts[2].m_strSource, "s");  // after the optional fields

    EXPECT_TRUE(SysfsNameLess("1-1:1.9", "1-1:1.10"));
    EXPECT_FALSE(SysfsNameLess("1-1:1.10", "1-1:1.9"));
    EXPECT_TRUE(SysfsNameLess("sdb9", "sdb10"));
    EXPECT_TRUE(SysfsNameLess("6:0:0:2", "6:0:0:10"));
    EXPECT_TRUE(SysfsNameLess("usb2", "usb10"));
    EXPECT_TRUE(SysfsNameLess("1-1", "1-1.2"));
    EXPECT_FALSE(SysfsNameLess("x", "x"));
    EXPECT_NE(SysfsNameLess("01", "1"), SysfsNameLess("1", "01"));  // equal numbers: by bytes

    EXPECT_EQ(SpeedFromSysfs("1.5"), kUsbLowSpeed);
    EXPECT_EQ(SpeedFromSysfs("12"), kUsbFullSpeed);
    EXPECT_EQ(SpeedFromSysfs("480\n"), kUsbHighSpeed);
    EXPECT_EQ(SpeedFromSysfs("10000"), kUsbSuperSpeed);
    EXPECT_EQ(SpeedFromSysfs("?"), kUsbFullSpeed);

    EXPECT_EQ(SerialInstancePart("ABC-123_x"), "ABC-123_x");
    EXPECT_EQ(SerialInstancePart("A B"), "");
    EXPECT_EQ(SerialInstancePart("A\\B"), "");
    EXPECT_EQ(SerialInstancePart("A,B"), "");
    EXPECT_EQ(SerialInstancePart("\xC3\xA9"), "");

    EXPECT_EQ(PropertyText("a\tb\x01"
                           "c"),
              "a b c");
    EXPECT_EQ(PropertyText("\xFF"), "\xEF\xBF\xBD");
    const std::string longText = PropertyText(std::string(198, 'x') + "\xE3\x81\x82" + "yy");
    EXPECT_EQ(longText, std::string(198, 'x'));  // cut before the character that would not fit
}

TEST(SysfsReaderTest, BoundedReadsAndLinks) {
    CFakeSysfs sys;
    const CSysfsReader reader(sys.Root());
    sys.Write("/sys/a/nl", "value\n");
    sys.Write("/sys/a/nonl", "value");
    sys.Write("/sys/a/two", "value\n\n");
    sys.Write("/sys/a/big", std::string(10000, 'b'));
    EXPECT_EQ(reader.ReadText("/sys/a", "nl"), "value");
    EXPECT_EQ(reader.ReadText("/sys/a", "nonl"), "value");
    EXPECT_EQ(reader.ReadText("/sys/a", "two"), "value\n");
    EXPECT_EQ(reader.ReadText("/sys/a", "big")->size(), 4096u);
    EXPECT_EQ(reader.ReadFile("/sys/a/big", 100)->size(), 100u);
    EXPECT_FALSE(reader.ReadText("/sys/a", "missing"));
    sys.Link("/sys/a/link", "nl");
    EXPECT_FALSE(reader.ReadText("/sys/a", "link"));  // an attribute is never a link
    EXPECT_EQ(reader.ReadLink("/sys/a/link"), "nl");
    EXPECT_FALSE(reader.ReadLink("/sys/a/nl"));
    EXPECT_EQ(reader.LinkName("/sys/a", "link"), "nl");

    EXPECT_EQ(JoinLinkTarget("/sys/bus/usb/devices", "../../../devices/pci/usb1"),
              "/sys/devices/pci/usb1");
    EXPECT_EQ(JoinLinkTarget("/sys/x", "/abs/./p/../q"), "/abs/q");
    EXPECT_EQ(JoinLinkTarget("/sys", "../../../../.."), "/");
    EXPECT_EQ(BaseName("/sys/bus/usb/"), "usb");
    EXPECT_EQ(ParentPath("/sys/devices/x"), "/sys/devices");
}

}  // namespace
}  // namespace ks

#include "platform/linux/LinuxMachine.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <set>
#include <utility>

#include "framework/CodePage.h"

namespace ks {

namespace {

constexpr const char* kUsbClassKey = "{36FC9E60-C465-11CF-8056-444553540000}\\";
constexpr const char* kHubInterfaceSuffix = "#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
constexpr const char* kHostControllerInterfaceSuffix = "#{3abf6f2d-71c4-462a-8a92-1e6861e6af27}";

// A machine with more kernel devices below its USB controllers than this, or nested deeper,
// is read no further: the picture stays bounded whatever sysfs shows.
constexpr std::size_t kMaxDevices = 4096;
constexpr int kMaxDepth = 40;
constexpr std::size_t kMaxInstanceIdLength = MAX_DEVICE_ID_LEN - 1;
constexpr std::size_t kMaxPropertyBytes = MAX_DEVICE_ID_LEN - 1;
constexpr std::size_t kMaxStringUnits = 126;  // a string descriptor holds 126 UTF-16 units
// The mount table is read whole: a server with thousands of mounts has a table of several
// hundred KiB, and the last mount (a stick just plugged in) is the one the user looks for.
// This bound only keeps a runaway table from taking the memory of the machine.
constexpr std::size_t kMaxMountTableBytes = 64 * 1024 * 1024;
// What kernels up to the 3.x series show for the strings of a de-authorised device.
constexpr std::string_view kUnauthorizedText = "n/a (unauthorized)";

// Folders below a device that never hold a device, and are many: not listed.
bool IsDeviceFreeFolder(std::string_view name) {
    static constexpr std::string_view kNames[] = {"power",    "queue",     "mq",
                                                  "trace",    "holders",   "slaves",
                                                  "msi_irqs", "integrity", "statistics"};
    for (std::string_view n : kNames)
        if (name == n)
            return true;
    return name.rfind("ep_", 0) == 0;  // USB endpoints: pipes, not devices
}

std::string Upper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

std::string Trim(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n'))
        s.remove_suffix(1);
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return std::string(s);
}

std::optional<unsigned long> ParseNumber(std::string_view text, int base) {
    const std::string s = Trim(text);
    if (s.empty() || s.size() > 20)
        return std::nullopt;
    char* end = nullptr;
    const unsigned long v = std::strtoul(s.c_str(), &end, base);
    if (end == s.c_str() || *end != '\0' || s.front() == '-')
        return std::nullopt;
    return v;
}

// "46d/c52b/1201": the numbers between the slashes; none when any is not a number.
std::vector<unsigned long> SlashedNumbers(std::string_view text, int base) {
    std::vector<unsigned long> numbers;
    for (;;) {
        const std::size_t slash = text.find('/');
        const std::optional<unsigned long> n = ParseNumber(text.substr(0, slash), base);
        if (!n || numbers.size() == 8)
            return {};
        numbers.push_back(*n);
        if (slash == std::string_view::npos)
            return numbers;
        text.remove_prefix(slash + 1);
    }
}

// The "version" attribute of a USB device (" 2.00", " 3.10": bcdUSB as the kernel prints
// it, major and minor in hex) as bcdUSB; 0 when it cannot be read.
WORD BcdFromVersion(std::string_view version) {
    const std::string v = Trim(version);
    const std::size_t dot = v.find('.');
    if (dot == std::string::npos)
        return 0;
    const std::optional<unsigned long> major = ParseNumber(std::string_view(v).substr(0, dot), 16);
    const std::optional<unsigned long> minor = ParseNumber(std::string_view(v).substr(dot + 1), 16);
    if (!major || !minor || *major > 0xFF || *minor > 0xFF)
        return 0;
    return static_cast<WORD>(*major << 8 | *minor);
}

std::uint32_t Fnv1a(std::string_view s) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : s) {
        h ^= c;
        h *= 16777619u;
    }
    return h;
}

std::string Format(const char* format, unsigned a, unsigned b = 0, unsigned c = 0, unsigned d = 0) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, a, b, c, d);
    return buffer;
}

// An instance-ID part made safe: printable ASCII only, no separator.
std::string IdPart(std::string_view s) {
    std::string out;
    for (unsigned char c : s)
        out += (c > 0x20 && c < 0x7F && c != '\\' && c != ',') ? static_cast<char>(c) : '_';
    return out;
}

std::u16string DescriptorText(std::string_view utf8) {
    std::u16string text = Utf8ToUtf16(utf8);
    if (text.size() > kMaxStringUnits) {
        std::size_t cut = kMaxStringUnits;
        if (text[cut - 1] >= 0xD800 && text[cut - 1] <= 0xDBFF)
            --cut;  // never half a surrogate pair
        text.resize(cut);
    }
    return text;
}

CRegistryProperty Sz(ULONG code, std::string_view value) {
    CRegistryProperty p;
    p.m_ulCode = code;
    p.m_ulType = kRegTypeSz;
    p.m_vValues.push_back(PropertyText(value));
    return p;
}

void SetProperty(CDevNode& node, ULONG code, std::string_view value) {
    if (value.empty())
        return;
    for (CRegistryProperty& p : node.m_vProperties)
        if (p.m_ulCode == code) {
            p = Sz(code, value);
            return;
        }
    node.m_vProperties.push_back(Sz(code, value));
}

std::map<std::string, std::string> ParseUevent(std::string_view text) {
    std::map<std::string, std::string> values;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t end = text.find('\n', i);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(i, end - i);
        const std::size_t eq = line.find('=');
        if (eq != std::string_view::npos && eq > 0)
            values.emplace(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
        i = end + 1;
    }
    return values;
}

const char* InterfaceClassName(unsigned cls) {
    switch (cls) {
        case 0x01:
            return "audio";
        case 0x02:
            return "communications";
        case 0x03:
            return "HID";
        case 0x05:
            return "physical";
        case 0x06:
            return "imaging";
        case 0x07:
            return "printer";
        case 0x08:
            return "mass storage";
        case 0x09:
            return "hub";
        case 0x0A:
            return "CDC data";
        case 0x0B:
            return "smart card";
        case 0x0E:
            return "video";
        case 0x0F:
            return "personal healthcare";
        case 0x10:
            return "audio/video";
        case 0xDC:
            return "diagnostic";
        case 0xE0:
            return "wireless controller";
        case 0xEF:
            return "miscellaneous";
        case 0xFE:
            return "application specific";
        case 0xFF:
            return "vendor specific";
        default:
            return nullptr;
    }
}

// One kernel device of the picture.
struct CKernelDevice {
    std::string m_strPath;  // "/sys/devices/..."
    std::string m_strName;
    std::string m_strSubsystem;
    std::string m_strDevType;
    std::string m_strDriver;
    std::map<std::string, std::string> m_mapUevent;
    std::optional<std::size_t> m_optParent;  // nearest device above it in the picture
    std::vector<std::size_t> m_vChildren;
    std::size_t m_node = 0;  // its node in the model

    // USB devices (and root hubs)
    bool m_bUsbDevice = false;
    bool m_bUsbInterface = false;
    bool m_bRootHub = false;
    unsigned m_uBus = 0;
    unsigned m_uPort = 0;  // on its parent hub; 0 for a root hub
    CUsbDevice m_usb;
    unsigned m_uMaxChild = 0;
    std::string m_strManufacturer, m_strProduct, m_strSerial;
    std::size_t m_interfaceCount = 0;
    // SCSI devices: their vendor and model, for the disk below them
    std::string m_strScsiVendor, m_strScsiModel;
    // Block devices: the devices stacked on this one (its "holders")
    std::vector<std::string> m_vHolders;
};

class CMachineReader {
  public:
    CMachineReader(const CSysfsReader& reader, IDeviceDatabase* database, std::FILE* notes)
        : m_reader(reader), m_pDatabase(database), m_pNotes(notes) {}

    CMachineModel Read();

  private:
    struct CRootHub {
        unsigned m_uBus;
        std::string m_strPath;
    };

    // What ReadDevice made of a folder: a device of the picture; no device (its folders
    // are walked for devices below); or a device that is gone or beyond the bound (nothing
    // below it is walked).
    enum class ERead { Device, NotADevice, Gone };

    std::vector<CRootHub> FindRootHubs();
    void Walk(const std::string& path, std::optional<std::size_t> parent, int depth);
    ERead ReadDevice(const std::string& path, std::optional<std::size_t> parent,
                     std::size_t& index);
    // Whether a folder is where a USB device is (a root hub, or a port of a hub), by its
    // name: for a device that has lost its uevent or subsystem link.
    bool IsUsbDeviceFolder(const std::string& path, std::optional<std::size_t> parent) const;
    // False when the device's ids cannot be read.
    bool ReadUsbDevice(CKernelDevice& d);
    void ReadUsbInterface(CKernelDevice& d);
    void AddStacked();
    std::string Db(const CKernelDevice& d, const char* key);

    void BuildNodes();
    void BuildNode(std::size_t device, std::size_t parentNode);
    void DescribeNode(const CKernelDevice& d, CDevNode& node);
    std::string InstanceId(const CKernelDevice& d);
    std::string UniqueId(std::string id);
    void BuildUsb();
    CUsbHub MakeHub(const CKernelDevice& hub);
    const CKernelDevice* UsbDeviceAbove(const CKernelDevice& d) const;

    const CSysfsReader& m_reader;
    IDeviceDatabase* m_pDatabase;
    std::FILE* m_pNotes;
    CMachineModel m_model;
    std::vector<CKernelDevice> m_vDevices;
    std::vector<std::size_t> m_vTops;  // devices below the root, in order
    std::map<std::string, std::size_t> m_mapByPath;
    std::set<std::string> m_setIds;  // upper-cased instance IDs handed out
    std::vector<CRootHub> m_vRootHubs;
    // Mount points as the block devices show them: by device number ("8:17"), and for
    // file systems on an anonymous device number (btrfs: "0:NN"), by mount source.
    std::map<std::string, std::vector<std::string>> m_mapMounts;
    std::map<std::string, std::vector<std::string>> m_mapMountsBySource;
    bool m_bBoundReached = false;
};

std::vector<CMachineReader::CRootHub> CMachineReader::FindRootHubs() {
    std::vector<CRootHub> hubs;
    const std::string busFolder = "/sys/bus/usb/devices";
    for (const CSysfsReader::CEntry& e : m_reader.ListFolder(busFolder)) {
        if (e.m_strName.rfind("usb", 0) != 0)
            continue;
        const std::optional<unsigned long> bus = ParseNumber(e.m_strName.substr(3), 10);
        if (!bus || *bus == 0 || *bus > 0xFFFF)
            continue;
        std::string path;
        if (e.m_kind == CSysfsReader::EKind::Link) {
            const std::optional<std::string> target =
                m_reader.ReadLink(busFolder + "/" + e.m_strName);
            if (!target)
                continue;
            path = JoinLinkTarget(busFolder, *target);
        } else if (e.m_kind == CSysfsReader::EKind::Folder) {
            path = busFolder + "/" + e.m_strName;
        } else {
            continue;
        }
        hubs.push_back({static_cast<unsigned>(*bus), path});
    }
    std::sort(hubs.begin(), hubs.end(),
              [](const CRootHub& a, const CRootHub& b) { return a.m_uBus < b.m_uBus; });
    return hubs;
}

bool CMachineReader::IsUsbDeviceFolder(const std::string& path,
                                       std::optional<std::size_t> parent) const {
    for (const CRootHub& rh : m_vRootHubs)
        if (rh.m_strPath == path)
            return true;
    // "B-P.P.P" below a USB device (a hub) of bus B.
    if (!parent || !m_vDevices[*parent].m_bUsbDevice)
        return false;
    const std::string_view name = BaseName(path);
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos || dash == 0)
        return false;
    const std::optional<unsigned long> bus = ParseNumber(name.substr(0, dash), 10);
    if (!bus || *bus != m_vDevices[*parent].m_uBus)
        return false;
    bool digit = false;  // the last character was a digit: a port number ends there
    for (char c : name.substr(dash + 1)) {
        if (c == '.' && digit)
            digit = false;
        else if (c >= '0' && c <= '9')
            digit = true;
        else
            return false;
    }
    return digit;
}

CMachineReader::ERead CMachineReader::ReadDevice(const std::string& path,
                                                 std::optional<std::size_t> parent,
                                                 std::size_t& index) {
    // A kernel device is a folder with a uevent file; a bus device's subsystem link leads
    // into /sys/bus, a class device's into /sys/class. The nodes are the bus devices and
    // the block devices: the other class devices (SCSI generic, bsg, hidraw, input event
    // nodes) are ways into a device, not devices, as interfaces are on Windows.
    const std::optional<std::string> uevent = m_reader.ReadFile(path + "/uevent", 4096);
    // (A folder without a uevent is no device, or one going: its link is not needed.)
    const std::optional<std::string> subsystemLink =
        uevent ? m_reader.ReadLink(path + "/subsystem") : std::nullopt;
    std::string subsystem;
    bool bus = false;
    bool usbByName = false;
    if (uevent && subsystemLink) {
        subsystem = std::string(BaseName(*subsystemLink));
        bus = subsystemLink->find("/bus/") != std::string::npos ||
              subsystemLink->rfind("bus/", 0) == 0;
    } else if (IsUsbDeviceFolder(path, parent)) {
        // A device that is going loses its files one by one, and a half-made one has not
        // all of them yet. A USB device stays a device while its ids can be read (else it
        // is gone, and everything below it with it: its interfaces never stand in its
        // place under the hub).
        subsystem = "usb";
        bus = true;
        usbByName = true;
    } else {
        return ERead::NotADevice;
    }
    if (subsystem.empty() || (!bus && subsystem != "block"))
        return ERead::NotADevice;
    if (m_vDevices.size() >= kMaxDevices) {
        m_bBoundReached = true;
        return ERead::Gone;
    }

    CKernelDevice d;
    d.m_strPath = path;
    d.m_strName = std::string(BaseName(path));
    d.m_strSubsystem = subsystem;
    d.m_mapUevent = ParseUevent(uevent.value_or(std::string()));
    if (auto it = d.m_mapUevent.find("DEVTYPE"); it != d.m_mapUevent.end())
        d.m_strDevType = it->second;
    if (std::optional<std::string> driver = m_reader.LinkName(path, "driver"))
        d.m_strDriver = *driver;
    d.m_optParent = parent;

    if (subsystem == "usb") {
        if (usbByName) {
            d.m_bUsbDevice = true;
            d.m_strDevType = "usb_device";
        } else if (d.m_strDevType == "usb_interface" ||
                   (d.m_strDevType.empty() && d.m_strName.find(':') != std::string::npos)) {
            d.m_bUsbInterface = true;
        } else if (d.m_strDevType == "usb_device" || d.m_strDevType.empty()) {
            d.m_bUsbDevice = true;
        }
    } else if (subsystem == "scsi" && d.m_strDevType == "scsi_device") {
        d.m_strScsiVendor = Trim(m_reader.ReadText(path, "vendor").value_or(""));
        d.m_strScsiModel = Trim(m_reader.ReadText(path, "model").value_or(""));
    }
    // A USB device whose ids cannot be read is not listed with made-up ones: it is left out
    // of this picture, and the rescan its removal causes shows the machine as it is then.
    if (d.m_bUsbDevice && !ReadUsbDevice(d))
        return ERead::Gone;

    index = m_vDevices.size();
    m_vDevices.push_back(std::move(d));
    m_mapByPath.emplace(path, index);
    if (parent)
        m_vDevices[*parent].m_vChildren.push_back(index);
    else
        m_vTops.push_back(index);
    if (m_vDevices[index].m_bUsbInterface)
        ReadUsbInterface(m_vDevices[index]);
    return ERead::Device;
}

void CMachineReader::Walk(const std::string& path, std::optional<std::size_t> parent, int depth) {
    if (m_bBoundReached || depth > kMaxDepth || m_mapByPath.count(path))
        return;
    std::size_t self = 0;
    const ERead read = ReadDevice(path, parent, self);
    if (read == ERead::Gone)
        return;
    const std::optional<std::size_t> below =
        read == ERead::Device ? std::optional<std::size_t>(self) : parent;
    std::vector<CSysfsReader::CEntry> entries = m_reader.ListFolder(path);
    // Siblings in the order of their numbers: interface 1.10 after 1.9, sdb10 after sdb9.
    std::sort(entries.begin(), entries.end(),
              [](const CSysfsReader::CEntry& a, const CSysfsReader::CEntry& b) {
                  return SysfsNameLess(a.m_strName, b.m_strName);
              });
    for (const CSysfsReader::CEntry& e : entries) {
        // Only real folders: every link in sysfs leads elsewhere in the tree (subsystem,
        // driver, port, device, firmware_node), often upwards.
        if (e.m_kind != CSysfsReader::EKind::Folder || IsDeviceFreeFolder(e.m_strName))
            continue;
        Walk(path + "/" + e.m_strName, below, depth + 1);
    }
}

bool CMachineReader::ReadUsbDevice(CKernelDevice& d) {
    const std::string& path = d.m_strPath;
    if (d.m_strName.rfind("usb", 0) == 0) {
        d.m_bRootHub = true;
        d.m_uBus = static_cast<unsigned>(ParseNumber(d.m_strName.substr(3), 10).value_or(0));
    } else {
        // "B-P.P.P": bus, then the port path; the last number is the port on the parent hub.
        const std::size_t dash = d.m_strName.find('-');
        if (dash != std::string::npos) {
            d.m_uBus =
                static_cast<unsigned>(ParseNumber(d.m_strName.substr(0, dash), 10).value_or(0));
            const std::size_t dot = d.m_strName.find_last_of(".-");
            d.m_uPort =
                static_cast<unsigned>(ParseNumber(d.m_strName.substr(dot + 1), 10).value_or(0));
        }
    }
    auto number = [&](const char* name, int base) {
        return ParseNumber(m_reader.ReadText(path, name).value_or(""), base);
    };

    CUsbDevice& u = d.m_usb;
    const std::optional<std::string> raw = m_reader.ReadFile(path + "/descriptors");
    if (raw && raw->size() >= 18 && static_cast<BYTE>((*raw)[1]) == 1) {
        const auto* b = reinterpret_cast<const BYTE*>(raw->data());
        u.m_byLength = b[0];
        u.m_byDescriptorType = b[1];
        u.m_wBcdUsb = static_cast<WORD>(b[2] | b[3] << 8);
        u.m_byDeviceClass = b[4];
        u.m_byDeviceSubClass = b[5];
        u.m_byDeviceProtocol = b[6];
        u.m_byMaxPacketSize0 = b[7];
        u.m_wIdVendor = static_cast<WORD>(b[8] | b[9] << 8);
        u.m_wIdProduct = static_cast<WORD>(b[10] | b[11] << 8);
        u.m_wBcdDevice = static_cast<WORD>(b[12] | b[13] << 8);
        u.m_byManufacturer = b[14];
        u.m_byProduct = b[15];
        u.m_bySerialNumber = b[16];
        u.m_byNumConfigurations = b[17];
    } else {
        // No readable descriptor: the fields the kernel shows one attribute each, and
        // where those are gone too, the uevent read a moment ago (PRODUCT=vid/pid/bcdDevice
        // in hex, TYPE=class/subclass/protocol in decimal).
        const auto field = [&d](const char* key, int base) {
            auto it = d.m_mapUevent.find(key);
            return it == d.m_mapUevent.end() ? std::vector<unsigned long>()
                                             : SlashedNumbers(it->second, base);
        };
        const std::vector<unsigned long> product = field("PRODUCT", 16);
        const std::vector<unsigned long> type = field("TYPE", 10);
        const std::optional<unsigned long> vid = number("idVendor", 16);
        const std::optional<unsigned long> pid = number("idProduct", 16);
        if (vid && pid && *vid <= 0xFFFF && *pid <= 0xFFFF) {
            u.m_wIdVendor = static_cast<WORD>(*vid);
            u.m_wIdProduct = static_cast<WORD>(*pid);
        } else if (product.size() == 3 && product[0] <= 0xFFFF && product[1] <= 0xFFFF) {
            u.m_wIdVendor = static_cast<WORD>(product[0]);
            u.m_wIdProduct = static_cast<WORD>(product[1]);
        } else {
            return false;
        }
        const auto orUevent = [](std::optional<unsigned long> value,
                                 const std::vector<unsigned long>& fields, std::size_t i) {
            return value ? *value : fields.size() == 3 ? fields[i] : 0;
        };
        u.m_byLength = 18;
        u.m_byDescriptorType = 1;
        u.m_wBcdUsb = BcdFromVersion(m_reader.ReadText(path, "version").value_or(""));
        u.m_wBcdDevice = static_cast<WORD>(orUevent(number("bcdDevice", 16), product, 2));
        u.m_byDeviceClass = static_cast<BYTE>(orUevent(number("bDeviceClass", 16), type, 0));
        u.m_byDeviceSubClass = static_cast<BYTE>(orUevent(number("bDeviceSubClass", 16), type, 1));
        u.m_byDeviceProtocol = static_cast<BYTE>(orUevent(number("bDeviceProtocol", 16), type, 2));
        u.m_byMaxPacketSize0 = static_cast<BYTE>(number("bMaxPacketSize0", 10).value_or(0));
        u.m_byNumConfigurations = static_cast<BYTE>(number("bNumConfigurations", 10).value_or(0));
        // The string indices are unknown: the strings the kernel shows stand at 1, 2, 3.
        u.m_byManufacturer = 1;
        u.m_byProduct = 2;
        u.m_bySerialNumber = 3;
    }
    u.m_bySpeed = SpeedFromSysfs(m_reader.ReadText(path, "speed").value_or(""));
    u.m_wDeviceAddress = static_cast<WORD>(number("devnum", 10).value_or(0));
    u.m_byCurrentConfigurationValue =
        static_cast<BYTE>(number("bConfigurationValue", 10).value_or(0));
    d.m_uMaxChild =
        static_cast<unsigned>(std::min<unsigned long>(number("maxchild", 10).value_or(0), 255));

    // The strings the kernel read from the device when it was enumerated, for the indices
    // the descriptor names. A missing file: the device did not answer that request. Of a
    // de-authorised device, older kernels show a text of their own in place of each.
    std::optional<bool> deauthorized;
    auto text = [&](BYTE index, const char* name) -> std::optional<std::string> {
        if (index == 0)
            return std::nullopt;
        std::optional<std::string> value = m_reader.ReadText(path, name);
        if (value && *value == kUnauthorizedText) {
            if (!deauthorized)
                deauthorized = Trim(m_reader.ReadText(path, "authorized").value_or("")) == "0";
            if (*deauthorized)
                return std::nullopt;
        }
        return value;
    };
    const std::optional<std::string> manufacturer = text(u.m_byManufacturer, "manufacturer");
    const std::optional<std::string> product = text(u.m_byProduct, "product");
    const std::optional<std::string> serial = text(u.m_bySerialNumber, "serial");
    d.m_strManufacturer = manufacturer.value_or("");
    d.m_strProduct = product.value_or("");
    d.m_strSerial = serial.value_or("");

    auto addString = [&u](BYTE index, const std::optional<std::string>& value) {
        if (index == 0 || !value)
            return;
        for (const CStringDescriptor& s : u.m_vStrings)
            if (s.m_byIndex == index)
                return;
        CStringDescriptor s;
        s.m_byIndex = index;
        s.m_wLanguage = 0x0409;
        s.m_wstrText = DescriptorText(*value);
        u.m_vStrings.push_back(std::move(s));
    };
    addString(u.m_byManufacturer, manufacturer);
    addString(u.m_byProduct, product);
    addString(u.m_bySerialNumber, serial);
    // The kernel keeps no language list; it reads strings in the device's first language.
    // A device none of whose strings the kernel could read answers no descriptor 0.
    if (!u.m_vStrings.empty())
        u.m_optLanguageIds = std::vector<WORD>{0x0409};
    return true;
}

void CMachineReader::ReadUsbInterface(CKernelDevice& d) {
    // "B-P.P:C.I": configuration C, interface I.
    const std::size_t dot = d.m_strName.rfind('.');
    d.m_uPort = static_cast<unsigned>(
        dot == std::string::npos ? 0 : ParseNumber(d.m_strName.substr(dot + 1), 10).value_or(0));
    if (d.m_optParent) {
        CKernelDevice& owner = m_vDevices[*d.m_optParent];
        if (owner.m_bUsbDevice)
            ++owner.m_interfaceCount;
    }
}

std::string CMachineReader::Db(const CKernelDevice& d, const char* key) {
    // The device's own record first (udev properties a test bed or a kernel puts there),
    // then the hardware database.
    if (auto it = d.m_mapUevent.find(key); it != d.m_mapUevent.end() && !it->second.empty())
        return Trim(it->second);
    if (m_pDatabase == nullptr)
        return std::string();
    std::string modalias;
    if (d.m_bUsbDevice)
        modalias = Format("usb:v%04Xp%04X*", d.m_usb.m_wIdVendor, d.m_usb.m_wIdProduct);
    else if (auto it = d.m_mapUevent.find("MODALIAS"); it != d.m_mapUevent.end())
        modalias = it->second;
    return Trim(m_pDatabase->Property(d.m_strPath, modalias, key));
}

void CMachineReader::AddStacked() {
    // Devices stacked on a block device (device-mapper, md, loop on a partition's file
    // system) sit elsewhere in sysfs but go when it goes: its removal relations. The
    // partitions and the disk itself are below the USB device already.
    for (std::size_t i = 0; i < m_vDevices.size() && m_vDevices.size() < kMaxDevices; ++i) {
        if (m_vDevices[i].m_strSubsystem != "block")
            continue;
        const std::string holders = m_vDevices[i].m_strPath + "/holders";
        for (const CSysfsReader::CEntry& e : m_reader.ListFolder(holders)) {
            const std::optional<std::string> target =
                m_reader.ReadLink(holders + "/" + e.m_strName);
            if (!target)
                continue;
            const std::string path = JoinLinkTarget(holders, *target);
            m_vDevices[i].m_vHolders.push_back(path);
            if (!m_mapByPath.count(path))
                Walk(path, std::nullopt, 0);
        }
    }
}

const CKernelDevice* CMachineReader::UsbDeviceAbove(const CKernelDevice& d) const {
    std::optional<std::size_t> p = d.m_optParent;
    while (p) {
        if (m_vDevices[*p].m_bUsbDevice)
            return &m_vDevices[*p];
        p = m_vDevices[*p].m_optParent;
    }
    return nullptr;
}

std::string CMachineReader::UniqueId(std::string id) {
    if (id.size() > kMaxInstanceIdLength)
        id.resize(kMaxInstanceIdLength);
    std::string key = Upper(id);
    for (unsigned n = 2; m_setIds.count(key) && n < 100000; ++n) {
        const std::string suffix = Format("&%u", n);
        std::string candidate = id.substr(0, kMaxInstanceIdLength - suffix.size()) + suffix;
        key = Upper(candidate);
        if (!m_setIds.count(key))
            id = std::move(candidate);
    }
    m_setIds.insert(key);
    return id;
}

std::string CMachineReader::InstanceId(const CKernelDevice& d) {
    const std::string parentName =
        d.m_optParent ? m_vDevices[*d.m_optParent].m_strName : std::string();
    if (d.m_bUsbDevice) {
        if (d.m_bRootHub)
            return UniqueId(Format("USB\\ROOT_HUB%u\\4&%08X&0",
                                   d.m_usb.m_wBcdUsb >= 0x0300 ? 30u : 20u, Fnv1a(d.m_strPath)));
        const std::string vidPid =
            Format("USB\\VID_%04X&PID_%04X\\", d.m_usb.m_wIdVendor, d.m_usb.m_wIdProduct);
        const std::string serial = SerialInstancePart(d.m_strSerial);
        if (!serial.empty()) {
            const std::string id = vidPid + serial;
            // Two devices with the same ids and serial: the second gets a generated part,
            // as Windows gives a device whose serial is not unique.
            if (!m_setIds.count(Upper(id)))
                return UniqueId(id);
        }
        const unsigned tier =
            static_cast<unsigned>(5 + std::count(d.m_strName.begin(), d.m_strName.end(), '.'));
        return UniqueId(vidPid + Format("%u&%08X&0&%u", tier, Fnv1a(parentName), d.m_uPort));
    }
    if (d.m_bUsbInterface) {
        const CKernelDevice* owner = UsbDeviceAbove(d);
        if (owner != nullptr && owner->m_interfaceCount > 1 && owner->m_usb.m_byDeviceClass != 9)
            return UniqueId(Format("USB\\VID_%04X&PID_%04X&MI_%02X\\", owner->m_usb.m_wIdVendor,
                                   owner->m_usb.m_wIdProduct, d.m_uPort & 0xFF) +
                            Format("%u&%08X&0&%04u", 7u, Fnv1a(owner->m_strPath), d.m_uPort));
    }
    if (d.m_strSubsystem == "pci") {
        auto hex = [&](const char* name) {
            return static_cast<unsigned>(
                ParseNumber(m_reader.ReadText(d.m_strPath, name).value_or(""), 16).value_or(0));
        };
        const unsigned vendor = hex("vendor"), device = hex("device");
        const unsigned subVendor = hex("subsystem_vendor"), subDevice = hex("subsystem_device");
        const unsigned revision = hex("revision");
        return UniqueId(
            Format("PCI\\VEN_%04X&DEV_%04X&SUBSYS_%04X%04X", vendor, device, subDevice, subVendor) +
            Format("&REV_%02X\\", revision) + IdPart(d.m_strName));
    }
    // The rest: subsystem, device type and the kernel's name, which is unique within the
    // subsystem and stays while the device stays.
    const std::string type = d.m_strDevType.empty() ? std::string("DEVICE") : d.m_strDevType;
    return UniqueId(Upper(IdPart(d.m_strSubsystem)) + "\\" + Upper(IdPart(type)) + "\\" +
                    IdPart(d.m_strName));
}

void CMachineReader::DescribeNode(const CKernelDevice& d, CDevNode& node) {
    SetProperty(node, CM_DRP_SERVICE, d.m_strDriver);
    SetProperty(node, CM_DRP_ENUMERATOR_NAME, Upper(d.m_strSubsystem));
    auto uevent = [&d](const char* key) {
        auto it = d.m_mapUevent.find(key);
        return it == d.m_mapUevent.end() ? std::string() : it->second;
    };

    if (d.m_bUsbDevice) {
        SetProperty(node, CM_DRP_DRIVER, kUsbClassKey + d.m_strName);
        const std::string vendorDb = Db(d, "ID_VENDOR_FROM_DATABASE");
        const std::string modelDb = Db(d, "ID_MODEL_FROM_DATABASE");
        const std::string vendor = vendorDb.empty() ? Trim(d.m_strManufacturer) : vendorDb;
        const std::string model = modelDb.empty() ? Trim(d.m_strProduct) : modelDb;
        std::string description = model;
        if (description.empty())
            description = d.m_bRootHub                   ? "USB root hub"
                          : d.m_usb.m_byDeviceClass == 9 ? "USB hub"
                                                         : "USB device";
        SetProperty(node, CM_DRP_DEVICEDESC, description);
        if (!vendor.empty() && !model.empty())
            SetProperty(node, CM_DRP_FRIENDLYNAME,
                        model.rfind(vendor, 0) == 0 ? model : vendor + " " + model);
        if (!d.m_bRootHub && d.m_optParent)
            SetProperty(node, CM_DRP_LOCATION_INFORMATION,
                        Format("Port_#%04u.Hub_#%04u", d.m_uPort,
                               m_vDevices[*d.m_optParent].m_usb.m_wDeviceAddress));
        return;
    }
    if (d.m_bUsbInterface) {
        SetProperty(node, CM_DRP_DRIVER, kUsbClassKey + d.m_strName);
        std::string description = Trim(m_reader.ReadText(d.m_strPath, "interface").value_or(""));
        if (description.empty()) {
            const unsigned cls = static_cast<unsigned>(
                ParseNumber(m_reader.ReadText(d.m_strPath, "bInterfaceClass").value_or(""), 16)
                    .value_or(0x100));
            const char* name = InterfaceClassName(cls);
            description = name != nullptr ? std::string("USB ") + name + " interface"
                                          : std::string("USB interface");
        }
        SetProperty(node, CM_DRP_DEVICEDESC, description);
        return;
    }
    if (d.m_strSubsystem == "block") {
        // A device-mapper node by the name its maker gave it ("luks-...", "vg-lv"), as the
        // system's own tools show it, rather than "dm-0".
        const std::string mapperName = Trim(m_reader.ReadText(d.m_strPath, "dm/name").value_or(""));
        std::string name = mapperName.empty() ? d.m_strName : mapperName;
        if (d.m_strDevType == "disk") {
            SetProperty(node, CM_DRP_DEVICEDESC, "Disk drive");
            // A disk of a SCSI device (USB storage is one) is named by its SCSI vendor and
            // model, as the inquiry data give them.
            std::optional<std::size_t> p = d.m_optParent;
            if (p && !m_vDevices[*p].m_strScsiModel.empty()) {
                const CKernelDevice& scsi = m_vDevices[*p];
                name = scsi.m_strScsiVendor.empty()
                           ? scsi.m_strScsiModel
                           : scsi.m_strScsiVendor + " " + scsi.m_strScsiModel;
                name += " (" + d.m_strName + ")";
            }
        } else {
            SetProperty(node, CM_DRP_DEVICEDESC,
                        d.m_strDevType == "partition" ? "Disk partition" : "Block device");
        }
        // Where its file system is mounted, if anywhere: by device number, and where the
        // file system reports an anonymous one (btrfs), by the mount source that names the
        // device ("/dev/sdb1", "/dev/mapper/luks-...").
        const std::string dev = uevent("MAJOR").empty() || uevent("MINOR").empty()
                                    ? m_reader.ReadText(d.m_strPath, "dev").value_or("")
                                    : uevent("MAJOR") + ":" + uevent("MINOR");
        std::vector<std::string> points;
        auto add = [&points](const std::map<std::string, std::vector<std::string>>& table,
                             const std::string& key) {
            if (auto it = table.find(key); it != table.end())
                for (const std::string& m : it->second)
                    if (std::find(points.begin(), points.end(), m) == points.end())
                        points.push_back(m);
        };
        add(m_mapMounts, Trim(dev));
        if (!m_mapMountsBySource.empty()) {
            std::string devName = uevent("DEVNAME").empty() ? d.m_strName : uevent("DEVNAME");
            if (devName.rfind("/dev/", 0) != 0)
                devName = "/dev/" + devName;
            add(m_mapMountsBySource, devName);
            if (!mapperName.empty())
                add(m_mapMountsBySource, "/dev/mapper/" + mapperName);
        }
        if (!points.empty()) {
            std::string mounts;
            for (const std::string& m : points)
                mounts += (mounts.empty() ? "" : ", ") + m;
            name += " on " + mounts;
        }
        SetProperty(node, CM_DRP_FRIENDLYNAME, name);
        return;
    }
    if (d.m_strSubsystem == "scsi") {
        if (d.m_strDevType == "scsi_device") {
            std::string text = d.m_strScsiVendor;
            if (!d.m_strScsiModel.empty())
                text += (text.empty() ? "" : " ") + d.m_strScsiModel;
            SetProperty(node, CM_DRP_DEVICEDESC, text.empty() ? "SCSI device" : text);
        } else if (d.m_strDevType == "scsi_host") {
            SetProperty(node, CM_DRP_DEVICEDESC, "SCSI host adapter");
        } else {
            SetProperty(node, CM_DRP_DEVICEDESC, "SCSI " + d.m_strDevType);
        }
        SetProperty(node, CM_DRP_FRIENDLYNAME,
                    node.FindProperty(CM_DRP_DEVICEDESC)->m_vValues[0] + " (" + d.m_strName + ")");
        return;
    }
    std::string description = Db(d, "ID_MODEL_FROM_DATABASE");
    if (description.empty())
        description = uevent("HID_NAME");
    if (description.empty())
        description =
            d.m_strSubsystem == "pci" ? std::string("PCI device") : d.m_strSubsystem + " device";
    SetProperty(node, CM_DRP_DEVICEDESC, description);
    const std::string vendor = Db(d, "ID_VENDOR_FROM_DATABASE");
    if (!vendor.empty())
        SetProperty(node, CM_DRP_FRIENDLYNAME, vendor + " " + description);
}

void CMachineReader::BuildNode(std::size_t device, std::size_t parentNode) {
    CKernelDevice& d = m_vDevices[device];
    CDevNode node;
    node.m_strInstanceId = InstanceId(d);
    DescribeNode(d, node);
    d.m_node = m_model.AddNode(std::move(node), parentNode);
    const std::vector<std::size_t> children = d.m_vChildren;
    for (std::size_t child : children)
        BuildNode(child, m_vDevices[device].m_node);
}

void CMachineReader::BuildNodes() {
    CDevNode root;
    root.m_strInstanceId = kRootInstanceId;
    m_model.AddNode(std::move(root), std::nullopt);
    m_setIds.insert(Upper(kRootInstanceId));
    for (std::size_t top : m_vTops)
        BuildNode(top, 0);
    // Removal relations: the stacked devices found through each block device's holders.
    for (const CKernelDevice& d : m_vDevices) {
        if (d.m_strSubsystem != "block")
            continue;
        for (const std::string& holder : d.m_vHolders) {
            auto it = m_mapByPath.find(holder);
            if (it != m_mapByPath.end())
                m_model.m_vNodes[d.m_node].m_vRemovalRelations.push_back(
                    m_model.m_vNodes[m_vDevices[it->second].m_node].m_strInstanceId);
        }
    }
}

CUsbHub CMachineReader::MakeHub(const CKernelDevice& hub) {
    CUsbHub h;
    std::string name = m_model.m_vNodes[hub.m_node].m_strInstanceId;
    std::replace(name.begin(), name.end(), '\\', '#');
    h.m_wstrName = Utf8ToUtf16(name + kHubInterfaceSuffix);
    h.m_byDescriptorType = hub.m_usb.m_wBcdUsb >= 0x0300 ? 0x2A : 0x29;
    unsigned ports = hub.m_uMaxChild;
    for (std::size_t child : hub.m_vChildren) {
        const CKernelDevice& c = m_vDevices[child];
        if (!c.m_bUsbDevice || c.m_uPort == 0 || c.m_uPort > 255)
            continue;
        ports = std::max(ports, c.m_uPort);  // a port the hub did not count is still shown
        if (h.FindPort(c.m_uPort) != nullptr)
            continue;
        CUsbPort port;
        port.m_dwPort = c.m_uPort;
        port.m_dwConnectionStatus = DeviceConnected;
        CUsbDevice dev = c.m_usb;
        std::string key = kUsbClassKey + c.m_strName;
        dev.m_optDriverKey = Utf8ToUtf16(key);
        if (c.m_uMaxChild > 0 || c.m_usb.m_byDeviceClass == 9) {
            dev.m_bDeviceIsHub = true;
            CUsbHub below = MakeHub(c);
            dev.m_optHubName = below.m_wstrName;
            m_model.m_vHubs.push_back(std::move(below));
        }
        port.m_optDevice = std::move(dev);
        h.m_vPorts.push_back(std::move(port));
    }
    h.m_byNumberOfPorts = static_cast<BYTE>(ports);
    return h;
}

void CMachineReader::BuildUsb() {
    int hcd = 0;
    for (const CRootHub& rh : m_vRootHubs) {
        auto it = m_mapByPath.find(rh.m_strPath);
        if (it == m_mapByPath.end() || !m_vDevices[it->second].m_bRootHub)
            continue;  // gone, or unreadable: no controller for it
        const CKernelDevice& hub = m_vDevices[it->second];
        CHostController hc;
        if (hcd < 10)
            hc.m_optHcdNumber = hcd++;
        // The controller's own device, when sysfs shows one above the root hub.
        const CKernelDevice& exposing = hub.m_optParent ? m_vDevices[*hub.m_optParent] : hub;
        hc.m_optInstanceId = m_model.m_vNodes[exposing.m_node].m_strInstanceId;
        std::string path = IdPart(exposing.m_strName) + "#" + hub.m_strName;
        hc.m_optInterfacePath = "\\\\?\\sysfs#" + path + kHostControllerInterfaceSuffix;
        hc.m_optDriverKey = Utf8ToUtf16(std::string(kUsbClassKey) + hub.m_strName + ":hcd");
        CUsbHub root = MakeHub(hub);
        hc.m_optRootHubName = root.m_wstrName;
        m_model.m_vHubs.push_back(std::move(root));
        m_model.m_vControllers.push_back(std::move(hc));
    }
}

CMachineModel CMachineReader::Read() {
    m_vRootHubs = FindRootHubs();
    if (std::optional<std::string> table =
            m_reader.ReadFile("/proc/self/mountinfo", kMaxMountTableBytes)) {
        for (const CMountEntry& m : ParseMountInfo(*table)) {
            // What the user reads: the mount point, and where the mount shows a folder of
            // the file system rather than its root (a bind mount, a btrfs subvolume), that
            // folder in brackets after it.
            std::string shown = m.m_strPoint;
            if (m.m_strRoot != "/")
                shown += "[" + m.m_strRoot + "]";
            std::vector<std::string>& points = m.m_strDevice.rfind("0:", 0) == 0
                                                   ? m_mapMountsBySource[m.m_strSource]
                                                   : m_mapMounts[m.m_strDevice];
            if (std::find(points.begin(), points.end(), shown) == points.end())
                points.push_back(std::move(shown));
        }
    }
    // The tree below the root: each controller's device (the parent of its root hubs, when
    // that is a device) with everything below it, once even when it has several buses.
    for (const CRootHub& rh : m_vRootHubs) {
        const std::string parent(ParentPath(rh.m_strPath));
        const bool parentIsDevice = parent.rfind("/sys/devices/", 0) == 0 &&
                                    m_reader.IsFile(parent + "/uevent") &&
                                    m_reader.ReadLink(parent + "/subsystem").has_value();
        Walk(parentIsDevice ? parent : rh.m_strPath, std::nullopt, 0);
    }
    AddStacked();
    BuildNodes();
    BuildUsb();
    if (m_bBoundReached && m_pNotes != nullptr)
        std::fprintf(m_pNotes,
                     "%s: more than %zu devices below the USB controllers: the rest of this "
                     "machine is not listed\n",
                     program_invocation_short_name, kMaxDevices);
    return std::move(m_model);
}

}  // namespace

CMachineModel ReadLinuxMachine(const CSysfsReader& reader, IDeviceDatabase* database,
                               std::FILE* notes) {
    CMachineReader machine(reader, database, notes);
    return machine.Read();
}

std::vector<CMountEntry> ParseMountInfo(std::string_view text) {
    std::vector<CMountEntry> mounts;
    auto unescape = [](std::string_view s) {
        std::string out;
        for (std::size_t i = 0; i < s.size(); ++i) {
            if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] >= '0' && s[i + 1] <= '3' &&
                s[i + 2] >= '0' && s[i + 2] <= '7' && s[i + 3] >= '0' && s[i + 3] <= '7') {
                out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 +
                                         (s[i + 3] - '0'));
                i += 3;
            } else {
                out += s[i];
            }
        }
        return out;
    };
    std::size_t i = 0;
    for (;;) {
        // Only whole lines: a line without its newline is one the read was cut in.
        const std::size_t end = text.find('\n', i);
        if (end == std::string_view::npos)
            break;
        const std::string_view line = text.substr(i, end - i);
        i = end + 1;
        // id parent major:minor root mount-point options [optional fields...] - type source
        // super-options
        std::vector<std::string_view> fields;
        std::size_t at = 0;
        while (at < line.size() && fields.size() < 64) {
            while (at < line.size() && line[at] == ' ')
                ++at;
            if (at == line.size())
                break;
            std::size_t stop = line.find(' ', at);
            if (stop == std::string_view::npos)
                stop = line.size();
            fields.push_back(line.substr(at, stop - at));
            at = stop;
        }
        if (fields.size() < 5 || fields[2].find(':') == std::string_view::npos)
            continue;
        CMountEntry m;
        m.m_strDevice = std::string(fields[2]);
        m.m_strRoot = unescape(fields[3]);
        m.m_strPoint = unescape(fields[4]);
        for (std::size_t f = 6; f + 2 < fields.size(); ++f)
            if (fields[f] == "-") {
                m.m_strSource = unescape(fields[f + 2]);
                break;
            }
        mounts.push_back(std::move(m));
    }
    return mounts;
}

bool SysfsNameLess(std::string_view a, std::string_view b) {
    // Compared as sequences in which each run of decimal digits is one element, ordered by
    // its value, and every other character an element of its own; a run of digits stands
    // where a '0' would. Names equal so ("01" and "1") fall back to their bytes.
    std::size_t i = 0, j = 0;
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    while (i < a.size() && j < b.size()) {
        const bool da = isDigit(a[i]), db = isDigit(b[j]);
        if (da && db) {
            std::size_t ea = i, eb = j;
            while (ea < a.size() && isDigit(a[ea]))
                ++ea;
            while (eb < b.size() && isDigit(b[eb]))
                ++eb;
            std::string_view na = a.substr(i, ea - i), nb = b.substr(j, eb - j);
            while (na.size() > 1 && na.front() == '0')
                na.remove_prefix(1);
            while (nb.size() > 1 && nb.front() == '0')
                nb.remove_prefix(1);
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ea;
            j = eb;
            continue;
        }
        const unsigned char ca = da ? '0' : static_cast<unsigned char>(a[i]);
        const unsigned char cb = db ? '0' : static_cast<unsigned char>(b[j]);
        if (ca != cb)
            return ca < cb;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size())
        return j < b.size();  // the one that ended first comes first
    return a < b;
}

BYTE SpeedFromSysfs(std::string_view speed) {
    const std::string s = Trim(speed);
    if (s == "1.5")
        return kUsbLowSpeed;
    if (s == "480")
        return kUsbHighSpeed;
    const std::optional<unsigned long> mbps = ParseNumber(s, 10);
    if (mbps && *mbps >= 5000)
        return kUsbSuperSpeed;
    return kUsbFullSpeed;  // "12", and whatever the kernel may say that we do not know
}

std::string SerialInstancePart(std::string_view serial) {
    if (serial.empty() || serial.size() > kMaxStringUnits)
        return std::string();
    for (unsigned char c : serial)
        if (c <= 0x20 || c >= 0x7F || c == ',' || c == '\\')
            return std::string();
    return std::string(serial);
}

std::string PropertyText(std::string_view text) {
    // Through UTF-16 and back: malformed bytes become U+FFFD.
    std::string clean;
    for (char c : Utf16ToUtf8(Utf8ToUtf16(text)))
        clean += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? ' ' : c;
    if (clean.size() > kMaxPropertyBytes) {
        std::size_t cut = kMaxPropertyBytes;
        while (cut > 0 && (static_cast<unsigned char>(clean[cut]) & 0xC0) == 0x80)
            --cut;
        clean.resize(cut);
    }
    return clean;
}

}  // namespace ks

// Capture of machines built to be awkward. Random machine models, with every kind of fault
// the model knows scattered over them, replay exactly; a platform that answers anything at
// all, lengths and sizes included, still yields a fixture that loads and replays.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/sim/FixtureLoader.h"
#include "tests/tools/CaptureScan.h"

namespace ks {
namespace {

// --- Random machine models --------------------------------------------------------------

class CDice {
  public:
    explicit CDice(unsigned seed) : m_rng(seed) {}
    int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }
    bool Chance(int percent) { return Int(0, 99) < percent; }
    template <typename T>
    const T& Pick(const std::vector<T>& v) {
        return v[static_cast<std::size_t>(Int(0, static_cast<int>(v.size()) - 1))];
    }

  private:
    std::mt19937 m_rng;
};

CRequestFault RandomRequestFault(CDice& d) {
    CRequestFault f;
    switch (d.Int(0, 5)) {
        case 0:
            f.m_bFail = true;
            break;
        case 1:
            f.m_optFailAfter = static_cast<DWORD>(d.Int(1, 3));
            break;
        case 2:
            f.m_bNoWrite = true;
            break;
        case 3:
            f.m_optBytesReturned = static_cast<DWORD>(d.Pick(std::vector<int>{0, 2, 11, 14, 40}));
            break;
        case 4:
            f.m_optActualLength = d.Pick(std::vector<DWORD>{0, 6, 10, 12, 64, 5000, 0xFFFFFFFF});
            break;
        default:
            f.m_bNoTerminator = true;
            break;
    }
    return f;
}

CCmFault RandomCmFault(CDice& d) {
    CCmFault f;
    if (d.Chance(30))
        f.m_bNoWrite = true;
    else
        f.m_crResult = d.Pick(std::vector<CONFIGRET>{CR_FAILURE, CR_NO_SUCH_DEVNODE,
                                                     CR_INVALID_DEVNODE, CR_BUFFER_SMALL});
    return f;
}

std::u16string RandomText(CDice& d, int maxLength) {
    static const std::u16string kUnits = u"ABCxyz019-#\\&\u00E9\u30E1\u30E2";
    std::u16string s;
    const int n = d.Int(0, maxLength);
    for (int i = 0; i < n; ++i)
        s += d.Chance(3) ? u'\0' : kUnits[static_cast<std::size_t>(d.Int(0, 15))];
    return s;
}

class CRandomMachine {
  public:
    explicit CRandomMachine(unsigned seed) : m_dice(seed) {}

    CMachineModel Build() {
        BuildTree();
        const int controllers = m_dice.Int(1, 3);
        for (int c = 0; c < controllers; ++c)
            AddController(c);
        BuildVolumes();
        m_model.m_faults.m_bHostControllerSetFails = m_dice.Chance(5);
        m_model.m_faults.m_bVolumeSetFails = m_dice.Chance(5);
        return std::move(m_model);
    }

    // A device on it vanishes during the scan: what the scan saw changes as it runs.
    bool Vanishes() const { return m_bVanishes; }

  private:
    std::string NodeId(std::size_t i) const { return m_model.m_vNodes[i].m_strInstanceId; }

    void BuildTree() {
        CDevNode root;
        root.m_strInstanceId = kRootInstanceId;
        m_model.AddNode(root, std::nullopt);
        const int count = m_dice.Int(4, 30);
        for (int i = 1; i <= count; ++i) {
            CDevNode n;
            char id[64];
            if (m_dice.Chance(40))
                std::snprintf(id, sizeof id, "USB\\VID_%04X&PID_%04X\\%s%d", m_dice.Int(0, 0xFFFF),
                              m_dice.Int(0, 0xFFFF), m_dice.Chance(20) ? "A&B" : "SER", i);
            else
                std::snprintf(id, sizeof id, "X\\NODE\\%d", i);
            n.m_strInstanceId = id;
            auto text = [&](ULONG code, const char* prefix) {
                CRegistryProperty p;
                p.m_ulCode = code;
                p.m_vValues.push_back(prefix + std::to_string(i));
                if (m_dice.Chance(10))
                    p.m_vValues.back() += std::string(m_dice.Int(150, 260), 'L');
                n.m_vProperties.push_back(p);
            };
            if (m_dice.Chance(80))
                text(CM_DRP_DRIVER, "KEY\\");
            if (m_dice.Chance(70))
                text(CM_DRP_DEVICEDESC, "desc ");
            if (m_dice.Chance(30))
                text(CM_DRP_FRIENDLYNAME, "friendly ");
            if (m_dice.Chance(50))
                text(CM_DRP_SERVICE, "svc");
            if (m_dice.Chance(10)) {
                CRegistryProperty raw;
                raw.m_ulCode = m_dice.Chance(50) ? CM_DRP_DEVICEDESC : CM_DRP_UPPERFILTERS;
                raw.m_optRaw = std::vector<BYTE>{'a', 0, 'b', 0xFF};
                n.m_vProperties.insert(n.m_vProperties.begin(), raw);
            }
            n.m_bPresent = !m_dice.Chance(3);
            n.m_ulStatus = m_dice.Chance(10) ? 0x01802400 : kDefaultDevNodeStatus;
            CDevNodeFaults& f = n.m_faults;
            auto maybe = [&](std::optional<CCmFault>& fault) {
                if (m_dice.Chance(4))
                    fault = RandomCmFault(m_dice);
            };
            maybe(f.m_optChild);
            maybe(f.m_optSibling);
            maybe(f.m_optParent);
            maybe(f.m_optDeviceId);
            maybe(f.m_optStatus);
            maybe(f.m_optLocate);
            maybe(f.m_optRemovalRelationsSize);
            maybe(f.m_optRemovalRelationsList);
            if (m_dice.Chance(8))
                f.m_vProperties.push_back(
                    {m_dice.Pick(std::vector<ULONG>{CM_DRP_DEVICEDESC, CM_DRP_FRIENDLYNAME,
                                                    CM_DRP_SERVICE, CM_DRP_DRIVER}),
                     RandomCmFault(m_dice)});
            const std::size_t parent = static_cast<std::size_t>(
                m_dice.Int(0, static_cast<int>(m_model.m_vNodes.size()) - 1));
            m_model.AddNode(std::move(n), parent);
        }
        // Links that lead anywhere, back up included, and removal relations.
        for (std::size_t i = 1; i < m_model.m_vNodes.size(); ++i) {
            CDevNode& n = m_model.m_vNodes[i];
            auto link = [&](std::optional<std::string>& l) {
                if (m_dice.Chance(5))
                    l = m_dice.Chance(20) ? std::string() : NodeId(RandomNode());
            };
            link(n.m_faults.m_optChildLink);
            link(n.m_faults.m_optSiblingLink);
            link(n.m_faults.m_optParentLink);
            if (m_dice.Chance(25)) {
                const int relations = m_dice.Int(1, 3);
                for (int r = 0; r < relations; ++r)
                    n.m_vRemovalRelations.push_back(m_dice.Chance(15) ? "ROOT\\NOT\\THERE"
                                                                      : NodeId(RandomNode()));
            }
        }
    }

    std::size_t RandomNode() {
        return static_cast<std::size_t>(
            m_dice.Int(0, static_cast<int>(m_model.m_vNodes.size()) - 1));
    }

    // A driver key that some node carries (or none does).
    std::u16string DriverKey() {
        const std::size_t i = RandomNode();
        const std::string key = m_dice.Chance(85) ? "KEY\\" + std::to_string(i) : "KEY\\NONE";
        std::u16string out(key.begin(), key.end());
        if (m_dice.Chance(10))
            for (char16_t& c : out)
                c = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
        return out;
    }

    void AddController(int c) {
        CHostController hc;
        if (m_dice.Chance(75))
            hc.m_optHcdNumber = m_dice.Int(0, 9);
        for (const CHostController& other : m_model.m_vControllers)
            if (hc.m_optHcdNumber && other.m_optHcdNumber == hc.m_optHcdNumber)
                hc.m_optHcdNumber.reset();
        if (!hc.m_optHcdNumber || m_dice.Chance(50))
            hc.m_optInterfacePath = "\\\\?\\pci#controller" + std::to_string(c);
        if (m_dice.Chance(90))
            hc.m_optDriverKey = u"{36FC9E60-C465-11CF-8056-444553540000}\\000" +
                                std::u16string(1, static_cast<char16_t>(u'0' + m_dice.Int(0, 3)));
        if (m_dice.Chance(95))
            hc.m_optRootHubName = AddHub(0);
        if (m_dice.Chance(5))
            hc.m_faults.m_bOpenFails = true;
        if (m_dice.Chance(8))
            hc.m_faults.m_driverKey = RandomRequestFault(m_dice);
        if (m_dice.Chance(8))
            hc.m_faults.m_rootHubName = RandomRequestFault(m_dice);
        hc.m_faults.m_interface.m_bRequiredSizeZero = m_dice.Chance(4);
        hc.m_faults.m_interface.m_bDetailFails = m_dice.Chance(4);
        m_model.m_vControllers.push_back(std::move(hc));
    }

    std::u16string AddHub(int depth) {
        const std::string name = "HUB" + std::to_string(m_model.m_vHubs.size());
        const std::size_t index = m_model.m_vHubs.size();
        m_model.m_vHubs.emplace_back();
        CUsbHub hub;
        hub.m_wstrName = std::u16string(name.begin(), name.end());
        hub.m_byNumberOfPorts = static_cast<BYTE>(m_dice.Int(0, 4));
        hub.m_wHubCharacteristics = static_cast<WORD>(m_dice.Int(0, 0x1F));
        hub.m_faults.m_bOpenFails = m_dice.Chance(4);
        if (m_dice.Chance(5))
            hub.m_faults.m_nodeInformation = RandomRequestFault(m_dice);
        if (m_dice.Chance(5))
            hub.m_faults.m_connectionInfoEx = RandomRequestFault(m_dice);
        for (DWORD p = 1; p <= hub.m_byNumberOfPorts; ++p) {
            if (m_dice.Chance(25))
                continue;
            CUsbPort port;
            port.m_dwPort = p;
            port.m_dwConnectionStatus =
                m_dice.Chance(90) ? DeviceConnected : DeviceFailedEnumeration;
            if (m_dice.Chance(90))
                port.m_optDevice = Device(depth);
            CPortFaults& f = port.m_faults;
            for (CRequestFault* fault : {&f.m_connectionInfoEx, &f.m_connectionInfo,
                                         &f.m_driverKeyName, &f.m_nodeName, &f.m_descriptor})
                if (m_dice.Chance(5))
                    *fault = RandomRequestFault(m_dice);
            if (m_dice.Chance(3)) {
                f.m_optVanishAfter = static_cast<DWORD>(m_dice.Int(0, 4));
                m_bVanishes = true;
            }
            hub.m_vPorts.push_back(std::move(port));
        }
        m_model.m_vHubs[index] = std::move(hub);
        return m_model.m_vHubs[index].m_wstrName;
    }

    CUsbDevice Device(int depth) {
        CUsbDevice d;
        d.m_wIdVendor = static_cast<WORD>(m_dice.Int(0, 0xFFFF));
        d.m_wIdProduct = static_cast<WORD>(m_dice.Int(0, 0xFFFF));
        d.m_wBcdUsb = m_dice.Chance(50) ? 0x0200 : 0x0110;
        d.m_bySpeed = static_cast<BYTE>(m_dice.Int(0, 3));
        d.m_wDeviceAddress = static_cast<WORD>(m_dice.Int(1, 127));
        d.m_byManufacturer = static_cast<BYTE>(m_dice.Int(0, 2));
        d.m_byProduct = static_cast<BYTE>(m_dice.Int(0, 3));
        d.m_bySerialNumber = static_cast<BYTE>(m_dice.Int(0, 3));
        for (int p = m_dice.Int(0, 3); p > 0; --p) {
            CPipeInfo pipe;
            pipe.m_abyEndpointDescriptor = {7, 5, static_cast<BYTE>(0x80 + p), 3, 8, 0, 10};
            pipe.m_dwScheduleOffset = static_cast<DWORD>(p);
            d.m_vPipes.push_back(pipe);
        }
        d.m_dwNumberOfOpenPipes = static_cast<DWORD>(d.m_vPipes.size());
        if (m_dice.Chance(85))
            d.m_optDriverKey = DriverKey();
        if (depth < 3 && m_dice.Chance(20)) {
            d.m_bDeviceIsHub = true;
            d.m_optHubName = AddHub(depth + 1);
        } else if (m_dice.Chance(4) && !m_model.m_vHubs.empty()) {
            // A port that reports a hub already known, possibly one on its own path.
            d.m_bDeviceIsHub = true;
            d.m_optHubName = m_model.m_vHubs[0].m_wstrName;
        }
        if (m_dice.Chance(85)) {
            std::vector<WORD> languages;
            const std::vector<WORD> known{0x0409, 0x0411, 0x0407};
            for (int l = m_dice.Int(0, 2); l >= 0; --l)
                languages.push_back(m_dice.Pick(known));
            d.m_optLanguageIds = languages;
            for (BYTE index : {d.m_byManufacturer, d.m_byProduct, d.m_bySerialNumber}) {
                for (WORD language : languages) {
                    if (index == 0 || m_dice.Chance(15))
                        continue;
                    CStringDescriptor s;
                    s.m_byIndex = index;
                    s.m_wLanguage = language;
                    s.m_wstrText = RandomText(m_dice, 20);
                    if (m_dice.Chance(8))
                        s.m_optRaw =
                            std::vector<BYTE>{static_cast<BYTE>(m_dice.Int(0, 9)),
                                              static_cast<BYTE>(m_dice.Int(2, 3)), 'Q', 0, 'R'};
                    if (m_dice.Chance(5))
                        s.m_faults = RandomRequestFault(m_dice);
                    d.m_vStrings.push_back(s);
                }
            }
        }
        return d;
    }

    void BuildVolumes() {
        std::string letters = "CDEFGHZ";
        const int volumes = m_dice.Int(0, 3);
        for (int v = 0; v < volumes; ++v) {
            CVolume vol;
            vol.m_strName = "\\\\?\\Volume{" + std::to_string(v) + "}\\";
            while (!letters.empty() && m_dice.Chance(60)) {
                const std::size_t at =
                    static_cast<std::size_t>(m_dice.Int(0, static_cast<int>(letters.size()) - 1));
                vol.m_vLetters.push_back(letters[at]);
                letters.erase(at, 1);
            }
            if (m_dice.Chance(80))
                vol.m_optInterfacePath = "\\\\?\\STORAGE#Volume#" + std::to_string(v);
            if (m_dice.Chance(80))
                vol.m_optInstanceId = NodeId(RandomNode());
            auto call = [&]() {
                return m_dice.Chance(90)
                           ? ECallFault::None
                           : (m_dice.Chance(50) ? ECallFault::Fail : ECallFault::NoWrite);
            };
            vol.m_faults.m_rootMountPoint = call();
            vol.m_faults.m_interfaceMountPoint = call();
            vol.m_faults.m_interface.m_bRequiredSizeZero = m_dice.Chance(4);
            vol.m_faults.m_interface.m_bDetailFails = m_dice.Chance(4);
            m_model.m_vVolumes.push_back(std::move(vol));
        }
    }

    CDice m_dice;
    CMachineModel m_model;
    bool m_bVanishes = false;
};

TEST(CaptureRandomMachines, ReplayTheSameListFromTheSameAnswers) {
    int listing = 0;
    for (unsigned seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        CRandomMachine machine(seed);
        CModelPlatform plain(machine.Build());
        const test::CScanResult expected = test::Scan(plain);
        CModelPlatform original(CRandomMachine(seed).Build());
        std::string fixture;
        test::Scan(original, &fixture);

        CMachineModel model;
        try {
            model = LoadMachineText(fixture, "captured");
        } catch (const CFixtureError& e) {
            ADD_FAILURE() << e.what() << "\n" << fixture;
            continue;
        }
        CModelPlatform replay(std::move(model));
        std::string again;
        const test::CScanResult replayed = test::Scan(replay, &again);
        EXPECT_EQ(replayed.m_strText, expected.m_strText);
        EXPECT_EQ(replayed.m_strJson, expected.m_strJson);
        // A device that vanishes mid-scan answers some requests differently each time it is
        // asked; the fixture keeps the first answer, which lists the same devices but may
        // be asked a little differently.
        if (!machine.Vanishes()) {
            EXPECT_EQ(replayed.m_strCalls, expected.m_strCalls);
        }
        EXPECT_EQ(test::WithoutComments(again), test::WithoutComments(fixture));
        if (replayed.m_strText != expected.m_strText ||
            test::WithoutComments(again) != test::WithoutComments(fixture))
            break;  // one machine's diff says enough
        listing += static_cast<int>(
            std::count(expected.m_strText.begin(), expected.m_strText.end(), '\n') > 0);
    }
    // Most machines list something: the test is about lists, not about empty ones.
    EXPECT_GT(listing, 120);
}

// --- A platform that answers anything -----------------------------------------------------

// Answers every call at random, within the buffers it is given but with any result, any
// length, any byte count and any size: success that writes nothing, names longer than their
// reply, sizes of four gigabytes, trees that lead back. Small pools of handles, hub names
// and device nodes keep a scan short.
class CFakeChaoticPlatform : public IPlatform {
  public:
    explicit CFakeChaoticPlatform(unsigned seed) : m_rng(seed) {}

    HANDLE CreateFileA(const char*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) override {
        if (Chance(15))
            return Chance(50) ? INVALID_HANDLE_VALUE : nullptr;
        return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x100 + 4 * U(6)));
    }
    BOOL DeviceIoControl(HANDLE, DWORD code, void*, DWORD, void* out, DWORD outSize,
                         DWORD* bytesReturned, void*) override {
        if (bytesReturned != nullptr && Chance(80))
            *bytesReturned = Length(outSize);
        if (Chance(20))
            return FALSE;
        auto* b = static_cast<BYTE*>(out);
        if (b == nullptr || Chance(10))
            return TRUE;  // success, nothing written
        Scribble(b, outSize);
        auto put32 = [&](std::size_t at, DWORD v) {
            for (std::size_t i = 0; i < 4 && at + i < outSize; ++i)
                b[at + i] = static_cast<BYTE>(v >> (8 * i));
        };
        switch (code) {
            case IOCTL_GET_HCD_DRIVERKEY_NAME:
            case IOCTL_USB_GET_ROOT_HUB_NAME:  // and the node information, same code
                put32(0, Length(64));
                if (outSize == kNodeInformationSize)
                    b[kNodeInfoPortCountOffset] = static_cast<BYTE>(U(4));
                if (outSize > 6)
                    Name(b + 4, outSize - 4);
                break;
            case IOCTL_USB_GET_NODE_CONNECTION_NAME:
            case IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME:
                put32(4, Length(64));
                if (outSize > 10)
                    Name(b + 8, outSize - 8);
                break;
            case IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX:
            case IOCTL_USB_GET_NODE_CONNECTION_INFORMATION:
                if (outSize >= kConnectionInfoSize) {
                    put32(conn::ConnectionStatus, Chance(80) ? DeviceConnected : U(9));
                    b[conn::DeviceIsHub] = Chance(25) ? 1 : 0;
                    for (std::size_t i : {conn::iManufacturer, conn::iProduct, conn::iSerialNumber})
                        b[i] = static_cast<BYTE>(U(3));
                }
                break;
            case IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION:
                if (outSize > kDescriptorRequestHeaderSize + 1) {
                    b[kDescriptorRequestHeaderSize] = static_cast<BYTE>(U(256));
                    b[kDescriptorRequestHeaderSize + 1] =
                        Chance(80) ? 3 : static_cast<BYTE>(U(256));
                }
                break;
            default:
                break;
        }
        return TRUE;
    }
    BOOL CloseHandle(HANDLE) override { return Chance(90); }
    int WideCharToMultiByte(UINT codePage, DWORD, const WCHAR16* src, int srcLen, char* dst,
                            int dstSize, const char*, BOOL* usedDefaultChar) override {
        if (Chance(10))
            return static_cast<int>(U(1000));  // a size nothing could need
        return ConvertWideCharToMultiByte(codePage, src, srcLen, dst, dstSize, usedDefaultChar);
    }

    HDEVINFO SetupDiGetClassDevsA(const GUID*, const char*, HWND, DWORD) override {
        return Chance(15) ? INVALID_HANDLE_VALUE : reinterpret_cast<HDEVINFO>(0x2000);
    }
    BOOL SetupDiEnumDeviceInterfaces(HDEVINFO, SP_DEVINFO_DATA*, const GUID*, DWORD index,
                                     SP_DEVICE_INTERFACE_DATA*) override {
        return index < 3 && Chance(70);
    }
    BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO, SP_DEVICE_INTERFACE_DATA*,
                                          SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail, DWORD size,
                                          DWORD* required, SP_DEVINFO_DATA* info) override {
        if (required != nullptr && Chance(80))
            *required = Length(80);
        if (detail == nullptr || Chance(20))
            return FALSE;
        if (size > kDevicePathOffset)
            Text(reinterpret_cast<char*>(detail) + kDevicePathOffset, size - kDevicePathOffset);
        if (info != nullptr && Chance(80))
            info->DevInst = Node();
        return TRUE;
    }
    BOOL SetupDiDestroyDeviceInfoList(HDEVINFO) override { return TRUE; }

    CONFIGRET CM_Locate_DevNodeA(DEVINST* devInst, const char*, ULONG) override {
        return Navigate(devInst);
    }
    CONFIGRET CM_Get_Child(DEVINST* out, DEVINST, ULONG) override { return Navigate(out); }
    CONFIGRET CM_Get_Sibling(DEVINST* out, DEVINST, ULONG) override { return Navigate(out); }
    CONFIGRET CM_Get_Parent(DEVINST* out, DEVINST, ULONG) override { return Navigate(out); }
    CONFIGRET CM_Get_Device_IDA(DEVINST, char* buffer, ULONG length, ULONG) override {
        if (Chance(20))
            return Result();
        if (buffer != nullptr && Chance(90))
            Text(buffer, length);
        return CR_SUCCESS;
    }
    CONFIGRET CM_Get_Device_ID_List_SizeA(ULONG* length, const char*, ULONG) override {
        if (length != nullptr && Chance(90))
            *length = Length(300);
        return Chance(20) ? Result() : CR_SUCCESS;
    }
    CONFIGRET CM_Get_Device_ID_ListA(const char*, char* buffer, ULONG length, ULONG) override {
        if (Chance(20))
            return Result();
        if (buffer != nullptr && Chance(90))
            Text(buffer, length);
        return CR_SUCCESS;
    }
    CONFIGRET CM_Get_DevNode_Status(ULONG* status, ULONG* problem, DEVINST, ULONG) override {
        if (status != nullptr && Chance(90))
            *status = static_cast<ULONG>(m_rng());
        if (problem != nullptr && Chance(90))
            *problem = U(40);
        return Chance(20) ? Result() : CR_SUCCESS;
    }
    CONFIGRET CM_Get_DevNode_Registry_PropertyA(DEVINST, ULONG, ULONG* type, void* buffer,
                                                ULONG* length, ULONG) override {
        if (type != nullptr && Chance(50))
            *type = U(8);
        const ULONG room = length != nullptr ? *length : 0;
        if (buffer != nullptr && Chance(80))
            Text(static_cast<char*>(buffer), room);
        if (length != nullptr && Chance(80))
            *length = Length(room + 50);
        if (buffer == nullptr)
            return Chance(70) ? CR_BUFFER_SMALL : Result();
        return Chance(25) ? Result() : CR_SUCCESS;
    }
    BOOL GetVolumeNameForVolumeMountPointA(const char*, char* name, DWORD length) override {
        if (name != nullptr && Chance(70))
            Text(name, length);
        return static_cast<BOOL>(U(3));
    }

  private:
    unsigned U(unsigned n) { return static_cast<unsigned>(m_rng() % n); }
    bool Chance(unsigned percent) { return U(100) < percent; }
    DWORD Length(DWORD typical) {
        switch (U(6)) {
            case 0:
                return 0;
            case 1:
                return 0xFFFFFFFFu;
            case 2:
                return static_cast<DWORD>(m_rng());
            case 3:
                return typical + 1;
            default:
                return U(typical + 1);
        }
    }
    CONFIGRET Result() {
        static const CONFIGRET kResults[] = {CR_FAILURE,         CR_NO_SUCH_DEVNODE,
                                             CR_INVALID_DEVNODE, CR_BUFFER_SMALL,
                                             CR_NO_SUCH_VALUE,   0x99};
        return kResults[U(6)];
    }
    DEVINST Node() { return Chance(10) ? 0 : 0x40 + U(12); }
    CONFIGRET Navigate(DEVINST* out) {
        if (out != nullptr && Chance(85))
            *out = Node();
        return Chance(30) ? Result() : CR_SUCCESS;
    }
    void Scribble(BYTE* b, DWORD size) {
        const DWORD n = std::min<DWORD>(size, U(400));
        for (DWORD i = 0; i < n; ++i)
            b[i] = Chance(60) ? 0 : static_cast<BYTE>(m_rng());
    }
    // UTF-16 from a small set of hub names and odd units, maybe without its NUL.
    void Name(BYTE* b, DWORD size) {
        static const std::u16string kNames[] = {u"HUB_A", u"hub_b", u"HUB\\C", u"\xD800X",
                                                std::u16string(u"HUB_A\0TAIL", 10)};
        const std::u16string& name = kNames[U(5)];
        std::size_t i = 0;
        for (char16_t c : name) {
            if (i + 1 >= size)
                break;
            b[i++] = static_cast<BYTE>(c & 0xFF);
            b[i++] = static_cast<BYTE>(c >> 8);
        }
        if (Chance(80) && i + 1 < size)
            b[i] = b[i + 1] = 0;
    }
    // ANSI text, often with NULs inside or without the final one.
    void Text(char* buffer, std::size_t size) {
        static const char kChars[] = "AB\\&#xz09_\xE3\x83\x87\xFF";
        const std::size_t n = std::min<std::size_t>(size, U(60));
        for (std::size_t i = 0; i < n; ++i)
            buffer[i] = Chance(8) ? '\0' : kChars[U(sizeof kChars - 1)];
        if (n < size && Chance(85))
            buffer[n] = '\0';
    }

    std::mt19937 m_rng;
};

TEST(CaptureChaos, AnyAnswersGiveAFixtureThatLoadsAndReplays) {
    int withDevices = 0;
    for (unsigned seed = 1; seed <= 100; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        CFakeChaoticPlatform chaos(seed);
        CDeviceRecordList records;
        std::string fixture;
        ASSERT_TRUE(RunCapturedScan(chaos, records, fixture));
        withDevices += records.IsEmpty() ? 0 : 1;
        CMachineModel model;
        try {
            model = LoadMachineText(fixture, "captured");
        } catch (const CFixtureError& e) {
            ADD_FAILURE() << e.what() << "\n" << fixture;
            continue;
        }
        // The replay answers every call the same way each time, so its capture is a
        // machine that replays exactly.
        CModelPlatform replay(std::move(model));
        std::string again;
        const test::CScanResult first = test::Scan(replay, &again);
        CModelPlatform again2(LoadMachineText(again, "captured twice"));
        const test::CScanResult second = test::Scan(again2);
        EXPECT_EQ(second.m_strText, first.m_strText);
        EXPECT_EQ(second.m_strJson, first.m_strJson);
        EXPECT_EQ(second.m_strCalls, first.m_strCalls);
    }
    EXPECT_GT(withDevices, 10);
}

}  // namespace
}  // namespace ks

// CModelPlatform: the byte layout of every answer, the bounds it keeps, and the injected
// faults. Each reply buffer is followed by guard bytes that must come back untouched.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "framework/CodePage.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "tests/support/TestData.h"

namespace ks {
namespace {

constexpr BYTE kGuard = 0xCC;
constexpr std::size_t kGuardSize = 16;

std::unique_ptr<CModelPlatform> Example() {
    return std::make_unique<CModelPlatform>(LoadMachineFile(test::DataPath("example-small.json")));
}
std::unique_ptr<CModelPlatform> FromJson(const std::string& json) {
    return std::make_unique<CModelPlatform>(LoadMachineText(json, "test.json"));
}

HANDLE Open(IPlatform& p, const std::string& path) {
    return p.CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
}

struct CReply {
    BOOL m_bOk = FALSE;
    DWORD m_dwBytes = 0;
    std::vector<BYTE> m_vData;  // the outSize bytes the caller passed
};

// One request with `request` as input and output buffer of `size` bytes (the request
// zero-extended), checking that nothing beyond `size` was written.
CReply Ioctl(IPlatform& p, HANDLE h, DWORD code, std::vector<BYTE> request, std::size_t size) {
    std::vector<BYTE> buffer(size + kGuardSize, kGuard);
    std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size), 0);
    std::copy(request.begin(),
              request.begin() + static_cast<std::ptrdiff_t>(std::min(size, request.size())),
              buffer.begin());
    CReply r;
    r.m_dwBytes = 0xDEADBEEF;
    r.m_bOk = p.DeviceIoControl(h, code, buffer.data(), static_cast<DWORD>(size), buffer.data(),
                                static_cast<DWORD>(size), &r.m_dwBytes, nullptr);
    for (std::size_t i = size; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], kGuard) << "written past the buffer at " << i;
    r.m_vData.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size));
    return r;
}

std::vector<BYTE> Port(DWORD port) {
    return {static_cast<BYTE>(port), static_cast<BYTE>(port >> 8), static_cast<BYTE>(port >> 16),
            static_cast<BYTE>(port >> 24)};
}
std::vector<BYTE> DescriptorRequest(DWORD port, BYTE type, BYTE index, WORD language,
                                    WORD length = 255) {
    return {static_cast<BYTE>(port),
            static_cast<BYTE>(port >> 8),
            static_cast<BYTE>(port >> 16),
            static_cast<BYTE>(port >> 24),
            0,
            0,
            index,
            type,
            static_cast<BYTE>(language),
            static_cast<BYTE>(language >> 8),
            static_cast<BYTE>(length),
            static_cast<BYTE>(length >> 8)};
}
DWORD U32(const std::vector<BYTE>& b, std::size_t at) {
    return DWORD(b[at]) | DWORD(b[at + 1]) << 8 | DWORD(b[at + 2]) << 16 | DWORD(b[at + 3]) << 24;
}
WORD U16(const std::vector<BYTE>& b, std::size_t at) {
    return static_cast<WORD>(b[at] | b[at + 1] << 8);
}
std::u16string Utf16At(const std::vector<BYTE>& b, std::size_t at, std::size_t units) {
    std::u16string s;
    for (std::size_t i = 0; i < units; ++i)
        s += static_cast<char16_t>(U16(b, at + 2 * i));
    return s;
}
std::string Ansi(const std::string& utf8) {
    const std::u16string w = Utf8ToUtf16(utf8);
    return Utf16ToAnsi(w.data(), w.size());
}

const std::u16string kHcdKey = u"{36FC9E60-C465-11CF-8056-444553540000}\\0000";
const std::string kRootHub = "USB#ROOT_HUB20#4&2a1b3c4d&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
const std::string kFlashId = "USB\\VID_2E1A&PID_5567\\4C530001230804117455";
const std::string kDiskId =
    "USBSTOR\\DISK&VEN_KESTREL&PROD_FLASH_16GB&REV_1.00\\4C530001230804117455&0";
const std::string kVolumeId =
    "STORAGE\\VOLUME\\_??_USBSTOR#DISK&VEN_KESTREL&PROD_FLASH_16GB&REV_1.00#4C530001230804117455&0#"
    "{53F56307-B6BF-11D0-94F2-00A0C91EFB8B}";

// --- Host controllers -------------------------------------------------------------------

TEST(ModelPlatform, HostControllerNameRequestsProbeThenRead) {
    auto p = Example();
    EXPECT_EQ(Open(*p, "\\\\.\\HCD1"), INVALID_HANDLE_VALUE);
    const HANDLE h = Open(*p, "\\\\.\\hcd0");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);

    // The 6-byte probe: TRUE, ActualLength for the whole reply, and the first code unit.
    const DWORD actual = static_cast<DWORD>(4 + 2 * (kHcdKey.size() + 1));
    CReply probe = Ioctl(*p, h, IOCTL_GET_HCD_DRIVERKEY_NAME, {}, kHcdNameProbeSize);
    ASSERT_TRUE(probe.m_bOk);
    EXPECT_EQ(probe.m_dwBytes, 6u);
    EXPECT_EQ(U32(probe.m_vData, 0), actual);
    EXPECT_EQ(U16(probe.m_vData, 4), u'{');

    CReply full = Ioctl(*p, h, IOCTL_GET_HCD_DRIVERKEY_NAME, {}, actual);
    ASSERT_TRUE(full.m_bOk);
    EXPECT_EQ(full.m_dwBytes, actual);
    EXPECT_EQ(Utf16At(full.m_vData, 4, kHcdKey.size() + 1), kHcdKey + u'\0');

    // A buffer smaller than the header is refused; an odd size gets what fits.
    EXPECT_FALSE(Ioctl(*p, h, IOCTL_GET_HCD_DRIVERKEY_NAME, {}, 5).m_bOk);
    EXPECT_EQ(Ioctl(*p, h, IOCTL_GET_HCD_DRIVERKEY_NAME, {}, 9).m_dwBytes, 9u);

    // The same code as the hub's node information answers the root hub's name here.
    CReply rootHub = Ioctl(*p, h, IOCTL_USB_GET_ROOT_HUB_NAME, {}, 512);
    ASSERT_TRUE(rootHub.m_bOk);
    EXPECT_EQ(U32(rootHub.m_vData, 0), 4 + 2 * (kRootHub.size() + 1));
    EXPECT_EQ(Utf16At(rootHub.m_vData, 4, kRootHub.size()), Utf8ToUtf16(kRootHub));

    // Hub requests are not for a controller.
    EXPECT_FALSE(
        Ioctl(*p, h, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, Port(1), kConnectionInfoSize)
            .m_bOk);

    EXPECT_EQ(p->OpenHandleCount(), 1u);
    EXPECT_TRUE(p->CloseHandle(h));
    EXPECT_FALSE(p->CloseHandle(h));
    EXPECT_FALSE(Ioctl(*p, h, IOCTL_GET_HCD_DRIVERKEY_NAME, {}, 6).m_bOk);
    EXPECT_EQ(p->OpenHandleCount(), 0u);

    // The interface path opens the same controller, whatever the letter case.
    std::string path = *p->Model().m_vControllers[0].m_optInterfacePath;
    for (char& c : path)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const HANDLE byInterface = Open(*p, path);
    ASSERT_NE(byInterface, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Ioctl(*p, byInterface, IOCTL_GET_HCD_DRIVERKEY_NAME, {}, actual).m_vData,
              full.m_vData);
}

TEST(ModelPlatform, CallLogRecordsEveryRequestAndRefusesUnknownCodes) {
    auto p = Example();
    const HANDLE hub = Open(*p, "\\\\.\\" + kRootHub);
    ASSERT_NE(hub, INVALID_HANDLE_VALUE);
    Ioctl(*p, hub, IOCTL_USB_GET_NODE_INFORMATION, {}, kNodeInformationSize);
    constexpr DWORD kStorageQueryProperty = 0x2D1400;
    CReply refused = Ioctl(*p, hub, kStorageQueryProperty, {}, 64);
    EXPECT_FALSE(refused.m_bOk);
    EXPECT_EQ(refused.m_dwBytes, 0u);

    ASSERT_EQ(p->IoctlCalls().size(), 2u);
    EXPECT_EQ(p->IoctlCalls()[0].m_strPath, "\\\\.\\" + kRootHub);
    EXPECT_EQ(p->IoctlCalls()[0].m_dwCode, IOCTL_USB_GET_NODE_INFORMATION);
    EXPECT_TRUE(p->IoctlCalls()[0].m_bResult);
    ASSERT_EQ(p->UnknownIoctlCalls().size(), 1u);
    EXPECT_EQ(p->UnknownIoctlCalls()[0].m_dwCode, kStorageQueryProperty);
    EXPECT_EQ(p->CallCount("DeviceIoControl"), 2u);
    EXPECT_EQ(p->CallCount("CreateFileA"), 1u);
    EXPECT_EQ(p->OpenedPaths(), std::vector<std::string>{"\\\\.\\" + kRootHub});
    p->ClearLog();
    EXPECT_TRUE(p->IoctlCalls().empty());
    EXPECT_EQ(p->CallCount("DeviceIoControl"), 0u);
}

// --- Hubs and ports ---------------------------------------------------------------------

TEST(ModelPlatform, HubAnswersNodeAndConnectionInformation) {
    auto p = Example();
    const HANDLE hub = Open(*p, "\\\\.\\" + kRootHub);
    ASSERT_NE(hub, INVALID_HANDLE_VALUE);

    CReply node = Ioctl(*p, hub, IOCTL_USB_GET_NODE_INFORMATION, {}, kNodeInformationSize);
    ASSERT_TRUE(node.m_bOk);
    EXPECT_EQ(node.m_dwBytes, kNodeInformationSize);
    EXPECT_EQ(U32(node.m_vData, 0), 0u);  // UsbHub
    EXPECT_EQ(node.m_vData[4], 9);        // bDescriptorLength
    EXPECT_EQ(node.m_vData[5], 0x29);     // bDescriptorType
    EXPECT_EQ(node.m_vData[kNodeInfoPortCountOffset], 4);
    EXPECT_EQ(U16(node.m_vData, 7), 0x0009);  // wHubCharacteristics
    EXPECT_EQ(node.m_vData[9], 10);           // bPowerOnToPowerGood
    EXPECT_FALSE(
        Ioctl(*p, hub, IOCTL_USB_GET_NODE_INFORMATION, {}, kNodeInformationSize - 1).m_bOk);

    CReply flash =
        Ioctl(*p, hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, Port(1), kConnectionInfoSize);
    ASSERT_TRUE(flash.m_bOk);
    EXPECT_EQ(flash.m_dwBytes, conn::PipeList);  // no pipes listed
    EXPECT_EQ(U32(flash.m_vData, conn::ConnectionIndex), 1u);
    EXPECT_EQ(flash.m_vData[conn::bLength], 18);
    EXPECT_EQ(flash.m_vData[conn::bDescriptorType], 1);
    EXPECT_EQ(U16(flash.m_vData, conn::bcdUSB), 0x0200);
    EXPECT_EQ(U16(flash.m_vData, conn::idVendor), 0x2E1A);
    EXPECT_EQ(U16(flash.m_vData, conn::idProduct), 0x5567);
    EXPECT_EQ(U16(flash.m_vData, conn::bcdDevice), 0x0100);
    EXPECT_EQ(flash.m_vData[conn::iSerialNumber], 3);
    EXPECT_EQ(flash.m_vData[conn::CurrentConfigurationValue], 1);
    EXPECT_EQ(flash.m_vData[conn::Speed], kUsbHighSpeed);
    EXPECT_EQ(flash.m_vData[conn::DeviceIsHub], 0);
    EXPECT_EQ(U16(flash.m_vData, conn::DeviceAddress), 2);
    EXPECT_EQ(U32(flash.m_vData, conn::NumberOfOpenPipes), 2u);
    EXPECT_EQ(U32(flash.m_vData, conn::ConnectionStatus), DeviceConnected);

    // The legacy request: the same layout with LowSpeed in byte 23.
    CReply legacy =
        Ioctl(*p, hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, Port(1), kConnectionInfoSize);
    ASSERT_TRUE(legacy.m_bOk);
    EXPECT_EQ(legacy.m_vData[conn::Speed], 0);
    legacy.m_vData[conn::Speed] = flash.m_vData[conn::Speed];
    EXPECT_EQ(legacy.m_vData, flash.m_vData);

    CReply hubPort =
        Ioctl(*p, hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, Port(3), kConnectionInfoSize);
    EXPECT_EQ(hubPort.m_vData[conn::DeviceIsHub], 1);
    EXPECT_EQ(hubPort.m_vData[conn::bDeviceClass], 9);

    // An empty port: everything zero but the index.
    CReply empty =
        Ioctl(*p, hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, Port(2), kConnectionInfoSize);
    ASSERT_TRUE(empty.m_bOk);
    std::vector<BYTE> expected(kConnectionInfoSize, 0);
    expected[0] = 2;
    EXPECT_EQ(empty.m_vData, expected);

    // Port numbers outside 1..bNumberOfPorts, and buffers without room for the header.
    EXPECT_FALSE(
        Ioctl(*p, hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, Port(0), kConnectionInfoSize)
            .m_bOk);
    EXPECT_FALSE(
        Ioctl(*p, hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, Port(5), kConnectionInfoSize)
            .m_bOk);
    EXPECT_FALSE(
        Ioctl(*p, hub, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, Port(1), conn::PipeList - 1)
            .m_bOk);

    // The keyboard behind the external hub is low speed: LowSpeed TRUE on the legacy path.
    const HANDLE external = Open(
        *p, "\\\\.\\USB#VID_1A40&PID_0101#5&1f4e3b0&0&3#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
    ASSERT_NE(external, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Ioctl(*p, external, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, Port(2),
                    kConnectionInfoSize)
                  .m_vData[conn::Speed],
              kUsbLowSpeed);
    EXPECT_EQ(
        Ioctl(*p, external, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, Port(2), kConnectionInfoSize)
            .m_vData[conn::Speed],
        1);
}

TEST(ModelPlatform, PortNameRequestsProbeThenRead) {
    auto p = Example();
    const HANDLE hub = Open(*p, "\\\\.\\" + kRootHub);
    const std::u16string key = u"{36FC9E60-C465-11CF-8056-444553540000}\\0005";
    const DWORD actual = static_cast<DWORD>(8 + 2 * (key.size() + 1));

    CReply probe =
        Ioctl(*p, hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, Port(1), kPortNameProbeSize);
    ASSERT_TRUE(probe.m_bOk);
    EXPECT_EQ(U32(probe.m_vData, 0), 1u);
    EXPECT_EQ(U32(probe.m_vData, kPortNameLengthOffset), actual);
    CReply full = Ioctl(*p, hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, Port(1), actual);
    ASSERT_TRUE(full.m_bOk);
    EXPECT_EQ(full.m_dwBytes, actual);
    EXPECT_EQ(Utf16At(full.m_vData, kPortNameTextOffset, key.size() + 1), key + u'\0');

    // The hub on port 3 gives its symbolic name; a device that is no hub gives an empty
    // name (ActualLength 10); an empty port gives nothing at all.
    CReply hubName = Ioctl(*p, hub, IOCTL_USB_GET_NODE_CONNECTION_NAME, Port(3), 512);
    ASSERT_TRUE(hubName.m_bOk);
    const std::u16string external =
        u"USB#VID_1A40&PID_0101#5&1f4e3b0&0&3#{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
    EXPECT_EQ(Utf16At(hubName.m_vData, 8, external.size() + 1), external + u'\0');
    CReply notHub = Ioctl(*p, hub, IOCTL_USB_GET_NODE_CONNECTION_NAME, Port(1), kPortNameProbeSize);
    ASSERT_TRUE(notHub.m_bOk);
    EXPECT_EQ(U32(notHub.m_vData, kPortNameLengthOffset), kPortNameProbeSize);
    EXPECT_FALSE(Ioctl(*p, hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, Port(2), 64).m_bOk);
    EXPECT_FALSE(Ioctl(*p, hub, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, Port(1),
                       kPortNameProbeSize - 1)
                     .m_bOk);
}

TEST(ModelPlatform, StringDescriptorRequests) {
    auto p = Example();
    const HANDLE hub = Open(*p, "\\\\.\\" + kRootHub);

    // Descriptor 0: the language list, after the header as sent.
    const std::vector<BYTE> request0 = DescriptorRequest(1, 3, 0, 0);
    CReply languages = Ioctl(*p, hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION, request0,
                             kDescriptorRequestSize);
    ASSERT_TRUE(languages.m_bOk);
    EXPECT_EQ(languages.m_dwBytes, 12u + 4u);
    EXPECT_TRUE(std::equal(request0.begin(), request0.end(), languages.m_vData.begin()));
    EXPECT_EQ(std::vector<BYTE>(languages.m_vData.begin() + 12, languages.m_vData.begin() + 16),
              (std::vector<BYTE>{4, 3, 0x09, 0x04}));

    const std::u16string serial = u"4C530001230804117455";
    CReply text = Ioctl(*p, hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION,
                        DescriptorRequest(1, 3, 3, 0x0409), kDescriptorRequestSize);
    ASSERT_TRUE(text.m_bOk);
    EXPECT_EQ(text.m_dwBytes, 12u + 2u + 2u * serial.size());
    EXPECT_EQ(text.m_vData[12], 2 + 2 * serial.size());
    EXPECT_EQ(text.m_vData[13], 3);
    EXPECT_EQ(Utf16At(text.m_vData, 14, serial.size()), serial);

    // wLength and the buffer both bound the transfer; bLength still tells the full size.
    CReply shortRead = Ioctl(*p, hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION,
                             DescriptorRequest(1, 3, 3, 0x0409, 10), kDescriptorRequestSize);
    EXPECT_EQ(shortRead.m_dwBytes, 22u);
    EXPECT_EQ(shortRead.m_vData[12], 42);
    EXPECT_EQ(Ioctl(*p, hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION,
                    DescriptorRequest(1, 3, 3, 0x0409), 20)
                  .m_dwBytes,
              20u);

    // Unknown index or language, an empty port, and the device descriptor itself.
    EXPECT_FALSE(Ioctl(*p, hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION,
                       DescriptorRequest(1, 3, 9, 0x0409), kDescriptorRequestSize)
                     .m_bOk);
    EXPECT_FALSE(Ioctl(*p, hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION,
                       DescriptorRequest(1, 3, 3, 0x0411), kDescriptorRequestSize)
                     .m_bOk);
    EXPECT_FALSE(Ioctl(*p, hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION,
                       DescriptorRequest(2, 3, 0, 0), kDescriptorRequestSize)
                     .m_bOk);
    CReply device = Ioctl(*p, hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION,
                          DescriptorRequest(1, 1, 0, 0), kDescriptorRequestSize);
    ASSERT_TRUE(device.m_bOk);
    EXPECT_EQ(device.m_dwBytes, 12u + 18u);
    EXPECT_EQ(U16(device.m_vData, 12 + 8), 0x2E1A);
}

// --- Injected faults on the USB side ----------------------------------------------------

const char* const kFaultMachine = R"({
  "controllers": [{"hcd": 0, "driverKey": "HCKEY",
    "faults": {"driverKey": {"actualLength": 6}, "rootHubName": {"failAfter": 1}},
    "rootHub": {"name": "ROOT", "bNumberOfPorts": 3,
      "faults": {"nodeInformation": {"noWrite": true}},
      "ports": [
        {"port": 1, "faults": {"vanishAfter": 2, "connectionInformationEx": {"fail": true}},
         "device": {"idVendor": 1, "driverKey": "K1",
                    "hub": {"name": "CHILD", "bNumberOfPorts": 1}}},
        {"port": 2, "faults": {"driverKeyName": {"noTerminator": true},
                               "descriptor": {"bytesReturned": 99}},
         "device": {"driverKey": "K2", "iSerialNumber": 1,
                    "strings": [{"index": 1, "raw": [3, 3, 65]}, {"index": 2, "language": "0x0411", "text": "x",
                                 "faults": {"fail": true}}]}},
        {"port": 3, "device": {"deviceIsHub": true, "hubName": "ROOT"}}
      ]}}]
})";

TEST(ModelPlatform, RefusesWhatTheProgramNeverPasses) {
    auto p = Example();
    const std::string hubPath = "\\\\.\\" + kRootHub;
    auto open = [&](DWORD access, DWORD share, void* security, DWORD disposition, DWORD flags,
                    HANDLE templ) {
        return p->CreateFileA(hubPath.c_str(), access, share, security, disposition, flags, templ);
    };
    int security = 0;
    EXPECT_EQ(open(0x80000000u, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);  // GENERIC_READ
    EXPECT_EQ(
        open(GENERIC_WRITE | 0x80000000u, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(GENERIC_WRITE, FILE_SHARE_WRITE | 1, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(GENERIC_WRITE, FILE_SHARE_WRITE, &security, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(open(GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, 4, 0, nullptr),
              INVALID_HANDLE_VALUE);  // OPEN_ALWAYS
    EXPECT_EQ(open(GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0x80, nullptr),
              INVALID_HANDLE_VALUE);  // FILE_ATTRIBUTE_NORMAL
    EXPECT_EQ(open(GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, p.get()),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(p->OpenHandleCount(), 0u);

    // An overlapped handle opens, and every request on it without an OVERLAPPED fails.
    const HANDLE overlapped = open(GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(overlapped, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(
        Ioctl(*p, overlapped, IOCTL_USB_GET_NODE_INFORMATION, {}, kNodeInformationSize).m_bOk);
    EXPECT_TRUE(p->CloseHandle(overlapped));
    const HANDLE hub = Open(*p, hubPath);
    ASSERT_NE(hub, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Ioctl(*p, hub, IOCTL_USB_GET_NODE_INFORMATION, {}, kNodeInformationSize).m_bOk);

    // The language list is asked for in language 0 only.
    EXPECT_FALSE(Ioctl(*p, hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION,
                       DescriptorRequest(1, 3, 0, 0x0409), kDescriptorRequestSize)
                     .m_bOk);
    EXPECT_TRUE(Ioctl(*p, hub, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION,
                      DescriptorRequest(1, 3, 0, 0), kDescriptorRequestSize)
                    .m_bOk);
    EXPECT_TRUE(p->CloseHandle(hub));

    // No hub opens while a controller's handle is open.
    const HANDLE hc = Open(*p, "\\\\.\\HCD0");
    ASSERT_NE(hc, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(*p, hubPath), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(p->CloseHandle(hc));
    const HANDLE again = Open(*p, hubPath);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(p->CloseHandle(again));

    // Interface sets list present interfaces only.
    EXPECT_EQ(p->SetupDiGetClassDevsA(&GUID_DEVINTERFACE_USB_HOST_CONTROLLER, nullptr, 0,
                                      DIGCF_DEVICEINTERFACE),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(p->OpenDeviceInfoSetCount(), 0u);
}

TEST(ModelPlatform, InjectedRequestFaults) {
    auto p = FromJson(kFaultMachine);
    const HANDLE hc = Open(*p, "\\\\.\\HCD0");
    ASSERT_NE(hc, INVALID_HANDLE_VALUE);
    CReply probe = Ioctl(*p, hc, IOCTL_GET_HCD_DRIVERKEY_NAME, {}, kHcdNameProbeSize);
    ASSERT_TRUE(probe.m_bOk);
    EXPECT_EQ(U32(probe.m_vData, 0), 6u);  // ActualLength not above the probe size
    EXPECT_TRUE(Ioctl(*p, hc, IOCTL_USB_GET_ROOT_HUB_NAME, {}, 64).m_bOk);
    EXPECT_FALSE(Ioctl(*p, hc, IOCTL_USB_GET_ROOT_HUB_NAME, {}, 64).m_bOk);  // failAfter 1
    EXPECT_TRUE(p->CloseHandle(hc));  // no hub opens while a controller is open

    const HANDLE root = Open(*p, "\\\\.\\ROOT");
    ASSERT_NE(root, INVALID_HANDLE_VALUE);
    // Success that writes nothing.
    std::vector<BYTE> marker(kNodeInformationSize, 0x5A);
    CReply node = Ioctl(*p, root, IOCTL_USB_GET_NODE_INFORMATION, marker, kNodeInformationSize);
    EXPECT_TRUE(node.m_bOk);
    EXPECT_EQ(node.m_dwBytes, 0u);
    EXPECT_EQ(node.m_vData, marker);

    // A name without its terminator: ActualLength counts none, and none is written.
    CReply key = Ioctl(*p, root, IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME, Port(2), 64);
    ASSERT_TRUE(key.m_bOk);
    EXPECT_EQ(U32(key.m_vData, 4), 8u + 4u);
    EXPECT_EQ(key.m_dwBytes, 12u);
    EXPECT_EQ(Utf16At(key.m_vData, 8, 2), u"K2");

    // Malformed descriptor bytes come as they are, with the overridden byte count; a
    // descriptor's own fault refuses it.
    CReply raw = Ioctl(*p, root, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION,
                       DescriptorRequest(2, 3, 1, 0x0409), kDescriptorRequestSize);
    ASSERT_TRUE(raw.m_bOk);
    EXPECT_EQ(raw.m_dwBytes, 99u);
    EXPECT_EQ(std::vector<BYTE>(raw.m_vData.begin() + 12, raw.m_vData.begin() + 16),
              (std::vector<BYTE>{3, 3, 65, 0}));
    EXPECT_FALSE(Ioctl(*p, root, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION,
                       DescriptorRequest(2, 3, 2, 0x0411), kDescriptorRequestSize)
                     .m_bOk);
    // The strings' languages make up descriptor 0 when the device lists none.
    CReply languages = Ioctl(*p, root, IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION,
                             DescriptorRequest(2, 3, 0, 0), kDescriptorRequestSize);
    EXPECT_EQ(std::vector<BYTE>(languages.m_vData.begin() + 12, languages.m_vData.begin() + 18),
              (std::vector<BYTE>{6, 3, 0x09, 0x04, 0x11, 0x04}));

    // A port that reports a hub already on the path.
    CReply loop = Ioctl(*p, root, IOCTL_USB_GET_NODE_CONNECTION_NAME, Port(3), 64);
    ASSERT_TRUE(loop.m_bOk);
    EXPECT_EQ(Utf16At(loop.m_vData, 8, 5), std::u16string(u"ROOT\0", 5));

    // Port 1: the extended request is refused, the legacy one accepted; after two
    // requests the device is gone, and the hub on it with it.
    const HANDLE child = Open(*p, "\\\\.\\CHILD");
    ASSERT_NE(child, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(
        Ioctl(*p, root, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX, Port(1), kConnectionInfoSize)
            .m_bOk);
    CReply legacy =
        Ioctl(*p, root, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, Port(1), kConnectionInfoSize);
    ASSERT_TRUE(legacy.m_bOk);
    EXPECT_EQ(U32(legacy.m_vData, conn::ConnectionStatus), DeviceConnected);
    EXPECT_EQ(legacy.m_vData[conn::DeviceIsHub], 1);
    CReply gone =
        Ioctl(*p, root, IOCTL_USB_GET_NODE_CONNECTION_INFORMATION, Port(1), kConnectionInfoSize);
    ASSERT_TRUE(gone.m_bOk);
    EXPECT_EQ(U32(gone.m_vData, conn::ConnectionStatus), NoDeviceConnected);
    EXPECT_EQ(U16(gone.m_vData, conn::idVendor), 0);
    EXPECT_FALSE(Ioctl(*p, root, IOCTL_USB_GET_NODE_CONNECTION_NAME, Port(1), 64).m_bOk);
    EXPECT_FALSE(Ioctl(*p, child, IOCTL_USB_GET_NODE_INFORMATION, {}, kNodeInformationSize).m_bOk);
    EXPECT_EQ(Open(*p, "\\\\.\\CHILD"), INVALID_HANDLE_VALUE);
}

// --- Setup API --------------------------------------------------------------------------

TEST(ModelPlatform, SetupDiListsInterfacesWithPathsAndNodes) {
    auto p = Example();
    for (const bool volumes : {false, true}) {
        const GUID& cls =
            volumes ? GUID_DEVINTERFACE_VOLUME : GUID_DEVINTERFACE_USB_HOST_CONTROLLER;
        const std::string path = volumes ? *p->Model().m_vVolumes[0].m_optInterfacePath
                                         : *p->Model().m_vControllers[0].m_optInterfacePath;
        const std::string node =
            volumes ? kVolumeId : *p->Model().m_vControllers[0].m_optInstanceId;
        HDEVINFO set =
            p->SetupDiGetClassDevsA(&cls, nullptr, 0, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        ASSERT_NE(set, INVALID_HANDLE_VALUE);
        SP_DEVICE_INTERFACE_DATA itf{};
        itf.cbSize = sizeof(itf);
        ASSERT_TRUE(p->SetupDiEnumDeviceInterfaces(set, nullptr, &cls, 0, &itf));
        EXPECT_TRUE(itf.InterfaceClassGuid == cls);
        SP_DEVICE_INTERFACE_DATA more = itf;
        EXPECT_FALSE(p->SetupDiEnumDeviceInterfaces(set, nullptr, &cls, 1, &more));

        DWORD required = 0;
        EXPECT_FALSE(
            p->SetupDiGetDeviceInterfaceDetailA(set, &itf, nullptr, 0, &required, nullptr));
        ASSERT_EQ(required, kDevicePathOffset + path.size() + 1);

        std::vector<BYTE> buffer(required + kGuardSize, kGuard);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = 5;
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof(info);
        // One byte short is refused and says the size again.
        EXPECT_FALSE(
            p->SetupDiGetDeviceInterfaceDetailA(set, &itf, detail, required - 1, &required, &info));
        ASSERT_TRUE(
            p->SetupDiGetDeviceInterfaceDetailA(set, &itf, detail, required, &required, &info));
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()) + kDevicePathOffset),
                  path);
        EXPECT_EQ(buffer[required], kGuard);
        EXPECT_EQ(info.DevInst, p->DevInstOf(node));
        EXPECT_NE(info.DevInst, 0u);
        SP_DEVINFO_DATA badInfo{};
        badInfo.cbSize = 1;
        EXPECT_FALSE(
            p->SetupDiGetDeviceInterfaceDetailA(set, &itf, detail, required, &required, &badInfo));

        EXPECT_EQ(p->OpenDeviceInfoSetCount(), 1u);
        EXPECT_TRUE(p->SetupDiDestroyDeviceInfoList(set));
        EXPECT_FALSE(p->SetupDiDestroyDeviceInfoList(set));
        EXPECT_EQ(p->OpenDeviceInfoSetCount(), 0u);
    }

    auto f = FromJson(
        R"({"controllers": [{"interfacePath": "\\\\?\\pci#1", "faults": {"interface": {"requiredSizeZero": true}}}],
                          "faults": {"volumeSetFails": true}})");
    EXPECT_EQ(f->SetupDiGetClassDevsA(&GUID_DEVINTERFACE_VOLUME, nullptr, 0,
                                      DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
              INVALID_HANDLE_VALUE);
    HDEVINFO set = f->SetupDiGetClassDevsA(&GUID_DEVINTERFACE_USB_HOST_CONTROLLER, nullptr, 0,
                                           DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA itf{};
    itf.cbSize = sizeof(itf);
    ASSERT_TRUE(f->SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USB_HOST_CONTROLLER,
                                               0, &itf));
    DWORD required = 77;
    EXPECT_FALSE(f->SetupDiGetDeviceInterfaceDetailA(set, &itf, nullptr, 0, &required, nullptr));
    EXPECT_EQ(required, 0u);
    // The interface-only controller opens by its path.
    EXPECT_NE(Open(*f, "\\\\?\\PCI#1"), INVALID_HANDLE_VALUE);
}

// --- Configuration manager --------------------------------------------------------------

TEST(ModelPlatform, DeviceTreeNavigationAndInstanceIds) {
    auto p = Example();
    DEVINST root = 0;
    ASSERT_EQ(p->CM_Locate_DevNodeA(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL), CR_SUCCESS);
    EXPECT_NE(root, 0u);
    DEVINST pci = 0, volmgr = 0, none = 0x77, up = 0;
    ASSERT_EQ(p->CM_Get_Child(&pci, root, 0), CR_SUCCESS);
    ASSERT_EQ(p->CM_Get_Sibling(&volmgr, pci, 0), CR_SUCCESS);
    EXPECT_EQ(volmgr, p->DevInstOf("ROOT\\VOLMGR\\0000"));
    EXPECT_EQ(p->CM_Get_Sibling(&none, volmgr, 0), CR_NO_SUCH_DEVNODE);
    EXPECT_EQ(none, 0x77u);
    ASSERT_EQ(p->CM_Get_Parent(&up, pci, 0), CR_SUCCESS);
    EXPECT_EQ(up, root);
    EXPECT_EQ(p->CM_Get_Parent(&none, root, 0), CR_NO_SUCH_DEVNODE);
    EXPECT_EQ(p->CM_Get_Child(&none, 0, 0), CR_INVALID_DEVNODE);
    EXPECT_EQ(p->CM_Get_Child(nullptr, root, 0), CR_INVALID_POINTER);

    DEVINST flash = 0;
    std::string lower = kFlashId;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    ASSERT_EQ(p->CM_Locate_DevNodeA(&flash, lower.c_str(), 0), CR_SUCCESS);
    EXPECT_EQ(flash, p->DevInstOf(kFlashId));
    EXPECT_EQ(p->CM_Locate_DevNodeA(&none, "USB\\VID_0000&PID_0000\\X", 0), CR_NO_SUCH_DEVNODE);

    char id[MAX_DEVICE_ID_LEN + kGuardSize];
    std::memset(id, kGuard, sizeof(id));
    ASSERT_EQ(p->CM_Get_Device_IDA(flash, id, MAX_DEVICE_ID_LEN, 0), CR_SUCCESS);
    EXPECT_EQ(std::string(id), kFlashId);
    // A buffer of exactly the ID's length gets it without a terminator, and success.
    const std::string rootId = "HTREE\\ROOT\\0";
    std::memset(id, kGuard, sizeof(id));
    ASSERT_EQ(p->CM_Get_Device_IDA(root, id, static_cast<ULONG>(rootId.size()), 0), CR_SUCCESS);
    EXPECT_EQ(std::string(id, rootId.size()), rootId);
    EXPECT_EQ(static_cast<BYTE>(id[rootId.size()]), kGuard);
    std::memset(id, kGuard, sizeof(id));
    EXPECT_EQ(p->CM_Get_Device_IDA(root, id, 4, 0), CR_BUFFER_SMALL);
    EXPECT_EQ(static_cast<BYTE>(id[4]), kGuard);

    ULONG status = 0, problem = 9;
    ASSERT_EQ(p->CM_Get_DevNode_Status(&status, &problem, flash, 0), CR_SUCCESS);
    EXPECT_EQ(status, kDefaultDevNodeStatus);
    EXPECT_EQ(problem, 0u);
}

TEST(ModelPlatform, RegistryPropertiesAndRemovalRelations) {
    auto p = Example();
    const DEVINST flash = p->DevInstOf(kFlashId), disk = p->DevInstOf(kDiskId);
    const std::string driver = "{36FC9E60-C465-11CF-8056-444553540000}\\0005";

    ULONG length = 0;
    EXPECT_EQ(
        p->CM_Get_DevNode_Registry_PropertyA(flash, CM_DRP_DRIVER, nullptr, nullptr, &length, 0),
        CR_BUFFER_SMALL);
    EXPECT_EQ(length, driver.size() + 1);
    char buffer[200 + kGuardSize];
    std::memset(buffer, kGuard, sizeof(buffer));
    length = 10;
    EXPECT_EQ(
        p->CM_Get_DevNode_Registry_PropertyA(flash, CM_DRP_DRIVER, nullptr, buffer, &length, 0),
        CR_BUFFER_SMALL);
    EXPECT_EQ(static_cast<BYTE>(buffer[0]), kGuard);
    length = 200;
    ULONG type = 0;
    ASSERT_EQ(p->CM_Get_DevNode_Registry_PropertyA(flash, CM_DRP_DRIVER, &type, buffer, &length, 0),
              CR_SUCCESS);
    EXPECT_EQ(std::string(buffer), driver);
    EXPECT_EQ(type, kRegTypeSz);
    EXPECT_EQ(length, driver.size() + 1);

    // Text in the ANSI code page of the process, whatever it is.
    length = 200;
    ASSERT_EQ(
        p->CM_Get_DevNode_Registry_PropertyA(flash, CM_DRP_DEVICEDESC, nullptr, buffer, &length, 0),
        CR_SUCCESS);
    EXPECT_EQ(std::string(buffer), Ansi("USB 大容量記憶装置"));

    length = 200;
    EXPECT_EQ(p->CM_Get_DevNode_Registry_PropertyA(flash, CM_DRP_FRIENDLYNAME, nullptr, buffer,
                                                   &length, 0),
              CR_NO_SUCH_VALUE);
    length = 200;
    ASSERT_EQ(
        p->CM_Get_DevNode_Registry_PropertyA(disk, CM_DRP_UPPERFILTERS, &type, buffer, &length, 0),
        CR_SUCCESS);
    EXPECT_EQ(type, kRegTypeMultiSz);
    EXPECT_EQ(std::string(buffer, length), std::string("PartMgr\0\0", 9));

    // Removal relations: the size in characters, terminators included, then the list.
    ULONG size = 0;
    ASSERT_EQ(p->CM_Get_Device_ID_List_SizeA(&size, kDiskId.c_str(),
                                             CM_GETIDLIST_FILTER_REMOVALRELATIONS),
              CR_SUCCESS);
    EXPECT_EQ(size, kVolumeId.size() + 2);
    std::vector<char> list(size + kGuardSize, static_cast<char>(kGuard));
    EXPECT_EQ(p->CM_Get_Device_ID_ListA(kDiskId.c_str(), list.data(), size - 1,
                                        CM_GETIDLIST_FILTER_REMOVALRELATIONS),
              CR_BUFFER_SMALL);
    ASSERT_EQ(p->CM_Get_Device_ID_ListA(kDiskId.c_str(), list.data(), size,
                                        CM_GETIDLIST_FILTER_REMOVALRELATIONS),
              CR_SUCCESS);
    EXPECT_EQ(std::string(list.data(), size), kVolumeId + std::string("\0\0", 2));
    EXPECT_EQ(static_cast<BYTE>(list[size]), kGuard);
    ASSERT_EQ(p->CM_Get_Device_ID_List_SizeA(&size, kFlashId.c_str(),
                                             CM_GETIDLIST_FILTER_REMOVALRELATIONS),
              CR_SUCCESS);
    EXPECT_EQ(size, 1u);  // no relations: the closing empty string alone
}

// Texts beyond ASCII are answered as the way through UTF-16 gives them in the code page of
// the process, whether a text is taken as it stands or converted: well-formed ones, a byte
// that forms no character, a NUL after a character beyond ASCII (the text ends there).
TEST(ModelPlatform, TextsBeyondAsciiAreAnsweredInTheCodePage) {
    const std::string texts[] = {"USB \xE5\xA4\xA7\xE5\xAE\xB9\xE9\x87\x8F",
                                 "a\xFF"
                                 "b",
                                 std::string("\xE3\x83\x87\0x", 5), "\xED\xA0\x80", "\xC3\xA9"};
    CMachineModel model;
    CDevNode top;
    top.m_strInstanceId = kRootInstanceId;
    const std::size_t root = model.AddNode(std::move(top), std::nullopt);
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        CDevNode node;
        node.m_strInstanceId = "USB\\" + texts[i] + std::to_string(i);
        CRegistryProperty description;
        description.m_ulCode = CM_DRP_DEVICEDESC;
        description.m_vValues = {texts[i]};
        node.m_vProperties.push_back(std::move(description));
        model.AddNode(std::move(node), root);
    }
    CModelPlatform p(std::move(model));
    DEVINST node = 0;
    ASSERT_EQ(p.CM_Get_Child(&node, p.DevInstOf(kRootInstanceId), 0), CR_SUCCESS);
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        SCOPED_TRACE(i);
        char buffer[200];
        ULONG length = sizeof buffer;
        ASSERT_EQ(p.CM_Get_DevNode_Registry_PropertyA(node, CM_DRP_DEVICEDESC, nullptr, buffer,
                                                      &length, 0),
                  CR_SUCCESS);
        ASSERT_GE(length, 1u);
        EXPECT_EQ(std::string(buffer, length - 1), Ansi(texts[i]));
        ASSERT_EQ(p.CM_Get_Device_IDA(node, buffer, sizeof buffer, 0), CR_SUCCESS);
        EXPECT_EQ(std::string(buffer), Ansi("USB\\" + texts[i] + std::to_string(i)));
        if (i + 1 < std::size(texts)) {
            ASSERT_EQ(p.CM_Get_Sibling(&node, node, 0), CR_SUCCESS);
        }
    }
}

TEST(ModelPlatform, InjectedConfigurationManagerFaults) {
    auto p = FromJson(R"({"deviceTree": {"children": [
        {"id": "A", "properties": {"SERVICE": "svc", "LOWERFILTERS": {"raw": [65, 66]}},
         "removalRelations": ["B"],
         "faults": {"deviceId": "noWrite", "properties": {"SERVICE": "CR_BUFFER_SMALL", "DRIVER": "CR_FAILURE"},
                    "childLink": "HTREE\\ROOT\\0", "removalRelationsSize": "noWrite",
                    "removalRelationsList": "noWrite"}},
        {"id": "GHOST", "present": false},
        {"id": "B", "faults": {"vanishAfter": 2}, "children": [{"id": "B1"}]}
    ]}})");
    const DEVINST a = p->DevInstOf("A"), b = p->DevInstOf("B"), b1 = p->DevInstOf("B1");
    char id[16];
    std::memset(id, 'x', sizeof(id));
    EXPECT_EQ(p->CM_Get_Device_IDA(a, id, sizeof(id), 0), CR_SUCCESS);
    EXPECT_EQ(id[0], 'x');  // claimed success, wrote nothing
    ULONG relations = 77;
    EXPECT_EQ(p->CM_Get_Device_ID_List_SizeA(&relations, "A", CM_GETIDLIST_FILTER_REMOVALRELATIONS),
              CR_SUCCESS);
    EXPECT_EQ(relations, 77u);
    EXPECT_EQ(p->CM_Get_Device_ID_ListA("A", id, sizeof(id), CM_GETIDLIST_FILTER_REMOVALRELATIONS),
              CR_SUCCESS);
    EXPECT_EQ(id[0], 'x');

    ULONG length = 0;
    EXPECT_EQ(p->CM_Get_DevNode_Registry_PropertyA(a, CM_DRP_SERVICE, nullptr, nullptr, &length, 0),
              CR_BUFFER_SMALL);
    EXPECT_EQ(length, 4u);
    char buffer[32];
    length = sizeof(buffer);
    EXPECT_EQ(p->CM_Get_DevNode_Registry_PropertyA(a, CM_DRP_SERVICE, nullptr, buffer, &length, 0),
              CR_BUFFER_SMALL);
    length = sizeof(buffer);
    EXPECT_EQ(p->CM_Get_DevNode_Registry_PropertyA(a, CM_DRP_DRIVER, nullptr, buffer, &length, 0),
              CR_FAILURE);
    // A multi-string without its terminators comes exactly as stored.
    length = sizeof(buffer);
    ASSERT_EQ(
        p->CM_Get_DevNode_Registry_PropertyA(a, CM_DRP_LOWERFILTERS, nullptr, buffer, &length, 0),
        CR_SUCCESS);
    EXPECT_EQ(std::string(buffer, length), "AB");

    // A child link back to the root makes the tree cyclic.
    DEVINST root = 0, next = 0;
    ASSERT_EQ(p->CM_Locate_DevNodeA(&root, nullptr, 0), CR_SUCCESS);
    ASSERT_EQ(p->CM_Get_Child(&next, a, 0), CR_SUCCESS);
    EXPECT_EQ(next, root);

    // A node that is not present is passed over and cannot be located.
    ASSERT_EQ(p->CM_Get_Sibling(&next, a, 0), CR_SUCCESS);
    EXPECT_EQ(next, b);
    DEVINST ghost = 0;
    EXPECT_EQ(p->CM_Locate_DevNodeA(&ghost, "GHOST", 0), CR_NO_SUCH_DEVNODE);

    // B answers two calls, then it and its child are gone.
    ASSERT_EQ(p->CM_Get_Child(&next, b, 0), CR_SUCCESS);
    EXPECT_EQ(next, b1);
    ULONG status = 0, problem = 0;
    EXPECT_EQ(p->CM_Get_DevNode_Status(&status, &problem, b, 0), CR_SUCCESS);
    EXPECT_EQ(p->CM_Get_DevNode_Status(&status, &problem, b, 0), CR_NO_SUCH_DEVNODE);
    EXPECT_EQ(p->CM_Get_DevNode_Status(&status, &problem, b1, 0), CR_NO_SUCH_DEVNODE);
    EXPECT_EQ(p->CM_Get_Sibling(&next, a, 0), CR_NO_SUCH_DEVNODE);
    EXPECT_EQ(p->CM_Locate_DevNodeA(&next, "B1", 0), CR_NO_SUCH_DEVNODE);
}

// --- Volumes and text -------------------------------------------------------------------

// Where no node can be gone, the model answers a node's links and values from what it made
// ahead; a model with one node not present (out of the tree, reached by nothing) answers
// every call the long way. Both must answer alike, node by node.
TEST(ModelPlatform, AnswersMadeAheadAreTheAnswersOfTheTree) {
    CMachineModel model = LoadMachineFile(test::DataPath("scan-windows-desktop.json"));
    // A node its parent does not list, in the tree of the fixture.
    CDevNode stray;
    stray.m_strInstanceId = "ROOT\\STRAY\\0";
    stray.m_optParent = 0;
    model.m_vNodes.push_back(stray);
    CMachineModel withGone = model;
    CDevNode gone;
    gone.m_strInstanceId = "ROOT\\GONE\\0";
    gone.m_bPresent = false;
    withGone.m_vNodes.push_back(gone);
    CModelPlatform ahead(std::move(model)), longWay(std::move(withGone));
    const std::size_t nodes = ahead.Model().m_vNodes.size();
    ASSERT_GT(nodes, 20u);
    for (std::size_t i = 0; i < nodes; ++i) {
        const std::string& id = ahead.Model().m_vNodes[i].m_strInstanceId;
        SCOPED_TRACE(id);
        const DEVINST node = ahead.DevInstOf(id);
        ASSERT_EQ(node, longWay.DevInstOf(id));
        for (auto call :
             {&IPlatform::CM_Get_Child, &IPlatform::CM_Get_Sibling, &IPlatform::CM_Get_Parent}) {
            DEVINST a = 0x77, b = 0x77;
            EXPECT_EQ((ahead.*call)(&a, node, 0), (longWay.*call)(&b, node, 0));
            EXPECT_EQ(a, b);
        }
        for (ULONG code : {CM_DRP_DEVICEDESC, CM_DRP_DRIVER, CM_DRP_FRIENDLYNAME,
                           CM_DRP_UPPERFILTERS, CM_DRP_SERVICE, ULONG(0x42)}) {
            char a[64] = {}, b[64] = {};
            ULONG lengthA = sizeof a, lengthB = sizeof b, typeA = 9, typeB = 9;
            EXPECT_EQ(
                ahead.CM_Get_DevNode_Registry_PropertyA(node, code, &typeA, a, &lengthA, 0),
                longWay.CM_Get_DevNode_Registry_PropertyA(node, code, &typeB, b, &lengthB, 0));
            EXPECT_EQ(std::string(a, sizeof a), std::string(b, sizeof b));
            EXPECT_EQ(lengthA, lengthB);
            EXPECT_EQ(typeA, typeB);
        }
    }
}

TEST(ModelPlatform, VolumeNamesForDriveRootsAndInterfacePaths) {
    auto p = FromJson(R"({"volumes": [
        {"name": "\\\\?\\Volume{1}\\", "letters": ["E", "Z"], "interfacePath": "\\\\?\\STORAGE#Volume#1"},
        {"name": "\\\\?\\Volume{2}\\", "letters": ["F"], "faults": {"rootMountPoint": "noWrite"}}]})");
    const std::string name = "\\\\?\\Volume{1}\\";
    char buffer[260 + kGuardSize];
    for (const char* mountPoint : {"E:\\", "e:\\", "Z:\\", "\\\\?\\storage#volume#1\\"}) {
        std::memset(buffer, kGuard, sizeof(buffer));
        ASSERT_TRUE(p->GetVolumeNameForVolumeMountPointA(mountPoint, buffer, 260)) << mountPoint;
        EXPECT_EQ(std::string(buffer), name);
    }
    for (const char* mountPoint : {"D:\\", "E:", "\\\\?\\STORAGE#Volume#1"})
        EXPECT_FALSE(p->GetVolumeNameForVolumeMountPointA(mountPoint, buffer, 260)) << mountPoint;
    std::memset(buffer, kGuard, sizeof(buffer));
    EXPECT_FALSE(
        p->GetVolumeNameForVolumeMountPointA("E:\\", buffer, static_cast<DWORD>(name.size())));
    EXPECT_EQ(static_cast<BYTE>(buffer[0]), kGuard);
    EXPECT_TRUE(p->GetVolumeNameForVolumeMountPointA("F:\\", buffer, 260));
    EXPECT_EQ(static_cast<BYTE>(buffer[0]), kGuard);
}

TEST(ModelPlatform, WideCharToMultiByteFollowsWindows) {
    auto p = Example();
    const char16_t text[] = u"AB\0C";
    char out[8];
    EXPECT_EQ(p->WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr), 3);
    EXPECT_EQ(p->WideCharToMultiByte(CP_ACP, 0, text, 4, nullptr, 0, nullptr, nullptr), 4);
    std::memset(out, 'x', sizeof(out));
    ASSERT_EQ(p->WideCharToMultiByte(CP_ACP, 0, text, 4, out, sizeof(out), nullptr, nullptr), 4);
    EXPECT_EQ(std::string(out, 5), std::string("AB\0Cx", 5));
    std::memset(out, 'x', sizeof(out));
    EXPECT_EQ(p->WideCharToMultiByte(CP_ACP, 0, text, 4, out, 3, nullptr, nullptr), 0);
    EXPECT_EQ(out[0], 'x');
    EXPECT_EQ(p->WideCharToMultiByte(932 + 1, 0, text, 2, out, sizeof(out), nullptr, nullptr), 0);
    const std::u16string japanese = u"日本";
    const std::string expected = Utf16ToAnsi(japanese.data(), japanese.size());
    std::vector<char> wide(expected.size());
    ASSERT_EQ(p->WideCharToMultiByte(CP_ACP, 0, japanese.data(), 2, wide.data(),
                                     static_cast<int>(wide.size()), nullptr, nullptr),
              static_cast<int>(expected.size()));
    EXPECT_EQ(std::string(wide.begin(), wide.end()), expected);
}

}  // namespace
}  // namespace ks

// Helpers of the USB tests: a fixture machine installed as the platform for a test's
// scope, counts of the requests it logged, and a stable one-line text of a device record.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "framework/CodePage.h"
#include "platform/Platform.h"
#include "platform/model/ModelPlatform.h"
#include "platform/sim/FixtureLoader.h"
#include "tests/support/TestData.h"
#include "usb/UsbBusWalker.h"

namespace ks::test {

// A machine from tests/data (or from fixture text), serving the platform calls while the
// object lives.
class CMachineScope {
  public:
    explicit CMachineScope(const std::string& fixture)
        : m_platform(LoadMachineFile(DataPath(fixture))), m_scope(m_platform) {}
    CMachineScope(const std::string& json, const std::string& sourceName)
        : m_platform(LoadMachineText(json, sourceName)), m_scope(m_platform) {}

    CModelPlatform& Platform() { return m_platform; }
    const CModelPlatform& Platform() const { return m_platform; }

    // Requests with this code, to handles opened with `path` (any path when empty).
    unsigned Ioctls(DWORD code, std::string_view path = {}) const {
        unsigned n = 0;
        for (const CIoctlCall& c : m_platform.IoctlCalls())
            if (c.m_dwCode == code && (path.empty() || c.m_strPath == path))
                ++n;
        return n;
    }
    // How many times `path` was passed to CreateFileA.
    unsigned Opens(std::string_view path) const {
        unsigned n = 0;
        for (const std::string& p : m_platform.OpenedPaths())
            if (p == path)
                ++n;
        return n;
    }

  private:
    CModelPlatform m_platform;
    CPlatformScope m_scope;
};

// Texts of a record are in the ANSI code page; the line is UTF-8 on every host.
inline std::string DescribeDevice(const CUsbDeviceInfo& d) {
    char ids[64];
    std::snprintf(ids, sizeof ids, "%04X:%04X", d.m_idVendor, d.m_idProduct);
    char tail[64];
    std::snprintf(tail, sizeof tail, " bcdUSB=0x%04X speed=%d", d.m_bcdUSB, d.m_speed);
    return std::string(ids) + " serial=\"" + AnsiToUtf8(d.m_strSerialNumber.View()) +
           "\" manufacturer=\"" + AnsiToUtf8(d.m_strManufacturer.View()) + "\" product=\"" +
           AnsiToUtf8(d.m_strProduct.View()) + "\"" + tail;
}

inline std::vector<CUsbDeviceInfo> ListDevices(int fields) {
    std::vector<CUsbDeviceInfo> devices;
    CUsbDeviceLister lister(&devices);
    lister.m_fields = fields;
    lister.Scan();
    return devices;
}

inline std::vector<WORD> VendorIds(const std::vector<CUsbDeviceInfo>& devices) {
    std::vector<WORD> ids;
    for (const CUsbDeviceInfo& d : devices)
        ids.push_back(d.m_idVendor);
    return ids;
}

// Text in the ANSI code page from UTF-8 source text (for comparisons with what the
// platform delivers).
inline CString Ansi(std::string_view utf8) {
    const std::u16string wide = Utf8ToUtf16(utf8);
    return CString(Utf16ToAnsi(wide.data(), wide.size()));
}

}  // namespace ks::test

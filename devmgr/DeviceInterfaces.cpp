#include "devmgr/DeviceInterfaces.h"

#include <algorithm>

#include "platform/Platform.h"

namespace ks {

BOOL GetInterfaceDevicePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data,
                            std::vector<unsigned char>& buffer, SP_DEVINFO_DATA* deviceInfo,
                            CString& path) {
    IPlatform& p = Platform();
    DWORD required = 0;
    p.SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
    if (required <= kDevicePathOffset || required > 0x10000)
        return FALSE;
    if (buffer.size() < required)
        buffer.resize(required);
    std::fill(buffer.begin(), buffer.end(), 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    BOOL ok =
        p.SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, &required, deviceInfo);
    if (ok) {
        // The path ends at its NUL or at the end of the buffer, whichever comes first.
        const char* text = reinterpret_cast<const char*>(buffer.data() + kDevicePathOffset);
        std::size_t room = buffer.size() - kDevicePathOffset;
        std::size_t len = 0;
        while (len < room && text[len] != '\0')
            ++len;
        path = CString(text, static_cast<int>(len));
    }
    return ok;
}

void ForEachDeviceInterface(const GUID& interfaceClass, bool withDeviceInfo,
                            const std::function<void(BOOL detailResult, CString& path,
                                                     const SP_DEVINFO_DATA& deviceInfo)>& visit) {
    IPlatform& p = Platform();
    HDEVINFO set =
        p.SetupDiGetClassDevsA(&interfaceClass, nullptr, 0, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE)
        return;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    std::vector<unsigned char> detail;  // one buffer, reused for every interface
    for (DWORD index = 0;
         p.SetupDiEnumDeviceInterfaces(set, nullptr, &interfaceClass, index, &data); ++index) {
        SP_DEVINFO_DATA devInfo{};
        devInfo.cbSize = sizeof(devInfo);
        CString path;
        BOOL ok =
            GetInterfaceDevicePath(set, data, detail, withDeviceInfo ? &devInfo : nullptr, path);
        if (ok)
            visit(ok, path, devInfo);
    }
    p.SetupDiDestroyDeviceInfoList(set);
}

}  // namespace ks

#include "usb/UsbBusWalker.h"

#include "platform/Platform.h"

namespace ks {

void CUsbBusWalker::Scan() {
    m_controllerKeys.RemoveAll();
    if (m_discovery & kDiscoverHcdNames) EnumerateHcdNames();
    if (m_discovery & kDiscoverInterfaces) EnumerateHostControllerInterfaces();
}

void CUsbBusWalker::EnumerateHcdNames() {
    for (int n = 0; n < 10; ++n) {
        CString path;
        path.Format("\\\\.\\HCD%d", n);
        CheckHostController(path);
    }
}

void CUsbBusWalker::EnumerateHostControllerInterfaces() {
    IPlatform& p = Platform();
    HDEVINFO set = p.SetupDiGetClassDevsA(&GUID_DEVINTERFACE_USB_HOST_CONTROLLER, nullptr, 0,
                                          DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof(data);
    std::vector<unsigned char> detail;
    for (DWORD index = 0; p.SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_USB_HOST_CONTROLLER,
                                                         index, &data);
         ++index) {
        DWORD required = 0;
        p.SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr);
        if (required == 0) continue;
        if (detail.size() < required) detail.resize(required);
        std::fill(detail.begin(), detail.end(), 0);
        auto* d = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail.data());
        d->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (p.SetupDiGetDeviceInterfaceDetailA(set, &data, d, required, &required, nullptr)) {
            // The path ends at its NUL or at the end of the buffer, whichever comes first.
            const char* path = reinterpret_cast<const char*>(detail.data() + kDevicePathOffset);
            std::size_t room = detail.size() - kDevicePathOffset;
            std::size_t len = 0;
            while (len < room && path[len] != '\0') ++len;
            CheckHostController(CString(path, static_cast<int>(len)));
        }
    }
    p.SetupDiDestroyDeviceInfoList(set);
}

void CUsbBusWalker::CheckHostController(const CString& path) {
    CUsbIoHandle controller(path);
    if (!controller.Open()) return;
    // The controller's driver key and its walk come with the hub driver requests.
    controller.Close();
}

void CUsbDeviceLister::Scan() {
    if (m_pDevices != nullptr) m_pDevices->clear();
    CUsbBusWalker::Scan();
}

}  // namespace ks

#include "usb/UsbBusWalker.h"

#include <algorithm>

#include "devmgr/DevNodeQueries.h"
#include "devmgr/DeviceInterfaces.h"
#include "platform/Platform.h"
#include "usb/UsbReplies.h"

namespace ks {

// --- Controller discovery ------------------------------------------------------------

void CUsbBusWalker::Scan() {
    m_controllerKeys.RemoveAll();
    m_hubPath.clear();
    if (m_discovery & kDiscoverHcdNames)
        EnumerateHcdNames();
    if (m_discovery & kDiscoverInterfaces)
        EnumerateHostControllerInterfaces();
}

void CUsbBusWalker::EnumerateHcdNames() {
    for (int n = 0; n < 10; ++n) {
        CString path;
        path.Format("\\\\.\\HCD%d", n);
        CheckHostController(path);
    }
}

void CUsbBusWalker::EnumerateHostControllerInterfaces() {
    // An interface whose required detail size is 0 is passed over without a second call.
    ForEachDeviceInterface(
        GUID_DEVINTERFACE_USB_HOST_CONTROLLER, false,
        [this](BOOL, CString& path, const SP_DEVINFO_DATA&) { CheckHostController(path); });
}

void CUsbBusWalker::CheckHostController(CString& controllerPath) {
    CUsbIoHandle controller(controllerPath);
    if (!controller.Open())
        return;
    CString driverKey;
    int isNew = controller.GetHcdDriverKeyName(driverKey) ? RememberController(driverKey) : 0;
    controller.Close();
    if (isNew)
        WalkHostController(controllerPath);
}

int CUsbBusWalker::RememberController(CString driverKey) {
    driverKey.MakeUpper();
    if (m_controllerKeys.Find(driverKey) != nullptr)
        return 0;
    m_controllerKeys.AddTail(driverKey);
    return 1;
}

// --- Hubs and ports --------------------------------------------------------------------

void CUsbBusWalker::WalkHostController(CString& controllerPath) {
    CUsbIoHandle controller(controllerPath);
    if (!controller.Open())
        return;
    CString rootHub;
    int ok = controller.GetRootHubName(rootHub);
    controller.Close();
    if (ok)
        WalkHub(rootHub);
}

void CUsbBusWalker::WalkHub(CString& hubName) {
    CString key = hubName;
    key.MakeUpper();
    if (m_hubPath.size() >= kMaxHubDepth ||
        std::find(m_hubPath.begin(), m_hubPath.end(), key) != m_hubPath.end())
        return;
    CString path;
    path.Format("\\\\.\\%s", hubName.GetString());
    CUsbIoHandle hub(path);
    if (!hub.Open())
        return;
    NodeInformation info{};
    if (hub.GetNodeInformation(info)) {
        m_hubPath.push_back(key);
        const int ports = info[kNodeInfoPortCountOffset];
        for (int port = 1; port <= ports; ++port)
            VisitPort(hub, port);
        m_hubPath.pop_back();
    }
    hub.Close();
}

void CUsbBusWalker::VisitPort(CUsbIoHandle& hub, int& port) {
    std::vector<BYTE> connection;
    if (!hub.GetNodeConnectionInformation(port, connection))
        return;
    if (connection[conn::DeviceIsHub] != 0) {
        OnHubPort(hub, port, connection.data());
    } else {
        OnDevicePort(hub, port, connection.data());
    }
}

void CUsbBusWalker::OnHubPort(CUsbIoHandle& hub, int& port, const BYTE* /*connection*/) {
    CString name;
    hub.GetNodeConnectionName(port, name);
    // A failed name request leaves the name empty; "\\.\" then opens nothing.
    if (name.IsEmpty())
        return;
    WalkHub(name);
}

void CUsbBusWalker::OnDevicePort(CUsbIoHandle&, int&, const BYTE*) {}

// --- Device records ----------------------------------------------------------------------

void CUsbDeviceLister::Scan() {
    if (m_pDevices != nullptr)
        m_pDevices->clear();
    CUsbBusWalker::Scan();
}

void CUsbDeviceLister::OnDevicePort(CUsbIoHandle& hub, int& port, const BYTE* connection) {
    CUsbBusWalker::OnDevicePort(hub, port, connection);
    CUsbDeviceInfo device;
    if (FillFromConnection(hub, port, connection, device))
        AddDevice(device);
}

void CUsbDeviceLister::AddDevice(CUsbDeviceInfo& device) {
    if (m_pDevices != nullptr)
        m_pDevices->push_back(device);
}

int CUsbDeviceLister::FillFromConnection(CUsbIoHandle& hub, int& port, const BYTE* connection,
                                         CUsbDeviceInfo& device) {
    device = CUsbDeviceInfo();
    if (ReadLe32(connection + conn::ConnectionStatus) != DeviceConnected)
        return 0;
    if (m_fields & kFieldVendorId)
        device.m_idVendor = ReadLe16(connection + conn::idVendor);
    if (m_fields & kFieldProductId)
        device.m_idProduct = ReadLe16(connection + conn::idProduct);
    if (m_fields & kFieldBcdUsb)
        device.m_bcdUSB = ReadLe16(connection + conn::bcdUSB);
    if (m_fields & kFieldSpeed)
        device.m_speed = connection[conn::Speed];

    BYTE iManufacturer = connection[conn::iManufacturer];
    BYTE iProduct = connection[conn::iProduct];
    BYTE iSerial = connection[conn::iSerialNumber];
    const bool wantManufacturer = (m_fields & kFieldManufacturer) && iManufacturer != 0;
    const bool wantProduct = (m_fields & kFieldProduct) && iProduct != 0;
    const bool wantSerial = (m_fields & kFieldSerialNumber) && iSerial != 0;
    if (!wantManufacturer && !wantProduct && !wantSerial)
        return 1;

    std::vector<WORD> languages;
    if (hub.GetLanguageIds(port, languages) && !languages.empty()) {
        // The first language of the device's list serves every string, whatever it is.
        WORD language = languages.front();
        CString text;
        if (wantManufacturer && hub.GetStringDescriptorText(port, iManufacturer, language, text))
            device.m_strManufacturer = text;
        if (wantProduct && hub.GetStringDescriptorText(port, iProduct, language, text))
            device.m_strProduct = text;
        if (wantSerial) {
            if (hub.GetStringDescriptorText(port, iSerial, language, text)) {
                device.m_strSerialNumber = text;
            } else {
                ReadSerialFromDeviceId(hub, port, device);
            }
        }
    } else if (wantSerial) {
        ReadSerialFromDeviceId(hub, port, device);
    }
    return 1;
}

void CUsbDeviceLister::ReadSerialFromDeviceId(CUsbIoHandle& hub, int& port,
                                              CUsbDeviceInfo& device) {
    CString driverKey;
    if (hub.GetNodeConnectionDriverKeyName(port, driverKey) != TRUE)
        return;
    DEVINST node = FindDevNodeByDriverKey(driverKey);
    WORD vendorId = 0, productId = 0;
    CString serial, location;
    if (GetUsbIdentityFromDevNode(node, vendorId, productId, serial, location) == 1)
        device.m_strSerialNumber = serial;
}

}  // namespace ks

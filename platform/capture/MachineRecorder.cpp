#include "platform/capture/MachineRecorder.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "platform/capture/CaptureBuilder.h"
#include "platform/capture/CaptureLog.h"
#include "platform/capture/FixtureWriter.h"

namespace ks {

namespace capture {

std::string UpperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

void CIoSeries::Add(CIoAnswer answer) {
    ++m_dwCalls;
    if (!answer.m_bResult) {
        m_bFailed = true;
    } else if (m_bFailed) {
        m_bRecovered = true;
    } else {
        ++m_dwSucceeded;
    }
    for (const CIoAnswer& kept : m_vKept) {
        if (kept.m_dwOutSize != answer.m_dwOutSize)
            continue;
        if (kept.m_bResult != answer.m_bResult || kept.m_dwReturned != answer.m_dwReturned ||
            kept.m_vOut != answer.m_vOut)
            m_bChanged = true;
        return;
    }
    if (m_vKept.size() < 2)
        m_vKept.push_back(std::move(answer));
}

const CIoAnswer* CIoSeries::Kept(DWORD outSize) const {
    for (const CIoAnswer& a : m_vKept)
        if (a.m_dwOutSize == outSize)
            return &a;
    return nullptr;
}

const CIoAnswer* CIoSeries::KeptAbove(DWORD size) const {
    for (const CIoAnswer& a : m_vKept)
        if (a.m_dwOutSize > size)
            return &a;
    return nullptr;
}

void CCmSeries::Add(const CCmAnswer& answer) {
    if (!m_optFirst) {
        m_optFirst = answer;
        return;
    }
    const CCmAnswer& f = *m_optFirst;
    if (f.m_cr != answer.m_cr || f.m_bWritten != answer.m_bWritten ||
        f.m_target != answer.m_target || f.m_strData != answer.m_strData ||
        f.m_ulStatus != answer.m_ulStatus || f.m_ulProblem != answer.m_ulProblem)
        m_bChanged = true;
}

}  // namespace capture

using namespace capture;

namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";

DWORD Le32(const void* p) {
    const auto* b = static_cast<const BYTE*>(p);
    return DWORD(b[0]) | DWORD(b[1]) << 8 | DWORD(b[2]) << 16 | DWORD(b[3]) << 24;
}
WORD Le16(const void* p) {
    const auto* b = static_cast<const BYTE*>(p);
    return static_cast<WORD>(b[0] | b[1] << 8);
}

std::vector<BYTE> Snapshot(const void* buffer, std::size_t size) {
    if (buffer == nullptr)
        return {};
    const std::size_t n = std::min(size, kMaxKeptOutput);
    const auto* b = static_cast<const BYTE*>(buffer);
    return std::vector<BYTE>(b, b + n);
}

// A NUL-ended text in a buffer of `size` bytes that may lack its NUL.
std::string TextIn(const char* buffer, std::size_t size) {
    if (buffer == nullptr)
        return {};
    std::size_t n = 0;
    const std::size_t bound = std::min(size, kMaxKeptOutput);
    while (n < bound && buffer[n] != '\0')
        ++n;
    return std::string(buffer, n);
}

// "\\.\HCDn" for n = 0..9, as the discovery formats them.
std::optional<int> HcdNumber(std::string_view upperPath) {
    if (upperPath.size() != 8 || upperPath.substr(0, 7) != "\\\\.\\HCD")
        return std::nullopt;
    const char d = upperPath[7];
    if (d < '0' || d > '9')
        return std::nullopt;
    return d - '0';
}

// The log of a node, made when the recorder first meets it; none for DEVINST 0 (no node)
// or beyond kMaxNodes.
CNodeLog* NodeLog(CCaptureLog& log, DEVINST devInst) {
    if (devInst == 0)
        return nullptr;
    auto it = log.m_mapNodes.find(devInst);
    if (it != log.m_mapNodes.end())
        return &it->second;
    if (log.m_mapNodes.size() >= kMaxNodes) {
        log.m_bNodesCut = true;
        return nullptr;
    }
    CNodeLog& node = log.m_mapNodes[devInst];
    node.m_order = log.m_mapNodes.size();
    return &node;
}

void RecordNavigation(CCaptureLog& log, ECmOp op, DEVINST devInst, CONFIGRET result, DEVINST before,
                      const DEVINST* after) {
    CNodeLog* node = NodeLog(log, devInst);
    if (node == nullptr)
        return;
    CCmAnswer a;
    a.m_cr = result;
    if (after != nullptr) {
        a.m_target = *after;
        a.m_bWritten = *after != before;
    }
    if (result == CR_SUCCESS && a.m_bWritten)
        NodeLog(log, a.m_target);
    node->m_mapCalls[{op, 0}].Add(a);
}

}  // namespace

struct CMachineRecorder::CTargets {
    enum class EKind { Controller, Hub };
    struct CFile {
        EKind m_kind;
        std::string m_strKey;
    };
    struct CSet {
        CInterfaceSetLog* m_pLog = nullptr;
        bool m_bHostControllers = false;
        std::optional<DWORD> m_optLast;  // the member index enumerated last
    };
    std::map<HANDLE, CFile> m_mapFiles;
    std::map<HDEVINFO, CSet> m_mapSets;
    std::set<std::string> m_setControllerPaths;  // upper-cased interface paths
};

CMachineRecorder::CMachineRecorder(IPlatform& backend)
    : m_backend(backend),
      m_pLog(std::make_unique<CCaptureLog>()),
      m_pTargets(std::make_unique<CTargets>()) {}

CMachineRecorder::~CMachineRecorder() = default;

const std::vector<std::string>& CMachineRecorder::Notes() const {
    return m_pLog->m_vNotes;
}

CMachineModel CMachineRecorder::BuildModel() {
    return BuildCapturedModel(*m_pLog, m_backend);
}

std::string CaptureFixtureText(CMachineRecorder& recorder) {
    CMachineModel model = recorder.BuildModel();
    std::vector<std::string> comments = {
        "A machine as one scan saw it, written by keyscout-list --capture; replay it with",
        "keyscout-list --machine FILE (format: tests/data/README.md)."};
    for (const std::string& note : recorder.Notes())
        comments.push_back(note);
    return WriteMachineFixture(model, comments);
}

void CMachineRecorder::BeginScan() {
    m_backend.BeginScan();
}

// --- Device I/O -------------------------------------------------------------------------

HANDLE CMachineRecorder::CreateFileA(const char* path, DWORD desiredAccess, DWORD shareMode,
                                     void* securityAttributes, DWORD creationDisposition,
                                     DWORD flagsAndAttributes, HANDLE templateFile) {
    HANDLE h = m_backend.CreateFileA(path, desiredAccess, shareMode, securityAttributes,
                                     creationDisposition, flagsAndAttributes, templateFile);
    if (path == nullptr)
        return h;
    // The program takes a null handle for a failed open, as it takes the invalid one.
    const bool opened = h != INVALID_HANDLE_VALUE && h != nullptr;
    const std::string text = TextIn(path, kMaxKeptOutput);
    const std::string upper = UpperAscii(text);
    std::optional<CTargets::CFile> file;
    const std::optional<int> hcd = HcdNumber(upper);
    if (hcd || m_pTargets->m_setControllerPaths.count(upper)) {
        CControllerLog& log = m_pLog->m_mapControllers[upper];
        if (log.m_strPath.empty())
            log.m_strPath = text;
        log.m_optHcd = hcd;
        log.m_bInterface = !hcd;
        if (!log.m_optOpened)
            log.m_optOpened = opened;
        file = CTargets::CFile{CTargets::EKind::Controller, upper};
    } else if (upper.size() > kDevicePrefix.size() &&
               std::string_view(upper).substr(0, kDevicePrefix.size()) == kDevicePrefix) {
        const std::string key = upper.substr(kDevicePrefix.size());
        CHubLog& log = m_pLog->m_mapHubs[key];
        if (log.m_strName.empty())
            log.m_strName = text.substr(kDevicePrefix.size());
        if (!log.m_optOpened)
            log.m_optOpened = opened;
        file = CTargets::CFile{CTargets::EKind::Hub, key};
    }
    if (opened && file)
        m_pTargets->m_mapFiles[h] = *file;
    return h;
}

BOOL CMachineRecorder::DeviceIoControl(HANDLE device, DWORD code, void* in, DWORD inSize, void* out,
                                       DWORD outSize, DWORD* bytesReturned, void* overlapped) {
    auto file = m_pTargets->m_mapFiles.find(device);
    if (file == m_pTargets->m_mapFiles.end())
        return m_backend.DeviceIoControl(device, code, in, inSize, out, outSize, bytesReturned,
                                         overlapped);
    // What the request names is read before the call: the reply may overwrite it.
    const bool hasPort = in != nullptr && inSize >= 4;
    const DWORD port = hasPort ? Le32(in) : 0;
    const bool hasSetup = in != nullptr && inSize >= kDescriptorRequestHeaderSize;
    const WORD wValue = hasSetup ? Le16(static_cast<const BYTE*>(in) + 6) : 0;
    const WORD wIndex = hasSetup ? Le16(static_cast<const BYTE*>(in) + 8) : 0;
    const std::vector<BYTE> before = Snapshot(out, outSize);

    const BOOL result = m_backend.DeviceIoControl(device, code, in, inSize, out, outSize,
                                                  bytesReturned, overlapped);

    CIoAnswer answer;
    answer.m_dwOutSize = outSize;
    answer.m_bResult = result;
    answer.m_dwReturned = bytesReturned != nullptr ? *bytesReturned : 0;
    answer.m_vOut = Snapshot(out, outSize);
    answer.m_bWritten = answer.m_vOut != before;

    const CTargets::CFile& target = file->second;
    if (target.m_kind == CTargets::EKind::Controller) {
        CControllerLog& log = m_pLog->m_mapControllers[target.m_strKey];
        if (code == IOCTL_GET_HCD_DRIVERKEY_NAME)
            log.m_driverKey.Add(std::move(answer));
        else if (code == IOCTL_USB_GET_ROOT_HUB_NAME)
            log.m_rootHubName.Add(std::move(answer));
        return result;
    }
    CHubLog& hub = m_pLog->m_mapHubs[target.m_strKey];
    if (code == IOCTL_USB_GET_NODE_INFORMATION) {
        hub.m_nodeInformation.Add(std::move(answer));
        return result;
    }
    if (!hasPort)
        return result;
    CPortLog& p = hub.m_mapPorts[port];
    switch (code) {
        case IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX:
            p.m_connectionEx.Add(std::move(answer));
            break;
        case IOCTL_USB_GET_NODE_CONNECTION_INFORMATION:
            p.m_connection.Add(std::move(answer));
            break;
        case IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME:
            p.m_driverKey.Add(std::move(answer));
            break;
        case IOCTL_USB_GET_NODE_CONNECTION_NAME:
            p.m_nodeName.Add(std::move(answer));
            break;
        case IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION:
            // Only string descriptors are asked for.
            if (hasSetup && (wValue >> 8) == 3)
                p.m_mapStrings[{static_cast<BYTE>(wValue & 0xFF), wIndex}].Add(std::move(answer));
            break;
        default:
            break;
    }
    return result;
}

BOOL CMachineRecorder::CloseHandle(HANDLE handle) {
    const BOOL result = m_backend.CloseHandle(handle);
    if (result)
        m_pTargets->m_mapFiles.erase(handle);
    return result;
}

int CMachineRecorder::WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR16* src,
                                          int srcLen, char* dst, int dstSize,
                                          const char* defaultChar, BOOL* usedDefaultChar) {
    return m_backend.WideCharToMultiByte(codePage, flags, src, srcLen, dst, dstSize, defaultChar,
                                         usedDefaultChar);
}

// --- Setup API --------------------------------------------------------------------------

HDEVINFO CMachineRecorder::SetupDiGetClassDevsA(const GUID* classGuid, const char* enumerator,
                                                HWND parent, DWORD flags) {
    HDEVINFO set = m_backend.SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
    if (classGuid == nullptr)
        return set;
    CInterfaceSetLog* log = nullptr;
    const bool controllers = *classGuid == GUID_DEVINTERFACE_USB_HOST_CONTROLLER;
    if (controllers)
        log = &m_pLog->m_controllerInterfaces;
    else if (*classGuid == GUID_DEVINTERFACE_VOLUME)
        log = &m_pLog->m_volumeInterfaces;
    if (log == nullptr)
        return set;
    const bool first = !log->m_bAsked;
    log->m_bAsked = true;
    if (set == INVALID_HANDLE_VALUE) {
        if (first)
            log->m_bSetFailed = true;
        return set;
    }
    // Only the first set of a class is recorded; a scan opens each once.
    if (first)
        m_pTargets->m_mapSets[set] = CTargets::CSet{log, controllers, std::nullopt};
    return set;
}

BOOL CMachineRecorder::SetupDiEnumDeviceInterfaces(HDEVINFO set, SP_DEVINFO_DATA* deviceInfo,
                                                   const GUID* classGuid, DWORD memberIndex,
                                                   SP_DEVICE_INTERFACE_DATA* interfaceData) {
    const BOOL result = m_backend.SetupDiEnumDeviceInterfaces(set, deviceInfo, classGuid,
                                                              memberIndex, interfaceData);
    auto it = m_pTargets->m_mapSets.find(set);
    if (it == m_pTargets->m_mapSets.end())
        return result;
    CTargets::CSet& s = it->second;
    s.m_optLast.reset();
    // Members are enumerated by index from 0 until the first that fails.
    if (result && memberIndex == s.m_pLog->m_vInterfaces.size() &&
        s.m_pLog->m_vInterfaces.size() < kMaxNodes) {
        s.m_pLog->m_vInterfaces.emplace_back();
        s.m_optLast = memberIndex;
    } else if (result && memberIndex < s.m_pLog->m_vInterfaces.size()) {
        s.m_optLast = memberIndex;
    }
    return result;
}

BOOL CMachineRecorder::SetupDiGetDeviceInterfaceDetailA(HDEVINFO set,
                                                        SP_DEVICE_INTERFACE_DATA* interfaceData,
                                                        SP_DEVICE_INTERFACE_DETAIL_DATA_A* detail,
                                                        DWORD detailSize, DWORD* requiredSize,
                                                        SP_DEVINFO_DATA* deviceInfo) {
    const BOOL result = m_backend.SetupDiGetDeviceInterfaceDetailA(
        set, interfaceData, detail, detailSize, requiredSize, deviceInfo);
    auto it = m_pTargets->m_mapSets.find(set);
    if (it == m_pTargets->m_mapSets.end() || !it->second.m_optLast)
        return result;
    CTargets::CSet& s = it->second;
    CInterfaceLog& itf = s.m_pLog->m_vInterfaces[*s.m_optLast];
    if (detail == nullptr) {
        if (!itf.m_optRequired)
            itf.m_optRequired = requiredSize != nullptr ? *requiredSize : 0;
        return result;
    }
    if (itf.m_optDetail)
        return result;
    itf.m_optDetail = result;
    if (result && detailSize > kDevicePathOffset) {
        itf.m_strPath = TextIn(reinterpret_cast<const char*>(detail) + kDevicePathOffset,
                               detailSize - kDevicePathOffset);
        if (deviceInfo != nullptr)
            itf.m_optDevInst = deviceInfo->DevInst;
        if (s.m_bHostControllers)
            m_pTargets->m_setControllerPaths.insert(UpperAscii(itf.m_strPath));
    }
    return result;
}

BOOL CMachineRecorder::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    const BOOL result = m_backend.SetupDiDestroyDeviceInfoList(set);
    if (result)
        m_pTargets->m_mapSets.erase(set);
    return result;
}

// --- Configuration manager --------------------------------------------------------------

CONFIGRET CMachineRecorder::CM_Locate_DevNodeA(DEVINST* devInst, const char* deviceId,
                                               ULONG flags) {
    const DEVINST before = devInst != nullptr ? *devInst : 0;
    const CONFIGRET cr = m_backend.CM_Locate_DevNodeA(devInst, deviceId, flags);
    CCmAnswer a;
    a.m_cr = cr;
    if (devInst != nullptr) {
        a.m_target = *devInst;
        a.m_bWritten = *devInst != before;
    }
    if (cr == CR_SUCCESS && a.m_bWritten)
        NodeLog(*m_pLog, a.m_target);
    if (deviceId == nullptr || deviceId[0] == '\0') {
        if (!m_pLog->m_optRootLocate)
            m_pLog->m_optRootLocate = a;
        return cr;
    }
    const std::string id = TextIn(deviceId, kMaxKeptOutput);
    CIdLog& log = m_pLog->m_mapIds[UpperAscii(id)];
    if (log.m_strId.empty())
        log.m_strId = id;
    log.m_locate.Add(a);
    return cr;
}

CONFIGRET CMachineRecorder::CM_Get_Child(DEVINST* child, DEVINST devInst, ULONG flags) {
    const DEVINST before = child != nullptr ? *child : 0;
    const CONFIGRET cr = m_backend.CM_Get_Child(child, devInst, flags);
    RecordNavigation(*m_pLog, ECmOp::Child, devInst, cr, before, child);
    return cr;
}

CONFIGRET CMachineRecorder::CM_Get_Sibling(DEVINST* sibling, DEVINST devInst, ULONG flags) {
    const DEVINST before = sibling != nullptr ? *sibling : 0;
    const CONFIGRET cr = m_backend.CM_Get_Sibling(sibling, devInst, flags);
    RecordNavigation(*m_pLog, ECmOp::Sibling, devInst, cr, before, sibling);
    return cr;
}

CONFIGRET CMachineRecorder::CM_Get_Parent(DEVINST* parent, DEVINST devInst, ULONG flags) {
    const DEVINST before = parent != nullptr ? *parent : 0;
    const CONFIGRET cr = m_backend.CM_Get_Parent(parent, devInst, flags);
    RecordNavigation(*m_pLog, ECmOp::Parent, devInst, cr, before, parent);
    return cr;
}

CONFIGRET CMachineRecorder::CM_Get_Device_IDA(DEVINST devInst, char* buffer, ULONG length,
                                              ULONG flags) {
    const std::vector<BYTE> before = Snapshot(buffer, length);
    const CONFIGRET cr = m_backend.CM_Get_Device_IDA(devInst, buffer, length, flags);
    if (CNodeLog* node = NodeLog(*m_pLog, devInst)) {
        CCmAnswer a;
        a.m_cr = cr;
        a.m_ulBuffer = length;
        a.m_bWritten = Snapshot(buffer, length) != before;
        a.m_strData = TextIn(buffer, length);
        node->m_mapCalls[{ECmOp::DeviceId, 0}].Add(a);
    }
    return cr;
}

CONFIGRET CMachineRecorder::CM_Get_Device_ID_List_SizeA(ULONG* length, const char* filter,
                                                        ULONG flags) {
    const ULONG before = length != nullptr ? *length : 0;
    const CONFIGRET cr = m_backend.CM_Get_Device_ID_List_SizeA(length, filter, flags);
    if (filter != nullptr && flags == CM_GETIDLIST_FILTER_REMOVALRELATIONS) {
        CCmAnswer a;
        a.m_cr = cr;
        if (length != nullptr) {
            a.m_ulLength = *length;
            a.m_bWritten = *length != before;
        }
        const std::string id = TextIn(filter, kMaxKeptOutput);
        CIdLog& log = m_pLog->m_mapIds[UpperAscii(id)];
        if (log.m_strId.empty())
            log.m_strId = id;
        log.m_relationsSize.Add(a);
    }
    return cr;
}

CONFIGRET CMachineRecorder::CM_Get_Device_ID_ListA(const char* filter, char* buffer, ULONG length,
                                                   ULONG flags) {
    const std::vector<BYTE> before = Snapshot(buffer, length);
    const CONFIGRET cr = m_backend.CM_Get_Device_ID_ListA(filter, buffer, length, flags);
    if (filter != nullptr && flags == CM_GETIDLIST_FILTER_REMOVALRELATIONS) {
        CCmAnswer a;
        a.m_cr = cr;
        a.m_ulBuffer = length;
        const std::vector<BYTE> after = Snapshot(buffer, length);
        a.m_bWritten = after != before;
        a.m_strData.assign(after.begin(), after.end());
        const std::string id = TextIn(filter, kMaxKeptOutput);
        CIdLog& log = m_pLog->m_mapIds[UpperAscii(id)];
        if (log.m_strId.empty())
            log.m_strId = id;
        log.m_relationsList.Add(a);
    }
    return cr;
}

CONFIGRET CMachineRecorder::CM_Get_DevNode_Status(ULONG* status, ULONG* problemNumber,
                                                  DEVINST devInst, ULONG flags) {
    const ULONG statusBefore = status != nullptr ? *status : 0;
    const ULONG problemBefore = problemNumber != nullptr ? *problemNumber : 0;
    const CONFIGRET cr = m_backend.CM_Get_DevNode_Status(status, problemNumber, devInst, flags);
    if (CNodeLog* node = NodeLog(*m_pLog, devInst)) {
        CCmAnswer a;
        a.m_cr = cr;
        a.m_ulStatus = status != nullptr ? *status : 0;
        a.m_ulProblem = problemNumber != nullptr ? *problemNumber : 0;
        a.m_bWritten = a.m_ulStatus != statusBefore || a.m_ulProblem != problemBefore;
        node->m_mapCalls[{ECmOp::Status, 0}].Add(a);
    }
    return cr;
}

CONFIGRET CMachineRecorder::CM_Get_DevNode_Registry_PropertyA(DEVINST devInst, ULONG property,
                                                              ULONG* regDataType, void* buffer,
                                                              ULONG* length, ULONG flags) {
    const ULONG lengthBefore = length != nullptr ? *length : 0;
    const std::vector<BYTE> before = Snapshot(buffer, lengthBefore);
    const CONFIGRET cr = m_backend.CM_Get_DevNode_Registry_PropertyA(devInst, property, regDataType,
                                                                     buffer, length, flags);
    if (CNodeLog* node = NodeLog(*m_pLog, devInst)) {
        CCmAnswer a;
        a.m_cr = cr;
        a.m_ulBuffer = buffer != nullptr ? lengthBefore : 0;
        a.m_ulLength = length != nullptr ? *length : 0;
        const std::vector<BYTE> after = Snapshot(buffer, lengthBefore);
        a.m_bWritten = after != before || a.m_ulLength != lengthBefore;
        // Kept: as far as the value reaches, by its length or its first NUL.
        std::size_t keep = std::find(after.begin(), after.end(), BYTE(0)) - after.begin() + 1;
        if (a.m_ulLength <= after.size())
            keep = std::max<std::size_t>(keep, a.m_ulLength);
        a.m_strData.assign(after.begin(), after.begin() + static_cast<std::ptrdiff_t>(
                                                              std::min(keep, after.size())));
        const ECmOp op = buffer == nullptr ? ECmOp::PropertySize : ECmOp::PropertyRead;
        node->m_mapCalls[{op, property}].Add(a);
    }
    return cr;
}

// --- Volume mount points ----------------------------------------------------------------

BOOL CMachineRecorder::GetVolumeNameForVolumeMountPointA(const char* mountPoint, char* volumeName,
                                                         DWORD length) {
    const std::vector<BYTE> before = Snapshot(volumeName, length);
    const BOOL result = m_backend.GetVolumeNameForVolumeMountPointA(mountPoint, volumeName, length);
    if (mountPoint == nullptr)
        return result;
    CMountAnswer a;
    a.m_bResult = result;
    a.m_bWritten = Snapshot(volumeName, length) != before;
    a.m_strName = TextIn(volumeName, length);
    const std::string point = TextIn(mountPoint, kMaxKeptOutput);
    const bool root =
        point.size() == 3 && point[1] == ':' && point[2] == '\\' &&
        ((point[0] >= 'A' && point[0] <= 'Z') || (point[0] >= 'a' && point[0] <= 'z'));
    if (root) {
        const char letter = UpperAscii(point.substr(0, 1))[0];
        m_pLog->m_mapRootMounts.emplace(letter, a);
    } else if (point.size() > 1 && point.back() == '\\') {
        m_pLog->m_mapInterfaceMounts.emplace(UpperAscii(point.substr(0, point.size() - 1)), a);
    }
    return result;
}

}  // namespace ks

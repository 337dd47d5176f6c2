#include "devmgr/VolumeTable.h"

#include <algorithm>

#include "devmgr/DevNodeQueries.h"
#include "devmgr/DeviceInterfaces.h"
#include "platform/Platform.h"

namespace ks {

namespace {

constexpr DWORD kMaxPath = 260;

// The volume name of a mount point, or empty when the call does not answer exactly 1.
bool VolumeNameOf(const char* mountPoint, CString& name) {
    char buffer[kMaxPath] = {};
    if (Platform().GetVolumeNameForVolumeMountPointA(mountPoint, buffer, kMaxPath) != 1)
        return false;
    std::size_t n = 0;
    while (n < kMaxPath && buffer[n] != '\0')
        ++n;
    name = CString(buffer, static_cast<int>(n));
    return true;
}

}  // namespace

void CVolumeTableBuilder::Refresh() {
    if (m_pTable != nullptr)
        m_pTable->clear();
    CollectDriveLetters();
    CollectVolumeInterfaces();
}

void CVolumeTableBuilder::AddVolumeEntry(const CVolumeEntry& entry) {
    if (m_pTable != nullptr)
        m_pTable->push_back(entry);
}

void CVolumeTableBuilder::SetInterfaceInfo(const CString& volumeName, const CString& interfacePath,
                                           const CString& instanceId) {
    if (m_pTable == nullptr)
        return;
    for (CVolumeEntry& row : *m_pTable) {
        if (row.m_strVolumeName.CompareNoCase(volumeName) == 0) {
            row.m_strInterfacePath = interfacePath;
            row.m_strInstanceId = instanceId;
        }
    }
}

void CVolumeTableBuilder::CollectDriveLetters() {
    char root[4] = {'A', ':', '\\', '\0'};
    // 'A' to 'Y': Z is never examined.
    for (int index = 0; index < 25; ++index) {
        root[0] = static_cast<char>('A' + index);
        CString name;
        // A platform that answers success without a name has named no volume.
        if (VolumeNameOf(root, name) && !name.IsEmpty())
            AddVolumeEntry(CVolumeEntry(root[0], name));
    }
}

void CVolumeTableBuilder::CollectVolumeInterfaces() {
    ForEachDeviceInterface(
        GUID_DEVINTERFACE_VOLUME, true,
        [this](BOOL detailResult, CString& interfacePath, const SP_DEVINFO_DATA& devInfo) {
            if (detailResult != 1)
                return;
            interfacePath += "\\";
            CString volumeName;
            VolumeNameOf(interfacePath, volumeName);
            CString instanceId;
            DEVINST node = devInfo.DevInst;
            GetDevNodeDeviceId(node, instanceId);
            // An interface whose volume name cannot be read names no row.
            if (!volumeName.IsEmpty())
                SetInterfaceInfo(volumeName, interfacePath, instanceId);
        });
}

}  // namespace ks

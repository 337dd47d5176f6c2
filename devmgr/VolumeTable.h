// The volume table: one row per drive letter A to Y whose root names a volume, with the
// volume's name, the path of its volume interface and the instance ID of the device node
// that exposes the interface. Rebuilt at the start of every scan, on the scan worker thread.
#pragma once

#include <vector>

#include "framework/CString.h"

namespace ks {

class CVolumeEntry {
  public:
    CVolumeEntry() = default;
    CVolumeEntry(char letter, const CString& volumeName)
        : m_letter(letter), m_strVolumeName(volumeName) {}
    CVolumeEntry(const CVolumeEntry&) = default;
    CVolumeEntry& operator=(const CVolumeEntry&) = default;
    virtual ~CVolumeEntry() = default;

    char m_letter = 0;  // 'A' to 'Y'
    CString m_strVolumeName;
    CString m_strInterfacePath;  // the volume interface's device path with "\" appended
    CString m_strInstanceId;     // the node that exposes that interface
};

// Fills a volume table (not owned; may be null, and then nothing is recorded). Rows are
// added only through AddVolumeEntry and changed only through SetInterfaceInfo.
class CVolumeTableBuilder {
  public:
    explicit CVolumeTableBuilder(std::vector<CVolumeEntry>* table) : m_pTable(table) {}
    CVolumeTableBuilder(const CVolumeTableBuilder&) = delete;
    CVolumeTableBuilder& operator=(const CVolumeTableBuilder&) = delete;
    virtual ~CVolumeTableBuilder() = default;

    // Empties the table, then collects the drive letters and the volume interfaces.
    virtual void Refresh();
    virtual void AddVolumeEntry(const CVolumeEntry& entry);
    // Every row whose volume name equals volumeName (without regard to case) takes the
    // interface path and instance ID.
    virtual void SetInterfaceInfo(const CString& volumeName, const CString& interfacePath,
                                  const CString& instanceId);

    void CollectDriveLetters();
    void CollectVolumeInterfaces();

    std::vector<CVolumeEntry>* m_pTable;
};

}  // namespace ks

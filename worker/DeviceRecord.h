// A device as handed to the window (CDeviceRecord: identity and details tree) and the
// ordered result list of one scan (CDeviceRecordList). Values: every copy is deep, so no
// record or tree node is shared between threads. One thread uses one object at a time.
#pragma once

#include "devices/DetailNode.h"
#include "devices/UsbDeviceEntry.h"
#include "framework/Collections.h"

namespace ks {

class CDeviceIdentity {
  public:
    CDeviceIdentity() = default;
    CDeviceIdentity(const CDeviceIdentity&) = default;
    CDeviceIdentity& operator=(const CDeviceIdentity&) = default;
    virtual ~CDeviceIdentity() = default;

    WORD m_wVendorId = 0;
    WORD m_wProductId = 0;
    CString m_strSerial;
};

class CDeviceRecord : public CDeviceIdentity {
  public:
    CDeviceRecord() = default;
    CDeviceRecord(const CDeviceRecord&) = default;
    CDeviceRecord& operator=(const CDeviceRecord&) = default;
    ~CDeviceRecord() override = default;

    CDetailNode m_details;  // root of the details tree; its text is the device's display name
};

class CDeviceRecordList {
  public:
    CDeviceRecordList() = default;
    CDeviceRecordList(const CDeviceRecordList& other) { *this = other; }
    CDeviceRecordList& operator=(const CDeviceRecordList& other);
    virtual ~CDeviceRecordList() = default;

    void Add(const CDeviceRecord& record) { m_list.AddTail(record); }
    void RemoveAll() { m_list.RemoveAll(); }
    int GetCount() const { return m_list.GetCount(); }
    bool IsEmpty() const { return m_list.IsEmpty(); }
    POSITION GetHeadPosition() const { return m_list.GetHeadPosition(); }
    const CDeviceRecord& GetNext(POSITION& pos) const { return m_list.GetNext(pos); }
    // The n-th record (from 0), reached by walking from the first; nullptr past the end.
    const CDeviceRecord* GetAt(int index) const;

  private:
    CList<CDeviceRecord, const CDeviceRecord&> m_list{10};
};

// The label of one device node: its friendly name, else its description, followed by
// " - (E:)" when it carries a drive letter.
CString MakeNodeLabel(const CDevNodeInfo& info);
// Mirrors the children of a device node below `mirror`, level by level, in child order.
void CopyDeviceTree(const CDevNodeTree::Node& node, CDetailNode& mirror);
// The record the window shows for one scanned device.
CDeviceRecord BuildDeviceRecord(const CUsbDeviceEntry& entry);

}  // namespace ks

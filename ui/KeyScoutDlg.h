// CKeyScoutDlg: the main window (template 102). It tells the user what to do, lists the
// USB devices of the last scan, shows the ids, the serial number and the details tree of the
// selected one, registers with the scan worker for its results, asks for the first scan and
// for a new one whenever the system broadcasts a device change, and opens the About box from
// the system menu.
//
// A rescan keeps the user's selection on the device they chose: broadcasts come for any
// device of the machine, and a user copying a serial number must not find another device's
// in the field without having touched anything. Whenever the list shows no selected line,
// the fields and the details tree are empty.
//
// Threads: everything runs on the window thread. The worker is reached through the
// application object, whose worker is set for the whole life of the window; results arrive
// as the posted message WM_KEYSCOUT_SCAN, so m_records is touched by this thread alone.
#pragma once

#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "ui/DetailTreeCtrl.h"
#include "worker/DeviceRecord.h"

namespace ks {

class CKeyScoutThread;

class CKeyScoutDlg : public CDialog {
  public:
    DECLARE_DYNAMIC(CKeyScoutDlg)
    explicit CKeyScoutDlg(CWnd* parent = nullptr);

    CDetailTreeCtrl m_treeDetails;  // control 1002
    CListCtrl m_listHardware;       // control 1003
    CString m_strProductId;         // edit 1009
    CString m_strSerial;            // edit 1010
    CString m_strVendorId;          // edit 1008
    HICON m_hIcon = nullptr;        // icon 128
    CDeviceRecordList m_records;    // this window's copy of the last published list

  protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;

    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnHardwareItemChanged(NMHDR* header, LRESULT* result);
    void OnDestroy();
    LRESULT OnResultsReady(WPARAM wParam, LPARAM lParam);
    BOOL OnDeviceChange(UINT eventType, DWORD_PTR data);
    // WM_DPICHANGED: the window moved to a monitor of another DPI.
    LRESULT OnDpiChanged(WPARAM wParam, LPARAM lParam);

    // Refills the hardware list from `records` (nullptr: empties it) and selects line
    // `select`, scrolled into view (line 0 when there is no such line).
    void FillHardwareList(const CDeviceRecordList* records, int select = 0);

    DECLARE_MESSAGE_MAP()

  private:
    // The application object's worker; nullptr when there is none.
    static CKeyScoutThread* Worker();
    // The index in m_records of the record on the selected line; -1 when no line is
    // selected or its data names no record.
    int SelectedRecord() const;
    // Shows the record of the selected line in the fields and the tree, or nothing.
    void ShowSelection();
};

}  // namespace ks

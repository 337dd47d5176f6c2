#include "ui/KeyScoutDlg.h"

#include <iterator>
#include <optional>

#include "app/KeyScoutApp.h"
#include "res/resource.h"
#include "ui/AboutDlg.h"
#include "ui/DisplayText.h"

namespace ks {

namespace {
// The About item's command id. The system keeps the low four bits of a system-menu command
// for itself, so commands are compared after masking them off.
constexpr UINT kAboutCommand = 0x0010;
constexpr UINT kSystemCommandMask = 0xFFF0;

// Two records are the same device, as far as the user can tell them apart, when their ids,
// serial numbers and names agree.
bool SameDevice(const CDeviceRecord& a, const CDeviceRecord& b) {
    return a.m_wVendorId == b.m_wVendorId && a.m_wProductId == b.m_wProductId &&
           a.m_strSerial == b.m_strSerial && a.m_details.m_strText == b.m_details.m_strText;
}

// A device as the list showed it: a copy of its record and its place among the records of
// the same device (0: the first of them), which tells two identical sticks apart.
struct CChosenDevice {
    CDeviceRecord record;
    int rank = 0;
};

CChosenDevice ChooseDevice(const CDeviceRecordList& records, int index) {
    CChosenDevice chosen{*records.GetAt(index), 0};
    int i = 0;
    for (POSITION pos = records.GetHeadPosition(); pos != nullptr && i < index; ++i)
        chosen.rank += SameDevice(records.GetNext(pos), chosen.record) ? 1 : 0;
    return chosen;
}

// The index of the chosen device in `records`, or -1 when it is not there.
int FindDevice(const CDeviceRecordList& records, const CChosenDevice& chosen) {
    int rank = 0;
    int i = 0;
    for (POSITION pos = records.GetHeadPosition(); pos != nullptr; ++i) {
        if (SameDevice(records.GetNext(pos), chosen.record) && rank++ == chosen.rank)
            return i;
    }
    return -1;
}
}  // namespace

IMPLEMENT_DYNAMIC(CKeyScoutDlg, CDialog)

BEGIN_MESSAGE_MAP(CKeyScoutDlg, CDialog)
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_NOTIFY(LVN_ITEMCHANGED, IDC_LIST_HARDWARE, OnHardwareItemChanged)
ON_WM_DESTROY()
ON_MESSAGE(WM_KEYSCOUT_SCAN, OnResultsReady)
ON_WM_DEVICECHANGE()
ON_MESSAGE(WM_DPICHANGED, OnDpiChanged)
END_MESSAGE_MAP()

CKeyScoutDlg::CKeyScoutDlg(CWnd* parent) : CDialog(IDD_KEYSCOUT_DIALOG, parent) {
    m_hIcon = LoadIconA(IDR_MAINFRAME);
}

CKeyScoutThread* CKeyScoutDlg::Worker() {
    // The program's application object is always a CKeyScoutApp.
    auto* app = static_cast<CKeyScoutApp*>(AfxGetApp());
    return app != nullptr ? app->m_pScanThread : nullptr;
}

void CKeyScoutDlg::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_TREE_DETAILS, m_treeDetails);
    DDX_Control(dx, IDC_LIST_HARDWARE, m_listHardware);
    DDX_Text(dx, IDC_EDIT_PRODUCT_ID, m_strProductId);
    DDX_Text(dx, IDC_EDIT_SERIAL, m_strSerial);
    DDX_Text(dx, IDC_EDIT_VENDOR_ID, m_strVendorId);
}

BOOL CKeyScoutDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    if (HMENU menu = GetSystemMenu(FALSE); menu != nullptr) {
        // The item's text as the resource holds it, in UTF-16: the system's ANSI code page
        // need not be the Japanese one that can spell it.
        char16_t about[256] = {};
        if (LoadStringW(IDS_ABOUTBOX, about, static_cast<int>(std::size(about))) > 0) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuW(menu, MF_STRING, kAboutCommand, about);
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    // One left-aligned column without a heading, as wide as the list.
    LVCOLUMNA column;
    column.mask = LVCF_FMT;
    column.fmt = LVCFMT_LEFT;
    m_listHardware.InsertColumn(1, &column);
    m_listHardware.SetColumnWidth(0, LVSCW_AUTOSIZE_USEHEADER);

    FillHardwareList(nullptr);

    // Registration comes first: no notification can then reach a window that the worker
    // does not know.
    if (CKeyScoutThread* worker = Worker()) {
        worker->RegisterWindow(m_hWnd, WM_KEYSCOUT_SCAN);
        worker->RequestScan();
    }
    return TRUE;
}

void CKeyScoutDlg::OnSysCommand(UINT id, LPARAM lParam) {
    if ((id & kSystemCommandMask) == kAboutCommand) {
        CAboutDlg about;
        about.DoModal();
    } else {
        CDialog::OnSysCommand(id, lParam);
    }
}

void CKeyScoutDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    const int x = (rect.right - rect.left - cxIcon + 1) / 2;
    const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CKeyScoutDlg::OnQueryDragIcon() {
    return m_hIcon;
}

void CKeyScoutDlg::OnHardwareItemChanged(NMHDR*, LRESULT* result) {
    ShowSelection();
    *result = 0;
}

int CKeyScoutDlg::SelectedRecord() const {
    const int selected = m_listHardware.GetNextItem(-1, LVNI_SELECTED);
    if (selected == -1)
        return -1;
    const DWORD_PTR index = m_listHardware.GetItemData(selected);
    // An item whose data names no record shows nothing.
    return index < static_cast<DWORD_PTR>(m_records.GetCount()) ? static_cast<int>(index) : -1;
}

void CKeyScoutDlg::ShowSelection() {
    // Runs for every change of any line's state, a deselection included: the fields are
    // cleared first and then show whatever line is selected now.
    m_strSerial.Empty();
    m_strProductId.Empty();
    m_strVendorId.Empty();
    m_treeDetails.ShowTree(nullptr);

    if (const int index = SelectedRecord(); index != -1) {
        const CDeviceRecord* record = m_records.GetAt(index);
        m_strSerial = DisplayText(record->m_strSerial);
        m_strProductId.Format("0x%04X", static_cast<unsigned>(record->m_wProductId));
        m_strVendorId.Format("0x%04X", static_cast<unsigned>(record->m_wVendorId));
        m_treeDetails.ShowTree(&record->m_details);
    }
    UpdateData(FALSE);
}

void CKeyScoutDlg::OnDestroy() {
    CDialog::OnDestroy();
    if (CKeyScoutThread* worker = Worker())
        worker->UnregisterWindow(m_hWnd);
}

LRESULT CKeyScoutDlg::OnResultsReady(WPARAM, LPARAM) {
    // The device the user is looking at: the refilled list shows it again if it is still
    // there, at whatever line the new scan found it.
    std::optional<CChosenDevice> chosen;
    if (const int index = SelectedRecord(); index != -1)
        chosen = ChooseDevice(m_records, index);
    if (CKeyScoutThread* worker = Worker())
        worker->GetResults(m_records);
    FillHardwareList(&m_records, chosen ? FindDevice(m_records, *chosen) : 0);
    return 0;
}

BOOL CKeyScoutDlg::OnDeviceChange(UINT eventType, DWORD_PTR data) {
    // Every kind of device-change broadcast asks for a scan; the worker folds bursts.
    if (CKeyScoutThread* worker = Worker())
        worker->RequestScan();
    return CDialog::OnDeviceChange(eventType, data);
}

LRESULT CKeyScoutDlg::OnDpiChanged(WPARAM, LPARAM) {
    // The window is laid out anew for the monitor it moved to; the list's one column, sized
    // to the list when the window opened, is made to span the list again.
    const LRESULT result = Default();
    m_listHardware.SetColumnWidth(0, LVSCW_AUTOSIZE_USEHEADER);
    return result;
}

void CKeyScoutDlg::FillHardwareList(const CDeviceRecordList* records, int select) {
    // Deleting the lines sends no item-changed notification: what the fields and the tree
    // show is settled below, whatever the new list holds.
    m_listHardware.DeleteAllItems();
    if (records != nullptr) {
        int index = 0;
        for (POSITION pos = records->GetHeadPosition(); pos != nullptr; ++index) {
            const CDeviceRecord& record = records->GetNext(pos);
            // One line per device, whatever its name holds.
            m_listHardware.InsertItem(
                LVIF_TEXT | LVIF_PARAM | LVIF_STATE, m_listHardware.GetItemCount(),
                DisplayText(record.m_details.m_strText), 0, 0, 0, static_cast<LPARAM>(index));
        }
        if (select < 0 || select >= index)
            select = 0;
        // With an empty list there is no such item and nothing happens; otherwise the
        // selection raises the item-changed notification that shows the line.
        m_listHardware.SetItemState(select, LVIS_SELECTED | LVIS_FOCUSED,
                                    LVIS_SELECTED | LVIS_FOCUSED);
        if (index > 0)
            m_listHardware.EnsureVisible(select, FALSE);
    }
    // No line selected (the last device was pulled out): the details of a device that is
    // gone must not stay on show.
    if (m_listHardware.GetNextItem(-1, LVNI_SELECTED) == -1)
        ShowSelection();
}

}  // namespace ks

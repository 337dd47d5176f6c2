#include "tools/keyscout-list/ListScan.h"

#include "app/ScanThreadControl.h"
#include "framework/Wnd.h"

namespace ks {

namespace {
class CResultsWindow : public CWnd {
  public:
    bool m_bNotified = false;
    LRESULT WindowProc(UINT message, WPARAM, LPARAM) override {
        if (message == WM_KEYSCOUT_SCAN)
            m_bNotified = true;
        return 0;
    }
};
}  // namespace

bool RunOneScan(CDeviceRecordList& records) {
    CKeyScoutThread* thread = nullptr;
    StartScanThread(thread);
    if (thread == nullptr)
        return false;
    CResultsWindow window;
    if (!window.CreateMessageOnly()) {
        StopScanThread(thread);
        return false;
    }
    thread->RegisterWindow(window.GetSafeHwnd(), WM_KEYSCOUT_SCAN);
    thread->RequestScan();
    MSG msg;
    while (!window.m_bNotified && GetMessage(&msg))
        DispatchMessage(&msg);
    thread->GetResults(records);
    thread->UnregisterWindow(window.GetSafeHwnd());
    window.DestroyWindow();
    StopScanThread(thread);
    return true;
}

}  // namespace ks

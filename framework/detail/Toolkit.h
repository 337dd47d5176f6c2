// The seam between the framework's window functions on Linux and the toolkit that draws the
// windows (Qt). The framework keeps the window handles, the message queues, the routing of
// windows to their CWnd objects, the menus and the program's resources; a toolkit, when one
// is linked into the program, makes the displayed windows and answers for them everything
// that needs a widget: their default processing (a control's requests, a dialog's defaults),
// hierarchy, geometry, state, focus, painting and keyboard handling. A toolkit registers
// itself at static initialisation (InstallToolkit); without one only message-only windows
// exist. Every call comes on the toolkit's thread (the one that made the first window)
// unless it says otherwise.
#pragma once

#include <string>
#include <vector>

#include "framework/Messages.h"
#include "framework/WinUser.h"

namespace ks {
class CWnd;
}

namespace ks::detail {

class IToolkit {
  public:
    virtual ~IToolkit() = default;

    // Any thread: whether windows can be shown here (a display, or an offscreen platform).
    virtual bool Available() = 0;
    // On the thread that is to show the windows, before the first: connects to the display
    // that Available found; false when it cannot be reached after all (then no window can
    // be shown, as without a display).
    virtual bool Start() = 0;
    // Any thread: whether the calling thread is the toolkit's.
    virtual bool IsToolkitThread() = 0;
    // Runs the toolkit's events until at least one has been handled or `wakeFd` (an eventfd
    // written whenever a message is posted or sent to this thread) becomes readable.
    virtual void WaitForEvents(int wakeFd) = 0;
    // Runs the events that are pending now, without waiting.
    virtual void ProcessPendingEvents() = 0;

    virtual HWND CreateDialogFromTemplate(UINT templateId, HWND parent, CWnd* owner) = 0;
    // Sends WM_DESTROY and WM_NCDESTROY as Windows does (DeliverDestroy), forgets the
    // handles (ReleaseWindow) and removes the widgets.
    virtual BOOL DestroyWindow(HWND window) = 0;
    // The window's own processing of a message (what it does when no CWnd handles it).
    virtual LRESULT DefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;

    virtual HWND GetDlgItem(HWND dialog, int id) = 0;
    virtual int GetDlgCtrlID(HWND window) = 0;
    virtual HWND GetParent(HWND window) = 0;
    virtual HWND GetWindow(HWND window, UINT relation) = 0;
    virtual std::string GetClassName(HWND window) = 0;
    virtual LONG GetWindowLong(HWND window, int index) = 0;
    virtual BOOL GetClientRect(HWND window, RECT* rect) = 0;
    virtual BOOL GetWindowRect(HWND window, RECT* rect) = 0;
    // The screen position of the window's client area.
    virtual BOOL ClientOrigin(HWND window, POINT* origin) = 0;
    virtual BOOL MapDialogRect(HWND dialog, RECT* rect) = 0;
    virtual BOOL IsIconic(HWND window) = 0;
    virtual BOOL IsWindowVisible(HWND window) = 0;
    virtual BOOL IsWindowEnabled(HWND window) = 0;
    virtual BOOL EnableWindow(HWND window, BOOL enable) = 0;
    virtual BOOL ShowWindow(HWND window, int command) = 0;
    virtual HWND SetFocus(HWND window) = 0;
    virtual HWND GetFocus() = 0;
    virtual HWND GetActiveWindow() = 0;
    virtual HWND SetActiveWindow(HWND window) = 0;
    // The displayed top-level windows, oldest first.
    virtual std::vector<HWND> TopLevelWindows() = 0;
    virtual HMENU GetSystemMenu(HWND window, BOOL revert) = 0;
    virtual int GetSystemMetrics(int index) = 0;
    virtual UINT GetDpiForWindow(HWND window) = 0;
    virtual HDC BeginPaint(HWND window, PAINTSTRUCT* paint) = 0;
    virtual BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) = 0;
    virtual BOOL DrawIcon(HDC dc, int x, int y, HICON icon) = 0;
    virtual int GetObject(HFONT font, int size, void* buffer) = 0;
    virtual BOOL IsDialogMessage(HWND dialog, MSG* msg) = 0;
};

void InstallToolkit(IToolkit* toolkit);
IToolkit* Toolkit();

// For the toolkit: a handle for a new displayed window of the calling thread (a top-level
// one hears broadcasts), and its end.
HWND AllocateWindow(bool topLevel);
// Forgets a displayed window; a CWnd routed to it lets go of it (CWndAccess::Gone).
void ReleaseWindow(HWND window);
// Hands a message to a window of the calling thread: its CWnd if one is routed to it, else
// the toolkit's default processing.
LRESULT Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// A menu (HMENU points at one): its items in order. Menus are made by the toolkit
// (MakeMenu) and live as long as the program.
struct CMenuItem {
    UINT flags = 0;
    UINT_PTR id = 0;
    std::string text;
};
struct CMenuData {
    std::vector<CMenuItem> items;
};
HMENU MakeMenu();
// The menu behind a handle, or nullptr for a handle that names none.
CMenuData* MenuOf(HMENU menu);

// An icon of the program's resources (HICON points at one): its images, as the resource
// holds them, largest first. Icons are loaded once and live as long as the program.
struct CIconImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> argb;  // 0xAARRGGBB, top row first
};
struct CIconData {
    UINT id = 0;
    std::vector<CIconImage> images;
};
CIconData* IconOf(HICON icon);
// Bitmap `id` of the program's resources; false when there is none.
bool LoadBitmapImage(UINT id, CIconImage* image);

// A dialog template of the program's resources, its texts in the ANSI code page.
struct CDialogItemLayout {
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    std::string className;
    std::string text;
    bool textIsOrdinal = false;  // a picture's image resource
    WORD ordinal = 0;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
};
struct CDialogLayout {
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    std::string caption;
    bool hasFont = false;
    int pointSize = 0;
    int weight = 0;
    bool italic = false;
    BYTE charset = 0;
    std::string typeface;
    std::vector<CDialogItemLayout> items;
};
bool LoadDialogLayout(UINT templateId, CDialogLayout* tmpl);

}  // namespace ks::detail

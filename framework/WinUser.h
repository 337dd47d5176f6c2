// The window system as the framework's windows and everything above them see it: Windows'
// own shapes (messages, styles, the list-view and tree-view requests and notifications, their
// structures), in namespace ks. The Win32 backend forwards each function to its Windows
// namesake (ANSI variants) and checks, at compile time, that every layout and constant here is
// the SDK's; the Qt backend gives the same functions the same meaning for windows it renders
// itself from the same dialog templates.
//
// Threads: a window belongs to the thread that created it, and every function here that acts
// on a window is called on that thread, except PostMessage and IsWindow (any thread) and
// SendMessage, which from another thread waits until the window's thread has handled it.
#pragma once

#include <cstdint>

#include "framework/Messages.h"
#include "framework/WinTypes.h"

namespace ks {

using UINT_PTR = std::uintptr_t;
using INT_PTR = std::intptr_t;
using LONG_PTR = std::intptr_t;
using DWORD_PTR = std::uintptr_t;
using CHAR = char;

// Opaque handles, distinct types as in the SDK's STRICT mode.
struct HICON__;
struct HMENU__;
struct HDC__;
struct HFONT__;
struct HBITMAP__;
struct TREEITEM__;
using HICON = HICON__*;
using HCURSOR = HICON__*;
using HMENU = HMENU__*;
using HDC = HDC__*;
using HFONT = HFONT__*;
using HBITMAP = HBITMAP__*;
using HTREEITEM = TREEITEM__*;

struct POINT {
    LONG x = 0;
    LONG y = 0;
};

struct RECT {
    LONG left = 0;
    LONG top = 0;
    LONG right = 0;
    LONG bottom = 0;
    friend bool operator==(const RECT&, const RECT&) = default;
};

struct NMHDR {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT code;
};

struct NMLISTVIEW {
    NMHDR hdr;
    int iItem;
    int iSubItem;
    UINT uNewState;
    UINT uOldState;
    UINT uChanged;
    POINT ptAction;
    LPARAM lParam;
};

struct LVITEMA {
    UINT mask = 0;
    int iItem = 0;
    int iSubItem = 0;
    UINT state = 0;
    UINT stateMask = 0;
    char* pszText = nullptr;
    int cchTextMax = 0;
    int iImage = 0;
    LPARAM lParam = 0;
    int iIndent = 0;
    int iGroupId = 0;
    UINT cColumns = 0;
    UINT* puColumns = nullptr;
    int* piColFmt = nullptr;
    int iGroup = 0;
};

struct LVCOLUMNA {
    UINT mask = 0;
    int fmt = 0;
    int cx = 0;
    char* pszText = nullptr;
    int cchTextMax = 0;
    int iSubItem = 0;
    int iImage = 0;
    int iOrder = 0;
    int cxMin = 0;
    int cxDefault = 0;
    int cxIdeal = 0;
};

struct TVITEMA {
    UINT mask = 0;
    HTREEITEM hItem = nullptr;
    UINT state = 0;
    UINT stateMask = 0;
    char* pszText = nullptr;
    int cchTextMax = 0;
    int iImage = 0;
    int iSelectedImage = 0;
    int cChildren = 0;
    LPARAM lParam = 0;
};

struct TVITEMEXA {
    UINT mask = 0;
    HTREEITEM hItem = nullptr;
    UINT state = 0;
    UINT stateMask = 0;
    char* pszText = nullptr;
    int cchTextMax = 0;
    int iImage = 0;
    int iSelectedImage = 0;
    int cChildren = 0;
    LPARAM lParam = 0;
    int iIntegral = 0;
    UINT uStateEx = 0;
    HWND hwnd = 0;
    int iExpandedImage = 0;
    int iReserved = 0;
};

struct TVINSERTSTRUCTA {
    HTREEITEM hParent = nullptr;
    HTREEITEM hInsertAfter = nullptr;
    union {
        TVITEMEXA itemex;
        TVITEMA item;
    };
    TVINSERTSTRUCTA() : itemex() {}
};

struct PAINTSTRUCT {
    HDC hdc = nullptr;
    BOOL fErase = FALSE;
    RECT rcPaint;
    BOOL fRestore = FALSE;
    BOOL fIncUpdate = FALSE;
    BYTE rgbReserved[32] = {};
};

struct LOGFONTA {
    LONG lfHeight = 0;
    LONG lfWidth = 0;
    LONG lfEscapement = 0;
    LONG lfOrientation = 0;
    LONG lfWeight = 0;
    BYTE lfItalic = 0;
    BYTE lfUnderline = 0;
    BYTE lfStrikeOut = 0;
    BYTE lfCharSet = 0;
    BYTE lfOutPrecision = 0;
    BYTE lfClipPrecision = 0;
    BYTE lfQuality = 0;
    BYTE lfPitchAndFamily = 0;
    CHAR lfFaceName[32] = {};
};

constexpr WORD LOWORD(DWORD_PTR v) {
    return static_cast<WORD>(v & 0xFFFF);
}
constexpr WORD HIWORD(DWORD_PTR v) {
    return static_cast<WORD>((v >> 16) & 0xFFFF);
}
constexpr LPARAM MAKELPARAM(WORD low, WORD high) {
    return static_cast<LPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}

// --- Messages ------------------------------------------------------------------------------
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_MOVE = 0x0003;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_ACTIVATE = 0x0006;
inline constexpr UINT WM_SETFOCUS = 0x0007;
inline constexpr UINT WM_KILLFOCUS = 0x0008;
inline constexpr UINT WM_ENABLE = 0x000A;
inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_GETTEXT = 0x000D;
inline constexpr UINT WM_GETTEXTLENGTH = 0x000E;
inline constexpr UINT WM_PAINT = 0x000F;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_ERASEBKGND = 0x0014;
inline constexpr UINT WM_SHOWWINDOW = 0x0018;
inline constexpr UINT WM_ICONERASEBKGND = 0x0027;
inline constexpr UINT WM_SETFONT = 0x0030;
inline constexpr UINT WM_GETFONT = 0x0031;
inline constexpr UINT WM_QUERYDRAGICON = 0x0037;
inline constexpr UINT WM_NOTIFY = 0x004E;
inline constexpr UINT WM_CONTEXTMENU = 0x007B;
inline constexpr UINT WM_GETICON = 0x007F;
inline constexpr UINT WM_SETICON = 0x0080;
inline constexpr UINT WM_NCCREATE = 0x0081;
inline constexpr UINT WM_NCDESTROY = 0x0082;
inline constexpr UINT WM_KEYDOWN = 0x0100;
inline constexpr UINT WM_KEYUP = 0x0101;
inline constexpr UINT WM_CHAR = 0x0102;
inline constexpr UINT WM_SYSKEYDOWN = 0x0104;
inline constexpr UINT WM_SYSKEYUP = 0x0105;
inline constexpr UINT WM_SYSCHAR = 0x0106;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_SYSCOMMAND = 0x0112;
inline constexpr UINT WM_TIMER = 0x0113;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr UINT WM_DEVICECHANGE = 0x0219;
// The window is now on a monitor of another DPI: wParam's words are the new DPI (x, y), and
// lParam points at the window rectangle the system suggests for it there.
inline constexpr UINT WM_DPICHANGED = 0x02E0;
inline constexpr UINT WM_USER = 0x0400;

inline constexpr UINT BM_CLICK = 0x00F5;
inline constexpr UINT STM_GETICON = 0x0171;
inline constexpr UINT STM_GETIMAGE = 0x0173;
inline constexpr UINT EM_GETSEL = 0x00B0;
inline constexpr UINT EM_SETSEL = 0x00B1;
inline constexpr UINT BN_CLICKED = 0;

// Device-change event types (the wParam of WM_DEVICECHANGE).
inline constexpr WPARAM DBT_DEVNODES_CHANGED = 0x0007;
inline constexpr WPARAM DBT_DEVICEARRIVAL = 0x8000;
inline constexpr WPARAM DBT_DEVICEREMOVECOMPLETE = 0x8004;

inline constexpr WPARAM VK_RETURN = 0x0D;
inline constexpr WPARAM VK_ESCAPE = 0x1B;
inline constexpr WPARAM VK_MENU = 0x12;

// --- List view -----------------------------------------------------------------------------
inline constexpr UINT LVM_FIRST = 0x1000;
inline constexpr UINT LVM_GETITEMCOUNT = LVM_FIRST + 4;
inline constexpr UINT LVM_GETITEMA = LVM_FIRST + 5;
inline constexpr UINT LVM_SETITEMA = LVM_FIRST + 6;
inline constexpr UINT LVM_INSERTITEMA = LVM_FIRST + 7;
inline constexpr UINT LVM_DELETEALLITEMS = LVM_FIRST + 9;
inline constexpr UINT LVM_GETNEXTITEM = LVM_FIRST + 12;
inline constexpr UINT LVM_GETITEMRECT = LVM_FIRST + 14;
inline constexpr UINT LVM_ENSUREVISIBLE = LVM_FIRST + 19;
inline constexpr UINT LVM_INSERTCOLUMNA = LVM_FIRST + 27;
inline constexpr UINT LVM_GETCOLUMNWIDTH = LVM_FIRST + 29;
inline constexpr UINT LVM_SETCOLUMNWIDTH = LVM_FIRST + 30;
inline constexpr UINT LVM_GETHEADER = LVM_FIRST + 31;
inline constexpr UINT LVM_SETITEMSTATE = LVM_FIRST + 43;
inline constexpr UINT LVM_GETITEMSTATE = LVM_FIRST + 44;
inline constexpr UINT LVM_GETITEMTEXTA = LVM_FIRST + 45;
inline constexpr UINT LVM_GETSELECTEDCOUNT = LVM_FIRST + 50;

inline constexpr UINT LVN_FIRST = 0u - 100u;
inline constexpr UINT LVN_ITEMCHANGING = LVN_FIRST - 0;
inline constexpr UINT LVN_ITEMCHANGED = LVN_FIRST - 1;

inline constexpr UINT LVIF_TEXT = 0x0001;
inline constexpr UINT LVIF_IMAGE = 0x0002;
inline constexpr UINT LVIF_PARAM = 0x0004;
inline constexpr UINT LVIF_STATE = 0x0008;
inline constexpr UINT LVIS_FOCUSED = 0x0001;
inline constexpr UINT LVIS_SELECTED = 0x0002;
inline constexpr int LVNI_ALL = 0x0000;
inline constexpr int LVNI_FOCUSED = 0x0001;
inline constexpr int LVNI_SELECTED = 0x0002;
inline constexpr UINT LVCF_FMT = 0x0001;
inline constexpr UINT LVCF_WIDTH = 0x0002;
inline constexpr UINT LVCF_TEXT = 0x0004;
inline constexpr int LVCFMT_LEFT = 0x0000;
inline constexpr int LVSCW_AUTOSIZE = -1;
inline constexpr int LVSCW_AUTOSIZE_USEHEADER = -2;
inline constexpr int LVIR_BOUNDS = 0;

// --- Tree view -----------------------------------------------------------------------------
inline constexpr UINT TV_FIRST = 0x1100;
inline constexpr UINT TVM_INSERTITEMA = TV_FIRST + 0;
inline constexpr UINT TVM_DELETEITEM = TV_FIRST + 1;
inline constexpr UINT TVM_EXPAND = TV_FIRST + 2;
inline constexpr UINT TVM_GETCOUNT = TV_FIRST + 5;
inline constexpr UINT TVM_GETNEXTITEM = TV_FIRST + 10;
inline constexpr UINT TVM_GETITEMA = TV_FIRST + 12;
inline constexpr UINT TVM_GETITEMSTATE = TV_FIRST + 39;

inline constexpr UINT TVIF_TEXT = 0x0001;
inline constexpr UINT TVIF_STATE = 0x0008;
inline constexpr UINT TVIF_HANDLE = 0x0010;
inline constexpr UINT TVIF_CHILDREN = 0x0040;
inline constexpr UINT TVIS_EXPANDED = 0x0020;
inline constexpr UINT TVE_COLLAPSE = 0x0001;
inline constexpr UINT TVE_EXPAND = 0x0002;
inline constexpr UINT TVGN_ROOT = 0x0000;
inline constexpr UINT TVGN_NEXT = 0x0001;
inline constexpr UINT TVGN_PARENT = 0x0003;
inline constexpr UINT TVGN_CHILD = 0x0004;
inline const HTREEITEM TVI_ROOT = reinterpret_cast<HTREEITEM>(static_cast<std::intptr_t>(-0x10000));
inline const HTREEITEM TVI_FIRST = reinterpret_cast<HTREEITEM>(static_cast<std::intptr_t>(-0xFFFF));
inline const HTREEITEM TVI_LAST = reinterpret_cast<HTREEITEM>(static_cast<std::intptr_t>(-0xFFFE));

// --- Styles --------------------------------------------------------------------------------
inline constexpr DWORD WS_POPUP = 0x80000000u;
inline constexpr DWORD WS_CHILD = 0x40000000u;
inline constexpr DWORD WS_MINIMIZE = 0x20000000u;
inline constexpr DWORD WS_VISIBLE = 0x10000000u;
inline constexpr DWORD WS_DISABLED = 0x08000000u;
inline constexpr DWORD WS_CLIPSIBLINGS = 0x04000000u;
inline constexpr DWORD WS_CLIPCHILDREN = 0x02000000u;
inline constexpr DWORD WS_MAXIMIZE = 0x01000000u;
inline constexpr DWORD WS_CAPTION = 0x00C00000u;
inline constexpr DWORD WS_BORDER = 0x00800000u;
inline constexpr DWORD WS_DLGFRAME = 0x00400000u;
inline constexpr DWORD WS_VSCROLL = 0x00200000u;
inline constexpr DWORD WS_HSCROLL = 0x00100000u;
inline constexpr DWORD WS_SYSMENU = 0x00080000u;
inline constexpr DWORD WS_THICKFRAME = 0x00040000u;
inline constexpr DWORD WS_GROUP = 0x00020000u;
inline constexpr DWORD WS_TABSTOP = 0x00010000u;
inline constexpr DWORD WS_MINIMIZEBOX = 0x00020000u;
inline constexpr DWORD WS_MAXIMIZEBOX = 0x00010000u;
inline constexpr DWORD WS_EX_DLGMODALFRAME = 0x00000001u;
inline constexpr DWORD WS_EX_NOPARENTNOTIFY = 0x00000004u;
inline constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200u;
inline constexpr DWORD WS_EX_CONTROLPARENT = 0x00010000u;
inline constexpr DWORD WS_EX_STATICEDGE = 0x00020000u;
inline constexpr DWORD WS_EX_APPWINDOW = 0x00040000u;
inline constexpr DWORD DS_SETFONT = 0x0040u;
inline constexpr DWORD DS_MODALFRAME = 0x0080u;
inline constexpr DWORD SS_LEFT = 0x0000u;
inline constexpr DWORD SS_ICON = 0x0003u;
inline constexpr DWORD SS_BITMAP = 0x000Eu;
inline constexpr DWORD SS_TYPEMASK = 0x001Fu;
inline constexpr DWORD SS_NOPREFIX = 0x0080u;
inline constexpr DWORD ES_AUTOHSCROLL = 0x0080u;
inline constexpr DWORD ES_READONLY = 0x0800u;
inline constexpr DWORD BS_PUSHBUTTON = 0x0000u;
inline constexpr DWORD BS_DEFPUSHBUTTON = 0x0001u;
inline constexpr DWORD LVS_REPORT = 0x0001u;
inline constexpr DWORD LVS_SINGLESEL = 0x0004u;
inline constexpr DWORD LVS_SHOWSELALWAYS = 0x0008u;
inline constexpr DWORD LVS_NOLABELWRAP = 0x0080u;
inline constexpr DWORD LVS_NOCOLUMNHEADER = 0x4000u;
inline constexpr DWORD TVS_HASBUTTONS = 0x0001u;
inline constexpr DWORD TVS_HASLINES = 0x0002u;
inline constexpr DWORD TVS_LINESATROOT = 0x0004u;

// --- Commands, menus, metrics, window queries ----------------------------------------------
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr UINT SC_CLOSE = 0xF060;
inline constexpr UINT MF_STRING = 0x0000;
inline constexpr UINT MF_BYCOMMAND = 0x0000;
inline constexpr UINT MF_BYPOSITION = 0x0400;
inline constexpr UINT MF_SEPARATOR = 0x0800;
inline constexpr WPARAM ICON_SMALL = 0;
inline constexpr WPARAM ICON_BIG = 1;
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOW = 5;
inline constexpr int SW_MINIMIZE = 6;
inline constexpr int SW_RESTORE = 9;
inline constexpr int GWL_STYLE = -16;
inline constexpr int GWL_EXSTYLE = -20;
inline constexpr int GWL_ID = -12;
inline constexpr UINT GW_HWNDNEXT = 2;
inline constexpr UINT GW_OWNER = 4;
inline constexpr UINT GW_CHILD = 5;

// --- Functions (see the thread rules at the top) -------------------------------------------
// Whether this program can show windows here (on Linux: a toolkit is linked in and there is
// a display it reaches). Call it on the thread that is to show the windows: on Linux the
// toolkit connects to the display there and then.
BOOL AfxCanShowWindows();
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL DestroyWindow(HWND window);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND window);
HWND GetParent(HWND window);
HWND GetWindow(HWND window, UINT relation);
// Texts are in the ANSI code page. GetWindowTextA copies at most max-1 bytes and a NUL.
int GetWindowTextA(HWND window, char* buffer, int max);
int GetWindowTextLengthA(HWND window);
BOOL SetWindowTextA(HWND window, const char* text);
int GetClassNameA(HWND window, char* buffer, int max);
LONG GetWindowLongA(HWND window, int index);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL GetWindowRect(HWND window, RECT* rect);
// Converts points from one window's client coordinates to another's (0: the screen).
int MapWindowPoints(HWND from, HWND to, POINT* points, UINT count);
// Dialog units to pixels, with the base units of the dialog's font.
BOOL MapDialogRect(HWND dialog, RECT* rect);
BOOL IsIconic(HWND window);
BOOL IsWindowVisible(HWND window);
BOOL IsWindowEnabled(HWND window);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL ShowWindow(HWND window, int command);
HWND SetFocus(HWND window);
HWND GetFocus();
HWND GetActiveWindow();
HWND SetActiveWindow(HWND window);
// A top-level window by class name and/or caption (nullptr: any); FindWindowExA goes on
// after `after`. Windows finds the windows of every process, other backends their own.
HWND FindWindowA(const char* className, const char* windowName);
HWND FindWindowExA(HWND parent, HWND after, const char* className, const char* windowName);

HMENU GetSystemMenu(HWND window, BOOL revert);
BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, const char* text);
// The same with a UTF-16 text, which needs no ANSI code page that can spell it.
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, const char16_t* text);
int GetMenuItemCount(HMENU menu);
UINT GetMenuItemID(HMENU menu, int position);  // 0 for a separator
int GetMenuStringA(HMENU menu, UINT item, char* buffer, int max, UINT flags);
int GetMenuStringW(HMENU menu, UINT item, char16_t* buffer, int max, UINT flags);
UINT GetMenuState(HMENU menu, UINT item, UINT flags);

// Resources of the program's own module (string table, icons). LoadStringA gives a string
// in the ANSI code page ('?' for what it cannot spell), LoadStringW as the resource holds it
// (UTF-16); both copy at most max-1 units and a NUL, and answer the units copied.
int LoadStringA(UINT id, char* buffer, int max);
int LoadStringW(UINT id, char16_t* buffer, int max);
HICON LoadIconA(UINT id);
int GetSystemMetrics(int index);
// The dots per inch a window is laid out and drawn for: its monitor's where the system tells
// each monitor's (Windows 10 1607 and later), else the system's; 96 is 100 %.
UINT GetDpiForWindow(HWND window);

HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
BOOL DrawIcon(HDC dc, int x, int y, HICON icon);
// The logical font behind a font handle (sizeof(LOGFONTA) bytes).
int GetObjectA(HFONT font, int size, void* buffer);

// Keyboard navigation of a dialog: TRUE when the message was meant for the dialog (or one
// of its controls) and has been handled.
BOOL IsDialogMessageA(HWND dialog, MSG* msg);
BOOL TranslateMessage(const MSG* msg);
void PostQuitMessage(int exitCode);

// Posts WM_DEVICECHANGE with the event type to every top-level window of the process, as
// the system does on a platform that broadcasts device changes itself.
void BroadcastDeviceChange(WPARAM eventType);

class CWnd;
namespace detail {
// Backend hooks used by CWnd and CDialog.
// Creates the dialog of a template of the program's resources, modeless; `owner` receives
// every message from WM_INITDIALOG on through its WindowProc. 0 on failure.
HWND CreateDialogFromTemplate(UINT templateId, HWND parent, CWnd* owner);
// Routes a window's messages to `owner` (CWnd::WindowProc); the window's own procedure
// stays its default processing.
BOOL SubclassWindow(HWND window, CWnd* owner);
void UnsubclassWindow(HWND window);
// The framework window that a window is routed to, or nullptr.
CWnd* WindowOwner(HWND window);
// The window's default processing (the procedure it had before it was routed).
LRESULT CallDefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
}  // namespace detail

}  // namespace ks

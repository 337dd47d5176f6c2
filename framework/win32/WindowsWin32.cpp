// Message queues and windows on Windows: the framework's window functions forward to the
// window manager, the dialog manager and the common controls (ANSI variants). A framework
// window (CWnd) is routed to by replacing the window's procedure: the previous procedure stays
// its default processing, so a dialog keeps the dialog manager's and a control its class's.
#include <cstddef>
#include <mutex>

#include "framework/DialogTemplate.h"
#include "framework/Messages.h"
#include "framework/WinUser.h"
#include "framework/Wnd.h"

// The framework's names of constants that the SDK defines as macros, captured before the SDK
// is seen, so that the values can be compared with the SDK's below.
// clang-format off
#define KS_WIN32_CONSTANTS(X) \
    X(WM_CREATE) \
    X(WM_DESTROY) \
    X(WM_SETTEXT) \
    X(WM_GETTEXT) \
    X(WM_GETTEXTLENGTH) \
    X(WM_PAINT) \
    X(WM_CLOSE) \
    X(WM_ICONERASEBKGND) \
    X(WM_SETFONT) \
    X(WM_GETFONT) \
    X(WM_QUERYDRAGICON) \
    X(WM_NOTIFY) \
    X(WM_CONTEXTMENU) \
    X(WM_GETICON) \
    X(WM_SETICON) \
    X(WM_NCCREATE) \
    X(WM_NCDESTROY) \
    X(WM_KEYDOWN) \
    X(WM_KEYUP) \
    X(WM_CHAR) \
    X(WM_SYSKEYDOWN) \
    X(WM_SYSCHAR) \
    X(WM_INITDIALOG) \
    X(WM_COMMAND) \
    X(WM_SYSCOMMAND) \
    X(WM_TIMER) \
    X(WM_LBUTTONDOWN) \
    X(WM_DEVICECHANGE) \
    X(WM_DPICHANGED) \
    X(WM_USER) \
    X(BM_CLICK) \
    X(STM_GETICON) \
    X(STM_GETIMAGE) \
    X(EM_GETSEL) \
    X(EM_SETSEL) \
    X(BN_CLICKED) \
    X(LVM_GETITEMCOUNT) \
    X(LVM_GETITEMA) \
    X(LVM_SETITEMA) \
    X(LVM_INSERTITEMA) \
    X(LVM_DELETEALLITEMS) \
    X(LVM_GETNEXTITEM) \
    X(LVM_GETITEMRECT) \
    X(LVM_ENSUREVISIBLE) \
    X(LVM_INSERTCOLUMNA) \
    X(LVM_GETCOLUMNWIDTH) \
    X(LVM_SETCOLUMNWIDTH) \
    X(LVM_GETHEADER) \
    X(LVM_SETITEMSTATE) \
    X(LVM_GETITEMSTATE) \
    X(LVM_GETITEMTEXTA) \
    X(LVM_GETSELECTEDCOUNT) \
    X(LVN_ITEMCHANGING) \
    X(LVN_ITEMCHANGED) \
    X(LVIF_TEXT) \
    X(LVIF_IMAGE) \
    X(LVIF_PARAM) \
    X(LVIF_STATE) \
    X(LVIS_FOCUSED) \
    X(LVIS_SELECTED) \
    X(LVNI_ALL) \
    X(LVNI_FOCUSED) \
    X(LVNI_SELECTED) \
    X(LVCF_FMT) \
    X(LVCF_WIDTH) \
    X(LVCF_TEXT) \
    X(LVCFMT_LEFT) \
    X(LVSCW_AUTOSIZE) \
    X(LVSCW_AUTOSIZE_USEHEADER) \
    X(LVIR_BOUNDS) \
    X(TVM_INSERTITEMA) \
    X(TVM_DELETEITEM) \
    X(TVM_EXPAND) \
    X(TVM_GETCOUNT) \
    X(TVM_GETNEXTITEM) \
    X(TVM_GETITEMA) \
    X(TVM_GETITEMSTATE) \
    X(TVIF_TEXT) \
    X(TVIF_STATE) \
    X(TVIF_HANDLE) \
    X(TVIF_CHILDREN) \
    X(TVIS_EXPANDED) \
    X(TVE_COLLAPSE) \
    X(TVE_EXPAND) \
    X(TVGN_ROOT) \
    X(TVGN_NEXT) \
    X(TVGN_PARENT) \
    X(TVGN_CHILD) \
    X(WS_POPUP) \
    X(WS_CHILD) \
    X(WS_MINIMIZE) \
    X(WS_VISIBLE) \
    X(WS_DISABLED) \
    X(WS_CAPTION) \
    X(WS_BORDER) \
    X(WS_SYSMENU) \
    X(WS_THICKFRAME) \
    X(WS_GROUP) \
    X(WS_TABSTOP) \
    X(WS_MINIMIZEBOX) \
    X(WS_MAXIMIZEBOX) \
    X(WS_EX_DLGMODALFRAME) \
    X(WS_EX_CLIENTEDGE) \
    X(WS_EX_APPWINDOW) \
    X(DS_SETFONT) \
    X(DS_MODALFRAME) \
    X(SS_ICON) \
    X(SS_BITMAP) \
    X(SS_TYPEMASK) \
    X(SS_NOPREFIX) \
    X(ES_AUTOHSCROLL) \
    X(ES_READONLY) \
    X(BS_DEFPUSHBUTTON) \
    X(LVS_REPORT) \
    X(LVS_SINGLESEL) \
    X(LVS_SHOWSELALWAYS) \
    X(LVS_NOLABELWRAP) \
    X(LVS_NOCOLUMNHEADER) \
    X(TVS_HASBUTTONS) \
    X(TVS_HASLINES) \
    X(TVS_LINESATROOT) \
    X(IDOK) \
    X(IDCANCEL) \
    X(SC_CLOSE) \
    X(MF_STRING) \
    X(MF_BYPOSITION) \
    X(MF_SEPARATOR) \
    X(ICON_SMALL) \
    X(ICON_BIG) \
    X(SM_CXICON) \
    X(SM_CYICON) \
    X(SW_HIDE) \
    X(SW_SHOWNORMAL) \
    X(SW_SHOW) \
    X(SW_MINIMIZE) \
    X(SW_RESTORE) \
    X(GWL_STYLE) \
    X(GWL_EXSTYLE) \
    X(GWL_ID) \
    X(GW_HWNDNEXT) \
    X(GW_OWNER) \
    X(GW_CHILD) \
    X(DBT_DEVNODES_CHANGED) \
    X(DBT_DEVICEARRIVAL) \
    X(DBT_DEVICEREMOVECOMPLETE) \
    X(VK_RETURN) \
    X(VK_ESCAPE) \
    X(VK_MENU)
// clang-format on
#define KS_CAPTURE(name) inline constexpr auto ks_##name = ::ks::name;
namespace ours {
KS_WIN32_CONSTANTS(KS_CAPTURE)
}  // namespace ours
#undef KS_CAPTURE

// After the framework's headers: their constants would otherwise meet the SDK's macros.
#include "framework/win32/Win.h"

#include <commctrl.h>
#include <dbt.h>

#include <memory>
#include <type_traits>

#include "framework/win32/DialogDpi.h"

#define KS_SAME_VALUE(name)                                                                \
    static_assert(                                                                         \
        ours::ks_##name == static_cast<std::remove_cv_t<decltype(ours::ks_##name)>>(name), \
        #name " differs from the SDK's");
KS_WIN32_CONSTANTS(KS_SAME_VALUE)
#undef KS_SAME_VALUE

#define KS_SAME_LAYOUT(ours, sdk, ...) \
    static_assert(sizeof(ks::ours) == sizeof(::sdk), #ours " size differs from the SDK's");
KS_SAME_LAYOUT(RECT, RECT)
KS_SAME_LAYOUT(POINT, POINT)
KS_SAME_LAYOUT(NMHDR, NMHDR)
KS_SAME_LAYOUT(NMLISTVIEW, NMLISTVIEW)
KS_SAME_LAYOUT(LVITEMA, LVITEMA)
KS_SAME_LAYOUT(LVCOLUMNA, LVCOLUMNA)
KS_SAME_LAYOUT(TVITEMA, TVITEMA)
KS_SAME_LAYOUT(TVITEMEXA, TVITEMEXA)
KS_SAME_LAYOUT(TVINSERTSTRUCTA, TVINSERTSTRUCTA)
KS_SAME_LAYOUT(PAINTSTRUCT, PAINTSTRUCT)
KS_SAME_LAYOUT(LOGFONTA, LOGFONTA)
#undef KS_SAME_LAYOUT
static_assert(offsetof(ks::NMLISTVIEW, uNewState) == offsetof(::NMLISTVIEW, uNewState));
static_assert(offsetof(ks::NMLISTVIEW, lParam) == offsetof(::NMLISTVIEW, lParam));
static_assert(offsetof(ks::LVITEMA, lParam) == offsetof(::LVITEMA, lParam));
static_assert(offsetof(ks::LVITEMA, pszText) == offsetof(::LVITEMA, pszText));
static_assert(offsetof(ks::LVCOLUMNA, fmt) == offsetof(::LVCOLUMNA, fmt));
static_assert(offsetof(ks::TVITEMA, pszText) == offsetof(::TVITEMA, pszText));
static_assert(offsetof(ks::TVINSERTSTRUCTA, item) == offsetof(::TVINSERTSTRUCTA, item));
static_assert(offsetof(ks::LOGFONTA, lfFaceName) == offsetof(::LOGFONTA, lfFaceName));
static_assert(offsetof(ks::PAINTSTRUCT, hdc) == offsetof(::PAINTSTRUCT, hdc));

namespace ks {

namespace {

::HWND ToWin(HWND h) {
    return reinterpret_cast<::HWND>(static_cast<std::uintptr_t>(h));
}
HWND FromWin(::HWND h) {
    return static_cast<HWND>(reinterpret_cast<std::uintptr_t>(h));
}

// What the framework keeps for a routed window: its object and the procedure it had; for a
// dialog made from a template, what fits it to the screen's DPI.
struct Route {
    CWnd* wnd;
    ::WNDPROC super;
    std::unique_ptr<win32::CDialogDpi> dpi;
};
const char kRouteProp[] = "KeyScout.Route";

Route* RouteOf(::HWND h) {
    return static_cast<Route*>(::GetPropA(h, kRouteProp));
}

::LRESULT CALLBACK RoutedWndProc(::HWND hwnd, ::UINT msg, ::WPARAM wParam, ::LPARAM lParam) {
    Route* route = RouteOf(hwnd);
    if (route == nullptr)
        return ::DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg != WM_NCDESTROY)
        return CWndAccess::Dispatch(route->wnd, msg, wParam, lParam);
    // The window's last message: the object sees it, then lets go of the window.
    ::LRESULT result = CWndAccess::Dispatch(route->wnd, msg, wParam, lParam);
    route = RouteOf(hwnd);
    if (route != nullptr) {
        ::RemovePropA(hwnd, kRouteProp);
        CWnd* wnd = route->wnd;
        delete route;
        CWndAccess::Gone(wnd);
    }
    return result;
}

const char kMessageWindowClass[] = "KeyScoutMessageWindow";

// What CreateDialogFromTemplate hands the dialog procedure.
struct Boot {
    CWnd* owner;
    UINT templateId;
};

// The dialog procedure that the dialog manager calls. It binds the dialog to its object at
// WM_INITDIALOG; from then on the window procedure is routed and this procedure declines
// every message, so the dialog manager's default processing applies.
::INT_PTR CALLBACK BootDialogProc(::HWND hwnd, ::UINT msg, ::WPARAM wParam, ::LPARAM lParam) {
    if (msg != WM_INITDIALOG || RouteOf(hwnd) != nullptr)
        return FALSE;
    const auto* boot = reinterpret_cast<const Boot*>(lParam);
    CWnd* owner = boot != nullptr ? boot->owner : nullptr;
    if (owner == nullptr || !detail::SubclassWindow(FromWin(hwnd), owner))
        return FALSE;
    owner->m_hWnd = FromWin(hwnd);
    // The controls are made: fitted to the DPI before the object first sees them.
    Route* route = RouteOf(hwnd);
    route->dpi = std::make_unique<win32::CDialogDpi>();
    route->dpi->Created(hwnd, boot->templateId);
    return static_cast<::INT_PTR>(CWndAccess::Dispatch(owner, WM_INITDIALOG, wParam, 0));
}

void InitControls() {
    static std::once_flag once;
    std::call_once(once, [] {
        ::INITCOMMONCONTROLSEX icc{};
        icc.dwSize = sizeof(icc);
        icc.dwICC = ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES;
        ::InitCommonControlsEx(&icc);
    });
}

::HINSTANCE Module() {
    return ::GetModuleHandleA(nullptr);
}

}  // namespace

// --- Queues --------------------------------------------------------------------------------

void EnsureMessageQueue() {
    ::MSG m;
    ::PeekMessageA(&m, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostThreadMessageA(threadId, message, wParam, lParam);
}

BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageA(ToWin(window), message, wParam, lParam);
}

BOOL IsWindow(HWND window) {
    return ::IsWindow(ToWin(window));
}

BOOL GetMessage(MSG* msg) {
    ::MSG m{};
    BOOL r = ::GetMessageA(&m, nullptr, 0, 0);
    *msg = MSG{FromWin(m.hwnd), m.message, m.wParam, m.lParam};
    if (r == -1)
        *msg = MSG{0, WM_QUIT, 0, 0};
    return r > 0 ? TRUE : FALSE;
}

BOOL PeekMessage(MSG* msg, BOOL remove) {
    ::MSG m{};
    if (!::PeekMessageA(&m, nullptr, 0, 0, remove ? PM_REMOVE : PM_NOREMOVE))
        return FALSE;
    *msg = MSG{FromWin(m.hwnd), m.message, m.wParam, m.lParam};
    return TRUE;
}

namespace {
::MSG ToWinMsg(const MSG* msg) {
    ::MSG m{};
    m.hwnd = ToWin(msg->hwnd);
    m.message = msg->message;
    m.wParam = msg->wParam;
    m.lParam = msg->lParam;
    m.time = ::GetMessageTime();
    ::DWORD pos = ::GetMessagePos();
    m.pt.x = static_cast<short>(LOWORD(pos));
    m.pt.y = static_cast<short>(HIWORD(pos));
    return m;
}
}  // namespace

LRESULT DispatchMessage(const MSG* msg) {
    // Thread messages reach no window; the system's timer messages still reach their procedure.
    if (msg->hwnd == 0 && msg->message != WM_TIMER)
        return 0;
    ::MSG m = ToWinMsg(msg);
    return ::DispatchMessageA(&m);
}

BOOL TranslateMessage(const MSG* msg) {
    ::MSG m = ToWinMsg(msg);
    return ::TranslateMessage(&m);
}

BOOL IsDialogMessageA(HWND dialog, MSG* msg) {
    ::MSG m = ToWinMsg(msg);
    return ::IsDialogMessageA(ToWin(dialog), &m);
}

void PostQuitMessage(int exitCode) {
    ::PostQuitMessage(exitCode);
}

// --- Windows -------------------------------------------------------------------------------

BOOL AfxCanShowWindows() {
    return TRUE;
}

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageA(ToWin(window), message, wParam, lParam);
}

BOOL DestroyWindow(HWND window) {
    return ::DestroyWindow(ToWin(window));
}

HWND GetDlgItem(HWND dialog, int id) {
    return FromWin(::GetDlgItem(ToWin(dialog), id));
}

int GetDlgCtrlID(HWND window) {
    return ::GetDlgCtrlID(ToWin(window));
}

HWND GetParent(HWND window) {
    return FromWin(::GetParent(ToWin(window)));
}

HWND GetWindow(HWND window, UINT relation) {
    return FromWin(::GetWindow(ToWin(window), relation));
}

int GetWindowTextA(HWND window, char* buffer, int max) {
    return ::GetWindowTextA(ToWin(window), buffer, max);
}

int GetWindowTextLengthA(HWND window) {
    return ::GetWindowTextLengthA(ToWin(window));
}

BOOL SetWindowTextA(HWND window, const char* text) {
    return ::SetWindowTextA(ToWin(window), text);
}

int GetClassNameA(HWND window, char* buffer, int max) {
    return ::GetClassNameA(ToWin(window), buffer, max);
}

LONG GetWindowLongA(HWND window, int index) {
    return ::GetWindowLongA(ToWin(window), index);
}

BOOL GetClientRect(HWND window, RECT* rect) {
    return ::GetClientRect(ToWin(window), reinterpret_cast<::RECT*>(rect));
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    return ::GetWindowRect(ToWin(window), reinterpret_cast<::RECT*>(rect));
}

int MapWindowPoints(HWND from, HWND to, POINT* points, UINT count) {
    return ::MapWindowPoints(ToWin(from), ToWin(to), reinterpret_cast<::POINT*>(points), count);
}

BOOL MapDialogRect(HWND dialog, RECT* rect) {
    return ::MapDialogRect(ToWin(dialog), reinterpret_cast<::RECT*>(rect));
}

BOOL IsIconic(HWND window) {
    return ::IsIconic(ToWin(window));
}

BOOL IsWindowVisible(HWND window) {
    return ::IsWindowVisible(ToWin(window));
}

BOOL IsWindowEnabled(HWND window) {
    return ::IsWindowEnabled(ToWin(window));
}

BOOL EnableWindow(HWND window, BOOL enable) {
    return ::EnableWindow(ToWin(window), enable);
}

BOOL ShowWindow(HWND window, int command) {
    return ::ShowWindow(ToWin(window), command);
}

HWND SetFocus(HWND window) {
    return FromWin(::SetFocus(ToWin(window)));
}

HWND GetFocus() {
    return FromWin(::GetFocus());
}

HWND GetActiveWindow() {
    return FromWin(::GetActiveWindow());
}

HWND SetActiveWindow(HWND window) {
    return FromWin(::SetActiveWindow(ToWin(window)));
}

HWND FindWindowA(const char* className, const char* windowName) {
    return FromWin(::FindWindowA(className, windowName));
}

HWND FindWindowExA(HWND parent, HWND after, const char* className, const char* windowName) {
    return FromWin(::FindWindowExA(ToWin(parent), ToWin(after), className, windowName));
}

HMENU GetSystemMenu(HWND window, BOOL revert) {
    return reinterpret_cast<HMENU>(::GetSystemMenu(ToWin(window), revert));
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, const char* text) {
    return ::AppendMenuA(reinterpret_cast<::HMENU>(menu), flags, id, text);
}

// UTF-16 texts: the framework's char16_t is Windows' WCHAR.
static_assert(sizeof(char16_t) == sizeof(::WCHAR));
namespace {
const ::WCHAR* Wide(const char16_t* text) {
    return reinterpret_cast<const ::WCHAR*>(text);
}
::WCHAR* Wide(char16_t* text) {
    return reinterpret_cast<::WCHAR*>(text);
}
}  // namespace

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, const char16_t* text) {
    return ::AppendMenuW(reinterpret_cast<::HMENU>(menu), flags, id, Wide(text));
}

int GetMenuItemCount(HMENU menu) {
    return ::GetMenuItemCount(reinterpret_cast<::HMENU>(menu));
}

UINT GetMenuItemID(HMENU menu, int position) {
    return ::GetMenuItemID(reinterpret_cast<::HMENU>(menu), position);
}

int GetMenuStringA(HMENU menu, UINT item, char* buffer, int max, UINT flags) {
    return ::GetMenuStringA(reinterpret_cast<::HMENU>(menu), item, buffer, max, flags);
}

int GetMenuStringW(HMENU menu, UINT item, char16_t* buffer, int max, UINT flags) {
    return ::GetMenuStringW(reinterpret_cast<::HMENU>(menu), item, Wide(buffer), max, flags);
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
    return ::GetMenuState(reinterpret_cast<::HMENU>(menu), item, flags);
}

int LoadStringA(UINT id, char* buffer, int max) {
    return ::LoadStringA(Module(), id, buffer, max);
}

int LoadStringW(UINT id, char16_t* buffer, int max) {
    // A max of 0 would ask for a pointer to the resource itself instead of a copy.
    if (buffer == nullptr || max <= 0)
        return 0;
    return ::LoadStringW(Module(), id, Wide(buffer), max);
}

HICON LoadIconA(UINT id) {
    return reinterpret_cast<HICON>(::LoadIconA(Module(), MAKEINTRESOURCEA(id)));
}

int GetSystemMetrics(int index) {
    return ::GetSystemMetrics(index);
}

namespace {
// The system's dots per inch, which before Windows 10 1607 every window has.
UINT SystemDpi() {
    ::HDC screen = ::GetDC(nullptr);
    const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 0;
    if (screen != nullptr)
        ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// A function of user32 that older systems lack, looked up once: the program runs on
// Windows 7 too.
template <class Fn>
Fn User32(const char* name) {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), name)));
}
}  // namespace

UINT GetDpiForWindow(HWND window) {
    using GetDpiForWindowFn = ::UINT(WINAPI*)(::HWND);
    static const auto getDpi = User32<GetDpiForWindowFn>("GetDpiForWindow");
    const UINT dpi = getDpi != nullptr ? getDpi(ToWin(window)) : 0;
    return dpi != 0 ? dpi : SystemDpi();
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    return reinterpret_cast<HDC>(
        ::BeginPaint(ToWin(window), reinterpret_cast<::PAINTSTRUCT*>(paint)));
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
    return ::EndPaint(ToWin(window), reinterpret_cast<const ::PAINTSTRUCT*>(paint));
}

BOOL DrawIcon(HDC dc, int x, int y, HICON icon) {
    return ::DrawIcon(reinterpret_cast<::HDC>(dc), x, y, reinterpret_cast<::HICON>(icon));
}

int GetObjectA(HFONT font, int size, void* buffer) {
    return ::GetObjectA(reinterpret_cast<::HFONT>(font), size, buffer);
}

namespace {
::BOOL CALLBACK PostDeviceChange(::HWND h, ::LPARAM type) {
    ::DWORD pid = 0;
    ::GetWindowThreadProcessId(h, &pid);
    if (pid == ::GetCurrentProcessId())
        ::PostMessageA(h, WM_DEVICECHANGE, static_cast<::WPARAM>(type), 0);
    return TRUE;
}
}  // namespace

void BroadcastDeviceChange(WPARAM eventType) {
    // The system broadcasts device changes itself; this reaches the process's own top-level
    // windows the same way, for a caller that learns of a change by other means.
    ::EnumWindows(&PostDeviceChange, static_cast<::LPARAM>(eventType));
}

namespace detail {

HWND CreateMessageOnlyWindow(CWnd* owner) {
    static const ATOM atom = [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &::DefWindowProcA;
        wc.hInstance = Module();
        wc.lpszClassName = kMessageWindowClass;
        return ::RegisterClassExA(&wc);
    }();
    if (atom == 0)
        return 0;
    const auto messageOnly =
        reinterpret_cast<::HWND>(static_cast<std::intptr_t>(-3));  // HWND_MESSAGE
    ::HWND h = ::CreateWindowExA(0, kMessageWindowClass, "", 0, 0, 0, 0, 0, messageOnly, nullptr,
                                 Module(), nullptr);
    if (h == nullptr)
        return 0;
    if (!SubclassWindow(FromWin(h), owner)) {
        ::DestroyWindow(h);
        return 0;
    }
    return FromWin(h);
}

HWND CreateDialogFromTemplate(UINT templateId, HWND parent, CWnd* owner) {
    InitControls();
    Boot boot{owner, templateId};
    ::HWND h = ::CreateDialogParamA(Module(), MAKEINTRESOURCEA(templateId), ToWin(parent),
                                    &BootDialogProc, reinterpret_cast<::LPARAM>(&boot));
    return FromWin(h);
}

BOOL SubclassWindow(HWND window, CWnd* owner) {
    ::HWND h = ToWin(window);
    if (owner == nullptr || !::IsWindow(h) || RouteOf(h) != nullptr)
        return FALSE;
    auto* route = new Route{
        owner, reinterpret_cast<::WNDPROC>(::GetWindowLongPtrA(h, GWLP_WNDPROC)), nullptr};
    if (!::SetPropA(h, kRouteProp, route)) {
        delete route;
        return FALSE;
    }
    ::SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<::LONG_PTR>(&RoutedWndProc));
    return TRUE;
}

void UnsubclassWindow(HWND window) {
    ::HWND h = ToWin(window);
    Route* route = RouteOf(h);
    if (route == nullptr)
        return;
    ::SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<::LONG_PTR>(route->super));
    ::RemovePropA(h, kRouteProp);
    // Bitmaps that pictures still show stay with them.
    (void)route->dpi.release();
    delete route;
}

CWnd* WindowOwner(HWND window) {
    Route* route = RouteOf(ToWin(window));
    return route != nullptr ? route->wnd : nullptr;
}

LRESULT CallDefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ::HWND h = ToWin(window);
    Route* route = RouteOf(h);
    if (route == nullptr || route->super == nullptr)
        return ::DefWindowProcA(h, message, wParam, lParam);
    const ::LRESULT result = ::CallWindowProcA(route->super, h, message, wParam, lParam);
    // Moved to a monitor of another DPI: the dialog manager lays the dialog out anew (or
    // not), and what it leaves undone is done here, all of it before the object's handler
    // goes on.
    if (message == WM_DPICHANGED) {
        if (route = RouteOf(h); route != nullptr && route->dpi)
            route->dpi->DpiChanged(h, HIWORD(wParam), reinterpret_cast<const ::RECT*>(lParam));
    }
    return result;
}

}  // namespace detail

}  // namespace ks

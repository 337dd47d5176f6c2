// The window functions on Linux where no toolkit renders windows: only message-only windows
// exist (KernelPosix.cpp), so every request about a displayed window fails as it does on
// Windows for a handle that names no window, and no dialog can be created.
#include "framework/Kernel.h"
#include "framework/Messages.h"
#include "framework/WinUser.h"
#include "framework/Wnd.h"

namespace ks {

HWND GetDlgItem(HWND, int) {
    return 0;
}
int GetDlgCtrlID(HWND) {
    return 0;
}
HWND GetParent(HWND) {
    return 0;
}
HWND GetWindow(HWND, UINT) {
    return 0;
}
int GetWindowTextA(HWND, char* buffer, int max) {
    if (buffer != nullptr && max > 0)
        buffer[0] = '\0';
    return 0;
}
int GetWindowTextLengthA(HWND) {
    return 0;
}
BOOL SetWindowTextA(HWND, const char*) {
    return FALSE;
}
int GetClassNameA(HWND, char* buffer, int max) {
    if (buffer != nullptr && max > 0)
        buffer[0] = '\0';
    return 0;
}
LONG GetWindowLongA(HWND, int) {
    return 0;
}
BOOL GetClientRect(HWND, RECT*) {
    return FALSE;
}
BOOL GetWindowRect(HWND, RECT*) {
    return FALSE;
}
int MapWindowPoints(HWND, HWND, POINT*, UINT) {
    return 0;
}
BOOL MapDialogRect(HWND, RECT*) {
    return FALSE;
}
BOOL IsIconic(HWND) {
    return FALSE;
}
BOOL IsWindowVisible(HWND) {
    return FALSE;
}
BOOL IsWindowEnabled(HWND) {
    return FALSE;
}
BOOL EnableWindow(HWND, BOOL) {
    return FALSE;
}
BOOL ShowWindow(HWND, int) {
    return FALSE;
}
HWND SetFocus(HWND) {
    return 0;
}
HWND GetFocus() {
    return 0;
}
HWND GetActiveWindow() {
    return 0;
}
HWND SetActiveWindow(HWND) {
    return 0;
}
HWND FindWindowA(const char*, const char*) {
    return 0;
}
HWND FindWindowExA(HWND, HWND, const char*, const char*) {
    return 0;
}
HMENU GetSystemMenu(HWND, BOOL) {
    return nullptr;
}
BOOL AppendMenuA(HMENU, UINT, UINT_PTR, const char*) {
    return FALSE;
}
int GetMenuItemCount(HMENU) {
    return -1;
}
UINT GetMenuItemID(HMENU, int) {
    return 0xFFFFFFFFu;
}
int GetMenuStringA(HMENU, UINT, char* buffer, int max, UINT) {
    if (buffer != nullptr && max > 0)
        buffer[0] = '\0';
    return 0;
}
UINT GetMenuState(HMENU, UINT, UINT) {
    return 0xFFFFFFFFu;
}
int LoadStringA(UINT, char* buffer, int max) {
    if (buffer != nullptr && max > 0)
        buffer[0] = '\0';
    return 0;
}
HICON LoadIconA(UINT) {
    return nullptr;
}
int GetSystemMetrics(int) {
    return 0;
}
HDC BeginPaint(HWND, PAINTSTRUCT*) {
    return nullptr;
}
BOOL EndPaint(HWND, const PAINTSTRUCT*) {
    return FALSE;
}
BOOL DrawIcon(HDC, int, int, HICON) {
    return FALSE;
}
int GetObjectA(HFONT, int, void*) {
    return 0;
}
BOOL IsDialogMessageA(HWND, MSG*) {
    return FALSE;
}
BOOL TranslateMessage(const MSG*) {
    return FALSE;
}
void PostQuitMessage(int exitCode) {
    PostThreadMessage(GetCurrentThreadId(), WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}
void BroadcastDeviceChange(WPARAM) {}

namespace detail {
HWND CreateDialogFromTemplate(UINT, HWND, CWnd*) {
    return 0;
}
BOOL SubclassWindow(HWND, CWnd*) {
    return FALSE;
}
void UnsubclassWindow(HWND) {}
LRESULT CallDefaultProc(HWND, UINT, WPARAM, LPARAM) {
    return 0;
}
}  // namespace detail

}  // namespace ks

// CWnd: a window of the framework. It is either a message-only window (a handle that other
// threads can post to, whose messages reach WindowProc on the thread that created it) or a
// window of the window system that the framework routes to this object: a dialog it created
// from a template, or a control bound to it (SubclassWindow). Messages go through the
// message map of the object's class and its bases; what no entry handles gets the window's
// default processing.
//
// Threads: create, use and destroy a window on one thread (its thread); other threads may
// only post to it (PostMessage) or ask whether it still exists (IsWindow).
#pragma once

#include "framework/CString.h"
#include "framework/Messages.h"
#include "framework/Object.h"
#include "framework/WinUser.h"

namespace ks {

class CWnd : public CCmdTarget {
  public:
    DECLARE_DYNAMIC(CWnd)
    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // A window with no display that exists only to receive posted messages.
    BOOL CreateMessageOnly();
    virtual BOOL DestroyWindow();
    HWND GetSafeHwnd() const { return m_hWnd; }

    // Routes an existing window (a dialog's control) to this object; FALSE when this object
    // already has a window or the handle names none. UnsubclassWindow gives it back.
    BOOL SubclassWindow(HWND window);
    BOOL SubclassDlgItem(int id, CWnd* parent);
    HWND UnsubclassWindow();
    // The framework window that a handle is routed to, or nullptr.
    static CWnd* FromHandlePermanent(HWND window);

    // Handles one message: the message map's entries, else DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The window's default processing.
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Called after the window has gone (its last message); the object stays.
    virtual void PostNcDestroy() {}

    // --- Operations on the window (its thread) --------------------------------------------
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    HWND GetDlgItem(int id) const { return ks::GetDlgItem(m_hWnd, id); }
    int GetDlgCtrlID() const { return ks::GetDlgCtrlID(m_hWnd); }
    void SetWindowText(const char* text) const { ks::SetWindowTextA(m_hWnd, text); }
    CString GetWindowText() const;
    HMENU GetSystemMenu(BOOL revert) const { return ks::GetSystemMenu(m_hWnd, revert); }
    HICON SetIcon(HICON icon, BOOL bigIcon);
    BOOL IsIconic() const { return ks::IsIconic(m_hWnd); }
    void GetClientRect(RECT* rect) const { ks::GetClientRect(m_hWnd, rect); }
    BOOL ShowWindow(int command) const { return ks::ShowWindow(m_hWnd, command); }
    BOOL EnableWindow(BOOL enable) const { return ks::EnableWindow(m_hWnd, enable); }

    HWND m_hWnd = 0;

  protected:
    // Message handlers of the system's messages, for ON_WM_... entries of derived classes;
    // each gives the message its default processing.
    void OnSysCommand(UINT id, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnDestroy();
    BOOL OnDeviceChange(UINT eventType, DWORD_PTR data);
    // The current message's default processing, from inside its handler.
    LRESULT Default();

    // WM_COMMAND: the command's map entry; FALSE when there is none.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    // WM_NOTIFY: the notification's map entry; FALSE when there is none.
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
    // One message through the map; FALSE when no entry took it.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

  private:
    friend struct CWndAccess;
    // The message being handled (for Default), one per nesting level.
    struct CurrentMessage {
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
    } m_current;
    // Called by the backend when the window has gone: forgets the handle.
    void OnNcDestroyed();
};

// For the backends: the entry they call for every message of a routed window, and the hook
// they call when such a window has gone.
struct CWndAccess {
    static LRESULT Dispatch(CWnd* wnd, UINT message, WPARAM wParam, LPARAM lParam);
    static void Gone(CWnd* wnd) { wnd->OnNcDestroyed(); }
};

}  // namespace ks

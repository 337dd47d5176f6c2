// CWnd: a window of the framework. Here it is the message-only kind: a handle that other
// threads can post to, whose messages reach WindowProc on the thread that created it.
// (Dialogs build on the same class.) Create and destroy a window on one thread.
#pragma once

#include "framework/Messages.h"
#include "framework/Object.h"

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

    // Handles one message: the message map's ON_MESSAGE entry, else DefWindowProc.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = 0;
};

}  // namespace ks

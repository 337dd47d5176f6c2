// Thread message queues and windows. A thread gets its queue by calling
// EnsureMessageQueue (CWinThread does so before it counts as started); messages are posted
// to a thread (hwnd 0) or to a window, which belongs to the thread that created it and
// receives its messages when that thread dispatches them. Posting never waits, and a
// window that no longer exists is never posted to: PostMessage answers FALSE for it, and a
// message that was queued before the window went is dropped at dispatch.
#pragma once

#include "framework/WinTypes.h"

namespace ks {

struct MSG {
    HWND hwnd = 0;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

void EnsureMessageQueue();
// FALSE when the thread id names no thread with a message queue.
BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL IsWindow(HWND window);
// Blocks for the next message of the calling thread (thread or window). FALSE when the
// message is WM_QUIT (its wParam is in *msg).
BOOL GetMessage(MSG* msg);
// The next message if there is one; TRUE when *msg was filled (and removed if asked).
BOOL PeekMessage(MSG* msg, BOOL remove);
// Hands a window message to its window's procedure on this thread. 0 for thread messages
// (but for the system's own timer messages) and for windows that no longer exist.
LRESULT DispatchMessage(const MSG* msg);

class CWnd;
namespace detail {
// Backend hook used by CWnd: a message-only window routed to `owner`.
HWND CreateMessageOnlyWindow(CWnd* owner);
}  // namespace detail

}  // namespace ks

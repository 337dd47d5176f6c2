// Message queues and windows on Linux, with the semantics of their Windows namesakes. The
// framework keeps every window handle here: message-only windows (any thread) and the
// displayed windows of a toolkit (detail/Toolkit.h), which answers for the widgets. A
// message posted to a window goes to the queue of the window's thread and is dropped if the
// window has gone by the time it is dispatched; a message sent from another thread waits
// until the window's thread has handled it. The toolkit's thread waits in its own event loop,
// woken through an eventfd that every post and send writes, so that nothing polls.
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "framework/CodePage.h"
#include "framework/Kernel.h"
#include "framework/Messages.h"
#include "framework/WinUser.h"
#include "framework/Wnd.h"
#include "framework/detail/Toolkit.h"
#include "framework/posix/PosixInternal.h"

namespace ks {

namespace {

struct SentMessage {
    HWND hwnd = 0;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    LRESULT result = 0;
    bool done = false;
};

struct Queue {
    std::deque<MSG> posted;
    std::deque<SentMessage*> sent;
    int wakeFd = -1;  // made when the toolkit's thread first waits
    ~Queue() {
        if (wakeFd >= 0)
            ::close(wakeFd);
    }
};

struct Window {
    CWnd* wnd = nullptr;  // the routed object, if any
    DWORD thread = 0;
    bool displayed = false;  // a toolkit's window
    bool topLevel = false;   // a displayed window without a parent: it hears broadcasts
};

// Lives as long as the process (the application object outlives any static of this file).
struct WindowState {
    std::mutex lock;
    std::condition_variable cv;
    std::map<DWORD, std::shared_ptr<Queue>> queues;
    std::map<HWND, Window> windows;
    HWND nextWindow = 0x10000;
    detail::IToolkit* toolkit = nullptr;
    std::set<detail::CMenuData*> menus;
};
WindowState& W() {
    static auto* state = new WindowState;  // never destroyed, on purpose
    return *state;
}

// Under W().lock.
std::shared_ptr<Queue> QueueOf(DWORD thread, bool make) {
    auto it = W().queues.find(thread);
    if (it != W().queues.end())
        return it->second;
    if (!make)
        return nullptr;
    auto q = std::make_shared<Queue>();
    W().queues.emplace(thread, q);
    return q;
}

// A queue holds at most this many posted messages, as a thread's queue does on Windows: a
// post beyond it fails (the quit message excepted, which Windows keeps as a flag), so that
// a thread that has stopped reading its queue cannot make others fill memory without end.
constexpr std::size_t kPostedMessageLimit = 10000;

// Under W().lock: whether one more message may be posted to the queue.
bool HasRoom(const Queue& q, UINT message) {
    return message == WM_QUIT || q.posted.size() < kPostedMessageLimit;
}

// Under W().lock: wakes the queue's thread, wherever it waits.
void Wake(Queue& q) {
    W().cv.notify_all();
    if (q.wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(q.wakeFd, &one, sizeof one);
    }
}

const Window* WindowOf(HWND h) {
    auto it = W().windows.find(h);
    return it == W().windows.end() ? nullptr : &it->second;
}

bool IsToolkitThread() {
    detail::IToolkit* t = W().toolkit;
    return t != nullptr && t->IsToolkitThread();
}

// Runs the messages other threads have sent to this thread's windows.
void ProcessSentMessages() {
    const DWORD tid = posix::CurrentThreadId();
    for (;;) {
        SentMessage* s = nullptr;
        {
            std::lock_guard<std::mutex> lock(W().lock);
            auto q = QueueOf(tid, false);
            if (!q || q->sent.empty())
                return;
            s = q->sent.front();
            q->sent.pop_front();
        }
        LRESULT result = detail::Deliver(s->hwnd, s->message, s->wParam, s->lParam);
        std::lock_guard<std::mutex> lock(W().lock);
        s->result = result;
        s->done = true;
        W().cv.notify_all();
    }
}

bool PopPosted(MSG* msg, bool remove) {
    auto q = QueueOf(posix::CurrentThreadId(), false);
    if (!q || q->posted.empty())
        return false;
    *msg = q->posted.front();
    if (remove)
        q->posted.pop_front();
    return true;
}

// The wake-up descriptor of the calling thread's queue, made on first use.
int WakeFd() {
    std::lock_guard<std::mutex> lock(W().lock);
    auto q = QueueOf(posix::CurrentThreadId(), true);
    if (q->wakeFd < 0)
        q->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return q->wakeFd;
}

void DrainWakeFd(int fd) {
    std::uint64_t count = 0;
    while (fd >= 0 && ::read(fd, &count, sizeof count) > 0) {
    }
}

}  // namespace

namespace posix {
void ForgetThreadQueue(DWORD threadId) {
    std::lock_guard<std::mutex> lock(W().lock);
    auto q = QueueOf(threadId, false);
    if (!q)
        return;
    // Senders waiting on this thread get 0, as for a window that has gone.
    for (SentMessage* s : q->sent)
        s->done = true;
    q->sent.clear();
    W().queues.erase(threadId);
    W().cv.notify_all();
}
}  // namespace posix

// --- Queues --------------------------------------------------------------------------------

void EnsureMessageQueue() {
    std::lock_guard<std::mutex> lock(W().lock);
    QueueOf(posix::CurrentThreadId(), true);
}

BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(W().lock);
    auto q = QueueOf(threadId, false);
    if (!q || !HasRoom(*q, message))
        return FALSE;
    q->posted.push_back(MSG{0, message, wParam, lParam});
    Wake(*q);
    return TRUE;
}

BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    std::lock_guard<std::mutex> lock(W().lock);
    const Window* w = WindowOf(window);
    if (w == nullptr)
        return FALSE;
    auto q = QueueOf(w->thread, false);
    if (!q || !HasRoom(*q, message))
        return FALSE;
    q->posted.push_back(MSG{window, message, wParam, lParam});
    Wake(*q);
    return TRUE;
}

BOOL IsWindow(HWND window) {
    std::lock_guard<std::mutex> lock(W().lock);
    return WindowOf(window) != nullptr ? TRUE : FALSE;
}

BOOL GetMessage(MSG* msg) {
    {
        std::lock_guard<std::mutex> lock(W().lock);
        QueueOf(posix::CurrentThreadId(), true);
    }
    const bool toolkitThread = IsToolkitThread();
    const int wakeFd = toolkitThread ? WakeFd() : -1;
    for (;;) {
        posix::ParkIfTerminated();
        ProcessSentMessages();
        std::unique_lock<std::mutex> lock(W().lock);
        if (PopPosted(msg, true))
            return msg->message == WM_QUIT ? FALSE : TRUE;
        auto q = QueueOf(posix::CurrentThreadId(), false);
        if (q && !q->sent.empty())
            continue;
        if (!q) {
            // The queue went with a thread ended by force: park on the next round.
            lock.unlock();
            continue;
        }
        if (toolkitThread) {
            lock.unlock();
            W().toolkit->WaitForEvents(wakeFd);
            DrainWakeFd(wakeFd);
        } else {
            W().cv.wait(lock);
        }
    }
}

BOOL PeekMessage(MSG* msg, BOOL remove) {
    posix::ParkIfTerminated();
    if (IsToolkitThread())
        W().toolkit->ProcessPendingEvents();
    ProcessSentMessages();
    std::lock_guard<std::mutex> lock(W().lock);
    return PopPosted(msg, remove != FALSE) ? TRUE : FALSE;
}

LRESULT DispatchMessage(const MSG* msg) {
    {
        std::lock_guard<std::mutex> lock(W().lock);
        const Window* w = WindowOf(msg->hwnd);
        if (w == nullptr || w->thread != posix::CurrentThreadId())
            return 0;
    }
    return detail::Deliver(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

void PostQuitMessage(int exitCode) {
    PostThreadMessage(posix::CurrentThreadId(), WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}

BOOL TranslateMessage(const MSG*) {
    // Keyboard input reaches the toolkit's widgets as the toolkit's own events.
    return FALSE;
}

// --- Windows: routing, sending, destroying -------------------------------------------------

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD thread = 0;
    {
        std::lock_guard<std::mutex> lock(W().lock);
        const Window* w = WindowOf(window);
        if (w == nullptr)
            return 0;
        thread = w->thread;
    }
    if (thread == posix::CurrentThreadId())
        return detail::Deliver(window, message, wParam, lParam);
    // Another thread's window: its thread handles the message; this one waits, handling
    // what is sent to it meanwhile so that two threads sending to each other go on.
    SentMessage s{window, message, wParam, lParam, 0, false};
    {
        std::lock_guard<std::mutex> lock(W().lock);
        auto q = QueueOf(thread, false);
        if (!q)
            return 0;
        q->sent.push_back(&s);
        Wake(*q);
    }
    for (;;) {
        ProcessSentMessages();
        std::unique_lock<std::mutex> lock(W().lock);
        if (s.done)
            return s.result;
        auto own = QueueOf(posix::CurrentThreadId(), false);
        if (own && !own->sent.empty())
            continue;
        W().cv.wait(lock);
    }
}

BOOL DestroyWindow(HWND window) {
    Window w;
    {
        std::lock_guard<std::mutex> lock(W().lock);
        const Window* found = WindowOf(window);
        if (found == nullptr || found->thread != posix::CurrentThreadId())
            return FALSE;
        w = *found;
    }
    if (w.displayed)
        return W().toolkit != nullptr ? W().toolkit->DestroyWindow(window) : FALSE;
    detail::Deliver(window, WM_DESTROY, 0, 0);
    detail::Deliver(window, WM_NCDESTROY, 0, 0);
    detail::ReleaseWindow(window);
    return TRUE;
}

void BroadcastDeviceChange(WPARAM eventType) {
    // Any thread. Top-level windows hear broadcasts, as on Windows; each gets the message
    // through its own thread's queue.
    std::lock_guard<std::mutex> lock(W().lock);
    for (const auto& [h, w] : W().windows) {
        if (!w.displayed || !w.topLevel)
            continue;
        if (auto q = QueueOf(w.thread, false); q && HasRoom(*q, WM_DEVICECHANGE)) {
            q->posted.push_back(MSG{h, WM_DEVICECHANGE, eventType, 0});
            Wake(*q);
        }
    }
}

namespace detail {

void InstallToolkit(IToolkit* toolkit) {
    W().toolkit = toolkit;
}

IToolkit* Toolkit() {
    return W().toolkit;
}

HWND AllocateWindow(bool topLevel) {
    std::lock_guard<std::mutex> lock(W().lock);
    const DWORD tid = posix::CurrentThreadId();
    QueueOf(tid, true);
    HWND h = W().nextWindow;
    W().nextWindow += 2;
    W().windows.emplace(h, Window{nullptr, tid, true, topLevel});
    return h;
}

void ReleaseWindow(HWND window) {
    CWnd* wnd = nullptr;
    {
        std::lock_guard<std::mutex> lock(W().lock);
        auto it = W().windows.find(window);
        if (it == W().windows.end())
            return;
        wnd = it->second.wnd;
        W().windows.erase(it);
    }
    if (wnd != nullptr)
        CWndAccess::Gone(wnd);
}

LRESULT Deliver(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Window w;
    {
        std::lock_guard<std::mutex> lock(W().lock);
        const Window* found = WindowOf(window);
        if (found == nullptr)
            return 0;
        w = *found;
    }
    if (w.wnd != nullptr)
        return CWndAccess::Dispatch(w.wnd, message, wParam, lParam);
    if (w.displayed && W().toolkit != nullptr)
        return W().toolkit->DefaultProc(window, message, wParam, lParam);
    return 0;
}

HWND CreateMessageOnlyWindow(CWnd* owner) {
    std::lock_guard<std::mutex> lock(W().lock);
    const DWORD tid = posix::CurrentThreadId();
    QueueOf(tid, true);
    HWND h = W().nextWindow;
    W().nextWindow += 2;
    W().windows.emplace(h, Window{owner, tid, false, false});
    return h;
}

HWND CreateDialogFromTemplate(UINT templateId, HWND parent, CWnd* owner) {
    IToolkit* t = W().toolkit;
    if (t == nullptr || !t->Available())
        return 0;
    return t->CreateDialogFromTemplate(templateId, parent, owner);
}

BOOL SubclassWindow(HWND window, CWnd* owner) {
    std::lock_guard<std::mutex> lock(W().lock);
    auto it = W().windows.find(window);
    if (owner == nullptr || it == W().windows.end() || it->second.wnd != nullptr ||
        it->second.thread != posix::CurrentThreadId())
        return FALSE;
    it->second.wnd = owner;
    return TRUE;
}

void UnsubclassWindow(HWND window) {
    std::lock_guard<std::mutex> lock(W().lock);
    auto it = W().windows.find(window);
    if (it != W().windows.end() && it->second.displayed)
        it->second.wnd = nullptr;
}

CWnd* WindowOwner(HWND window) {
    std::lock_guard<std::mutex> lock(W().lock);
    const Window* w = WindowOf(window);
    return w != nullptr ? w->wnd : nullptr;
}

LRESULT CallDefaultProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    bool displayed = false;
    {
        std::lock_guard<std::mutex> lock(W().lock);
        const Window* w = WindowOf(window);
        displayed = w != nullptr && w->displayed;
    }
    if (displayed && W().toolkit != nullptr)
        return W().toolkit->DefaultProc(window, message, wParam, lParam);
    return 0;
}

HMENU MakeMenu() {
    auto* menu = new CMenuData;
    std::lock_guard<std::mutex> lock(W().lock);
    W().menus.insert(menu);
    return reinterpret_cast<HMENU>(menu);
}

CMenuData* MenuOf(HMENU menu) {
    auto* data = reinterpret_cast<CMenuData*>(menu);
    std::lock_guard<std::mutex> lock(W().lock);
    return W().menus.count(data) != 0 ? data : nullptr;
}

}  // namespace detail

// --- Windows: what the toolkit answers ------------------------------------------------------

namespace {
// The toolkit, when `window` is one of its windows.
detail::IToolkit* ToolkitFor(HWND window) {
    detail::IToolkit* t = W().toolkit;
    if (t == nullptr)
        return nullptr;
    std::lock_guard<std::mutex> lock(W().lock);
    const Window* w = WindowOf(window);
    return w != nullptr && w->displayed && w->thread == posix::CurrentThreadId() ? t : nullptr;
}

// Toolkit calls that need no window, on the toolkit's thread only.
detail::IToolkit* ToolkitHere() {
    return IsToolkitThread() ? W().toolkit : nullptr;
}
}  // namespace

BOOL AfxCanShowWindows() {
    detail::IToolkit* t = W().toolkit;
    return t != nullptr && t->Available() && t->Start() ? TRUE : FALSE;
}

HWND GetDlgItem(HWND dialog, int id) {
    auto* t = ToolkitFor(dialog);
    return t != nullptr ? t->GetDlgItem(dialog, id) : 0;
}

int GetDlgCtrlID(HWND window) {
    auto* t = ToolkitFor(window);
    return t != nullptr ? t->GetDlgCtrlID(window) : 0;
}

HWND GetParent(HWND window) {
    auto* t = ToolkitFor(window);
    return t != nullptr ? t->GetParent(window) : 0;
}

HWND GetWindow(HWND window, UINT relation) {
    auto* t = ToolkitFor(window);
    return t != nullptr ? t->GetWindow(window, relation) : 0;
}

// Window texts go through the window's own messages, as Windows does for the windows of
// the calling process.
int GetWindowTextA(HWND window, char* buffer, int max) {
    if (buffer == nullptr || max <= 0)
        return 0;
    buffer[0] = '\0';
    return static_cast<int>(SendMessage(window, WM_GETTEXT, static_cast<WPARAM>(max),
                                        reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLengthA(HWND window) {
    return static_cast<int>(SendMessage(window, WM_GETTEXTLENGTH, 0, 0));
}

BOOL SetWindowTextA(HWND window, const char* text) {
    return static_cast<BOOL>(
        SendMessage(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text != nullptr ? text : "")));
}

int GetClassNameA(HWND window, char* buffer, int max) {
    if (buffer == nullptr || max <= 0)
        return 0;
    buffer[0] = '\0';
    auto* t = ToolkitFor(window);
    if (t == nullptr)
        return 0;
    std::string name = t->GetClassName(window);
    const std::size_t n = std::min(name.size(), static_cast<std::size_t>(max - 1));
    std::memcpy(buffer, name.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

LONG GetWindowLongA(HWND window, int index) {
    auto* t = ToolkitFor(window);
    return t != nullptr ? t->GetWindowLong(window, index) : 0;
}

BOOL GetClientRect(HWND window, RECT* rect) {
    auto* t = ToolkitFor(window);
    return t != nullptr && rect != nullptr ? t->GetClientRect(window, rect) : FALSE;
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    auto* t = ToolkitFor(window);
    return t != nullptr && rect != nullptr ? t->GetWindowRect(window, rect) : FALSE;
}

int MapWindowPoints(HWND from, HWND to, POINT* points, UINT count) {
    POINT a{0, 0};
    POINT b{0, 0};
    if (from != 0) {
        auto* t = ToolkitFor(from);
        if (t == nullptr || !t->ClientOrigin(from, &a))
            return 0;
    }
    if (to != 0) {
        auto* t = ToolkitFor(to);
        if (t == nullptr || !t->ClientOrigin(to, &b))
            return 0;
    }
    const LONG dx = a.x - b.x;
    const LONG dy = a.y - b.y;
    for (UINT i = 0; points != nullptr && i < count; ++i) {
        points[i].x += dx;
        points[i].y += dy;
    }
    return static_cast<int>((dx & 0xFFFF) | (static_cast<DWORD>(dy & 0xFFFF) << 16));
}

BOOL MapDialogRect(HWND dialog, RECT* rect) {
    auto* t = ToolkitFor(dialog);
    return t != nullptr && rect != nullptr ? t->MapDialogRect(dialog, rect) : FALSE;
}

BOOL IsIconic(HWND window) {
    auto* t = ToolkitFor(window);
    return t != nullptr ? t->IsIconic(window) : FALSE;
}

BOOL IsWindowVisible(HWND window) {
    auto* t = ToolkitFor(window);
    return t != nullptr ? t->IsWindowVisible(window) : FALSE;
}

BOOL IsWindowEnabled(HWND window) {
    auto* t = ToolkitFor(window);
    return t != nullptr ? t->IsWindowEnabled(window) : FALSE;
}

BOOL EnableWindow(HWND window, BOOL enable) {
    auto* t = ToolkitFor(window);
    return t != nullptr ? t->EnableWindow(window, enable) : FALSE;
}

BOOL ShowWindow(HWND window, int command) {
    auto* t = ToolkitFor(window);
    return t != nullptr ? t->ShowWindow(window, command) : FALSE;
}

HWND SetFocus(HWND window) {
    auto* t = ToolkitFor(window);
    return t != nullptr ? t->SetFocus(window) : 0;
}

HWND GetFocus() {
    auto* t = ToolkitHere();
    return t != nullptr ? t->GetFocus() : 0;
}

HWND GetActiveWindow() {
    auto* t = ToolkitHere();
    return t != nullptr ? t->GetActiveWindow() : 0;
}

HWND SetActiveWindow(HWND window) {
    auto* t = ToolkitFor(window);
    return t != nullptr ? t->SetActiveWindow(window) : 0;
}

HWND FindWindowExA(HWND parent, HWND after, const char* className, const char* windowName) {
    auto* t = ToolkitHere();
    if (t == nullptr || parent != 0)
        return 0;
    bool passed = after == 0;
    for (HWND h : t->TopLevelWindows()) {
        if (!passed) {
            passed = h == after;
            continue;
        }
        if (className != nullptr && t->GetClassName(h) != className)
            continue;
        if (windowName != nullptr) {
            const int length = GetWindowTextLengthA(h);
            std::string text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
            const int got = GetWindowTextA(h, text.data(), static_cast<int>(text.size()));
            text.resize(static_cast<std::size_t>(got > 0 ? got : 0));
            if (text != windowName)
                continue;
        }
        return h;
    }
    return 0;
}

HWND FindWindowA(const char* className, const char* windowName) {
    return FindWindowExA(0, 0, className, windowName);
}

HMENU GetSystemMenu(HWND window, BOOL revert) {
    auto* t = ToolkitFor(window);
    return t != nullptr ? t->GetSystemMenu(window, revert) : nullptr;
}

BOOL AppendMenuA(HMENU menu, UINT flags, UINT_PTR id, const char* text) {
    detail::CMenuData* data = detail::MenuOf(menu);
    if (data == nullptr)
        return FALSE;
    detail::CMenuItem item;
    item.flags = flags;
    item.id = (flags & MF_SEPARATOR) != 0 ? 0 : id;
    if ((flags & MF_SEPARATOR) == 0 && text != nullptr)
        item.text = text;
    data->items.push_back(std::move(item));
    return TRUE;
}

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR id, const char16_t* text) {
    // The menus keep their texts in the ANSI code page, which here is UTF-8: nothing is lost.
    std::string ansi;
    if (text != nullptr)
        ansi = Utf16ToAnsi(text, std::char_traits<char16_t>::length(text));
    return AppendMenuA(menu, flags, id, text != nullptr ? ansi.c_str() : nullptr);
}

int GetMenuItemCount(HMENU menu) {
    detail::CMenuData* data = detail::MenuOf(menu);
    return data != nullptr ? static_cast<int>(data->items.size()) : -1;
}

namespace {
const detail::CMenuItem* MenuItem(HMENU menu, UINT item, UINT flags) {
    detail::CMenuData* data = detail::MenuOf(menu);
    if (data == nullptr)
        return nullptr;
    if ((flags & MF_BYPOSITION) != 0)
        return item < data->items.size() ? &data->items[item] : nullptr;
    for (const detail::CMenuItem& i : data->items)
        if ((i.flags & MF_SEPARATOR) == 0 && i.id == item)
            return &i;
    return nullptr;
}
}  // namespace

UINT GetMenuItemID(HMENU menu, int position) {
    const detail::CMenuItem* i =
        position >= 0 ? MenuItem(menu, static_cast<UINT>(position), MF_BYPOSITION) : nullptr;
    if (i == nullptr)
        return 0xFFFFFFFFu;
    return (i->flags & MF_SEPARATOR) != 0 ? 0 : static_cast<UINT>(i->id);
}

int GetMenuStringA(HMENU menu, UINT item, char* buffer, int max, UINT flags) {
    const detail::CMenuItem* i = MenuItem(menu, item, flags);
    if (i == nullptr)
        return 0;
    if (buffer == nullptr || max <= 0)
        return static_cast<int>(i->text.size());
    const std::size_t n = std::min(i->text.size(), static_cast<std::size_t>(max - 1));
    std::memcpy(buffer, i->text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

int GetMenuStringW(HMENU menu, UINT item, char16_t* buffer, int max, UINT flags) {
    const detail::CMenuItem* i = MenuItem(menu, item, flags);
    if (i == nullptr)
        return 0;
    const std::u16string text = Utf8ToUtf16(i->text);
    if (buffer == nullptr || max <= 0)
        return static_cast<int>(text.size());
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(max - 1));
    std::copy_n(text.data(), n, buffer);
    buffer[n] = u'\0';
    return static_cast<int>(n);
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
    const detail::CMenuItem* i = MenuItem(menu, item, flags);
    return i != nullptr ? (i->flags & MF_SEPARATOR) : 0xFFFFFFFFu;
}

UINT GetDpiForWindow(HWND window) {
    auto* t = ToolkitFor(window);
    return t != nullptr ? t->GetDpiForWindow(window) : 96;
}

int GetSystemMetrics(int index) {
    auto* t = ToolkitHere();
    if (t != nullptr)
        return t->GetSystemMetrics(index);
    // Without a display, the sizes Windows has at 96 dots per inch.
    return index == SM_CXICON || index == SM_CYICON ? 32 : 0;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    auto* t = ToolkitFor(window);
    return t != nullptr && paint != nullptr ? t->BeginPaint(window, paint) : nullptr;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
    auto* t = ToolkitFor(window);
    return t != nullptr && paint != nullptr ? t->EndPaint(window, paint) : FALSE;
}

BOOL DrawIcon(HDC dc, int x, int y, HICON icon) {
    auto* t = ToolkitHere();
    return t != nullptr && dc != nullptr ? t->DrawIcon(dc, x, y, icon) : FALSE;
}

int GetObjectA(HFONT font, int size, void* buffer) {
    auto* t = ToolkitHere();
    return t != nullptr && font != nullptr ? t->GetObject(font, size, buffer) : 0;
}

BOOL IsDialogMessageA(HWND dialog, MSG* msg) {
    auto* t = ToolkitFor(dialog);
    return t != nullptr && msg != nullptr ? t->IsDialogMessage(dialog, msg) : FALSE;
}

}  // namespace ks

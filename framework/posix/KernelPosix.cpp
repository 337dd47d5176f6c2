// Kernel objects and threads for Linux, with the semantics of
// their Windows namesakes. Every object lives behind one process-wide lock and condition
// variable: the program has two threads and a handful of objects, so simplicity wins over
// lock granularity.
//
// Named mutexes are shared by all processes of the user through an abstract-namespace Unix
// socket ("\0ks-mutex/<uid>/<name>"): a process binds the name while one of its threads
// owns the mutex. The kernel releases the binding when the process dies, and the abstract
// namespace leaves no file behind. Across processes a name therefore exists while it is
// owned, which is all that a single-instance guard needs.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/Kernel.h"
#include "framework/posix/PosixInternal.h"

namespace ks {

namespace {

enum class Kind { Mutex, Semaphore, Event, Thread };

struct KObject {
    explicit KObject(Kind k) : kind(k) {}
    Kind kind;
    // Mutex
    DWORD owner = 0;
    int recursion = 0;
    bool abandoned = false;
    std::string name;            // named mutexes only
    int socketFd = -1;           // bound while this process owns a named mutex
    bool heldElsewhere = false;  // another process held the name when we last tried
    // Semaphore
    LONG count = 0;
    LONG maximum = 0;
    // Event
    bool manualReset = false;
    bool signaled = false;  // also: thread ended
    // Thread
    DWORD exitCode = 0x103;  // STILL_ACTIVE
    DWORD threadId = 0;
    bool terminated = false;
};

// The framework's state outlives every static object: the application object is
// constructed before, and destroyed after, anything a plain global of this file would be.
struct State {
    std::mutex lock;
    std::condition_variable cv;
    std::map<std::uintptr_t, std::shared_ptr<KObject>> handles;
    std::uintptr_t nextHandle = 0x1000;
    std::map<std::string, std::weak_ptr<KObject>> namedMutexes;
    std::vector<std::weak_ptr<KObject>> mutexes;
    std::atomic<DWORD> nextThreadId{1000};
    std::atomic<bool> anyTerminated{false};
};
State& S() {
    static State* state = new State;  // never destroyed, on purpose
    return *state;
}

thread_local DWORD t_threadId = 0;
thread_local std::shared_ptr<KObject> t_self;  // the thread object of threads made here

DWORD CurrentId() {
    if (t_threadId == 0)
        t_threadId = S().nextThreadId.fetch_add(1);
    return t_threadId;
}

HANDLE NewHandle(std::shared_ptr<KObject> obj) {
    std::uintptr_t h = S().nextHandle;
    S().nextHandle += 4;
    S().handles.emplace(h, std::move(obj));
    return reinterpret_cast<HANDLE>(h);
}

std::shared_ptr<KObject> Lookup(HANDLE h) {
    auto it = S().handles.find(reinterpret_cast<std::uintptr_t>(h));
    return it == S().handles.end() ? nullptr : it->second;
}

// A thread that was terminated by force stops for good as soon as it enters the framework.
void ParkIfTerminated(std::unique_lock<std::mutex>& lock) {
    if (t_self && t_self->terminated) {
        for (;;)
            S().cv.wait(lock);
    }
}

bool BindName(KObject& m) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::string key = "ks-mutex/" + std::to_string(::getuid()) + "/" + m.name;
    if (key.size() > sizeof(addr.sun_path) - 1) {
        std::uint64_t h = 1469598103934665603ull;  // FNV-1a of the long name
        for (unsigned char c : m.name)
            h = (h ^ c) * 1099511628211ull;
        key = "ks-mutex/" + std::to_string(::getuid()) + "/#" + std::to_string(h);
    }
    std::memcpy(addr.sun_path + 1, key.data(), key.size());
    auto len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + key.size());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), len) != 0) {
        ::close(fd);
        return false;
    }
    m.socketFd = fd;
    return true;
}

void UnbindName(KObject& m) {
    if (m.socketFd >= 0) {
        ::close(m.socketFd);
        m.socketFd = -1;
    }
}

enum class Try { No, Yes, Abandoned };

// Under S().lock: takes the object for thread `tid` when it is free.
Try TryAcquire(KObject& o, DWORD tid) {
    switch (o.kind) {
        case Kind::Mutex: {
            if (o.owner == tid) {
                ++o.recursion;
                return Try::Yes;
            }
            if (o.owner != 0)
                return Try::No;
            bool abandoned = o.abandoned;
            if (!o.name.empty()) {
                if (!BindName(o)) {
                    o.heldElsewhere = true;
                    return Try::No;
                }
                // The name came free while we waited: its owner ended while owning it.
                if (o.heldElsewhere)
                    abandoned = true;
                o.heldElsewhere = false;
            }
            o.owner = tid;
            o.recursion = 1;
            o.abandoned = false;
            return abandoned ? Try::Abandoned : Try::Yes;
        }
        case Kind::Semaphore:
            if (o.count <= 0)
                return Try::No;
            --o.count;
            return Try::Yes;
        case Kind::Event:
            if (!o.signaled)
                return Try::No;
            if (!o.manualReset)
                o.signaled = false;
            return Try::Yes;
        case Kind::Thread:
            return o.signaled ? Try::Yes : Try::No;
    }
    return Try::No;
}

// Mutexes owned by a thread that ends are abandoned: the next waiter gets them.
void AbandonMutexesOf(DWORD tid) {
    for (auto& weak : S().mutexes) {
        if (auto m = weak.lock(); m && m->owner == tid) {
            m->owner = 0;
            m->recursion = 0;
            m->abandoned = true;
            UnbindName(*m);
        }
    }
}

struct ThreadStart {
    ThreadProc proc;
    void* arg;
    std::shared_ptr<KObject> self;
};

}  // namespace

HANDLE CreateMutexObject(BOOL initialOwner, const char* name, BOOL* alreadyExisted) {
    std::lock_guard<std::mutex> lock(S().lock);
    if (alreadyExisted != nullptr)
        *alreadyExisted = FALSE;
    DWORD tid = CurrentId();
    if (name != nullptr && *name != '\0') {
        auto it = S().namedMutexes.find(name);
        if (it != S().namedMutexes.end()) {
            if (auto existing = it->second.lock()) {
                if (alreadyExisted != nullptr)
                    *alreadyExisted = TRUE;
                return NewHandle(existing);
            }
        }
    }
    auto m = std::make_shared<KObject>(Kind::Mutex);
    if (name != nullptr && *name != '\0') {
        m->name = name;
        if (initialOwner) {
            if (BindName(*m)) {
                m->owner = tid;
                m->recursion = 1;
            } else {
                // Another process owns the name: we open it without ownership.
                m->heldElsewhere = true;
                if (alreadyExisted != nullptr)
                    *alreadyExisted = TRUE;
            }
        }
        S().namedMutexes[name] = m;
    } else if (initialOwner) {
        m->owner = tid;
        m->recursion = 1;
    }
    S().mutexes.push_back(m);
    return NewHandle(m);
}

BOOL ReleaseMutex(HANDLE h) {
    std::lock_guard<std::mutex> lock(S().lock);
    auto m = Lookup(h);
    if (!m || m->kind != Kind::Mutex || m->owner != CurrentId())
        return FALSE;
    if (--m->recursion == 0) {
        m->owner = 0;
        UnbindName(*m);
        S().cv.notify_all();
    }
    return TRUE;
}

HANDLE CreateSemaphoreObject(LONG initialCount, LONG maximumCount) {
    if (maximumCount <= 0 || initialCount < 0 || initialCount > maximumCount)
        return nullptr;
    std::lock_guard<std::mutex> lock(S().lock);
    auto s = std::make_shared<KObject>(Kind::Semaphore);
    s->count = initialCount;
    s->maximum = maximumCount;
    return NewHandle(s);
}

BOOL ReleaseSemaphore(HANDLE h, LONG releaseCount, LONG* previousCount) {
    std::lock_guard<std::mutex> lock(S().lock);
    auto s = Lookup(h);
    if (!s || s->kind != Kind::Semaphore || releaseCount <= 0)
        return FALSE;
    if (s->count > s->maximum - releaseCount)
        return FALSE;
    if (previousCount != nullptr)
        *previousCount = s->count;
    s->count += releaseCount;
    S().cv.notify_all();
    return TRUE;
}

HANDLE CreateEventObject(BOOL manualReset, BOOL initialState) {
    std::lock_guard<std::mutex> lock(S().lock);
    auto e = std::make_shared<KObject>(Kind::Event);
    e->manualReset = manualReset != FALSE;
    e->signaled = initialState != FALSE;
    return NewHandle(e);
}

BOOL SetEvent(HANDLE h) {
    std::lock_guard<std::mutex> lock(S().lock);
    auto e = Lookup(h);
    if (!e || e->kind != Kind::Event)
        return FALSE;
    e->signaled = true;
    S().cv.notify_all();
    return TRUE;
}

BOOL ResetEvent(HANDLE h) {
    std::lock_guard<std::mutex> lock(S().lock);
    auto e = Lookup(h);
    if (!e || e->kind != Kind::Event)
        return FALSE;
    e->signaled = false;
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE h, DWORD ms) {
    return MsgWaitForMultipleObjects(1, &h, FALSE, ms, 0);
}

DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms,
                                DWORD /*wakeMask*/) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> lock(S().lock);
    ParkIfTerminated(lock);
    std::vector<std::shared_ptr<KObject>> objs;
    bool polling = false;  // a named mutex held elsewhere gives no wake-up: poll for it
    for (DWORD i = 0; i < count; ++i) {
        auto o = Lookup(handles[i]);
        if (!o)
            return WAIT_FAILED;
        polling = polling || !o->name.empty();
        objs.push_back(std::move(o));
    }
    if (objs.empty())
        return WAIT_FAILED;
    const DWORD tid = CurrentId();
    for (;;) {
        if (waitAll && objs.size() > 1) {
            // All at once or none: take each, and give back on the first refusal.
            bool all = true;
            for (auto& o : objs) {
                bool free = o->kind == Kind::Mutex
                                ? (o->owner == 0 || o->owner == tid) && o->name.empty()
                            : o->kind == Kind::Semaphore ? o->count > 0
                                                         : o->signaled;
                all = all && free;
            }
            if (all) {
                for (auto& o : objs)
                    TryAcquire(*o, tid);
                return WAIT_OBJECT_0;
            }
        } else {
            for (std::size_t i = 0; i < objs.size(); ++i) {
                Try r = TryAcquire(*objs[i], tid);
                if (r == Try::Yes)
                    return WAIT_OBJECT_0 + static_cast<DWORD>(i);
                if (r == Try::Abandoned)
                    return WAIT_ABANDONED + static_cast<DWORD>(i);
            }
        }
        if (ms == 0)
            return WAIT_TIMEOUT;
        if (ms == INFINITE) {
            if (polling) {
                S().cv.wait_for(lock, std::chrono::milliseconds(1));
            } else {
                S().cv.wait(lock);
            }
        } else {
            auto now = Clock::now();
            if (now >= deadline)
                return WAIT_TIMEOUT;
            auto until =
                polling ? std::min(deadline, now + std::chrono::milliseconds(1)) : deadline;
            S().cv.wait_until(lock, until);
        }
        ParkIfTerminated(lock);
    }
}

BOOL CloseHandle(HANDLE h) {
    std::lock_guard<std::mutex> lock(S().lock);
    return S().handles.erase(reinterpret_cast<std::uintptr_t>(h)) == 1 ? TRUE : FALSE;
}

HANDLE DuplicateHandle(HANDLE h) {
    std::lock_guard<std::mutex> lock(S().lock);
    auto o = Lookup(h);
    return o ? NewHandle(o) : nullptr;
}

DWORD GetCurrentThreadId() {
    return CurrentId();
}

void Sleep(DWORD ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

HANDLE CreateThread(ThreadProc proc, void* argument, DWORD* threadId) {
    auto self = std::make_shared<KObject>(Kind::Thread);
    self->threadId = S().nextThreadId.fetch_add(1);
    HANDLE h;
    {
        std::lock_guard<std::mutex> lock(S().lock);
        h = NewHandle(self);
    }
    if (threadId != nullptr)
        *threadId = self->threadId;
    auto* start = new ThreadStart{proc, argument, self};
    try {
        std::thread([start] {
            std::unique_ptr<ThreadStart> s(start);
            t_threadId = s->self->threadId;
            t_self = s->self;
            unsigned code = s->proc(s->arg);
            std::unique_lock<std::mutex> lock(S().lock);
            ParkIfTerminated(lock);
            AbandonMutexesOf(t_threadId);
            posix::ForgetThreadQueue(t_threadId);
            s->self->exitCode = code;
            s->self->signaled = true;
            S().cv.notify_all();
            t_self.reset();
        }).detach();
    } catch (...) {
        delete start;
        CloseHandle(h);
        return nullptr;
    }
    return h;
}

BOOL TerminateThread(HANDLE h, DWORD exitCode) {
    std::lock_guard<std::mutex> lock(S().lock);
    auto t = Lookup(h);
    if (!t || t->kind != Kind::Thread)
        return FALSE;
    if (t->signaled)
        return TRUE;
    // A POSIX thread cannot be ended safely from outside: it is marked ended, and it
    // stops for good the next time it enters the framework. The process must then not
    // run its static destructors under it (EndProcess).
    t->terminated = true;
    t->signaled = true;
    t->exitCode = exitCode;
    posix::ForgetThreadQueue(t->threadId);
    AbandonMutexesOf(t->threadId);
    S().anyTerminated = true;
    S().cv.notify_all();
    return TRUE;
}

BOOL GetExitCodeThread(HANDLE h, DWORD* exitCode) {
    std::lock_guard<std::mutex> lock(S().lock);
    auto t = Lookup(h);
    if (!t || t->kind != Kind::Thread || exitCode == nullptr)
        return FALSE;
    *exitCode = t->exitCode;
    return TRUE;
}

int EndProcess(int code) {
    if (S().anyTerminated) {
        std::fflush(nullptr);
        ::_exit(code);
    }
    return code;
}

namespace posix {

DWORD CurrentThreadId() {
    return CurrentId();
}

void ParkIfTerminated() {
    std::unique_lock<std::mutex> lock(S().lock);
    ks::ParkIfTerminated(lock);
}

}  // namespace posix

}  // namespace ks

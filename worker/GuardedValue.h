// CGuardedValue: a value with its own semaphore of maximum count 1. Each use takes the
// semaphore, reads or writes the value once, and gives it back, all inside one call, so no
// caller ever holds two guards. Any thread may call; a window thread that waits here
// blocks (the wait takes no window messages).
#pragma once

#include <utility>

#include "framework/Kernel.h"
#include "framework/Sync.h"

namespace ks {

template <class T>
class CGuardedValue {
  public:
    explicit CGuardedValue(T initial = T()) : m_value(std::move(initial)) {
        m_hSemaphore = CreateSemaphoreObject(1, 1);
        if (m_hSemaphore == nullptr)
            AfxThrowResourceException();
    }
    CGuardedValue(const CGuardedValue&) = delete;
    CGuardedValue& operator=(const CGuardedValue&) = delete;
    virtual ~CGuardedValue() { CloseHandle(m_hSemaphore); }

    T Read() const {
        Hold hold(m_hSemaphore);
        return m_value;
    }
    void Write(const T& value) {
        Hold hold(m_hSemaphore);
        m_value = value;
    }
    // Writes a new value and answers the old one, in one hold: a test-and-clear that no
    // other thread can split.
    T Exchange(const T& value) {
        Hold hold(m_hSemaphore);
        T old = m_value;
        m_value = value;
        return old;
    }
    // Copies the value out into `out` (for values too big to return).
    void CopyTo(T& out) const {
        Hold hold(m_hSemaphore);
        out = m_value;
    }

    HANDLE m_hSemaphore = nullptr;
    T m_value;

  private:
    // Gives the semaphore back also when the copy under it throws.
    struct Hold {
        explicit Hold(HANDLE h) : m_h(h) { MsgWaitForMultipleObjects(1, &m_h, FALSE, INFINITE, 0); }
        ~Hold() { ReleaseSemaphore(m_h, 1, nullptr); }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        HANDLE m_h;
    };
};

}  // namespace ks

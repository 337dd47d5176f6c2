// The framework's synchronisation objects over the kernel objects of Kernel.h, and the
// resource exception that their constructors raise when an object cannot be created.
// An object may be used from any thread; CSingleLock belongs to the thread that made it.
#pragma once

#include <stdexcept>

#include "framework/Kernel.h"
#include "framework/Object.h"

namespace ks {

class CResourceException : public std::runtime_error {
  public:
    CResourceException() : std::runtime_error("a system resource could not be created") {}
};
[[noreturn]] void AfxThrowResourceException();

class CSyncObject : public CObject {
  public:
    ~CSyncObject() override;
    CSyncObject(const CSyncObject&) = delete;
    CSyncObject& operator=(const CSyncObject&) = delete;

    // TRUE only when the wait answers WAIT_OBJECT_0; a time-out, an abandoned mutex and a
    // failure all count as not acquired.
    virtual BOOL Lock(DWORD timeout = INFINITE);
    virtual BOOL Unlock() = 0;
    HANDLE m_hObject = nullptr;

  protected:
    CSyncObject() = default;
};

class CMutex : public CSyncObject {
  public:
    explicit CMutex(BOOL initiallyOwn = FALSE, const char* name = nullptr,
                    void* security = nullptr);
    BOOL Unlock() override;
    // Whether a mutex of that name existed already when this one was created.
    BOOL m_bAlreadyExisted = FALSE;
};

class CSemaphore : public CSyncObject {
  public:
    // Unnamed semaphores only: this program never shares one between processes.
    explicit CSemaphore(LONG initialCount = 1, LONG maxCount = 1, const char* name = nullptr,
                        void* security = nullptr);
    BOOL Unlock() override;
    BOOL Unlock(LONG count, LONG* previousCount);
};

class CEvent : public CSyncObject {
  public:
    explicit CEvent(BOOL initiallyOwn = FALSE, BOOL manualReset = FALSE, const char* name = nullptr,
                    void* security = nullptr);
    BOOL SetEvent();
    BOOL ResetEvent();
    BOOL Unlock() override { return TRUE; }
};

// Acquires one sync object for a scope and gives it back on Unlock or at the end of the
// scope (also when the scope ends by an exception).
class CSingleLock {
  public:
    explicit CSingleLock(CSyncObject* object, BOOL initialLock = FALSE);
    ~CSingleLock();
    CSingleLock(const CSingleLock&) = delete;
    CSingleLock& operator=(const CSingleLock&) = delete;

    BOOL Lock(DWORD timeout = INFINITE);
    BOOL Unlock();
    BOOL IsLocked() const { return m_bAcquired; }

  private:
    CSyncObject* m_pObject;
    BOOL m_bAcquired = FALSE;
};

}  // namespace ks

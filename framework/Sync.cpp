#include "framework/Sync.h"

namespace ks {

void AfxThrowResourceException() {
    throw CResourceException();
}

CSyncObject::~CSyncObject() {
    if (m_hObject != nullptr)
        CloseHandle(m_hObject);
}

BOOL CSyncObject::Lock(DWORD timeout) {
    return WaitForSingleObject(m_hObject, timeout) == WAIT_OBJECT_0 ? TRUE : FALSE;
}

CMutex::CMutex(BOOL initiallyOwn, const char* name, void* /*security*/) {
    m_hObject = CreateMutexObject(initiallyOwn, name, &m_bAlreadyExisted);
    if (m_hObject == nullptr)
        AfxThrowResourceException();
}

BOOL CMutex::Unlock() {
    return ReleaseMutex(m_hObject);
}

CSemaphore::CSemaphore(LONG initialCount, LONG maxCount, const char* name, void* /*security*/) {
    if (name != nullptr)
        AfxThrowResourceException();
    m_hObject = CreateSemaphoreObject(initialCount, maxCount);
    if (m_hObject == nullptr)
        AfxThrowResourceException();
}

BOOL CSemaphore::Unlock() {
    return Unlock(1, nullptr);
}

BOOL CSemaphore::Unlock(LONG count, LONG* previousCount) {
    return ReleaseSemaphore(m_hObject, count, previousCount);
}

CEvent::CEvent(BOOL initiallyOwn, BOOL manualReset, const char* name, void* /*security*/) {
    if (name != nullptr)
        AfxThrowResourceException();
    m_hObject = CreateEventObject(manualReset, initiallyOwn);
    if (m_hObject == nullptr)
        AfxThrowResourceException();
}

BOOL CEvent::SetEvent() {
    return ks::SetEvent(m_hObject);
}
BOOL CEvent::ResetEvent() {
    return ks::ResetEvent(m_hObject);
}

CSingleLock::CSingleLock(CSyncObject* object, BOOL initialLock) : m_pObject(object) {
    if (initialLock)
        Lock();
}

CSingleLock::~CSingleLock() {
    Unlock();
}

BOOL CSingleLock::Lock(DWORD timeout) {
    m_bAcquired = m_pObject->Lock(timeout);
    return m_bAcquired;
}

BOOL CSingleLock::Unlock() {
    if (m_bAcquired)
        m_bAcquired = !m_pObject->Unlock();
    return !m_bAcquired;
}

}  // namespace ks

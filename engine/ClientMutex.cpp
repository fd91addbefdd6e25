#include "ClientMutex.h"

#ifdef _WIN32

CClient_Mutex::CClient_Mutex() : m_handle(CreateMutexW(nullptr, FALSE, nullptr)) {}
CClient_Mutex::~CClient_Mutex() {
    if (m_handle != nullptr)
        CloseHandle(m_handle);
}
bool CClient_Mutex::IsValid() const {
    return m_handle != nullptr;
}
// An abandoned mutex (its owner thread ended) is owned by the waiter all the same.
void CClient_Mutex::Lock() {
    WaitForSingleObject(m_handle, INFINITE);
}
void CClient_Mutex::Unlock() {
    ReleaseMutex(m_handle);
}
bool CClient_Mutex::TryLock() {
    const DWORD result = WaitForSingleObject(m_handle, 0);
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

#else

CClient_Mutex::CClient_Mutex() = default;
CClient_Mutex::~CClient_Mutex() = default;
bool CClient_Mutex::IsValid() const {
    return true;
}
void CClient_Mutex::Lock() {
    m_mutex.lock();
}
void CClient_Mutex::Unlock() {
    m_mutex.unlock();
}
bool CClient_Mutex::TryLock() {
    return m_mutex.try_lock();
}

#endif

CClient_MutexGuard::CClient_MutexGuard(CClient_Mutex* mutex) : m_pMutex(nullptr) {
    mutex->Lock();
    m_pMutex = mutex;
}

CClient_MutexGuard::CClient_MutexGuard(CClient_Mutex* mutex, Adopt) : m_pMutex(mutex) {}

CClient_MutexGuard::~CClient_MutexGuard() {
    m_pMutex->Unlock();
}

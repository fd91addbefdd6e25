#include "ClientMutex.h"

#ifdef _WIN32

CClient_Mutex::CClient_Mutex() { InitializeCriticalSection(&m_section); }
CClient_Mutex::~CClient_Mutex() { DeleteCriticalSection(&m_section); }
void CClient_Mutex::Lock() { EnterCriticalSection(&m_section); }
void CClient_Mutex::Unlock() { LeaveCriticalSection(&m_section); }
bool CClient_Mutex::TryLock() { return TryEnterCriticalSection(&m_section) != FALSE; }

#else

CClient_Mutex::CClient_Mutex() = default;
CClient_Mutex::~CClient_Mutex() = default;
void CClient_Mutex::Lock() { m_mutex.lock(); }
void CClient_Mutex::Unlock() { m_mutex.unlock(); }
bool CClient_Mutex::TryLock() { return m_mutex.try_lock(); }

#endif

CClient_MutexGuard::CClient_MutexGuard(CClient_Mutex* mutex) : m_pMutex(nullptr) {
    mutex->Lock();
    m_pMutex = mutex;
}

CClient_MutexGuard::CClient_MutexGuard(CClient_Mutex* mutex, Adopt) : m_pMutex(mutex) {}

CClient_MutexGuard::~CClient_MutexGuard() { m_pMutex->Unlock(); }

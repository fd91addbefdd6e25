#include "platform/ClientMutex.h"

CClient_MutexGuard::CClient_MutexGuard(CClient_Mutex* mutex) : m_pMutex(nullptr) {
    mutex->Lock();
    m_pMutex = mutex;
}

CClient_MutexGuard::CClient_MutexGuard(CClient_Mutex* mutex, Adopt) : m_pMutex(mutex) {}

CClient_MutexGuard::~CClient_MutexGuard() {
    m_pMutex->Unlock();
}

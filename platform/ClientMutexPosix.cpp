#include "platform/ClientMutex.h"

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

#include "platform/ClientMutex.h"

CClient_Mutex::CClient_Mutex() : m_handoff(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
CClient_Mutex::~CClient_Mutex() {
    if (m_handoff != nullptr)
        CloseHandle(m_handoff);
}
bool CClient_Mutex::IsValid() const {
    return m_handoff != nullptr;
}
bool CClient_Mutex::LockOrQueue() {
    return InterlockedIncrement(&m_claims) == 1;
}
void CClient_Mutex::Lock() {
    if (!LockOrQueue())
        WaitForSingleObject(m_handoff, INFINITE);
}
// A waiter counted but not yet waiting finds the event set when it gets there.
void CClient_Mutex::Unlock() {
    if (InterlockedDecrement(&m_claims) > 0)
        SetEvent(m_handoff);
}
bool CClient_Mutex::TryLock() {
    return InterlockedCompareExchange(&m_claims, 1, 0) == 0;
}

#pragma once

#ifdef _WIN32
// Only the kernel headers: the engine uses this lock and must stay free of UI headers.
#include <windef.h>
// winbase.h needs the types of windef.h: keep this order.
#include <winbase.h>
#else
#include <mutex>
#endif

// The lock that keeps a cancel from cutting a guarded write in half.
class CClient_Mutex {
public:
    CClient_Mutex();
    virtual ~CClient_Mutex();
    CClient_Mutex(const CClient_Mutex&) = delete;
    CClient_Mutex& operator=(const CClient_Mutex&) = delete;

    // False only when the system could not give the lock; nothing may then rely on it.
    bool IsValid() const;
    void Lock();
    void Unlock();
    // Takes the lock only when it is free at once.
    bool TryLock();
#ifdef _WIN32
    // Takes the lock when it is free and returns true. Otherwise queues the caller and returns
    // false: the caller then holds the lock once a wait on WaitHandle ends (e.g. with
    // MsgWaitForMultipleObjects, so a UI thread keeps answering the worker's sent messages).
    bool LockOrQueue();
    HANDLE WaitHandle() const {
        return m_handoff;
    }
#endif

private:
#ifdef _WIN32
    // A count of the holder and its waiters, with an event only for handing the lock over: taking
    // and releasing a free lock costs no system call (under Wine each one is a round trip to its
    // server, twice per file written). A waiting UI thread can wait for the event and for window
    // messages at once, and a release hands the lock to the waiter, so a worker that takes it
    // again at once cannot starve a cancel.
    HANDLE m_handoff; // auto-reset
    volatile LONG m_claims = 0;
#else
    std::mutex m_mutex;
#endif
};

// Scoped lock: constructing it locks, destroying it unlocks.
class CClient_MutexGuard {
public:
    explicit CClient_MutexGuard(CClient_Mutex* mutex);
    // Takes over a lock the caller already holds (after a successful TryLock or LockOrQueue, or a
    // wait on the WaitHandle).
    struct Adopt {};
    CClient_MutexGuard(CClient_Mutex* mutex, Adopt);
    virtual ~CClient_MutexGuard();
    CClient_MutexGuard(const CClient_MutexGuard&) = delete;
    CClient_MutexGuard& operator=(const CClient_MutexGuard&) = delete;

private:
    CClient_Mutex* m_pMutex;
};

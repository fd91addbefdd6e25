#pragma once

#include "platform/ClientMutex.h"

#include <atomic>

// The cancel protocol a view follows. The cancel path takes the client lock first, so no guarded
// write is cut in half, then sets the mark the engine checks before each step.
class CancelSwitch {
public:
    CClient_Mutex& Mutex() { return m_mutex; }
    bool IsCancelled() const { return m_cancelled; }

    // From any thread but the engine's: waits until no guarded write is in progress.
    void Cancel() {
        Cancel([](CClient_Mutex& mutex) { mutex.Lock(); });
    }
    // takeLock returns with the caller holding the lock: a UI thread waits its own way, so that it
    // keeps answering the messages the engine's thread sends it.
    template <typename TakeLock> void Cancel(TakeLock takeLock) {
        takeLock(m_mutex);
        CClient_MutexGuard guard(&m_mutex, CClient_MutexGuard::Adopt{});
        m_cancelled = true;
    }

private:
    CClient_Mutex m_mutex;
    std::atomic<bool> m_cancelled{false};
};

#pragma once

#include <atomic>
#include <functional>

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

// While it exists, Ctrl-C (on POSIX hosts also SIGTERM and SIGHUP; on Windows also Ctrl-Break and
// closing the console) runs onInterrupt on a thread of its own instead of ending the process.
// A signal handler could not wait for a lock; that thread can.
class InterruptWatcher {
public:
    explicit InterruptWatcher(std::function<void()> onInterrupt);
    ~InterruptWatcher();
    InterruptWatcher(const InterruptWatcher&) = delete;
    InterruptWatcher& operator=(const InterruptWatcher&) = delete;

    // False when the watch could not be set up; the signals then act as usual.
    bool Watching() const { return m_watching; }

private:
    std::function<void()> m_onInterrupt;
    bool m_watching = false;
#ifndef _WIN32
    static void* Watch(void* self);
    sigset_t m_signals;
    sigset_t m_previousMask;
    pthread_t m_thread;
    std::atomic<bool> m_stopping{false};
#endif
};

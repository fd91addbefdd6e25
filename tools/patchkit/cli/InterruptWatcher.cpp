#include "cli/InterruptWatcher.h"

#include <utility>

#ifdef _WIN32

// The console API (wincon.h) does not stand alone; this is the tool, not the engine.
#include <windows.h>

namespace {

// The handler runs on a thread the system creates for it, so it may wait for a lock.
std::function<void()>* g_onInterrupt = nullptr;

BOOL WINAPI HandleConsoleEvent(DWORD event) {
    if (g_onInterrupt == nullptr ||
        (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT)) {
        return FALSE;
    }
    (*g_onInterrupt)();
    return TRUE;
}

} // namespace

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : m_onInterrupt(std::move(onInterrupt)) {
    g_onInterrupt = &m_onInterrupt;
    m_watching = SetConsoleCtrlHandler(HandleConsoleEvent, TRUE) != FALSE;
}

InterruptWatcher::~InterruptWatcher() {
    if (m_watching) {
        SetConsoleCtrlHandler(HandleConsoleEvent, FALSE);
    }
    g_onInterrupt = nullptr;
}

#else

// The signals are blocked in this thread and in every thread started after it, and taken with
// sigwait by the watching thread alone.
InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : m_onInterrupt(std::move(onInterrupt)) {
    sigemptyset(&m_signals);
    sigaddset(&m_signals, SIGINT);
    sigaddset(&m_signals, SIGTERM);
    sigaddset(&m_signals, SIGHUP);
    if (pthread_sigmask(SIG_BLOCK, &m_signals, &m_previousMask) != 0) {
        return;
    }
    m_watching = pthread_create(&m_thread, nullptr, Watch, this) == 0;
    if (!m_watching) {
        pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
    }
}

InterruptWatcher::~InterruptWatcher() {
    if (!m_watching) {
        return;
    }
    m_stopping = true;
    pthread_kill(m_thread, SIGINT);
    pthread_join(m_thread, nullptr);
    pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
}

void* InterruptWatcher::Watch(void* self) {
    auto& watcher = *static_cast<InterruptWatcher*>(self);
    for (;;) {
        int signal = 0;
        if (sigwait(&watcher.m_signals, &signal) != 0) {
            continue;
        }
        if (watcher.m_stopping) {
            return nullptr;
        }
        watcher.m_onInterrupt();
    }
}

#endif

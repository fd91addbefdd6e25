#include "cli/InterruptWatcher.h"

// The console API (wincon.h) does not stand alone; this is the tool, not the engine.
#include <windows.h>

#include <utility>

namespace {

// The handler runs on a thread the system creates for it, so it may wait for a lock; and it may
// still run after SetConsoleCtrlHandler(FALSE) returned, so the watcher waits for it in Clear.
InterruptSlot& Slot() {
    static InterruptSlot slot;
    return slot;
}

BOOL WINAPI HandleConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    return Slot().Run() ? TRUE : FALSE;
}

} // namespace

InterruptWatcher::InterruptWatcher(std::function<void()> onInterrupt)
    : m_onInterrupt(std::move(onInterrupt)) {
    Slot().Set(&m_onInterrupt);
    m_watching = SetConsoleCtrlHandler(HandleConsoleEvent, TRUE) != FALSE;
}

InterruptWatcher::~InterruptWatcher() {
    if (m_watching) {
        SetConsoleCtrlHandler(HandleConsoleEvent, FALSE);
    }
    Slot().Clear();
}

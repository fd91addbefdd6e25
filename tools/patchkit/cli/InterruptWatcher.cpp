#include "cli/InterruptWatcher.h"

void InterruptSlot::Set(std::function<void()>* callback) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_callback = callback;
}

bool InterruptSlot::Run() {
    std::unique_lock<std::mutex> hold(m_lock);
    std::function<void()>* const callback = m_callback;
    if (callback == nullptr) {
        return false;
    }
    ++m_running;
    hold.unlock();
    (*callback)();
    hold.lock();
    --m_running;
    m_idle.notify_all();
    return true;
}

void InterruptSlot::Clear() {
    std::unique_lock<std::mutex> hold(m_lock);
    m_callback = nullptr;
    m_idle.wait(hold, [this] { return m_running == 0; });
}

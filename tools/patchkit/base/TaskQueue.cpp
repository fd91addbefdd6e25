#include "base/TaskQueue.h"

#include <system_error>

unsigned JobCount(unsigned jobs) {
    if (jobs != 0) {
        return jobs;
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

TaskQueue::TaskQueue(unsigned threads) {
    for (unsigned i = 0; i < threads; ++i) {
        try {
            m_threads.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            break; // fewer threads do the same work, only slower
        }
    }
}

TaskQueue::~TaskQueue() {
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_closing = true;
    }
    m_ready.notify_all();
    for (std::thread& thread : m_threads) {
        thread.join();
    }
}

void TaskQueue::Submit(std::function<void()> task) {
    if (m_threads.empty()) {
        task();
        return;
    }
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_tasks.push_back(std::move(task));
    }
    m_ready.notify_one();
}

void TaskQueue::Work() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> hold(m_lock);
            m_ready.wait(hold, [this] { return m_closing || !m_tasks.empty(); });
            if (m_tasks.empty()) {
                return;
            }
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

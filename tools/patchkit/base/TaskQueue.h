#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class Progress;

// How long work is spread and shown.
struct WorkSettings {
    unsigned jobs = 0;            // threads; 0: one per core
    Progress* progress = nullptr; // counts the bytes done; may be null
};

// The threads that --jobs N asks for: N, or one per core for 0.
unsigned JobCount(unsigned jobs);

// Runs tasks on a fixed set of threads, in the order they were submitted. Without threads (none
// asked for, or none could be started) Submit runs the task itself before returning.
class TaskQueue {
public:
    explicit TaskQueue(unsigned threads);
    // Runs every task still queued, then ends the threads.
    ~TaskQueue();
    TaskQueue(const TaskQueue&) = delete;
    TaskQueue& operator=(const TaskQueue&) = delete;

    void Submit(std::function<void()> task);
    unsigned Threads() const { return static_cast<unsigned>(m_threads.size()); }

private:
    void Work();

    std::mutex m_lock;
    std::condition_variable m_ready;
    std::deque<std::function<void()>> m_tasks;
    bool m_closing = false;
    std::vector<std::thread> m_threads;
};

#pragma once

#include "base/Progress.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

// One line on a terminal, redrawn in place: bytes done of bytes total, rate and time left.
// Add may be called from any thread. A display that is not shown costs next to nothing.
class ProgressDisplay : public Progress {
public:
    // shown: the stream is a terminal the user watches (the caller decides: --quiet, isatty).
    ProgressDisplay(std::FILE* stream, bool shown) : m_stream(stream), m_shown(shown) {}

    // Starts counting towards total bytes; label leads the line ("building", "verifying").
    void Start(const std::string& label, std::uint64_t total) override;
    void Add(std::uint64_t bytes) override;
    // Draws the final state and ends the line; nothing when nothing was started since.
    void Finish() override;
    bool Started() const { return m_started; }

private:
    using Clock = std::chrono::steady_clock;

    void Draw(Clock::time_point now);

    std::FILE* m_stream;
    bool m_shown;
    std::mutex m_lock;
    std::string m_label;
    std::uint64_t m_total = 0;
    std::uint64_t m_done = 0;
    Clock::time_point m_start;
    Clock::time_point m_lastDrawn;
    std::size_t m_lastLength = 0;
    bool m_started = false;
};

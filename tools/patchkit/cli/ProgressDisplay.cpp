#include "cli/ProgressDisplay.h"

namespace {

// Often enough to look alive, rarely enough to cost nothing next to the work.
constexpr std::chrono::milliseconds kRedrawInterval(200);

std::string Amount(double bytes) {
    const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    std::size_t unit = 0;
    while (bytes >= 1024 && unit + 1 < sizeof units / sizeof units[0]) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

std::string Duration(double seconds) {
    const auto whole = static_cast<unsigned long long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%llu:%02llu", whole / 60, whole % 60);
    return text;
}

} // namespace

void ProgressDisplay::Start(const std::string& label, std::uint64_t total) {
    if (!m_shown) {
        return;
    }
    std::lock_guard<std::mutex> hold(m_lock);
    m_started = true;
    m_label = label;
    m_total = total;
    m_done = 0;
    m_start = Clock::now();
    Draw(m_start);
}

void ProgressDisplay::Add(std::uint64_t bytes) {
    if (!m_shown) {
        return;
    }
    std::lock_guard<std::mutex> hold(m_lock);
    m_done += bytes;
    const Clock::time_point now = Clock::now();
    if (now - m_lastDrawn >= kRedrawInterval) {
        Draw(now);
    }
}

void ProgressDisplay::Finish() {
    if (!m_shown) {
        return;
    }
    std::lock_guard<std::mutex> hold(m_lock);
    if (!m_started) {
        return;
    }
    m_started = false;
    Draw(Clock::now());
    std::fputc('\n', m_stream);
    std::fflush(m_stream);
    m_lastLength = 0;
}

void ProgressDisplay::Draw(Clock::time_point now) {
    m_lastDrawn = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    std::string line = m_label + ": " + Amount(static_cast<double>(m_done)) + " of " +
                       Amount(static_cast<double>(m_total));
    if (m_total != 0) {
        line += " (" + std::to_string(m_done * 100 / m_total) + "%)";
    }
    // The first moments give no meaningful rate.
    if (seconds >= 0.5 && m_done != 0) {
        const double rate = static_cast<double>(m_done) / seconds;
        line += ", " + Amount(rate) + "/s";
        if (m_done < m_total) {
            line += ", " + Duration(static_cast<double>(m_total - m_done) / rate) + " left";
        } else {
            line += ", " + Duration(seconds);
        }
    }
    // Consoles that know no erase sequence: blanks over what the last line left.
    const std::size_t length = line.size();
    if (length < m_lastLength) {
        line.append(m_lastLength - length, ' ');
    }
    m_lastLength = length;
    std::fprintf(m_stream, "\r%s", line.c_str());
    std::fflush(m_stream);
}

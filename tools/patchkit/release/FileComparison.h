#pragma once

#include "base/StopRequest.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

// Bytes done of bytes total in a long phase; called from the working thread.
using ProgressCallback = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Compares files as streams through two fixed buffers, so memory does not grow with the files.
class FileComparer {
public:
    FileComparer(ProgressCallback progress, const std::atomic<bool>* stop);

    // The bytes the comparisons to come will read from each side, for the progress shown.
    void ExpectBytes(std::uint64_t total) { m_total = total; }

    // Reads the first count bytes of both files; difference is the offset of the first byte that
    // differs, or count when none does. False, with a message naming the file, when either
    // cannot be read that far or the comparison was stopped.
    [[nodiscard]] bool FirstDifference(const std::filesystem::path& a,
                                       const std::filesystem::path& b, std::uint64_t count,
                                       std::uint64_t& difference, std::string& error);

private:
    bool Stopped() const { return StopAsked(m_stop); }
    // Makes the two buffers at the first comparison; false when the memory cannot be had.
    [[nodiscard]] bool HaveBuffers();
    void CountCompared(std::uint64_t bytes);

    ProgressCallback m_progress;
    const std::atomic<bool>* m_stop;
    std::uint64_t m_done = 0;
    std::uint64_t m_total = 0;
    std::unique_ptr<unsigned char[]> m_first;
    std::unique_ptr<unsigned char[]> m_second;
};

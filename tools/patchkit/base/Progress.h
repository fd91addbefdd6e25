#pragma once

#include <cstdint>
#include <string>

// Counts the bytes of a long phase for whoever shows them; the work does not know how.
// Add may be called from any thread.
class Progress {
public:
    // Starts counting towards total bytes; label names the phase ("building", "verifying").
    virtual void Start(const std::string& label, std::uint64_t total) = 0;
    virtual void Add(std::uint64_t bytes) = 0;
    // Ends the phase; nothing when nothing was started since.
    virtual void Finish() = 0;

protected:
    ~Progress() = default;
};

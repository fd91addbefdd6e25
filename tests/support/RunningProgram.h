#pragma once

#include <sys/types.h>

#include <filesystem>

namespace testsupport {

// A copy of a small system program, run from the given path for a while. Linux refuses to open a
// running program for writing (text file busy), the nearest it has to a file another program holds
// on Windows.
inline constexpr const char* kNotHeld = "this system lets a running program be written";

class RunningProgram {
public:
    // path must be absolute.
    RunningProgram(const std::filesystem::path& path, double seconds);
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    // False where the program could not be started, or the system lets it be written.
    bool HoldsItsFile() const { return m_holdsItsFile; }

private:
    pid_t m_pid = -1;
    bool m_holdsItsFile = false;
};

} // namespace testsupport

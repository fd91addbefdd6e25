#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// A fresh game directory under the system's temporary folder, made the current directory for the
// object's life (the engine works relative to it), removed afterwards.
class ScratchGameDirectory {
public:
    ScratchGameDirectory();
    ~ScratchGameDirectory();
    ScratchGameDirectory(const ScratchGameDirectory&) = delete;
    ScratchGameDirectory& operator=(const ScratchGameDirectory&) = delete;

    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_previous;
    std::filesystem::path m_path;
};

} // namespace testsupport

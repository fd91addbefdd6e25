#pragma once

#include "platform/FileSystem.h"

#include <chrono>
#include <functional>

// How a file that another program holds for a moment (a virus scanner, typically right after the
// file was written) is waited for: tried again after short pauses for about two seconds in all,
// and given up at once when the run is cancelled. Every other failure is final at once.
class LockWait {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    using Sleep = std::function<void(std::chrono::milliseconds)>;

    static constexpr std::chrono::milliseconds kWindow{2000};
    static constexpr std::chrono::milliseconds kPause{50};

    // Without a cancel check, on the system's clock.
    LockWait();
    explicit LockWait(std::function<bool()> cancelled);
    LockWait(std::function<bool()> cancelled, Clock now, Sleep sleep);

    // Repeats the attempt while it reports the file held; returns its last result.
    [[nodiscard]] FileError Retry(const std::function<FileError()>& attempt) const;

    bool Cancelled() const;

private:
    std::function<bool()> m_cancelled;
    Clock m_now;
    Sleep m_sleep;
};

// TryOpenFile and TryOpenNarrowFile, waiting while another program holds the file.
[[nodiscard]] FileError OpenFileWaiting(const std::filesystem::path& path, const char* mode, const LockWait& wait,
                          FileHandle& file);
[[nodiscard]] FileError OpenNarrowFileWaiting(const std::string& cp936Path, const char* mode,
                                const LockWait& wait, FileHandle& file);

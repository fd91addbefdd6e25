#include "platform/LockWait.h"

#include <algorithm>
#include <thread>
#include <utility>

LockWait::LockWait() : LockWait(nullptr) {}

LockWait::LockWait(std::function<bool()> cancelled)
    : LockWait(std::move(cancelled), std::chrono::steady_clock::now,
               [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); }) {}

LockWait::LockWait(std::function<bool()> cancelled, Clock now, Sleep sleep)
    : m_cancelled(std::move(cancelled)), m_now(std::move(now)), m_sleep(std::move(sleep)) {}

bool LockWait::Cancelled() const {
    return m_cancelled && m_cancelled();
}

FileError LockWait::Retry(const std::function<FileError()>& attempt) const {
    const auto deadline = m_now() + kWindow;
    for (;;) {
        const FileError error = attempt();
        if (error != FileError::Held || Cancelled()) {
            return error;
        }
        const auto now = m_now();
        if (now >= deadline) {
            return error;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        m_sleep(std::min(kPause, left));
    }
}

FileError OpenFileWaiting(const std::filesystem::path& path, const char* mode, const LockWait& wait,
                          FileHandle& file) {
    return wait.Retry([&] { return TryOpenFile(path, mode, file); });
}

FileError OpenNarrowFileWaiting(const std::string& cp936Path, const char* mode,
                                const LockWait& wait, FileHandle& file) {
    return wait.Retry([&] { return TryOpenNarrowFile(cp936Path, mode, file); });
}

#pragma once

#include <filesystem>
#include <string>

// Moves this process into a mount namespace of its own, so that every mount made by the tests
// disappears with the process, even after a crash. Empty on success, else the reason it cannot.
std::string EnterPrivateMountNamespace();

// Empty when the tests can mount, else why not (for the skip message).
const std::string& WhyMountsAreUnavailable();

// A mount that is taken down again when the object goes.
class ScopedMount {
public:
    // A tmpfs of the given size (whole pages) and inode count over an existing directory.
    static ScopedMount Tmpfs(const std::filesystem::path& directory, std::size_t bytes,
                             std::size_t inodes);
    // The file or directory bound read-only onto itself: writes fail with EROFS even for root,
    // and it cannot be replaced by a rename.
    static ScopedMount ReadOnly(const std::filesystem::path& target);

    ScopedMount(ScopedMount&& other) noexcept;
    ScopedMount& operator=(ScopedMount&&) = delete;
    ScopedMount(const ScopedMount&) = delete;
    ScopedMount& operator=(const ScopedMount&) = delete;
    ~ScopedMount();

    // Empty when the mount is in place, else the failing call and its error.
    const std::string& Error() const { return m_error; }

private:
    ScopedMount(std::filesystem::path target, std::string error);

    std::filesystem::path m_target;
    std::string m_error;
};

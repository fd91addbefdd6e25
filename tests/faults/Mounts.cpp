#include "Mounts.h"

#include <cerrno>
#include <cstring>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

std::string& MountsUnavailableReason() {
    static std::string reason = "the mount namespace was not set up";
    return reason;
}

std::string Failure(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

std::string EnterPrivateMountNamespace() {
    std::string& reason = MountsUnavailableReason();
    if (geteuid() != 0) {
        reason = "mounting a tmpfs or a read-only bind needs root (running as uid " +
                 std::to_string(geteuid()) + ")";
    } else if (unshare(CLONE_NEWNS) != 0) {
        reason = Failure("unshare(CLONE_NEWNS)");
    } else if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        reason = Failure("making / private");
    } else {
        reason.clear();
    }
    return reason;
}

const std::string& WhyMountsAreUnavailable() {
    return MountsUnavailableReason();
}

ScopedMount ScopedMount::Tmpfs(const std::filesystem::path& directory, std::size_t bytes,
                               std::size_t inodes) {
    const std::string options =
        "size=" + std::to_string(bytes) + ",nr_inodes=" + std::to_string(inodes) + ",mode=755";
    if (mount("tmpfs", directory.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        return ScopedMount({}, Failure("mounting a tmpfs"));
    }
    return ScopedMount(directory, {});
}

ScopedMount ScopedMount::ReadOnly(const std::filesystem::path& target) {
    if (mount(target.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        return ScopedMount({}, Failure("binding"));
    }
    ScopedMount bound(target, {});
    if (mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        bound.m_error = Failure("remounting read-only");
    }
    return bound;
}

ScopedMount::ScopedMount(std::filesystem::path target, std::string error)
    : m_target(std::move(target)), m_error(std::move(error)) {}

ScopedMount::ScopedMount(ScopedMount&& other) noexcept
    : m_target(std::move(other.m_target)), m_error(std::move(other.m_error)) {
    other.m_target.clear();
}

ScopedMount::~ScopedMount() {
    if (!m_target.empty()) {
        umount2(m_target.c_str(), MNT_DETACH);
    }
}

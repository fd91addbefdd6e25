#include "support/ScratchGameDirectory.h"

#include <cstdlib>
#include <system_error>
#include <unistd.h>

namespace testsupport {

ScratchGameDirectory::ScratchGameDirectory() {
    std::error_code error;
    m_previous = std::filesystem::current_path(error);
    std::string pattern =
        (std::filesystem::temp_directory_path(error) / "qrt-game-XXXXXX").string();
    if (error || mkdtemp(&pattern[0]) == nullptr) {
        std::abort();
    }
    m_path = pattern;
    std::filesystem::current_path(m_path, error);
    if (error) {
        std::abort();
    }
}

ScratchGameDirectory::~ScratchGameDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(m_previous, ignored);
    // Read-only leftovers of a test must not keep the folder alive.
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

} // namespace testsupport

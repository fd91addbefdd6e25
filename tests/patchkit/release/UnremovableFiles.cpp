// Preloaded into patchkit by the tests: a file whose path holds "unremovable" cannot be removed.
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

extern "C" int unlink(const char* path) {
    if (std::strstr(path, "unremovable") != nullptr) {
        errno = EPERM;
        return -1;
    }
    using Unlink = int (*)(const char*);
    static const auto next = reinterpret_cast<Unlink>(dlsym(RTLD_NEXT, "unlink"));
    return next(path);
}

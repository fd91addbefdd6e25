#include "cli/FailureGuard.h"

#include <cstdlib>
#include <exception>
#include <new>

namespace {

constexpr int kFailed = 1;

std::FILE* g_errors = stderr;

void PrintFailure(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        std::fprintf(g_errors, "patchkit: out of memory\n");
    } catch (const std::exception& other) {
        std::fprintf(g_errors, "patchkit: unexpected failure: %s\n", other.what());
    } catch (...) {
        std::fprintf(g_errors, "patchkit: unexpected failure\n");
    }
}

// Other threads are still running: nothing may be torn down under them, so no exit handler runs.
[[noreturn]] void ReportAndEnd() {
    if (const std::exception_ptr failure = std::current_exception()) {
        PrintFailure(failure);
    } else {
        std::fprintf(g_errors, "patchkit: unexpected failure\n");
    }
    std::fflush(g_errors);
    std::_Exit(kFailed);
}

} // namespace

int RunGuardingFailures(const std::function<int()>& command, std::FILE* errors) {
    g_errors = errors;
    std::set_terminate(ReportAndEnd);
    try {
        return command();
    } catch (const std::exception&) {
        PrintFailure(std::current_exception());
        return kFailed;
    }
}

#include "cli/FailureGuard.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

struct Ending {
    int exitCode = -1;
    std::string errors;
};

// Runs the guarded command in a child process, since a failure on another thread ends the
// process: its exit code and what it wrote as errors.
Ending RunInChild(const std::function<int()>& command) {
    std::FILE* errors = std::tmpfile();
    if (errors == nullptr) {
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        const int result = RunGuardingFailures(command, errors);
        std::fflush(errors);
        _exit(result);
    }
    int status = 0;
    Ending ending;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        ending.exitCode = WEXITSTATUS(status);
    }
    std::rewind(errors);
    char buffer[512];
    for (std::size_t count = 0; (count = std::fread(buffer, 1, sizeof buffer, errors)) > 0;) {
        ending.errors.append(buffer, count);
    }
    std::fclose(errors);
    return ending;
}

TEST(FailureGuardTest, ExceptionsEndTheCommandWithAnErrorLineAndExit1OnAnyThread) {
    const Ending outOfMemory = RunInChild([]() -> int { throw std::bad_alloc(); });
    EXPECT_EQ(outOfMemory.exitCode, 1);
    EXPECT_EQ(outOfMemory.errors, "patchkit: out of memory\n");

    const Ending onAnotherThread = RunInChild([] {
        std::thread worker([] { throw std::runtime_error("worker failed"); });
        worker.join();
        return 0;
    });
    EXPECT_EQ(onAnotherThread.exitCode, 1);
    EXPECT_EQ(onAnotherThread.errors, "patchkit: unexpected failure: worker failed\n");

    const Ending completed = RunInChild([] { return 2; });
    EXPECT_EQ(completed.exitCode, 2);
    EXPECT_EQ(completed.errors, "");
}

} // namespace

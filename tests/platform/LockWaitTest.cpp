#include "platform/LockWait.h"

#include "support/PackageBuilder.h"
#include "support/RunningProgram.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// A clock that moves only while the wait sleeps, and attempts that fail as scripted.
class LockWaitTest : public ::testing::Test {
protected:
    LockWait Wait(std::function<bool()> cancelled = nullptr) {
        return LockWait(
            std::move(cancelled), [this] { return m_now; },
            [this](milliseconds pause) {
                m_now += pause;
                ++sleeps;
            });
    }

    // The scripted results, then FileError::None.
    std::function<FileError()> Attempts(std::vector<FileError> results) {
        return [this, results] {
            ++attempts;
            return attempts <= results.size() ? results[attempts - 1] : FileError::None;
        };
    }

    milliseconds Waited() const {
        return std::chrono::duration_cast<milliseconds>(m_now - steady_clock::time_point{});
    }

    std::size_t attempts = 0;
    int sleeps = 0;

private:
    steady_clock::time_point m_now{};
};

TEST_F(LockWaitTest, HeldFileIsTriedAgainUntilItIsFree) {
    const std::vector<FileError> heldThrice(3, FileError::Held);
    EXPECT_EQ(Wait().Retry(Attempts(heldThrice)), FileError::None);
    EXPECT_EQ(attempts, 4u);
    EXPECT_EQ(Waited(), 3 * LockWait::kPause);
}

TEST_F(LockWaitTest, FileHeldThroughoutIsGivenUpAtTheEndOfTheWindow) {
    const std::vector<FileError> heldForever(1000, FileError::Held);
    EXPECT_EQ(Wait().Retry(Attempts(heldForever)), FileError::Held);
    EXPECT_EQ(Waited(), LockWait::kWindow);
    // One attempt at the start, one after every pause, the last at the window's end.
    EXPECT_EQ(attempts, static_cast<std::size_t>(LockWait::kWindow / LockWait::kPause) + 1);
}

TEST_F(LockWaitTest, RefusalAndAMissingFileAreFinalAtOnce) {
    for (FileError error : {FileError::Refused, FileError::Missing}) {
        attempts = 0;
        EXPECT_EQ(Wait().Retry(Attempts({error})), error);
        EXPECT_EQ(attempts, 1u);
    }
    EXPECT_EQ(sleeps, 0);
}

TEST_F(LockWaitTest, CancelEndsTheWaitAtOnce) {
    const std::vector<FileError> heldForever(1000, FileError::Held);
    const LockWait wait = Wait([this] { return attempts >= 3; });
    EXPECT_EQ(wait.Retry(Attempts(heldForever)), FileError::Held);
    EXPECT_EQ(attempts, 3u);
    EXPECT_EQ(sleeps, 2);
}

// Through the file layer, with a running program as the held file.
class HeldFileTest : public LockWaitTest {
protected:
    testsupport::ScratchGameDirectory directory;
    const std::string name = "client.exe";
    FileHandle file;

    std::function<FileError()> OpenForWriting() {
        return [this] {
            ++attempts;
            return TryOpenExistingNarrowFileForWriting(name, file);
        };
    }
};

TEST_F(HeldFileTest, ProgramThatEndsWithinTheWindowIsWaitedFor) {
    const testsupport::RunningProgram program(directory.path() / name, 0.3);
    if (!program.HoldsItsFile()) {
        GTEST_SKIP() << testsupport::kNotHeld;
    }
    ASSERT_EQ(TryOpenExistingNarrowFileForWriting(name, file), FileError::Held);
    const auto start = steady_clock::now();
    EXPECT_EQ(LockWait().Retry(OpenForWriting()), FileError::None);
    EXPECT_TRUE(file);
    EXPECT_LT(steady_clock::now() - start, LockWait::kWindow);
}

TEST_F(HeldFileTest, ProgramThatKeepsRunningIsGivenUp) {
    const testsupport::RunningProgram program(directory.path() / name, 60);
    if (!program.HoldsItsFile()) {
        GTEST_SKIP() << testsupport::kNotHeld;
    }
    EXPECT_EQ(Wait().Retry(OpenForWriting()), FileError::Held);
    EXPECT_FALSE(file);
    EXPECT_GT(attempts, 10u);
}

TEST_F(HeldFileTest, FolderInThePlaceOfTheFileIsNotRetried) {
    std::filesystem::create_directory(name);
    EXPECT_EQ(Wait().Retry(OpenForWriting()), FileError::Refused);
    EXPECT_EQ(attempts, 1u);
}

} // namespace

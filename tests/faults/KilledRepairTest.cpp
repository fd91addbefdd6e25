// A repair killed with SIGKILL at many points of its writes, then run again to completion.

#include "FaultScenario.h"
#include "WriteLimitedChild.h"
#include "identity/GameRepair.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

using namespace testsupport;

namespace {

class KilledRepairTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CanLimitChildWrites()) {
            GTEST_SKIP() << "cutting a child's writes at a byte needs ptrace on x86-64 Linux, "
                            "which this machine does not allow";
        }
        std::error_code error;
        fs::create_directories(m_release / "Data" / "Sub", error);
        ASSERT_FALSE(error);
        ASSERT_TRUE(WriteBinaryFile(m_release / "version.ini", LocalStateText(3187, 0)));
        ASSERT_TRUE(WriteBinaryFile(m_release / "res.pak", testsupport::NoiseData(600 * 1024, 1)));
        ASSERT_TRUE(WriteBinaryFile(m_release / "Data" / "a.txt", PatternedData(300 * 1024, 2)));
        ASSERT_TRUE(WriteBinaryFile(m_release / "Data" / "Sub" / "b.bin",
                                    testsupport::NoiseData(200 * 1024, 3)));
        ASSERT_TRUE(WriteBinaryFile(m_release / "readme.txt", "read me\r\n"));
        m_expected = SnapshotFolder(m_release);
    }

    // A copy of the release with something of every kind to mend.
    void ResetGame() {
        std::error_code error;
        fs::remove_all(m_game, error);
        fs::copy(m_release, m_game, fs::copy_options::recursive, error);
        ASSERT_FALSE(error);
        const std::string pak = ReadBinaryFile(m_game / "res.pak");
        ASSERT_TRUE(
            WriteBinaryFile(m_game / "res.pak", pak + testsupport::NoiseData(50 * 1024, 4)));
        std::string text = ReadBinaryFile(m_game / "Data" / "a.txt");
        text[1000] ^= 1;
        ASSERT_TRUE(WriteBinaryFile(m_game / "Data" / "a.txt", text));
        fs::remove_all(m_game / "Data" / "Sub", error);
        ASSERT_TRUE(WriteBinaryFile(m_game / "readme.txt", "an older read me"));
        ASSERT_TRUE(WriteBinaryFile(m_game / "version.ini", LocalStateText(3186, 0)));
        ASSERT_TRUE(WriteBinaryFile(m_game / "junk.txt", "left by something"));
    }

    ChildResult RunChild(std::uint64_t byteLimit) {
        return RunWriteLimitedChild(
            [this] {
                RepairRequest request;
                request.game = m_game;
                request.release = m_release;
                request.removeExtra = true;
                request.work.jobs = 1;
                RepairOutcome outcome;
                std::string error;
                return RepairGame(request, outcome, error) ? 0 : 1;
            },
            byteLimit);
    }

    // Each write's first and last byte, and random points between.
    static std::vector<std::uint64_t> KillPoints(const ChildResult& run) {
        std::set<std::uint64_t> points;
        std::uint64_t written = 0;
        for (const FileWrite& write : run.writes) {
            points.insert(written + 1);
            written += write.bytes;
            points.insert(written);
        }
        std::mt19937_64 random(20261209);
        std::uniform_int_distribution<std::uint64_t> inside(1, run.bytesWritten);
        for (int i = 0; i < 40; ++i) {
            points.insert(inside(random));
        }
        return {points.begin(), points.end()};
    }

    ScratchGameDirectory m_scratch;
    fs::path m_release = m_scratch.path() / "release";
    fs::path m_game = m_scratch.path() / "game";
    FolderSnapshot m_expected;
};

TEST_F(KilledRepairTest, RunAgainAfterAKillEndsWithTheExactRelease) {
    ResetGame();
    const ChildResult uninterrupted = RunChild(0);
    ASSERT_EQ(uninterrupted.exitCode, 0);
    ASSERT_EQ(SnapshotDifferences(m_expected, SnapshotFolder(m_game)), "");

    const std::vector<std::uint64_t> points = KillPoints(uninterrupted);
    EXPECT_GE(points.size(), 40u);
    for (const std::uint64_t point : points) {
        SCOPED_TRACE("killed after " + std::to_string(point) + " of " +
                     std::to_string(uninterrupted.bytesWritten) + " bytes");
        ResetGame();
        const ChildResult killed = RunChild(point);
        ASSERT_TRUE(killed.killed);
        const std::string state = ReadBinaryFile(m_game / "version.ini");
        EXPECT_TRUE(state == LocalStateText(3186, 0) || state == LocalStateText(3187, 0)) << state;
        const ChildResult rerun = RunChild(0);
        EXPECT_EQ(rerun.exitCode, 0);
        EXPECT_EQ(SnapshotDifferences(m_expected, SnapshotFolder(m_game)), "");
        if (HasFailure()) {
            break;
        }
    }
}

} // namespace

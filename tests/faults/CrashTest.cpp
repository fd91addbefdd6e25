// A run killed with SIGKILL at many points of its writes, then run again to completion.

#include "FaultScenario.h"
#include "WriteLimitedChild.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

using namespace testsupport;

namespace {

constexpr std::uint32_t kPackageVersion = 3188;
constexpr std::int64_t kRecordedPakOffset = 100000;
// The pak entry: a part that deflates and one that does not, more than one copy piece in all.
constexpr std::size_t kPakPieces[] = {900 * 1024, 400 * 1024};

// Where a write went: the phases of a run in the order they write.
enum class Phase { TemporaryArchive, Pak, Files, LocalState, Count };

Phase PhaseOf(const std::string& path) {
    if (path.find("hvmanualpatch.zip") != std::string::npos) {
        return Phase::TemporaryArchive;
    }
    if (path.find("res.pak") != std::string::npos) {
        return Phase::Pak;
    }
    if (path.find("version.ini") != std::string::npos) {
        return Phase::LocalState;
    }
    return Phase::Files;
}

class KilledRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!CanLimitChildWrites()) {
            GTEST_SKIP() << "cutting a child's writes at a byte needs ptrace on x86-64 Linux, "
                            "which this machine does not allow";
        }
        const std::string archive = BuildZipArchive({
            {"res.pak", PatternedData(kPakPieces[0], 7) + IncompressibleData(kPakPieces[1], 8)},
            {"data/", ""},
            {"data/sub/", ""},
            {"data/a.txt", PatternedData(200 * 1024, 9)},
            {"data/sub/b.bin", IncompressibleData(300 * 1024, 10), Storage::Stored},
            {"data/empty.txt", ""},
            {"README.TXT", "read me\r\n"},
        });
        ASSERT_FALSE(archive.empty());
        m_package = m_scratch.path() / "package.exe";
        ASSERT_TRUE(WriteBinaryFile(m_package, BuildPackage(archive, kPackageVersion)));
    }

    // The game folder before the update: an existing pak with a recorded append offset inside
    // it, and an old version of a file the package replaces.
    void ResetGameFolder() {
        std::error_code error;
        fs::remove_all(m_game, error);
        fs::create_directories(m_game / "data", error);
        ASSERT_FALSE(error);
        ASSERT_TRUE(WriteBinaryFile(m_game / "res.pak", std::string(400000, 'o')));
        ASSERT_TRUE(WriteBinaryFile(m_game / "data" / "a.txt", "old contents"));
        ASSERT_TRUE(WriteBinaryFile(m_game / "version.ini",
                                    LocalStateText(kPackageVersion - 1, kRecordedPakOffset)));
    }

    ChildResult RunChild(std::uint64_t byteLimit) {
        return RunWriteLimitedChild(
            [this] {
                RecordingPatchView view;
                return RunEngineIn(m_game, m_package, view);
            },
            byteLimit);
    }

    // Random points inside each phase's bytes, and each phase's first and last byte.
    static std::vector<std::uint64_t> KillPoints(const std::vector<FileWrite>& writes) {
        std::uint64_t first[static_cast<int>(Phase::Count)] = {};
        std::uint64_t last[static_cast<int>(Phase::Count)] = {};
        std::uint64_t written = 0;
        for (const FileWrite& write : writes) {
            const auto phase = static_cast<int>(PhaseOf(write.path));
            if (first[phase] == 0) {
                first[phase] = written + 1;
            }
            written += write.bytes;
            last[phase] = written;
        }
        std::mt19937_64 random(20261208);
        std::set<std::uint64_t> points;
        for (int phase = 0; phase < static_cast<int>(Phase::Count); ++phase) {
            EXPECT_NE(first[phase], 0u) << "phase " << phase << " wrote nothing";
            if (first[phase] == 0) {
                continue;
            }
            points.insert(first[phase]);
            points.insert(last[phase]);
            std::uniform_int_distribution<std::uint64_t> inside(first[phase], last[phase]);
            for (int i = 0; i < 16; ++i) {
                points.insert(inside(random));
            }
        }
        return {points.begin(), points.end()};
    }

    ScratchGameDirectory m_scratch;
    fs::path m_game = m_scratch.path() / "game";
    fs::path m_package;
};

TEST_F(KilledRunTest, RunAgainAfterAKillGivesTheSameGameFolder) {
    ResetGameFolder();
    const std::string oldState = LocalStateText(kPackageVersion - 1, kRecordedPakOffset);
    const ChildResult uninterrupted = RunChild(0);
    ASSERT_EQ(uninterrupted.exitCode, 0);
    const FolderSnapshot expected = SnapshotFolder(m_game);
    const std::string newState = expected.at("version.ini");
    ASSERT_EQ(newState,
              LocalStateText(kPackageVersion, kRecordedPakOffset + kPakPieces[0] + kPakPieces[1]));

    const std::vector<std::uint64_t> points = KillPoints(uninterrupted.writes);
    EXPECT_GE(points.size(), 50u);
    for (const std::uint64_t point : points) {
        SCOPED_TRACE("killed after " + std::to_string(point) + " of " +
                     std::to_string(uninterrupted.bytesWritten) + " bytes");
        ResetGameFolder();
        const ChildResult killed = RunChild(point);
        ASSERT_TRUE(killed.killed);
        const std::string state = ReadBinaryFile(m_game / "version.ini");
        EXPECT_TRUE(state == oldState || state == newState) << state;

        // Killed after version.ini was replaced, the run again says there is nothing to do.
        const ChildResult rerun = RunChild(0);
        EXPECT_EQ(rerun.exitCode, state == oldState ? 0 : 1);
        EXPECT_EQ(SnapshotDifferences(expected, SnapshotFolder(m_game)), "");
        if (HasFailure()) {
            break;
        }
    }
}

} // namespace

// A run killed with SIGKILL at many points of its writes, then run again to completion; and the
// order in which a run brings what it wrote to the disk.

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
constexpr std::int64_t kOldPakLength = 400000;
// The pak entry: a part that deflates and one that does not, more than one copy piece in all.
constexpr std::size_t kPakPieces[] = {900 * 1024, 400 * 1024};
constexpr std::int64_t kPakSlice = kPakPieces[0] + kPakPieces[1];

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

// A stretch of writes into one phase: a run writes version.ini twice when it records the pak's
// end before the pak entry.
struct WriteSegment {
    Phase phase;
    std::uint64_t first = 0; // bytes written when its first byte is, counted from 1
    std::uint64_t last = 0;
};

std::vector<WriteSegment> SegmentsOf(const std::vector<FileWrite>& writes) {
    std::vector<WriteSegment> segments;
    std::uint64_t written = 0;
    for (const FileWrite& write : writes) {
        const Phase phase = PhaseOf(write.path);
        if (segments.empty() || segments.back().phase != phase) {
            segments.push_back({phase, written + 1, 0});
        }
        written += write.bytes;
        segments.back().last = written;
    }
    return segments;
}

// The game folder's offset in version.ini: one recorded inside the pak, or none.
class KilledRunTest : public ::testing::TestWithParam<std::int64_t> {
protected:
    void SetUp() override {
        if (!CanLimitChildWrites()) {
            GTEST_SKIP() << "cutting a child's writes at a byte needs ptrace on x86-64 Linux, "
                            "which this machine does not allow";
        }
        const std::string archive = BuildZipArchive({
            {"res.pak", m_pakData},
            {"data/", ""},
            {"data/sub/", ""},
            {"data/a.txt", PatternedData(200 * 1024, 9)},
            {"data/sub/b.bin", testsupport::NoiseData(300 * 1024, 10), Storage::Stored},
            {"data/empty.txt", ""},
            {"README.TXT", "read me\r\n"},
        });
        ASSERT_FALSE(archive.empty());
        m_package = m_scratch.path() / "package.exe";
        ASSERT_TRUE(WriteBinaryFile(m_package, BuildPackage(archive, kPackageVersion)));
    }

    // The game folder before the update: an existing pak, the offset of the test, and an old
    // version of a file the package replaces.
    void ResetGameFolder() {
        std::error_code error;
        fs::remove_all(m_game, error);
        fs::create_directories(m_game / "data", error);
        ASSERT_FALSE(error);
        ASSERT_TRUE(WriteBinaryFile(m_game / "res.pak", std::string(kOldPakLength, 'o')));
        ASSERT_TRUE(WriteBinaryFile(m_game / "data" / "a.txt", "old contents"));
        ASSERT_TRUE(WriteBinaryFile(m_game / "version.ini",
                                    LocalStateText(kPackageVersion - 1, GetParam())));
    }

    // Where the slice goes: the recorded offset, or the old pak's end.
    static std::int64_t SliceOffset() { return GetParam() != 0 ? GetParam() : kOldPakLength; }

    ChildResult RunChild(std::uint64_t byteLimit) {
        return RunWriteLimitedChild(
            [this] {
                RecordingPatchView view;
                return RunEngineIn(m_game, m_package, view);
            },
            byteLimit);
    }

    // Random points inside each stretch of writes, and each stretch's first and last byte.
    static std::vector<std::uint64_t> KillPoints(const std::vector<FileWrite>& writes) {
        const std::vector<WriteSegment> segments = SegmentsOf(writes);
        std::set<Phase> phases;
        std::mt19937_64 random(20261208);
        std::set<std::uint64_t> points;
        for (const WriteSegment& segment : segments) {
            phases.insert(segment.phase);
            points.insert(segment.first);
            points.insert(segment.last);
            std::uniform_int_distribution<std::uint64_t> inside(segment.first, segment.last);
            for (int i = 0; i < 16; ++i) {
                points.insert(inside(random));
            }
        }
        EXPECT_EQ(phases.size(), static_cast<std::size_t>(Phase::Count)) << "a phase wrote nothing";
        return {points.begin(), points.end()};
    }

    const std::string m_pakData =
        PatternedData(kPakPieces[0], 7) + testsupport::NoiseData(kPakPieces[1], 8);
    ScratchGameDirectory m_scratch;
    fs::path m_game = m_scratch.path() / "game";
    fs::path m_package;
};

// Killed anywhere, the rerun writes the pak's slice at the same place: with no offset recorded,
// at the end the first run recorded before it began the slice, not at an end grown by part of it.
TEST_P(KilledRunTest, RunAgainAfterAKillGivesTheSameGameFolder) {
    ResetGameFolder();
    const std::string oldState = LocalStateText(kPackageVersion - 1, GetParam());
    const std::string pakEndRecorded = LocalStateText(kPackageVersion - 1, SliceOffset());
    const ChildResult uninterrupted = RunChild(0);
    ASSERT_EQ(uninterrupted.exitCode, 0);
    const FolderSnapshot expected = SnapshotFolder(m_game);
    const std::string newState = expected.at("version.ini");
    ASSERT_EQ(newState, LocalStateText(kPackageVersion, SliceOffset() + kPakSlice));
    ASSERT_TRUE(expected.at("res.pak") ==
                std::string(static_cast<std::size_t>(SliceOffset()), 'o') + m_pakData);

    const std::vector<std::uint64_t> points = KillPoints(uninterrupted.writes);
    EXPECT_GE(points.size(), 50u);
    for (const std::uint64_t point : points) {
        SCOPED_TRACE("killed after " + std::to_string(point) + " of " +
                     std::to_string(uninterrupted.bytesWritten) + " bytes");
        ResetGameFolder();
        const ChildResult killed = RunChild(point);
        ASSERT_TRUE(killed.killed);
        const std::string state = ReadBinaryFile(m_game / "version.ini");
        EXPECT_TRUE(state == oldState || state == pakEndRecorded || state == newState) << state;

        // Killed after version.ini was replaced, the run again says there is nothing to do.
        const ChildResult rerun = RunChild(0);
        EXPECT_EQ(rerun.exitCode, state == newState ? 1 : 0);
        EXPECT_EQ(SnapshotDifferences(expected, SnapshotFolder(m_game)), "");
        if (HasFailure()) {
            break;
        }
    }
}

using Operations = std::vector<FileOperation>;

bool IsStateReplacement(const FileOperation& operation) {
    const std::string& target = operation.target;
    return operation.kind == FileOperation::Kind::Rename &&
           (target == "version.ini" ||
            (target.size() > 12 && target.compare(target.size() - 12, 12, "/version.ini") == 0));
}

// The index of the first operation of the kind on the path at or after from and before until,
// or until when there is none.
std::size_t Find(const Operations& operations, FileOperation::Kind kind, const std::string& path,
                 std::size_t from, std::size_t until) {
    for (std::size_t i = from; i < until; ++i) {
        if (operations[i].kind == kind && operations[i].path == path) {
            return i;
        }
    }
    return until;
}

// The index after the last operation of the kind on the path before until, 0 when there is none.
std::size_t After(const Operations& operations, FileOperation::Kind kind, const std::string& path,
                  std::size_t until) {
    for (std::size_t i = until; i > 0; --i) {
        if (operations[i - 1].kind == kind && operations[i - 1].path == path) {
            return i;
        }
    }
    return 0;
}

// Seen in the run's own system calls: a power loss at any point cannot leave version.ini vouching
// for data, folders or an offset that are not on the disk.
TEST_P(KilledRunTest, WhatARunWroteReachesTheDiskBeforeVersionIniSaysSo) {
    using Kind = FileOperation::Kind;
    ResetGameFolder();
    const ChildResult run = RunChild(0);
    ASSERT_EQ(run.exitCode, 0);
    const Operations& operations = run.operations;
    std::vector<std::size_t> replacements;
    for (std::size_t i = 0; i < operations.size(); ++i) {
        if (IsStateReplacement(operations[i])) {
            replacements.push_back(i);
        }
    }
    ASSERT_EQ(replacements.size(), GetParam() == 0 ? 2u : 1u);
    const std::size_t record = replacements.back();
    const std::string game = fs::canonical(m_game).string();

    // Every file the run wrote is flushed after its last write, and each folder after the files
    // in it, all before the record.
    const std::pair<const char*, const char*> written[] = {{"res.pak", ""},
                                                           {"data/a.txt", "data"},
                                                           {"data/sub/b.bin", "data/sub"},
                                                           {"data/empty.txt", "data"},
                                                           {"readme.txt", ""}};
    for (const auto& [name, folder] : written) {
        SCOPED_TRACE(name);
        const std::string path = game + "/" + name;
        const std::size_t flush = Find(operations, Kind::Flush, path,
                                       After(operations, Kind::Write, path, record), record);
        EXPECT_LT(flush, record) << "not flushed after its last write and before the record";
        const std::string folderPath = *folder != '\0' ? game + "/" + folder : game;
        EXPECT_LT(Find(operations, Kind::Flush, folderPath, flush, record), record)
            << "its folder is not flushed after it and before the record";
    }
    EXPECT_LT(Find(operations, Kind::Flush, game + "/data", 0, record), record);
    EXPECT_LT(Find(operations, Kind::Flush, game, record + 1, operations.size()), operations.size())
        << "the game folder is not flushed after the record";

    if (GetParam() == 0) {
        // The pak's end: the temporary file flushed, renamed over version.ini and the folder
        // flushed, all before the first byte of the pak entry.
        const std::size_t recorded = replacements.front();
        const std::string temporary = game + "/version.ini.new";
        const std::size_t firstPakWrite =
            Find(operations, Kind::Write, game + "/res.pak", 0, operations.size());
        EXPECT_LT(recorded, firstPakWrite);
        EXPECT_LT(Find(operations, Kind::Flush, temporary,
                       After(operations, Kind::Write, temporary, recorded), recorded),
                  recorded);
        EXPECT_LT(Find(operations, Kind::Flush, game, recorded + 1, firstPakWrite), firstPakWrite);
    }
}

INSTANTIATE_TEST_SUITE_P(PakOffsets, KilledRunTest, ::testing::Values(100000, 0),
                         [](const ::testing::TestParamInfo<std::int64_t>& offset) {
                             return offset.param != 0 ? std::string("OffsetRecorded")
                                                      : std::string("NoOffsetRecorded");
                         });

} // namespace

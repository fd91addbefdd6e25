#include "GameDirectoryTest.h"

#include "engine/RunPatch.h"
#include "platform/LockWait.h"
#include "platform/TextEncoding.h"
#include "support/RunningProgram.h"

#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <new>
#include <string>

namespace {

namespace fs = std::filesystem;
using testsupport::BuildPackage;
using testsupport::BuildZipArchive;
using testsupport::ExpectedMessage;
using testsupport::PatternedData;
using testsupport::Storage;
using testsupport::ZipEntry;

constexpr std::size_t kReferencePakSize = 1478644;

std::string HostName(const std::string& cp936) {
    std::string utf8;
    EXPECT_TRUE(Cp936ToUtf8(cp936, utf8));
    return utf8;
}

// Files above the limit cannot grow: writes come up short as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_previous);
        rlimit limit = m_previous;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_previous); }

private:
    rlimit m_previous{};
};

class ApplyPackageTest : public GameDirectoryTest {
protected:
    const std::string pakData = PatternedData(kReferencePakSize);
    const std::string oldPak = std::string(5000, 'R');

    std::string ReferencePackage() {
        return BuildPackage(BuildZipArchive({{"res.pak", pakData}}), 3187);
    }

    void ExpectCompleted(int result, const std::string& versionIni) {
        EXPECT_EQ(result, 0);
        EXPECT_TRUE(view.messages.empty());
        EXPECT_EQ(view.finishEnabled, 1);
        EXPECT_EQ(VersionIni(), versionIni);
        EXPECT_FALSE(fs::exists("patch/hvmanualpatch.zip"));
        EXPECT_TRUE(fs::is_directory("patch"));
    }
};

TEST_F(ApplyPackageTest, ReferencePackageAppendsThePakEntryAtTheEndOfThePak) {
    WriteVersionIni("3186\r\n0\r\n");
    WriteFile("res.pak", oldPak);
    const int result = Run(ReferencePackage());
    ExpectCompleted(result,
                    "3187\r\n" + std::to_string(oldPak.size() + kReferencePakSize) + "\r\n");
    EXPECT_EQ(ReadFile("res.pak"), oldPak + pakData);
    // Two pieces: 1,048,576 bytes (70 %), then 430,068.
    EXPECT_EQ(view.progress, (std::vector<int>{0, 70, 100}));
    EXPECT_EQ(view.latestVersionTexts, std::vector<std::wstring>{L"最新版本： 31.87"});
    EXPECT_EQ(view.localVersionTexts,
              (std::vector<std::wstring>{L"本地版本： 31.86", L"本地版本： 31.87"}));
}

TEST_F(ApplyPackageTest, RecordedOffsetReplacesTheBytesThereWhateverThePaksLength) {
    const std::string longPak = PatternedData(2000000, 7);
    WriteVersionIni("3186\r\n1000\r\n");
    WriteFile("res.pak", longPak);
    ExpectCompleted(Run(ReferencePackage()),
                    "3187\r\n" + std::to_string(1000 + kReferencePakSize) + "\r\n");
    std::string expected = longPak;
    expected.replace(1000, kReferencePakSize, pakData);
    EXPECT_EQ(ReadFile("res.pak"), expected);
}

TEST_F(ApplyPackageTest, RunAgainAfterAFailureWritesThePakEntryAtTheSamePlace) {
    WriteVersionIni("3186\r\n1000\r\n");
    WriteFile("res.pak", oldPak);
    const std::string package =
        BuildPackage(BuildZipArchive({{"res.pak", pakData}, {"maps/town.map", "map"}}), 3187);
    ExpectStoppedWith(Run(package), Message::CannotWriteFile, "3186\r\n1000\r\n");
    EXPECT_TRUE(fs::exists("patch/hvmanualpatch.zip"));

    view.ClearRecords();
    fs::create_directory("maps");
    ExpectCompleted(Run(package), "3187\r\n" + std::to_string(1000 + kReferencePakSize) + "\r\n");
    EXPECT_EQ(ReadFile("res.pak"), oldPak.substr(0, 1000) + pakData);
    EXPECT_EQ(ReadFile("maps/town.map"), "map");
}

// With no offset recorded, the pak's end is recorded before the slice is written: the run that
// stops after the pak entry leaves it to the next run, which writes the slice there once.
TEST_F(ApplyPackageTest, PakEndIsRecordedBeforeTheSliceSoARerunWritesItOnce) {
    WriteVersionIni("3186\r\n0\r\n");
    WriteFile("res.pak", oldPak);
    const std::string package = BuildPackage(
        BuildZipArchive({{"res.pak", pakData}, {"big.bin", std::string(3000000, 'b')}}), 3187);
    const std::string pakEnd = "3186\r\n" + std::to_string(oldPak.size()) + "\r\n";
    {
        // Room for the pak and the archive, not for the large file.
        const FileSizeLimit limit(2 << 20);
        ExpectStoppedWith(Run(package), Message::WriteCameUpShort, pakEnd);
    }
    EXPECT_EQ(ReadFile("res.pak"), oldPak + pakData);

    view.ClearRecords();
    ExpectCompleted(Run(package),
                    "3187\r\n" + std::to_string(oldPak.size() + kReferencePakSize) + "\r\n");
    EXPECT_EQ(ReadFile("res.pak"), oldPak + pakData);
    EXPECT_EQ(ReadFile("big.bin"), std::string(3000000, 'b'));
}

// The record is a rewrite of version.ini like the last one: guarded, and message 2 when it fails,
// with the pak untouched.
TEST_F(ApplyPackageTest,
       PakEndThatCannotBeRecordedGivesCannotReadLocalVersionBeforeThePakIsWritten) {
    const std::string before = "3186\r\n0\r\n";
    WriteVersionIni(before);
    WriteFile("res.pak", oldPak);
    fs::create_directory("version.ini.new");
    ExpectStoppedWith(RunArchive({{"res.pak", "pak"}}, 3187), Message::CannotReadLocalVersion,
                      before);
    EXPECT_TRUE(view.messages[0].underLock);
    EXPECT_EQ(ReadFile("res.pak"), oldPak);

    // An empty pak's end is no offset at all: nothing to record, and nothing fails.
    view.ClearRecords();
    fs::remove("version.ini.new");
    WriteFile("res.pak", "");
    ExpectCompleted(RunArchive({{"res.pak", "pak"}}, 3187), "3187\r\n3\r\n");
}

// Memory that cannot be had in the middle of a guarded file entry.
class ViewFailingUnderTheLock : public testsupport::RecordingPatchView {
public:
    void SetProgress(int position) override {
        RecordingPatchView::SetProgress(position);
        if (testsupport::IsHeld(ClientMutex())) {
            throw std::bad_alloc();
        }
    }
};

TEST_F(ApplyPackageTest, ExceptionInsideTheRunEndsItWithAMessageAndTheLockReleased) {
    const std::string before = "3186\r\n0\r\n";
    WriteVersionIni(before);
    WriteFile(kPackageName, BuildPackage(BuildZipArchive({{"a.txt", "file"}}), 3187));
    ViewFailingUnderTheLock failing;
    EXPECT_EQ(RunPatch(failing, kPackageName), 1);
    ASSERT_EQ(failing.messages.size(), 1u);
    EXPECT_EQ(failing.messages[0], ExpectedMessage(Message::WriteCameUpShort));
    EXPECT_FALSE(failing.messages[0].underLock);
    EXPECT_FALSE(testsupport::IsHeld(failing.ClientMutex()));
    EXPECT_EQ(failing.finishEnabled, 0);
    EXPECT_EQ(VersionIni(), before);
}

TEST_F(ApplyPackageTest, NamesAreLowerCasedByteByByteAndKindsFollowTheName) {
    WriteVersionIni("3186\r\n0\r\n");
    WriteFile("res.pak", oldPak);
    // 0x81 0x41 is one character whose second byte is raised as well.
    const int result = RunArchive({{"DATA/", "", Storage::Stored},
                                   {"DATA/A.TXT", "a"},
                                   {"\x81\x41.txt", "b"},
                                   {"RES.PAK", "pak"}},
                                  3187);
    ExpectCompleted(result, "3187\r\n5003\r\n");
    EXPECT_EQ(ReadFile("data/a.txt"), "a");
    EXPECT_EQ(ReadFile(HostName("\x81\x61.txt")), "b");
    EXPECT_FALSE(fs::exists(HostName("\x81\x41.txt")));
    EXPECT_EQ(ReadFile("res.pak"), oldPak + "pak");
    EXPECT_FALSE(fs::exists("RES.PAK"));
}

TEST_F(ApplyPackageTest, ChineseNamesLandUnderTheirRealCharacters) {
    WriteVersionIni("3186\r\n0\r\n");
    std::string folder;
    std::string file;
    ASSERT_TRUE(Utf8ToCp936("数据/", folder));
    ASSERT_TRUE(Utf8ToCp936("数据/说明.txt", file));
    ExpectCompleted(RunArchive({{folder, "", Storage::Stored}, {file, "说明"}}, 3187),
                    "3187\r\n0\r\n");
    EXPECT_EQ(ReadFile("数据/说明.txt"), "说明");
}

TEST_F(ApplyPackageTest, EmptyFileEntryTruncatesWithoutMovingTheBar) {
    WriteVersionIni("3186\r\n0\r\n");
    WriteFile("empty.txt", "old contents");
    ExpectCompleted(RunArchive({{"empty.txt", ""}}, 3187), "3187\r\n0\r\n");
    EXPECT_EQ(ReadFile("empty.txt"), "");
    EXPECT_EQ(view.progress, std::vector<int>{0});
}

TEST_F(ApplyPackageTest, ArchiveWithoutEntriesStillRecordsTheNewVersion) {
    WriteVersionIni("3186\r\n42\r\n");
    // The ZIP reader finds no end record at the archive's very first byte, so an archive of
    // nothing but that record cannot be opened; with any bytes ahead of it, it can.
    const std::string emptyArchive = BuildZipArchive({});
    ExpectStoppedWith(Run(BuildPackage(emptyArchive, 3187)), Message::CannotReadPackage,
                      "3186\r\n42\r\n");
    view.ClearRecords();
    ExpectCompleted(Run(BuildPackage(std::string(16, '\0') + emptyArchive, 3187)),
                    "3187\r\n42\r\n");
    EXPECT_EQ(view.progress, std::vector<int>{0});
}

TEST_F(ApplyPackageTest, FailuresOfTheEntryPassKeepVersionIni) {
    const std::string before = "3186\r\n0\r\n";
    WriteVersionIni(before);
    // No directory entry and no folder.
    ExpectStoppedWith(RunArchive({{"maps/town.map", "map"}}, 3187), Message::CannotWriteFile,
                      before);
    EXPECT_TRUE(view.messages[0].underLock);

    view.ClearRecords();
    ExpectStoppedWith(RunArchive({{"res.pak", "pak"}}, 3187), Message::PakFileMissing, before);
    EXPECT_FALSE(view.messages[0].underLock);
    EXPECT_FALSE(fs::exists("res.pak"));

    // A file where the directory should go.
    view.ClearRecords();
    WriteFile("data", "in the way");
    ExpectStoppedWith(RunArchive({{"data/sub/", "", Storage::Stored}}, 3187),
                      Message::CannotWriteFile, before);
    EXPECT_EQ(ReadFile("data"), "in the way");
}

TEST_F(ApplyPackageTest, DamagedEntryDataIsReportedAndNeverWrittenAsIfWhole) {
    const std::string before = "3186\r\n0\r\n";
    WriteVersionIni(before);
    std::string badCrc = BuildZipArchive({{"a.txt", "hello"}});
    testsupport::SetEntryCrc(badCrc, 0, 0x12345678);
    ExpectStoppedWith(Run(BuildPackage(badCrc, 3187)), Message::CannotReadPackage, before);

    // The records promise more than the data holds: the read runs dry before the size.
    view.ClearRecords();
    std::string tooShort = BuildZipArchive({{"b.txt", "hello", Storage::Stored}});
    testsupport::SetEntryUncompressedSize(tooShort, 0, 10);
    ExpectStoppedWith(Run(BuildPackage(tooShort, 3187)), Message::CannotReadPackage, before);
    EXPECT_EQ(ReadFile("b.txt"), "");
}

TEST_F(ApplyPackageTest, ArchiveWhoseFirstEntryCannotBeReachedIsRefused) {
    const std::string before = "3186\r\n0\r\n";
    WriteVersionIni(before);
    std::string archive = BuildZipArchive({{"a.txt", "hello"}});
    testsupport::PutLittleEndian32(archive, testsupport::CentralHeaderOffset(archive, 0), 0);
    ExpectStoppedWith(Run(BuildPackage(archive, 3187)), Message::CannotReadPackage, before);
    EXPECT_FALSE(fs::exists("a.txt"));
}

TEST_F(ApplyPackageTest, UnsafeNamesRefuseTheWholePackageBeforeAnythingIsWritten) {
    const std::string before = "3186\r\n0\r\n";
    WriteVersionIni(before);
    for (const char* name : {"../outside.txt", "/absolute.txt", "c:/drive.txt", "ok.txt:stream",
                             "a/../../x.txt", "a\\..\\..\\x.txt", "sub\\..", "\\rooted.txt"}) {
        SCOPED_TRACE(name);
        view.ClearRecords();
        ExpectStoppedWith(RunArchive({{"first.txt", "1"}, {name, "evil"}}, 3187),
                          Message::CannotReadPackage, before);
        EXPECT_FALSE(fs::exists("first.txt"));
    }
    EXPECT_FALSE(fs::exists(game.path().parent_path() / "outside.txt"));
    EXPECT_FALSE(fs::exists(game.path().parent_path() / "x.txt"));
}

TEST_F(ApplyPackageTest, BackslashAsSecondByteOfACharacterIsNoSeparator) {
    WriteVersionIni("3186\r\n0\r\n");
    // 0x95 0x5C is one character; the name is a plain file name.
    ExpectCompleted(RunArchive({{"\x95\x5c..txt", "x"}}, 3187), "3187\r\n0\r\n");
    EXPECT_EQ(ReadFile(HostName("\x95\x5c..txt")), "x");
}

TEST_F(ApplyPackageTest, SecondPakEntryRefusesThePackage) {
    const std::string before = "3186\r\n0\r\n";
    WriteVersionIni(before);
    WriteFile("res.pak", oldPak);
    WriteFile("more.pak", oldPak);
    ExpectStoppedWith(RunArchive({{"res.pak", "one"}, {"more.pak", "two"}}, 3187),
                      Message::CannotReadPackage, before);
    EXPECT_EQ(ReadFile("res.pak"), oldPak);
    EXPECT_EQ(ReadFile("more.pak"), oldPak);
}

TEST_F(ApplyPackageTest, PakThatCannotBePositionedOrWrittenThereGivesWriteCameUpShort) {
    const std::string before = "3186\r\n9223372036854775000\r\n";
    WriteVersionIni(before);
    WriteFile("res.pak", oldPak);
    WriteFile(kPackageName, BuildPackage(BuildZipArchive({{"res.pak", "pak"}}), 3187));
    // Whether the file system refuses the position or the write there, the run stops; the limit
    // makes sure of it where a file may grow to 2^63 bytes.
    const FileSizeLimit limit(1 << 20);
    ExpectStoppedWith(RunPatch(view, kPackageName), Message::WriteCameUpShort, before);
    EXPECT_EQ(ReadFile("res.pak"), oldPak);
}

TEST_F(ApplyPackageTest, FullDiskIsReportedWhereItHappens) {
    const std::string before = "3186\r\n0\r\n";
    WriteVersionIni(before);
    const std::string noise = PatternedData(200000, 3); // hardly deflates below 64 KiB
    const std::string largeArchive = BuildZipArchive({{"noise.bin", noise, Storage::Stored}});
    const std::string smallArchive = BuildZipArchive({{"big.txt", std::string(3000000, 'z')}});
    WriteFile("large.exe", BuildPackage(largeArchive, 3187));
    WriteFile("small.exe", BuildPackage(smallArchive, 3187));
    {
        const FileSizeLimit limit(64 * 1024);
        ExpectStoppedWith(RunPatch(view, "large.exe"), Message::CannotCreateTemporaryArchive,
                          before);
        EXPECT_FALSE(fs::exists("patch/hvmanualpatch.zip"));
        view.ClearRecords();
        ExpectStoppedWith(RunPatch(view, "small.exe"), Message::WriteCameUpShort, before);
        EXPECT_TRUE(view.messages[0].underLock);
    }
}

// Links planted for the temporary archive turn no write elsewhere: one at its name is replaced and
// the run completes; "patch" itself a link stops the run before anything is written.
TEST_F(ApplyPackageTest, LinksPlantedForTheTemporaryArchiveTurnNoWriteElsewhere) {
    WriteVersionIni("3186\r\n0\r\n");
    fs::create_directories("elsewhere");
    WriteFile("elsewhere/hvmanualpatch.zip", "precious");
    fs::create_directory_symlink("../elsewhere", "patch");
    ExpectStoppedWith(RunArchive({{"a.txt", "a"}}, 3187), Message::CannotCreateTemporaryArchive,
                      "3186\r\n0\r\n");
    EXPECT_FALSE(fs::exists("a.txt"));
    EXPECT_EQ(ReadFile("elsewhere/hvmanualpatch.zip"), "precious");

    view.ClearRecords();
    fs::remove("patch");
    fs::create_directory("patch");
    fs::create_symlink("../elsewhere/hvmanualpatch.zip", "patch/hvmanualpatch.zip");
    ExpectCompleted(RunArchive({{"a.txt", "a"}}, 3187), "3187\r\n0\r\n");
    EXPECT_EQ(ReadFile("a.txt"), "a");
    EXPECT_EQ(ReadFile("elsewhere/hvmanualpatch.zip"), "precious");
}

TEST_F(ApplyPackageTest, VersionIniThatCannotBeReplacedKeepsItsOldState) {
    const std::string before = "3186\r\n0\r\n";
    WriteVersionIni(before);
    fs::create_directory("version.ini.new");
    ExpectStoppedWith(RunArchive({{"a.txt", "a"}}, 3187), Message::CannotReadLocalVersion, before);
    EXPECT_TRUE(view.messages[0].underLock);
    EXPECT_EQ(ReadFile("a.txt"), "a");
    EXPECT_FALSE(fs::exists("patch/hvmanualpatch.zip"));
}

TEST_F(ApplyPackageTest, OnlyFileEntriesAreWrittenUnderTheLock) {
    WriteVersionIni("3186\r\n0\r\n");
    WriteFile("res.pak", oldPak);
    ExpectCompleted(RunArchive({{"res.pak", "pak"}, {"a.txt", "file"}}, 3187), "3187\r\n5003\r\n");
    EXPECT_EQ(view.progressUnderLock, (std::vector<bool>{false, false, true}));
    EXPECT_FALSE(testsupport::IsHeld(view.ClientMutex()));
}

// Each call waits for the dialog's thread; many small files must not make hundreds of them.
TEST_F(ApplyPackageTest, ProgressIsShownOnlyWhenTheBarMoves) {
    WriteVersionIni("3186\r\n0\r\n");
    std::vector<ZipEntry> files;
    for (int i = 0; i < 300; ++i) {
        files.push_back({"f" + std::to_string(i) + ".txt", "0123456789"});
    }
    ExpectCompleted(RunArchive(files, 3187), "3187\r\n0\r\n");
    ASSERT_EQ(view.progress.size(), 101u);
    for (std::size_t i = 0; i < view.progress.size(); ++i) {
        EXPECT_EQ(view.progress[i], static_cast<int>(i));
    }
}

TEST_F(ApplyPackageTest, CancelBetweenPakPiecesStopsSilentlyAndARerunCompletes) {
    WriteVersionIni("3186\r\n1000\r\n");
    WriteFile("res.pak", oldPak);
    view.CancelWhen(
        [](const testsupport::RecordingPatchView& seen) { return seen.progress.size() >= 2; });
    const std::string package = ReferencePackage();
    EXPECT_EQ(Run(package), 1);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(view.progress, (std::vector<int>{0, 70}));
    EXPECT_EQ(VersionIni(), "3186\r\n1000\r\n");
    EXPECT_EQ(ReadFile("res.pak").size(), 1000 + 1048576u);

    view.ClearRecords();
    ExpectCompleted(Run(package), "3187\r\n" + std::to_string(1000 + kReferencePakSize) + "\r\n");
    EXPECT_EQ(ReadFile("res.pak"), oldPak.substr(0, 1000) + pakData);
}

TEST_F(ApplyPackageTest, CancelNeverCutsAGuardedFileShort) {
    WriteVersionIni("3186\r\n0\r\n");
    const std::string big = PatternedData(2500000, 5);
    view.CancelWhen(
        [](const testsupport::RecordingPatchView& seen) { return seen.progress.size() >= 2; });
    EXPECT_EQ(RunArchive({{"big.bin", big}, {"after.txt", "x"}}, 3187), 1);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(view.cancelled());
    EXPECT_EQ(ReadFile("big.bin"), big);
    EXPECT_FALSE(fs::exists("after.txt"));
    EXPECT_EQ(VersionIni(), "3186\r\n0\r\n");
}

// ---- every existing target is checked before the first write into the game folder

class TargetCheckTest : public ApplyPackageTest {
protected:
    const std::string before = "3186\r\n0\r\n";

    void SetUp() override {
        WriteVersionIni(before);
        WriteFile("res.pak", oldPak);
        WriteFile("a.txt", "old a");
    }

    // A file entry ahead of the pak entry and one behind the target that fails.
    int RunWithTarget(const std::string& target) {
        return RunArchive(
            {{"a.txt", "new a"}, {"res.pak", "pak"}, {target, "new " + target}, {"z.txt", "z"}},
            3187);
    }

    void ExpectNothingWritten() {
        EXPECT_EQ(ReadFile("a.txt"), "old a");
        EXPECT_EQ(ReadFile("res.pak"), oldPak);
        EXPECT_FALSE(fs::exists("z.txt"));
    }
};

TEST_F(TargetCheckTest, TargetThatCannotBeWrittenStopsTheRunBeforeTheFirstWrite) {
    fs::create_directory("client.dll");
    ExpectStoppedWith(RunWithTarget("client.dll"), Message::CannotWriteFile, before);
    ExpectNothingWritten();

    view.ClearRecords();
    fs::remove("res.pak");
    ExpectStoppedWith(RunWithTarget("b.txt"), Message::PakFileMissing, before);
    EXPECT_EQ(ReadFile("a.txt"), "old a");
    EXPECT_FALSE(fs::exists("b.txt"));
    EXPECT_FALSE(fs::exists("res.pak"));
}

TEST_F(TargetCheckTest, ProgramHoldingATargetThroughoutGivesCannotWriteFileAfterTheWait) {
    const testsupport::RunningProgram client(game.path() / "client.exe", 60);
    if (!client.HoldsItsFile()) {
        GTEST_SKIP() << testsupport::kNotHeld;
    }
    const auto start = std::chrono::steady_clock::now();
    ExpectStoppedWith(RunWithTarget("client.exe"), Message::CannotWriteFile, before);
    EXPECT_GE(std::chrono::steady_clock::now() - start, LockWait::kWindow);
    ExpectNothingWritten();
}

TEST_F(TargetCheckTest, ProgramHoldingATargetForAMomentIsWaitedOut) {
    {
        const testsupport::RunningProgram client(game.path() / "client.exe", 0.5);
        if (!client.HoldsItsFile()) {
            GTEST_SKIP() << testsupport::kNotHeld;
        }
        ExpectCompleted(RunWithTarget("client.exe"), "3187\r\n5003\r\n");
    }
    EXPECT_EQ(ReadFile("client.exe"), "new client.exe");
    EXPECT_EQ(ReadFile("a.txt"), "new a");
    EXPECT_EQ(ReadFile("z.txt"), "z");
}

TEST_F(TargetCheckTest, CancelWhileWaitingForAHeldTargetStopsAtOnce) {
    const testsupport::RunningProgram client(game.path() / "client.exe", 60);
    if (!client.HoldsItsFile()) {
        GTEST_SKIP() << testsupport::kNotHeld;
    }
    const auto start = std::chrono::steady_clock::now();
    view.CancelWhen([start](const testsupport::RecordingPatchView&) {
        return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300);
    });
    EXPECT_EQ(RunWithTarget("client.exe"), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_TRUE(view.messages.empty());
    EXPECT_EQ(VersionIni(), before);
    ExpectNothingWritten();
}

} // namespace

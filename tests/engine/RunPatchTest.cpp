#include "GameDirectoryTest.h"

#include "engine/RunPatch.h"

#include <filesystem>

namespace {

using testsupport::BuildPackage;
using testsupport::ExpectedWideMessage;

class RunPatchTest : public GameDirectoryTest {
protected:
    // A package of the given version whose archive could be applied.
    static std::string PackageFor(std::uint32_t version) {
        return BuildPackage(testsupport::BuildZipArchive({{"readme.txt", "new"}}), version);
    }
};

TEST_F(RunPatchTest, SameVersionFillsTheBarAndSaysSoWithoutChangingAnything) {
    WriteVersionIni("3187\r\n0\r\n");
    const int result = Run(PackageFor(3187));
    ExpectStoppedWith(result, ExpectedWideMessage(AlreadyUpToDateText(3187)), "3187\r\n0\r\n");
    EXPECT_EQ(view.latestVersionTexts, std::vector<std::wstring>{L"最新版本： 31.87"});
    EXPECT_EQ(view.localVersionTexts, std::vector<std::wstring>{L"本地版本： 31.87"});
    EXPECT_EQ(view.progress, std::vector<int>{100});
    EXPECT_FALSE(std::filesystem::exists("readme.txt"));
    EXPECT_FALSE(std::filesystem::exists("patch"));
}

TEST_F(RunPatchTest, PackageMoreThanOneAheadNamesBothVersions) {
    WriteVersionIni("3185\r\n0\r\n");
    const int result = Run(PackageFor(3187));
    ExpectStoppedWith(result, ExpectedWideMessage(VersionSkippedText(3185, 3187)), "3185\r\n0\r\n");
    EXPECT_TRUE(view.progress.empty());
    EXPECT_FALSE(std::filesystem::exists("patch"));
}

TEST_F(RunPatchTest, PackageBelowTheLocalVersionIsWithdrawn) {
    WriteVersionIni("3188\r\n0\r\n");
    ExpectStoppedWith(Run(PackageFor(3187)), Message::PackageWithdrawn, "3188\r\n0\r\n");

    // -1 is read as 4294967295, above every package.
    view.ClearRecords();
    WriteVersionIni("-1\r\n");
    ExpectStoppedWith(Run(PackageFor(3187)), Message::PackageWithdrawn, "-1\r\n");
    EXPECT_EQ(view.localVersionTexts, std::vector<std::wstring>{L"本地版本： 42949672.00"});
    EXPECT_FALSE(std::filesystem::exists("patch"));
}

TEST_F(RunPatchTest, UnreadableLocalStateStopsAfterTheLatestLabel) {
    for (const std::string text : {"0\r\n0\r\n", "abc\r\n",
                                   "\xEF\xBB\xBF"
                                   "3186\r\n",
                                   "", "3186\r\n-5\r\n"}) {
        SCOPED_TRACE(text);
        view.ClearRecords();
        WriteVersionIni(text);
        ExpectStoppedWith(Run(PackageFor(3187)), Message::CannotReadLocalVersion, text);
        EXPECT_EQ(view.latestVersionTexts, std::vector<std::wstring>{L"最新版本： 31.87"});
        EXPECT_TRUE(view.localVersionTexts.empty());
    }
    view.ClearRecords();
    std::filesystem::remove("version.ini");
    EXPECT_EQ(Run(PackageFor(3187)), 1);
    EXPECT_EQ(view.messages,
              std::vector{testsupport::ExpectedMessage(Message::CannotReadLocalVersion)});
    EXPECT_FALSE(std::filesystem::exists("version.ini"));
    EXPECT_FALSE(std::filesystem::exists("patch"));
}

TEST_F(RunPatchTest, PackageFileWithoutAUsableTrailerIsRefusedBeforeAnyLabel) {
    WriteVersionIni("3186\r\n0\r\n");
    const std::string archive = testsupport::BuildZipArchive({{"readme.txt", "new"}});
    std::string beyondItsEnd = BuildPackage(archive, 3187);
    testsupport::PutLittleEndian32(beyondItsEnd, beyondItsEnd.size() - 8,
                                   static_cast<std::uint32_t>(beyondItsEnd.size() - 7));
    for (const std::string& package : {std::string(), std::string("1234567"), beyondItsEnd}) {
        SCOPED_TRACE(package.size());
        view.ClearRecords();
        ExpectStoppedWith(Run(package), Message::CannotOpenPackage, "3186\r\n0\r\n");
        EXPECT_TRUE(view.latestVersionTexts.empty());
    }
    view.ClearRecords();
    ExpectStoppedWith(RunPatch(view, "missing.exe"), Message::CannotOpenPackage, "3186\r\n0\r\n");
    EXPECT_FALSE(std::filesystem::exists("patch"));
}

TEST_F(RunPatchTest, TrailerRightAfterTheImageMeansAnEmptyArchiveThatCannotBeRead) {
    WriteVersionIni("3186\r\n0\r\n");
    ExpectStoppedWith(Run(BuildPackage("", 3187)), Message::CannotReadPackage, "3186\r\n0\r\n");
    EXPECT_EQ(ReadFile("patch/hvmanualpatch.zip"), "");
}

TEST_F(RunPatchTest, CancelBeforeTheGateTakesNoFurtherStep) {
    WriteVersionIni("3186\r\n0\r\n");
    view.CancelWhen([](const testsupport::RecordingPatchView& seen) {
        return !seen.latestVersionTexts.empty();
    });
    EXPECT_EQ(Run(PackageFor(3187)), 1);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(view.localVersionTexts.empty());
    EXPECT_TRUE(view.progress.empty());
    EXPECT_FALSE(std::filesystem::exists("patch"));
    EXPECT_EQ(VersionIni(), "3186\r\n0\r\n");
}

// The patchkit commands run the engine on a folder they name, then go on where they were.
TEST_F(RunPatchTest, RunInAFolderWorksThereAndComesBack) {
    WriteFile(kPackageName, PackageFor(3187));
    std::filesystem::create_directory("game");
    WriteFile("game/version.ini", "3186\r\n0\r\n");
    const std::filesystem::path before = std::filesystem::current_path();

    int result = -1;
    EXPECT_EQ(RunPatchInFolder(view, kPackageName, "game", result), FolderMove::Done);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(std::filesystem::current_path(), before);
    EXPECT_EQ(ReadFile("game/readme.txt"), "new");
    EXPECT_EQ(ReadFile("game/version.ini").substr(0, 6), "3187\r\n");

    view.ClearRecords();
    result = -1;
    EXPECT_EQ(RunPatchInFolder(view, kPackageName, "missing", result), FolderMove::NotEntered);
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(view.latestVersionTexts.empty());
    EXPECT_EQ(std::filesystem::current_path(), before);
}

} // namespace

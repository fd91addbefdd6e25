// The real updater under Wine: what it shows (read back through UpdaterDriver) and what it leaves
// on disk.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "WineSession.h"
#include "support/PackageBuilder.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadBinaryFile;
using testsupport::WriteBinaryFile;
using testsupport::ZipEntry;
using Steps = std::vector<std::string>;

constexpr std::uint32_t kPackageVersion = 3187;
const std::string kLatestVersionLabel = "最新版本： 31.87";
const std::string kLatestVersionId = "1002";
const std::string kLocalVersionId = "1003";
const std::string kFinishId = "1004";
const std::string kErrorCaption = "错误！";
const std::string kNoticeCaption = "注意";
const std::string kInstallPathNotFound = "无法定位《雾岭纪元》安装目录，请点击确定后手动选择！";
const std::string kBrowserTitle = "无法定位《雾岭纪元》安装目录，请手动选择！";
const std::string kNoFolderChosen = "您没有选择《雾岭纪元》安装目录，更新失败！";
const std::string kVkReturn = "13";
const std::string kVkEscape = "27";
const std::string kIdOk = "1";
const std::string kIdCancel = "2";
// CTest reports the run as skipped, not passed, when this host cannot run the build.
constexpr int kSkipped = 77;

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

WineSession* g_session = nullptr;

class WineEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        const fs::path driver = EnvironmentValue("QRT_UPDATER_DRIVER");
        ASSERT_TRUE(fs::exists(driver)) << "UpdaterDriver.exe not found at '" << driver.string()
                                        << "': build the Windows presets first";
        const std::string why = m_session.Start(EnvironmentValue("QRT_E2E_WORK"),
                                                EnvironmentValue("QRT_E2E_BUILD"), driver);
        ASSERT_EQ(why, "");
        g_session = &m_session;
        // Narrow texts are code page 936 bytes: nothing below means anything without it.
        const WineSession::Result acp = m_session.RunDriver({"acp"});
        ASSERT_NE(acp.output.find("acp=936"), std::string::npos) << acp.output;
    }
    void TearDown() override {
        g_session = nullptr;
        m_session.Stop();
    }

private:
    WineSession m_session;
};

// Each test gets a fresh folder holding its game directory and its package.
class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(g_session, nullptr) << "no Wine session";
        // Numbered folders on drive C: keep the paths short enough for the registry value.
        static int caseNumber = 0;
        m_work = g_session->DriveC() / ("case" + std::to_string(++caseNumber));
        std::cout << "work folder " << g_session->WindowsPath(m_work) << "\n";
        fs::remove_all(m_work);
        fs::create_directories(Game());
        m_package = m_work / "QRTManualPatch.exe";
    }

    fs::path Game() const { return m_work / "game"; }
    std::string Updater() const { return g_session->WindowsPath(m_package); }

    void MakePackage(const std::vector<ZipEntry>& entries,
                     std::uint32_t version = kPackageVersion) {
        const std::string image = ReadBinaryFile(EnvironmentValue("QRT_UPDATER_EXE"));
        ASSERT_FALSE(image.empty()) << "QRTManualPatch.exe not found: build the Windows presets";
        const std::string archive = testsupport::BuildZipArchive(entries);
        ASSERT_FALSE(archive.empty());
        ASSERT_TRUE(WriteBinaryFile(m_package, testsupport::BuildPackage(archive, version, image)));
    }

    void WriteGameFile(const std::string& name, const std::string& bytes) {
        ASSERT_TRUE(WriteBinaryFile(Game() / name, bytes));
    }
    std::string GameFile(const std::string& name) const { return ReadBinaryFile(Game() / name); }

    // Every step must pass; the driver's report says where and what it saw when one does not.
    void Drive(const Steps& steps) const {
        const WineSession::Result result = g_session->RunDriver(steps);
        EXPECT_EQ(result.exitCode, 0) << result.output;
        if (result.exitCode == 0)
            std::cout << result.output;
    }
    // The registry names the game directory; the updater starts and shows its dialog.
    Steps StartInGame() const {
        return {"reg-path", g_session->WindowsPath(Game()), "start", Updater(), "dialog"};
    }

    fs::path m_work;
    fs::path m_package;
};

Steps operator+(Steps first, const Steps& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// ---- start-up

using StartUpTest = UpdaterTest;

TEST_F(StartUpTest, SecondCopyShowsOnlyItsBoxAndEndsWith2) {
    MakePackage({});
    Drive({"hold-mutex", "QRTAutoPatch_Inst", "start", Updater(), "box", kErrorCaption,
           "只能同时打开一个自动或手动更新程序！", "no-dialog", "ok", "exit", "2"});
}

TEST_F(StartUpTest, WithoutRegistryValueTheBrowserIsOfferedAndCancellingEndsWith2) {
    MakePackage({});
    Drive({"reg-clear", "start", Updater(), "box", kNoticeCaption, kInstallPathNotFound, "ok",
           "browser", kBrowserTitle, "browser-cancel", "box", kNoticeCaption, kNoFolderChosen,
           "no-dialog", "ok", "exit", "2"});
}

// The browser starts on the Desktop; taking it as it is makes the Desktop the game directory.
TEST_F(StartUpTest, FolderChosenInTheBrowserBecomesTheGameDirectory) {
    MakePackage({});
    const fs::path chosen = g_session->DesktopFolder() / "version.ini";
    ASSERT_TRUE(WriteBinaryFile(chosen, "3187\r\n0\r\n"));
    Drive({"reg-clear", "start", Updater(), "box", kNoticeCaption, kInstallPathNotFound, "ok",
           "browser", kBrowserTitle, "browser-ok", "dialog", "box", kErrorCaption,
           "您的本地版本已经是3187，不需要进行升级！", "ok", "exit", "1"});
    fs::remove(chosen);
}

// The game's 32-bit installer writes the value in the 32-bit registry view; each build reads it
// there, and a value in the 64-bit view alone is not the game's.
TEST_F(StartUpTest, InstallPathIsReadFromThe32BitRegistryView) {
    MakePackage({});
    const fs::path otherGame = m_work / "other";
    fs::create_directory(otherGame);
    ASSERT_TRUE(WriteBinaryFile(otherGame / "version.ini", "3185\r\n0\r\n"));
    WriteGameFile("version.ini", "3187\r\n0\r\n");

    Drive({"reg-clear", "reg-path-64bit-view", g_session->WindowsPath(otherGame), "start",
           Updater(), "box", kNoticeCaption, kInstallPathNotFound, "ok", "browser", kBrowserTitle,
           "browser-cancel", "box", kNoticeCaption, kNoFolderChosen, "ok", "exit", "2"});
    Drive({"reg-path", g_session->WindowsPath(Game()), "start", Updater(), "dialog", "box",
           kErrorCaption, "您的本地版本已经是3187，不需要进行升级！", "ok", "exit", "1"});
}

// The value is read into 260 bytes: 129 characters and the terminator fit, 130 do not.
TEST_F(StartUpTest, RegistryPathOf129CharactersIsUsedAnd130FallBackToTheNotice) {
    MakePackage({});
    const std::string base = g_session->WindowsPath(m_work) + "\\";
    ASSERT_LT(base.size(), 120u) << "work folder path too long for this test";
    const std::string fits = base + std::string(129 - base.size(), 'f');
    const std::string tooLong = base + std::string(130 - base.size(), 't');
    for (const std::string& windowsPath : {fits, tooLong}) {
        const fs::path directory = m_work / windowsPath.substr(base.size());
        fs::create_directory(directory);
        ASSERT_TRUE(WriteBinaryFile(directory / "version.ini", "3187\r\n0\r\n"));
    }
    // The package is already applied in that folder: the message proves the folder was used.
    const Steps used = {"start", Updater(),     "dialog",
                        "box",   kErrorCaption, "您的本地版本已经是3187，不需要进行升级！",
                        "ok",    "exit",        "1"};
    const Steps refused = {
        "start",        Updater(),       "box",         kNoticeCaption,   kInstallPathNotFound,
        "ok",           "browser",       kBrowserTitle, "browser-cancel", "box",
        kNoticeCaption, kNoFolderChosen, "ok",          "exit",           "2"};
    Drive(Steps{"reg-path", fits} + used);
    Drive(Steps{"reg-path-unterminated", fits} + used);
    Drive(Steps{"reg-path", tooLong} + refused);
    // 130 characters without a terminator fill the 260 bytes exactly: no string, refused too.
    Drive(Steps{"reg-path-unterminated", tooLong} + refused);
}

// ---- the version gate: every ending but the application shows its message and ends with 1

struct GateCase {
    const char* name;
    const char* versionIni; // nullptr: no version.ini
    const char* localLabel;
    const char* message;
    const char* progress;
};

class VersionGateTest : public UpdaterTest, public ::testing::WithParamInterface<GateCase> {};

TEST_P(VersionGateTest, ShowsBothVersionsAndTheMessageAndChangesNothing) {
    const GateCase& gate = GetParam();
    MakePackage({{"res.pak", "new pak data"}});
    WriteGameFile("res.pak", "old pak data");
    if (gate.versionIni != nullptr)
        WriteGameFile("version.ini", gate.versionIni);

    Drive(StartInGame() + Steps{"text", kFinishId, "更新结束，点击退出！", "text", kLatestVersionId,
                                kLatestVersionLabel, "text", kLocalVersionId, gate.localLabel,
                                "box", kErrorCaption, gate.message, "progress", gate.progress,
                                "finish", "0", "ok", "exit", "1"});

    EXPECT_EQ(GameFile("res.pak"), "old pak data");
    if (gate.versionIni != nullptr) {
        EXPECT_EQ(GameFile("version.ini"), gate.versionIni);
    }
    EXPECT_FALSE(fs::exists(Game() / "patch"));
}

INSTANTIATE_TEST_SUITE_P(
    Endings, VersionGateTest,
    ::testing::Values(
        GateCase{"AlreadyUpToDate", "3187\r\n0\r\n", "本地版本： 31.87",
                 "您的本地版本已经是3187，不需要进行升级！", "100"},
        GateCase{"VersionSkipped", "3185\r\n0\r\n", "本地版本： 31.85",
                 "您的本地版本是3185，手动更新包的版本为3187，请不要跨越版本号升级！", "0"},
        GateCase{"PackageWithdrawn", "3188\r\n0\r\n", "本地版本： 31.88",
                 "官方进行大规模版本提升，此手动更新包已经作废，请重新下载最新客户端！", "0"},
        GateCase{"NoVersionIni", nullptr, "本地版本", "无法得到本地版本！", "0"}),
    [](const ::testing::TestParamInfo<GateCase>& gate) { return std::string(gate.param.name); });

// ---- applying the package

using ApplicationTest = UpdaterTest;

TEST_F(ApplicationTest, AppliesThePackageThenFinishEndsWith0AndEnterChangesNothing) {
    const std::string oldPak(1000, 'p');
    const std::string pakEntry = testsupport::PatternedData(1478644);
    WriteGameFile("res.pak", oldPak);
    WriteGameFile("version.ini", "3186\r\n0\r\n");
    MakePackage({{"res.pak", pakEntry}, {"data/", ""}, {"data/readme.txt", "hello"}});

    Drive(StartInGame() +
          Steps{"text", kLatestVersionId, kLatestVersionLabel, "text", kLocalVersionId,
                "本地版本： 31.87", "progress", "100", "finish", "1",
                // Enter, by key and as the command it becomes, leaves the dialog as it is.
                "key", kVkReturn, "command", kIdOk, "sleep", "300", "alive", "finish", "1",
                // Minimised it keeps painting and still takes the finish button. (Wine answers no
                // icon query from another process, so the icon itself is checked in resources.)
                "minimize", "sleep", "200", "alive", "click-finish", "exit", "0"});

    EXPECT_EQ(GameFile("version.ini"), "3187\r\n" + std::to_string(1000 + 1478644) + "\r\n");
    EXPECT_TRUE(GameFile("res.pak") == oldPak + pakEntry);
    EXPECT_EQ(GameFile("data/readme.txt"), "hello");
    EXPECT_FALSE(fs::exists(Game() / "patch" / "hvmanualpatch.zip"));
}

// Escape and the close box are cancel requests: after a completed run they end nothing but the
// dialog, and the exit code says the player did not finish.
TEST_F(ApplicationTest, EscapeAndTheCloseBoxEndACompletedRunWith1) {
    MakePackage({{"readme.txt", "new"}});
    for (const Steps& cancel : {Steps{"key", kVkEscape}, Steps{"close"}}) {
        WriteGameFile("version.ini", "3186\r\n0\r\n");
        Drive(StartInGame() + Steps{"finish", "1"} + cancel + Steps{"exit", "1"});
        EXPECT_EQ(GameFile("version.ini"), "3187\r\n0\r\n");
    }
}

// ---- targets another program holds

// Sets the file's immutable flag for the object's life.
class ImmutableFile {
public:
    explicit ImmutableFile(const fs::path& path) : m_fd(open(path.c_str(), O_RDONLY)) {
        m_set = m_fd >= 0 && ChangeFlag(true);
    }
    ~ImmutableFile() {
        if (m_set)
            ChangeFlag(false);
        if (m_fd >= 0)
            close(m_fd);
    }
    ImmutableFile(const ImmutableFile&) = delete;
    ImmutableFile& operator=(const ImmutableFile&) = delete;
    bool Set() const { return m_set; }

private:
    bool ChangeFlag(bool immutable) {
        int flags = 0;
        if (ioctl(m_fd, FS_IOC_GETFLAGS, &flags) != 0)
            return false;
        flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        return ioctl(m_fd, FS_IOC_SETFLAGS, &flags) == 0;
    }

    int m_fd;
    bool m_set = false;
};

const std::string kCannotWriteFile = "更新文件失败，请关闭之前打开的客户端并检查是否磁盘空间不够！";

class HeldTargetTest : public UpdaterTest {
protected:
    // A pak entry and a file entry ahead of client.dll, one behind it.
    void SetUp() override {
        UpdaterTest::SetUp();
        WriteGameFile("version.ini", "3186\r\n0\r\n");
        WriteGameFile("res.pak", "old pak");
        WriteGameFile("a.txt", "old a, longer than the new one");
        WriteGameFile("client.dll", "in use");
        MakePackage({{"a.txt", "new a"},
                     {"client.dll", "new client"},
                     {"res.pak", "new pak"},
                     {"z.txt", "z"}});
    }

    std::string Client() const { return g_session->WindowsPath(Game() / "client.dll"); }

    void ExpectNothingChanged() const {
        EXPECT_EQ(GameFile("version.ini"), "3186\r\n0\r\n");
        EXPECT_EQ(GameFile("res.pak"), "old pak");
        EXPECT_EQ(GameFile("a.txt"), "old a, longer than the new one");
        EXPECT_EQ(GameFile("client.dll"), "in use");
        EXPECT_FALSE(fs::exists(Game() / "z.txt"));
    }
};

// Found before the first write, after the brief wait: the pak is not appended to again.
TEST_F(HeldTargetTest, FileHeldForTheWholeRunGivesCannotWriteFileWithNothingChanged) {
    Drive(Steps{"hold-file", Client()} + StartInGame() +
          Steps{"box", kErrorCaption, kCannotWriteFile, "ok", "exit", "1"});
    ExpectNothingChanged();
}

TEST_F(HeldTargetTest, FileHeldForAMomentAfterTheStartIsWaitedOut) {
    Drive(Steps{"hold-file", Client()} + StartInGame() +
          Steps{"sleep", "800", "release-files", "finish", "1", "click-finish", "exit", "0"});
    EXPECT_EQ(GameFile("version.ini"), "3187\r\n14\r\n");
    EXPECT_EQ(GameFile("res.pak"), "old paknew pak");
    EXPECT_EQ(GameFile("a.txt"), "new a");
    EXPECT_EQ(GameFile("client.dll"), "new client");
    EXPECT_EQ(GameFile("z.txt"), "z");
}

// Plain refusal is not another program's brief hold: no wait. Wine runs as root here, which
// writes files without write permission: the immutable flag makes one read-only even for root.
TEST_F(HeldTargetTest, ReadOnlyTargetGivesCannotWriteFileAtOnce) {
    const ImmutableFile readOnly(Game() / "client.dll");
    if (!readOnly.Set())
        GTEST_SKIP() << "cannot make a file immutable here (needs root and ext4 or the like)";
    Drive(StartInGame() +
          Steps{"box-within", "1500", kErrorCaption, kCannotWriteFile, "ok", "exit", "1"});
    ExpectNothingChanged();
}

// ---- run with administrator rights from a download folder

// The names under which planted DLLs have been loaded by installers and updaters.
const char* const kPlantedNames[] = {"apphelp", "bcrypt",  "comctl32", "crypt32",  "cryptbase",
                                     "dbghelp", "dwmapi",  "msimg32",  "netapi32", "profapi",
                                     "propsys", "secur32", "sspicli",  "userenv",  "uxtheme",
                                     "version", "winhttp", "winmm",    "wtsapi32"};

// Wine is told to prefer a DLL of these names from the program's folder, as Windows does for a
// DLL that is not a KnownDLL; the programs started meanwhile see it.
class NativeDllsPreferred {
public:
    NativeDllsPreferred() {
        std::string names;
        for (const char* name : kPlantedNames)
            names += std::string(names.empty() ? "" : ",") + name;
        setenv("WINEDLLOVERRIDES", ("mscoree,mshtml=;" + names + "=n,b").c_str(), 1);
    }
    ~NativeDllsPreferred() { unsetenv("WINEDLLOVERRIDES"); }
};

using DownloadFolderTest = UpdaterTest;

// The markers leave a file when a program loads them: none may appear.
TEST_F(DownloadFolderTest, DllsPlantedBesideTheUpdaterAreNotLoaded) {
    const fs::path marker = EnvironmentValue("QRT_PLANTED_DLL");
    ASSERT_TRUE(fs::exists(marker)) << "PlantedMarker.dll not found: build the Windows presets";
    for (const char* name : kPlantedNames)
        fs::copy_file(marker, m_work / (std::string(name) + ".dll"));
    WriteGameFile("version.ini", "3186\r\n0\r\n");
    MakePackage({{"readme.txt", "new"}});
    {
        const NativeDllsPreferred preferred;
        Drive(StartInGame() + Steps{"finish", "1", "click-finish", "exit", "0"});
    }
    EXPECT_EQ(GameFile("readme.txt"), "new");
    for (const fs::directory_entry& entry : fs::directory_iterator(m_work))
        EXPECT_EQ(entry.path().filename().string().rfind("loaded-", 0), std::string::npos)
            << entry.path().filename();
}

// Links planted where the temporary archive goes turn no write outside the game folder.
TEST_F(DownloadFolderTest, HardLinkAtTheTemporaryArchiveLeavesTheFileOutsideAlone) {
    const std::string precious = "a file outside the game folder";
    ASSERT_TRUE(WriteBinaryFile(m_work / "precious.txt", precious));
    fs::create_directories(Game() / "patch");
    fs::create_hard_link(m_work / "precious.txt", Game() / "patch" / "hvmanualpatch.zip");
    WriteGameFile("version.ini", "3186\r\n0\r\n");
    MakePackage({{"readme.txt", "new"}});
    Drive(StartInGame() + Steps{"finish", "1", "click-finish", "exit", "0"});
    EXPECT_EQ(GameFile("readme.txt"), "new");
    EXPECT_EQ(ReadBinaryFile(m_work / "precious.txt"), precious);
    EXPECT_EQ(fs::hard_link_count(m_work / "precious.txt"), 1u);
    EXPECT_FALSE(fs::exists(Game() / "patch" / "hvmanualpatch.zip"));
}

TEST_F(DownloadFolderTest, PatchFolderThatIsALinkStopsTheRunWithNothingWritten) {
    const std::string precious = "a file outside the game folder";
    fs::create_directories(m_work / "elsewhere");
    ASSERT_TRUE(WriteBinaryFile(m_work / "elsewhere" / "hvmanualpatch.zip", precious));
    fs::create_directory_symlink(m_work / "elsewhere", Game() / "patch");
    WriteGameFile("version.ini", "3186\r\n0\r\n");
    MakePackage({{"readme.txt", "new"}});
    Drive(StartInGame() + Steps{"box", kErrorCaption,
                                "无法创建临时文件，请确保磁盘有足够可用空间！", "ok", "exit", "1"});
    EXPECT_EQ(ReadBinaryFile(m_work / "elsewhere" / "hvmanualpatch.zip"), precious);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_work / "elsewhere"), fs::directory_iterator()),
              1);
    EXPECT_EQ(GameFile("version.ini"), "3186\r\n0\r\n");
    EXPECT_FALSE(fs::exists(Game() / "readme.txt"));
}

// patchkit.exe deflates large files in blocks on several threads: its package has the native
// build's bytes, and the real updater reads the joined blocks as one stream.
TEST_F(ApplicationTest, PatchkitExePackageMatchesTheNativeBuildAndApplies) {
    const std::string pak = testsupport::PatternedData((3u << 20) + 5);
    fs::create_directories(m_work / "source" / "data");
    ASSERT_TRUE(WriteBinaryFile(m_work / "source" / "res.pak", pak));
    ASSERT_TRUE(WriteBinaryFile(m_work / "source" / "data" / "readme.txt", "hello"));
    ASSERT_TRUE(
        WriteBinaryFile(m_work / "stub.exe", ReadBinaryFile(EnvironmentValue("QRT_UPDATER_EXE"))));
    const std::string native = (m_work / "native.exe").string();
    const std::string nativeBuild =
        std::string("'") + PATCHKIT_PROGRAM + "' build --quiet --jobs 1 --version 3187 --stub '" +
        (m_work / "stub.exe").string() + "' --from '" + (m_work / "source").string() + "' -o '" +
        native + "' >/dev/null";
    ASSERT_EQ(std::system(nativeBuild.c_str()), 0) << nativeBuild;
    const WineSession::Result built = g_session->RunWine(
        {EnvironmentValue("QRT_PATCHKIT_EXE"), "build", "--jobs", "3", "--version", "3187",
         "--stub", g_session->WindowsPath(m_work / "stub.exe"), "--from",
         g_session->WindowsPath(m_work / "source"), "-o", Updater()},
        120);
    ASSERT_EQ(built.exitCode, 0) << built.output;
    EXPECT_TRUE(ReadBinaryFile(m_package) == ReadBinaryFile(native))
        << "patchkit.exe and the native patchkit wrote different bytes";

    const std::string oldPak(1000, 'p');
    WriteGameFile("res.pak", oldPak);
    WriteGameFile("version.ini", "3186\r\n0\r\n");
    Drive(StartInGame() + Steps{"progress", "100", "finish", "1", "click-finish", "exit", "0"});
    EXPECT_TRUE(GameFile("res.pak") == oldPak + pak);
    EXPECT_EQ(GameFile("data/readme.txt"), "hello");
    EXPECT_EQ(GameFile("version.ini"),
              "3187\r\n" + std::to_string(oldPak.size() + pak.size()) + "\r\n");
}

// A cancel waits for the file entry being written, then nothing further happens; the worker keeps
// reporting progress under the lock while the cancel waits, which must not deadlock. With no
// offset in version.ini, the pak's end was recorded before the pak entry ahead of the file, so
// the next run writes the slice there once instead of again at the grown end.
TEST_F(ApplicationTest, CancelDuringALargeFileEntryCompletesItAndTheNextRunAppliesEverything) {
    constexpr std::size_t kLargeSize = 512u << 20;
    std::string large(kLargeSize, '\0');
    for (std::size_t i = 0; i < kLargeSize; ++i)
        large[i] = static_cast<char>((i * 7 + i / 4096) % 251);
    const std::string oldPak = testsupport::PatternedData(200000, 5);
    const std::string slice = testsupport::PatternedData(300000, 6);
    WriteGameFile("version.ini", "3186\r\n0\r\n");
    WriteGameFile("res.pak", oldPak);
    MakePackage({{"res.pak", slice}, {"large.dat", large}});

    // The file appears when its guarded write begins: cancel then, whatever the progress bar says.
    Drive(StartInGame() + Steps{"wait-file", g_session->WindowsPath(Game() / "large.dat"),
                                "command", kIdCancel, "exit-within", "10000", "1"});
    EXPECT_EQ(fs::file_size(Game() / "large.dat"), kLargeSize);
    EXPECT_TRUE(GameFile("large.dat") == large) << "large.dat was cut short or damaged";
    EXPECT_EQ(GameFile("version.ini"), "3186\r\n200000\r\n");
    EXPECT_TRUE(GameFile("res.pak") == oldPak + slice);

    Drive(StartInGame() + Steps{"progress", "100", "finish", "1", "click-finish", "exit", "0"});
    EXPECT_EQ(GameFile("version.ini"), "3187\r\n500000\r\n");
    EXPECT_EQ(fs::file_size(Game() / "res.pak"), 500000u);
    EXPECT_TRUE(GameFile("res.pak") == oldPak + slice) << "the slice did not land once";
    EXPECT_TRUE(GameFile("large.dat") == large);
}

// Runs a command through the shell in folder; true when it exits with 0. Its output goes to
// tool-out.txt there.
bool RunIn(const fs::path& folder, const std::string& command) {
    const std::string line = "cd '" + folder.string() + "' && " + command + " >tool-out.txt 2>&1";
    return std::system(line.c_str()) == 0;
}

// Signs folder/unsigned.exe into folder/signedName as a publisher would after build: a standard
// tool, here with a throw-away certificate (folder/cert.pem).
void SignPackage(const fs::path& folder, const std::string& signedName) {
    ASSERT_TRUE(RunIn(folder, "openssl req -x509 -newkey ec -pkeyopt "
                              "ec_paramgen_curve:prime256v1 -nodes -keyout key.pem -out cert.pem "
                              "-days 2 -subj /CN=Publisher -addext extendedKeyUsage=codeSigning"));
    ASSERT_TRUE(RunIn(folder, "osslsigncode sign -certs cert.pem -key key.pem -in unsigned.exe "
                              "-out " +
                                  signedName))
        << ReadBinaryFile(folder / "tool-out.txt");
}

// Signed after build and then sealed by patchkit: the updater applies the package exactly as the
// unsigned one.
TEST_F(ApplicationTest, SignedAndSealedPackageAppliesLikeTheUnsignedOne) {
    const std::string pakEntry = testsupport::PatternedData(300000);
    MakePackage({{"res.pak", pakEntry}, {"data/", ""}, {"data/readme.txt", "hello"}});
    const std::string unsignedPackage = ReadBinaryFile(m_package);
    fs::rename(m_package, m_work / "unsigned.exe");
    SignPackage(m_work, "QRTManualPatch.exe");
    ASSERT_TRUE(RunIn(m_work, std::string("'") + PATCHKIT_PROGRAM + "' seal QRTManualPatch.exe"))
        << ReadBinaryFile(m_work / "tool-out.txt");
    ASSERT_TRUE(RunIn(m_work, "osslsigncode verify -CAfile cert.pem -in QRTManualPatch.exe"))
        << ReadBinaryFile(m_work / "tool-out.txt");
    const std::string sealedPackage = ReadBinaryFile(m_package);
    ASSERT_GT(sealedPackage.size(), unsignedPackage.size());
    ASSERT_EQ(sealedPackage.substr(sealedPackage.size() - 8),
              unsignedPackage.substr(unsignedPackage.size() - 8));

    WriteGameFile("res.pak", "old");
    WriteGameFile("version.ini", "3186\r\n0\r\n");
    Drive(StartInGame() + Steps{"progress", "100", "finish", "1", "click-finish", "exit", "0"});
    EXPECT_EQ(GameFile("version.ini"), "3187\r\n" + std::to_string(3 + pakEntry.size()) + "\r\n");
    EXPECT_TRUE(GameFile("res.pak") == "old" + pakEntry);
    EXPECT_EQ(GameFile("data/readme.txt"), "hello");
    EXPECT_FALSE(fs::exists(Game() / "patch" / "hvmanualpatch.zip"));
}

// patchkit.exe seals to the same bytes as the native build and checks the digest with the
// Windows crypto API.
TEST_F(ApplicationTest, PatchkitExeSealsAndChecksTheSignatureLikeTheNativeBuild) {
    const fs::path patchkitExe = EnvironmentValue("QRT_PATCHKIT_EXE");
    ASSERT_TRUE(fs::exists(patchkitExe)) << "patchkit.exe not found: build the Windows presets";
    MakePackage({{"readme.txt", "new"}});
    fs::rename(m_package, m_work / "unsigned.exe");
    SignPackage(m_work, "native.exe");
    fs::copy_file(m_work / "native.exe", m_package);
    ASSERT_TRUE(RunIn(m_work, std::string("'") + PATCHKIT_PROGRAM + "' seal native.exe"));

    const auto patchkit = [&](const std::vector<std::string>& arguments) {
        std::vector<std::string> command = {patchkitExe.string()};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return g_session->RunWine(command, 60);
    };
    const WineSession::Result sealed = patchkit({"seal", Updater()});
    EXPECT_EQ(sealed.exitCode, 0) << sealed.output;
    EXPECT_TRUE(ReadBinaryFile(m_package) == ReadBinaryFile(m_work / "native.exe"));
    const WineSession::Result inspected = patchkit({"inspect", Updater(), "--verify"});
    EXPECT_EQ(inspected.exitCode, 0) << inspected.output;
    EXPECT_NE(inspected.output.find("Signature  sha256, sealed, digest matches the file"),
              std::string::npos)
        << inspected.output;

    std::string changed = ReadBinaryFile(m_package);
    changed[changed.size() / 2] ^= 1;
    ASSERT_TRUE(WriteBinaryFile(m_package, changed));
    const WineSession::Result mismatch = patchkit({"inspect", Updater(), "--json"});
    EXPECT_EQ(mismatch.exitCode, 1);
    EXPECT_NE(mismatch.output.find("\"digestMatches\": false"), std::string::npos)
        << mismatch.output;
}

// The "signature" object of an inspect --json report, without the carriage returns of a console.
std::string SignatureObject(const std::string& report) {
    std::string text;
    for (const char c : report) {
        if (c != '\r') {
            text += c;
        }
    }
    const std::size_t start = text.find("\"signature\": {");
    const std::size_t end = text.find("\"archiveSize\"", start);
    return start == std::string::npos || end == std::string::npos ? ""
                                                                  : text.substr(start, end - start);
}

// The signer and the timestamp as the Windows crypto API reads them: what the native build reads
// with OpenSSL. The timestamp comes from osslsigncode's own authority, with no network.
TEST_F(ApplicationTest, PatchkitExeReportsTheSignerAndTheTimestampLikeTheNativeBuild) {
    const fs::path patchkitExe = EnvironmentValue("QRT_PATCHKIT_EXE");
    ASSERT_TRUE(fs::exists(patchkitExe)) << "patchkit.exe not found: build the Windows presets";
    MakePackage({{"readme.txt", "new"}});
    fs::rename(m_package, m_work / "unsigned.exe");
    SignPackage(m_work, "plain.exe");
    ASSERT_TRUE(RunIn(m_work, "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                              "-nodes -keyout tsa-key.pem -out tsa-cert.pem -days 2 -subj "
                              "'/O=Stamps, Inc./CN=Test TSA' -addext "
                              "extendedKeyUsage=critical,timeStamping"));
    ASSERT_TRUE(RunIn(m_work, "osslsigncode sign -certs cert.pem -key key.pem -TSA-certs "
                              "tsa-cert.pem -TSA-key tsa-key.pem -TSA-time " +
                                  std::to_string(std::time(nullptr)) +
                                  " -in unsigned.exe -out stamped.exe"))
        << ReadBinaryFile(m_work / "tool-out.txt");
    const auto patchkit = [&](const std::vector<std::string>& arguments) {
        std::vector<std::string> command = {patchkitExe.string()};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return g_session->RunWine(command, 60);
    };
    for (const char* name : {"plain.exe", "stamped.exe"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(RunIn(m_work, std::string("'") + PATCHKIT_PROGRAM + "' seal " + name));
        ASSERT_TRUE(
            RunIn(m_work, std::string("'") + PATCHKIT_PROGRAM + "' inspect --json " + name));
        const std::string native = SignatureObject(ReadBinaryFile(m_work / "tool-out.txt"));
        ASSERT_NE(native.find("\"serialNumber\""), std::string::npos) << native;
        const WineSession::Result windows =
            patchkit({"inspect", "--json", g_session->WindowsPath(m_work / name)});
        EXPECT_EQ(windows.exitCode, 0) << windows.output;
        EXPECT_EQ(SignatureObject(windows.output), native);
        const bool stamped = std::string(name) == "stamped.exe";
        EXPECT_EQ(native.find("\"authoritySubject\": \"CN=Test TSA, O=Stamps\\\\, Inc.\"") !=
                      std::string::npos,
                  stamped)
            << native;
        const WineSession::Result required =
            patchkit({"inspect", "--require-timestamp", g_session->WindowsPath(m_work / name)});
        EXPECT_EQ(required.exitCode, stamped ? 0 : 1) << required.output;
    }
}

// patchkit.exe runs the signing command through cmd.exe: the package's path, spaces and all,
// reaches it as one argument, and a failing step leaves nothing behind.
TEST_F(ApplicationTest, PatchkitExeSignStepNamesTheFailingStepAndLeavesNothing) {
    const fs::path patchkitExe = EnvironmentValue("QRT_PATCHKIT_EXE");
    ASSERT_TRUE(fs::exists(patchkitExe)) << "patchkit.exe not found: build the Windows presets";
    MakePackage({{"readme.txt", "new"}});
    const fs::path source = m_work / "update folder";
    fs::create_directories(source);
    ASSERT_TRUE(WriteBinaryFile(source / "readme.txt", "new"));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"cmd /c exit 3 {file}", "signing failed: the command exited with 3"},
        {"copy {file} {signed}", "signing failed: the command ended without signing"},
        {"no-such-signing-tool.exe {file}", "signing failed: the command exited with 9009"},
    };
    for (const auto& [command, says] : cases) {
        SCOPED_TRACE(command);
        const WineSession::Result built = g_session->RunWine(
            {patchkitExe.string(), "build", "--stub", Updater(), "--replace", "--version", "3188",
             "--from", g_session->WindowsPath(source), "-o",
             g_session->WindowsPath(m_work / "signed package.exe"), "--sign", command},
            60);
        EXPECT_EQ(built.exitCode, 1) << built.output;
        EXPECT_NE(built.output.find(says), std::string::npos) << built.output;
        std::vector<std::string> left;
        for (const auto& item : fs::directory_iterator(m_work)) {
            left.push_back(item.path().filename().string());
        }
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"QRTManualPatch.exe", "game", "update folder"}));
    }
}

// patchkit.exe runs the signing command through cmd.exe as a pipeline writes it: a variable, a
// quoted path with blanks, a redirection, &&. The output's folder holds what cmd would read as its
// own, and the package's path reaches the command whole, whether {file} stands bare or in quotes;
// a path with %, which cmd would expand, is refused before anything is written. The "signing tool"
// copies in the same package built natively and signed with osslsigncode beforehand.
TEST_F(ApplicationTest, PatchkitExeRunsTheSignCommandThroughCmd) {
    const fs::path patchkitExe = EnvironmentValue("QRT_PATCHKIT_EXE");
    ASSERT_TRUE(fs::exists(patchkitExe)) << "patchkit.exe not found: build the Windows presets";
    MakePackage({{"readme.txt", "new"}});
    const fs::path source = m_work / "update folder";
    fs::create_directories(source);
    ASSERT_TRUE(WriteBinaryFile(source / "readme.txt", "newer"));
    ASSERT_TRUE(RunIn(m_work, std::string("'") + PATCHKIT_PROGRAM +
                                  "' build --stub QRTManualPatch.exe --replace --version 3188 "
                                  "--from 'update folder' -o unsigned.exe"));
    SignPackage(m_work, "'pre signed.exe'");
    const std::string log = g_session->WindowsPath(m_work / "copy log.txt");
    const auto build = [&](const fs::path& output, const std::string& command) {
        return g_session->RunWine({patchkitExe.string(), "build", "--stub", Updater(), "--replace",
                                   "--version", "3188", "--from", g_session->WindowsPath(source),
                                   "-o", g_session->WindowsPath(output / "signed.exe"), "--sign",
                                   command},
                                  60);
    };
    const fs::path output = m_work / "out & (1) ^x !y";
    const fs::path percent = m_work / "100%PATH%";
    fs::create_directory(output);
    fs::create_directory(percent);
    ASSERT_EQ(setenv("PRESIGNED", g_session->WindowsPath(m_work / "pre signed.exe").c_str(), 1), 0);
    const std::vector<std::tuple<fs::path, std::string, std::string>> failing = {
        {output, "copy /y \"%PRESIGNED%\" {file} >nul && exit 7",
         "signing failed: the command exited with 7"},
        {percent, "copy /y \"%PRESIGNED%\" {file}", "cmd would read the % in it as a variable"},
    };
    for (const auto& [folder, command, says] : failing) {
        SCOPED_TRACE(command);
        const WineSession::Result refused = build(folder, command);
        EXPECT_EQ(refused.exitCode, 1) << refused.output;
        EXPECT_NE(refused.output.find(says), std::string::npos) << refused.output;
        EXPECT_TRUE(fs::is_empty(folder)) << "a failed step left files behind";
    }
    for (const char* file : {"{file}", "\"{file}\""}) {
        SCOPED_TRACE(file);
        fs::remove(m_work / "copy log.txt");
        fs::remove(output / "signed.exe");
        const WineSession::Result built =
            build(output, "copy /y \"%PRESIGNED%\" " + std::string(file) + " >\"" + log +
                              "\" && echo copied>>\"" + log + "\"");
        ASSERT_EQ(built.exitCode, 0) << built.output;
        EXPECT_NE(ReadBinaryFile(m_work / "copy log.txt").find("copied"), std::string::npos);
        std::vector<std::string> written;
        for (const auto& item : fs::directory_iterator(output)) {
            written.push_back(item.path().filename().string());
        }
        EXPECT_EQ(written, std::vector<std::string>{"signed.exe"});
        ASSERT_TRUE(RunIn(m_work, std::string("'") + PATCHKIT_PROGRAM + "' inspect --verify " +
                                      "--require-signed 'out & (1) ^x !y/signed.exe'"))
            << ReadBinaryFile(m_work / "tool-out.txt");
        EXPECT_NE(ReadBinaryFile(m_work / "tool-out.txt").find("sealed, digest matches the file"),
                  std::string::npos);
    }
    unsetenv("PRESIGNED");
}

// Support on a player's Windows machine: patchkit.exe verifies a game folder against a manifest
// the native build made and reports exactly what the native build reports; its manifest of the
// release is the native one's bytes.
TEST_F(ApplicationTest, PatchkitExeVerifiesAGameFolderLikeTheNativeBuild) {
    const fs::path patchkitExe = EnvironmentValue("QRT_PATCHKIT_EXE");
    ASSERT_TRUE(fs::exists(patchkitExe)) << "patchkit.exe not found: build the Windows presets";
    const fs::path release = m_work / "release";
    const std::string pak = testsupport::PatternedData(200000, 5);
    const auto put = [](const fs::path& path, const std::string& bytes) {
        fs::create_directories(path.parent_path());
        return WriteBinaryFile(path, bytes);
    };
    ASSERT_TRUE(put(release / "version.ini", "3187\r\n0\r\n"));
    ASSERT_TRUE(put(release / "res.pak", pak));
    ASSERT_TRUE(put(release / fs::u8path("Data/地图/说明.txt"), "read me"));
    ASSERT_TRUE(put(release / "Data/Field.dat", testsupport::PatternedData(70000, 6)));
    ASSERT_TRUE(
        RunIn(m_work, std::string("'") + PATCHKIT_PROGRAM + "' manifest release -o release.json"))
        << ReadBinaryFile(m_work / "tool-out.txt");
    // The same release, once in other case, and once as a player's disk holds it after an
    // interrupted update and a scanner's quarantine.
    fs::remove_all(Game());
    fs::copy(release, Game(), fs::copy_options::recursive);
    fs::rename(Game() / "Data", Game() / "DATA");
    const fs::path damaged = m_work / "damaged";
    fs::copy(release, damaged, fs::copy_options::recursive);
    ASSERT_TRUE(WriteBinaryFile(damaged / "res.pak", pak + "tail"));
    fs::remove(damaged / "Data/Field.dat");
    ASSERT_TRUE(put(damaged / "extra.txt", "x"));

    const fs::path previous = fs::current_path();
    fs::current_path(m_work); // both builds take the same relative names
    for (const char* game : {"game", "damaged"}) {
        SCOPED_TRACE(game);
        const std::string arguments =
            std::string(" verify --game ") + game + " --manifest release.json --json";
        const int nativeStatus = std::system(
            (std::string("'") + PATCHKIT_PROGRAM + "'" + arguments + " >native.json").c_str());
        const WineSession::Result windows =
            g_session->RunWine({patchkitExe.string(), "verify", "--game", game, "--manifest",
                                "release.json", "--json"},
                               60);
        const std::string native = ReadBinaryFile(m_work / "native.json");
        EXPECT_EQ(windows.exitCode, WEXITSTATUS(nativeStatus));
        EXPECT_EQ(windows.exitCode, std::string(game) == "game" ? 0 : 1) << windows.output;
        std::string output = windows.output; // the console's text mode ends lines in CR LF
        output.erase(std::remove(output.begin(), output.end(), '\r'), output.end());
        EXPECT_EQ(output, native);
    }
    // The Windows crypto API hashes as OpenSSL does: the manifest is the same bytes.
    const WineSession::Result made =
        g_session->RunWine({patchkitExe.string(), "manifest", "release", "-o", "windows.json"}, 60);
    EXPECT_EQ(made.exitCode, 0) << made.output;
    EXPECT_TRUE(ReadBinaryFile(m_work / "windows.json") == ReadBinaryFile(m_work / "release.json"));
    fs::current_path(previous);
}

// ---- a package made by patchkit diff from two releases

// Every file and folder below root as Windows names them (ASCII letters in lower case), without
// version.ini and the updater's work folder: contents, or "<folder>".
std::map<std::string, std::string> GameFilesOf(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        std::string name = item.path().lexically_relative(root).generic_u8string();
        for (char& c : name) {
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        if (name != "version.ini" && name != "patch" && name.rfind("patch/", 0) != 0) {
            files[name] = item.is_directory() ? "<folder>" : ReadBinaryFile(item.path());
        }
    }
    return files;
}

TEST_F(ApplicationTest, PackageMadeByDiffTurnsTheOldReleaseIntoTheNewOne) {
    const fs::path oldRelease = m_work / "old";
    const fs::path newRelease = m_work / "new";
    const std::string pak = testsupport::PatternedData(200000, 3);
    const std::string appended = testsupport::PatternedData(1300000, 4);
    const std::vector<std::pair<std::string, std::string>> oldFiles = {
        {"version.ini", "3186\r\n0\r\n"}, {"res.pak", pak},        {"readme.txt", "old"},
        {"data/Same.txt", "same"},        {"data/中文.txt", "旧"},
    };
    const std::vector<std::pair<std::string, std::string>> newFiles = {
        {"version.ini", "3187\r\n0\r\n"}, {"res.pak", pak + appended},
        {"readme.txt", "the new readme"}, {"data/same.txt", "same"},
        {"data/中文.txt", "新"},          {"data/新建/深层/文件.txt", "deep"},
    };
    const auto put = [](const fs::path& path, const std::string& bytes) {
        fs::create_directories(path.parent_path());
        return WriteBinaryFile(path, bytes);
    };
    for (const auto& [name, bytes] : oldFiles) {
        ASSERT_TRUE(put(oldRelease / fs::u8path(name), bytes));
        ASSERT_TRUE(put(Game() / fs::u8path(name), bytes));
    }
    for (const auto& [name, bytes] : newFiles) {
        ASSERT_TRUE(put(newRelease / fs::u8path(name), bytes));
    }
    fs::create_directories(newRelease / "empty");

    const std::string diff = std::string("'") + PATCHKIT_PROGRAM + "' diff --old '" +
                             oldRelease.string() + "' --new '" + newRelease.string() +
                             "' --stub '" + EnvironmentValue("QRT_UPDATER_EXE") + "' -o '" +
                             m_package.string() + "' --check";
    ASSERT_EQ(std::system(diff.c_str()), 0) << diff;

    Drive(StartInGame() + Steps{"progress", "100", "finish", "1", "click-finish", "exit", "0"});
    EXPECT_EQ(GameFile("version.ini"),
              "3187\r\n" + std::to_string(pak.size() + appended.size()) + "\r\n");
    EXPECT_TRUE(GameFilesOf(Game()) == GameFilesOf(newRelease)) << "the game differs from NEW";
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const std::string build = EnvironmentValue("QRT_E2E_BUILD");
    const WineSession::Result host = WineSession::CheckHost(build);
    if (host.exitCode == WineSession::kHostCannotRun) {
        std::cout << "skipped: the " << build << " build cannot run here: " << host.output;
        return kSkipped;
    }
    if (host.exitCode != 0) {
        std::cout << "cannot tell whether this host runs the '" << build
                  << "' build (QRT_E2E_BUILD): " << host.output << "\n";
        return 1;
    }
    ::testing::AddGlobalTestEnvironment(new WineEnvironment);
    return RUN_ALL_TESTS();
}

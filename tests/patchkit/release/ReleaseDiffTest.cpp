#include "pktest/PatchkitTestFiles.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

using namespace pktest;

// A game folder as Windows sees it: names without regard to case, without the updater's own
// version.ini and work folder.
Files AsOnWindows(const fs::path& game) {
    Files files;
    for (const auto& [path, contents] : TreeOf(game)) {
        std::string name = path;
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (name != "version.ini" && name != "patch") {
            files[name] = contents;
        }
    }
    return files;
}

class ReleaseDiffTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(PutFile("stub.exe", pktest::MinimalPeImage())); }

    testsupport::ScratchGameDirectory m_folder;
};

TEST_F(ReleaseDiffTest, PackageAndFolderTurnOldIntoNew) {
    const std::string same = testsupport::PatternedData(300000);
    const std::string pak = testsupport::NoiseData(5000);
    const std::string appended = testsupport::PatternedData(3000, 9);
    MakeRelease("old", 3186, 0,
                {{"data/changed.txt", "old text"},
                 {"data/swap.txt", "abcd"},
                 {"data/same.bin", same},
                 {"Readme.TXT", "read me"},
                 {"data/中文.txt", "旧"},
                 {"res.pak", pak}});
    MakeRelease("new", 3187, 0,
                {{"data/changed.txt", "the new text"},
                 {"data/swap.txt", "abce"},
                 {"data/same.bin", same},
                 {"readme.txt", "read me"},
                 {"data/中文.txt", "新的"},
                 {"data/新建/深层/文件.txt", "deep"},
                 {"empty/", ""},
                 {"res.pak", pak + appended}});

    const Outcome diffed =
        Patchkit("diff --old old --new new --stub stub.exe -o p.exe --check --json");
    ASSERT_EQ(diffed.exitCode, 0) << diffed.err << diffed.out;
    std::size_t at = 0;
    for (const char* name : {"data/changed.txt", "data/swap.txt", "data/新建/", "data/新建/深层/",
                             "data/新建/深层/文件.txt", "data/中文.txt", "empty/", "res.pak"}) {
        at = diffed.out.find("\"storedName\": \"" + std::string(name) + "\"", at);
        EXPECT_NE(at, std::string::npos) << name << " missing or out of order";
    }
    EXPECT_TRUE(Contains(diffed.out, "\"folders\": 3,\n    \"files\": 4,\n    \"paks\": 1"))
        << diffed.out;
    EXPECT_TRUE(Contains(diffed.out, "\"start\": 5000,\n    \"end\": 8000")) << diffed.out;
    EXPECT_TRUE(Contains(diffed.out, "\"unchangedFiles\": 2,")) << diffed.out;
    EXPECT_TRUE(Contains(diffed.out, "\"passed\": true")) << diffed.out;
    EXPECT_FALSE(fs::exists("p.exe.check"));

    fs::copy("old", "game", fs::copy_options::recursive);
    const Outcome applied = Patchkit("apply p.exe --game game");
    ASSERT_EQ(applied.exitCode, 0) << applied.err;
    EXPECT_EQ(AsOnWindows("game"), AsOnWindows("new"));
    EXPECT_EQ(testsupport::ReadBinaryFile("game/version.ini"), "3187\r\n8000\r\n");

    const Outcome folder = Patchkit("diff --old old --new new --folder update");
    ASSERT_EQ(folder.exitCode, 0) << folder.err;
    EXPECT_TRUE(Contains(folder.out, "pak: new/res.pak bytes 5000 to 8000 (3000 bytes)"))
        << folder.out;
    const Files update = TreeOf("update");
    EXPECT_EQ(update.count("data/same.bin") + update.count("readme.txt"), 0u);
    EXPECT_EQ(update.at("empty"), "<folder>");
    EXPECT_EQ(update.at("data/changed.txt"), "the new text");
    EXPECT_EQ(update.at("res.pak"), appended);
}

TEST_F(ReleaseDiffTest, PakSliceRunsFromOldOffsetToNewOffset) {
    const std::string base = testsupport::PatternedData(1000);
    const std::string junk(50, 'J');
    struct Case {
        const char* what;
        std::int64_t oldOffset;
        std::string oldPak;
        std::int64_t newOffset;
        std::string newPak;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"recorded offsets", 1000, base, 1400, base + std::string(400, 'n'),
         "bytes 1000 to 1400 (400 bytes)"},
        {"junk after OLD's offset, overwritten", 1000, base + junk, 0, base + std::string(80, 'n'),
         "bytes 1000 to 1080 (80 bytes)"},
    };
    // The package, and the update folder (named with a trailing separator), each checked.
    const std::vector<std::pair<std::string, std::string>> outputs = {
        {"--stub stub.exe -o p.exe", "p.exe"}, {"--folder update/", "update"}};
    auto checkDiff = [](const std::string& output) {
        return Patchkit("diff --old old --new new " + output + " --check");
    };
    for (const Case& test : cases) {
        for (const auto& [output, written] : outputs) {
            SCOPED_TRACE(std::string(test.what) + ", " + written);
            fs::remove_all("old");
            fs::remove_all("new");
            fs::remove_all(written);
            MakeRelease("old", 3186, test.oldOffset, {{"res.pak", test.oldPak}});
            MakeRelease("new", 3187, test.newOffset, {{"res.pak", test.newPak}});
            const Outcome diffed = checkDiff(output);
            EXPECT_EQ(diffed.exitCode, 0) << diffed.err << diffed.out;
            EXPECT_TRUE(Contains(diffed.out, test.says)) << diffed.out;
            EXPECT_TRUE(Contains(diffed.out, "check: the update turns a copy of OLD into NEW"));
            EXPECT_TRUE(fs::exists(written));
        }
    }

    // Bytes past the slice that the update does not overwrite stay behind: the check says so and
    // the output is not kept.
    fs::remove_all("old");
    fs::remove_all("new");
    MakeRelease("old", 3186, 1000, {{"res.pak", base + junk}});
    MakeRelease("new", 3187, 0, {{"res.pak", base + std::string(30, 'n')}});
    for (const auto& [output, written] : outputs) {
        SCOPED_TRACE(written);
        fs::remove_all(written);
        const Outcome checked = checkDiff(output);
        EXPECT_EQ(checked.exitCode, 1);
        EXPECT_TRUE(Contains(checked.out, "new/res.pak: 1050 bytes after the update, 1030 in NEW"))
            << checked.out;
        EXPECT_TRUE(Contains(checked.err, " is removed")) << checked.err;
        EXPECT_FALSE(fs::exists(written));
    }
    // Nor is anything the checks made: scratch copies, the folder's package.
    for (const fs::directory_entry& item : fs::directory_iterator(".")) {
        EXPECT_EQ(item.path().filename().string().find(".check"), std::string::npos) << item.path();
    }
}

// OLD given by its manifest gives the same package and the same update folder, byte for byte, as
// OLD's folder, and passes the check made on the manifests.
TEST_F(ReleaseDiffTest, FromOldsManifestTheSameUpdateAsFromOldsFolder) {
    const std::string same = testsupport::PatternedData(300000);
    std::string sameButOneByte = same;
    sameButOneByte[150000] = static_cast<char>(sameButOneByte[150000] ^ 1);
    const std::string pak = testsupport::NoiseData(5000);
    const std::string base = testsupport::PatternedData(1000);
    struct Pair {
        const char* what;
        std::int64_t oldOffset;
        Files oldFiles;
        std::int64_t newOffset;
        Files newFiles;
        const char* options;
    };
    const std::vector<Pair> pairs = {
        {"changed, new, unchanged, renamed in case, Chinese names, a grown pak",
         0,
         {{"data/changed.txt", "old text"},
          {"data/same.bin", same},
          {"Readme.TXT", "read me"},
          {"data/中文.txt", "旧"},
          {"res.pak", pak}},
         0,
         {{"data/changed.txt", "the new text"},
          {"data/same.bin", same},
          {"readme.txt", "read me"},
          {"data/中文.txt", "新的"},
          {"data/新建/深层/文件.txt", "deep"},
          {"empty/", ""},
          {"res.pak", pak + testsupport::PatternedData(3000, 9)}},
         ""},
        {"recorded offsets",
         1000,
         {{"res.pak", base}},
         1400,
         {{"res.pak", base + std::string(400, 'n')}},
         ""},
        {"junk after OLD's offset, overwritten",
         1000,
         {{"res.pak", base + std::string(50, 'J')}},
         0,
         {{"res.pak", base + std::string(80, 'n')}},
         ""},
        {"one byte changed in a file of the same size",
         0,
         {{"a.bin", same}, {"b.txt", "b"}},
         0,
         {{"a.bin", sameButOneByte}, {"b.txt", "b"}},
         ""},
        {"leftovers allowed",
         0,
         {{"a.txt", "a"}, {"gone.txt", "g"}, {"olddir/x.txt", "x"}},
         0,
         {{"a.txt", "b"}},
         " --allow-leftovers"},
    };
    for (const Pair& pair : pairs) {
        SCOPED_TRACE(pair.what);
        for (const char* made : {"old", "new", "by-folder", "by-manifest"}) {
            fs::remove_all(made);
        }
        MakeRelease("old", 3186, pair.oldOffset, pair.oldFiles);
        MakeRelease("new", 3187, pair.newOffset, pair.newFiles);
        ASSERT_EQ(Patchkit("manifest old -o old.json").exitCode, 0);
        const std::string diff = "diff --new new --check" + std::string(pair.options);
        const Outcome byFolder = Patchkit(diff + " --old old --stub stub.exe -o by-folder.exe");
        const Outcome byManifest =
            Patchkit(diff + " --old-manifest old.json --stub stub.exe -o by-manifest.exe");
        EXPECT_EQ(byFolder.exitCode, 0) << byFolder.err;
        EXPECT_EQ(byManifest.exitCode, 0) << byManifest.err << byManifest.out;
        EXPECT_TRUE(
            Contains(byManifest.out, "check: the package applied to OLD's manifest gives NEW's"))
            << byManifest.out;
        EXPECT_EQ(byFolder.out.substr(0, byFolder.out.find('\n')),
                  byManifest.out.substr(0, byManifest.out.find('\n')));
        EXPECT_TRUE(testsupport::ReadBinaryFile("by-folder.exe") ==
                    testsupport::ReadBinaryFile("by-manifest.exe"));

        EXPECT_EQ(Patchkit(diff + " --old old --folder by-folder").exitCode, 0);
        EXPECT_EQ(Patchkit(diff + " --old-manifest old.json --folder by-manifest").exitCode, 0);
        EXPECT_EQ(TreeOf("by-folder"), TreeOf("by-manifest"));
    }
}

// OLD's manifest refuses the release itself.
const char* const kManifestRefused = "";

struct RefusalCase {
    const char* what;
    std::function<void()> change;
    const char* says;
    // From OLD's manifest, when it says otherwise (OLD's paths are then under old.json/).
    const char* manifestSays = nullptr;
    const char* output = "--stub stub.exe -o p.exe --check";
};

void PutText(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(PutFile(Utf8Path(path), bytes));
}

// Changes to two releases the updater cannot express, made by RefusedReleases, and what diff
// says of each.
std::vector<RefusalCase> RefusalCases() {
    const std::string pak = testsupport::PatternedData(100);
    return {
        {"version not one ahead", [=] { PutText("new/version.ini", "3188\r\n0\r\n"); },
         "new/version.ini: version 3188 is not OLD's 3186 plus one"},
        {"pak changed before the offset",
         [=] {
             std::string changed = pak + "more";
             changed[5] = static_cast<char>(changed[5] ^ 1);
             PutText("new/res.pak", changed);
         },
         "new/res.pak: differs from OLD's at byte 5, before the append offset 100",
         "new/res.pak: differs from OLD's manifest before the append offset 100"},
        {"pak shrank", [=] { PutText("new/res.pak", pak.substr(0, 60)); },
         "new/res.pak: shrank to 60 bytes"},
        {"NEW's offset before OLD's",
         [=] {
             PutText("old/version.ini", "3186\r\n100\r\n");
             PutText("new/version.ini", "3187\r\n90\r\n");
             PutText("new/res.pak", pak + "more");
         },
         "new/res.pak: NEW's version.ini records pak offset 90, before OLD's append offset 100"},
        {"NEW's offset beyond its pak",
         [=] {
             PutText("new/version.ini", "3187\r\n500\r\n");
             PutText("new/res.pak", pak + "more");
         },
         "NEW's version.ini records pak offset 500, beyond the file's end at 104"},
        {"OLD's offset beyond its pak",
         [=] {
             PutText("old/version.ini", "3186\r\n300\r\n");
             PutText("new/res.pak", pak + "more");
         },
         "old/res.pak: OLD's version.ini records pak offset 300, beyond the file's end at 100",
         kManifestRefused},
        {"two paks changed",
         [=] {
             PutText("old/two.pak", "2");
             PutText("new/two.pak", "22");
             PutText("new/res.pak", pak + "more");
         },
         "new/two.pak: changed from byte 1; version.ini records one pak offset",
         "new/two.pak: changed; version.ini records one pak offset"},
        {"a pak OLD lacks", [=] { PutText("new/new.pak", "n"); }, "new/new.pak: a pak OLD lacks"},
        {"offset moved without a pak change", [=] { PutText("new/version.ini", "3187\r\n50\r\n"); },
         "new/version.ini: records pak offset 50, but no pak changed and the update leaves the "
         "offset at 100"},
        {"files and folders NEW lacks",
         [=] {
             PutText("old/gone.txt", "g");
             PutText("old/olddir/x.txt", "x");
         },
         "old/gone.txt: NEW lacks it, and the updater cannot delete (--allow-leftovers builds "
         "anyway)\nold/olddir: NEW lacks it"},
        {"a file replaced by a folder",
         [=] {
             fs::remove("new/a.txt");
             fs::create_directory("new/a.txt");
         },
         "new/a.txt: a folder where OLD has a file"},
        {"a folder replaced by a file",
         [=] {
             fs::remove_all("new/dir");
             PutText("new/dir", "now a file");
         },
         "new/dir: a file where OLD has a folder"},
        {"a link", [=] { fs::create_symlink("a.txt", "new/link"); }, "new/link: is a link"},
        {"a special file", [=] { ASSERT_EQ(mkfifo("old/fifo", 0600), 0); },
         "old/fifo: is a special file", kManifestRefused},
        {"only the version differs", [=] { PutText("new/a.txt", "a"); },
         "new: differs from OLD only in its version"},
        {"names that differ only in case", [=] { PutText("new/A.TXT", "A"); },
         "differs only in case from"},
        {"a name Windows does not allow", [=] { PutText("new/a?.txt", "?"); }, "new/a?.txt: "},
        {"an output inside a release", [=] {}, "new/p.exe: would be written into the release new",
         nullptr, "--stub stub.exe -o new/p.exe"},
        {"a folder that is not empty", [=] { PutText("update/keep.txt", "k"); },
         "update: exists and is not an empty folder", nullptr, "--folder update"},
    };
}

void RefusedReleases(const RefusalCase& test) {
    const std::string pak = testsupport::PatternedData(100);
    fs::remove_all("old");
    fs::remove_all("new");
    fs::remove_all("update");
    fs::remove_all("old.json");
    MakeRelease("old", 3186, 0, {{"a.txt", "a"}, {"dir/b.txt", "b"}, {"res.pak", pak}});
    MakeRelease("new", 3187, 0, {{"a.txt", "A!"}, {"dir/b.txt", "b"}, {"res.pak", pak}});
    test.change();
}

// What a refused diff must leave: nothing written, both releases as they were.
void ExpectRefused(const Outcome& refused, const std::string& says, const Files& oldBefore,
                   const Files& newBefore) {
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.err, "patchkit: nothing written:\n")) << refused.err;
    EXPECT_TRUE(Contains(refused.err, says)) << refused.err;
    EXPECT_FALSE(fs::exists("p.exe") || fs::exists("p.exe.partial"));
    const Files keptOnly = {{"keep.txt", "k"}};
    EXPECT_FALSE(fs::exists("update") && TreeOf("update") != keptOnly);
    EXPECT_EQ(TreeOf("old"), oldBefore);
    EXPECT_EQ(TreeOf("new"), newBefore);
}

TEST_F(ReleaseDiffTest, WhatTheUpdaterCannotExpressIsRefusedWithNothingWritten) {
    for (const RefusalCase& test : RefusalCases()) {
        SCOPED_TRACE(test.what);
        RefusedReleases(test);
        const Files oldBefore = TreeOf("old");
        const Files newBefore = TreeOf("new");
        const Outcome refused = Patchkit("diff --old old --new new " + std::string(test.output));
        ExpectRefused(refused, test.says, oldBefore, newBefore);
    }
}

// From OLD's manifest the same refusals, with the same exit code; what OLD's manifest cannot be
// made of is refused by manifest.
TEST_F(ReleaseDiffTest, FromOldsManifestTheSameIsRefused) {
    for (const RefusalCase& test : RefusalCases()) {
        SCOPED_TRACE(test.what);
        RefusedReleases(test);
        const Outcome made = Patchkit("manifest old -o old.json");
        if (test.manifestSays == kManifestRefused) {
            EXPECT_EQ(made.exitCode, 1);
            continue;
        }
        ASSERT_EQ(made.exitCode, 0) << made.err;
        const Files oldBefore = TreeOf("old");
        const Files newBefore = TreeOf("new");
        std::string says = test.manifestSays != nullptr ? test.manifestSays : test.says;
        for (std::size_t at = says.find("old/"); at != std::string::npos;
             at = says.find("old/", at + 9)) {
            says.replace(at, 4, "old.json/");
        }
        const Outcome refused =
            Patchkit("diff --old-manifest old.json --new new " + std::string(test.output));
        ExpectRefused(refused, says, oldBefore, newBefore);
    }
}

TEST_F(ReleaseDiffTest, AllowedLeftoversAreListedAndPassTheCheck) {
    MakeRelease("old", 3186, 0, {{"a.txt", "a"}, {"gone.txt", "g"}, {"olddir/x.txt", "x"}});
    MakeRelease("new", 3187, 0, {{"a.txt", "b"}});
    const Outcome diffed =
        Patchkit("diff --old old --new new --stub stub.exe -o p.exe --check --allow-leftovers");
    EXPECT_EQ(diffed.exitCode, 0) << diffed.err << diffed.out;
    EXPECT_TRUE(Contains(diffed.err, "warning: old/gone.txt: NEW lacks it")) << diffed.err;
    EXPECT_TRUE(Contains(diffed.err, "warning: old/olddir: NEW lacks it")) << diffed.err;
    EXPECT_FALSE(Contains(diffed.err, "x.txt")) << diffed.err;
    EXPECT_TRUE(Contains(diffed.out, "left on the players' disks: 2 files or folders NEW lacks"))
        << diffed.out;
    EXPECT_TRUE(fs::exists("p.exe"));
}

} // namespace

#include "release/RecordCheck.h"

#include "pktest/PatchkitTestFiles.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fs = std::filesystem;

namespace {

using namespace pktest;

const std::string kPak = testsupport::NoiseData(6000);

// 31.86 with a recorded offset inside its pak (the bytes after it are a run's leftovers), and
// 31.87, which writes over them.
Files OldFiles() {
    return {{"Data/Field.dat", testsupport::PatternedData(70000)},
            {"readme.txt", "read me"},
            {"res.pak", kPak}};
}

Files NewFiles(const std::string& readme, const std::string& appended) {
    return {{"Data/Field.dat", testsupport::PatternedData(70000)},
            {"Data/新/说明.txt", "new"},
            {"readme.txt", readme},
            {"res.pak", kPak.substr(0, 5000) + appended}};
}

const std::string kAppended = testsupport::NoiseData(3000, 5);

class RecordCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(PutFile("stub.exe", MinimalPeImage()));
        MakeRelease("old", 3186, 5000, OldFiles());
        MakeRelease("new", 3187, 0, NewFiles("read me again", kAppended));
        ASSERT_EQ(Patchkit("manifest old -o old.json").exitCode, 0);
        std::string error;
        ASSERT_TRUE(ReadManifestFile("old.json", m_old, error)) << error;
    }

    // The package diff makes from OLD's folder to the release made of files.
    static void PackageFor(const std::string& release, const Files& files,
                           const std::string& package) {
        MakeRelease(release, 3187, 0, files);
        const Outcome made =
            Patchkit("diff --old old --new " + release + " --stub stub.exe -o " + package);
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    std::vector<std::string> Check(const std::string& package) {
        RecordCheckRequest request;
        request.package = package;
        request.oldRecord = &m_old;
        request.newFolder = "new";
        request.newName = "new";
        std::vector<std::string> differences;
        std::string error;
        EXPECT_TRUE(CheckUpdateOnRecords(request, differences, error)) << error;
        return differences;
    }

    static bool AnyContains(const std::vector<std::string>& lines, const std::string& part) {
        return std::any_of(lines.begin(), lines.end(),
                           [&part](const std::string& line) { return Contains(line, part); });
    }

    ReleaseManifest m_old;
    testsupport::ScratchGameDirectory m_folder;
};

TEST_F(RecordCheckTest, PassesTheRightPackageAndCatchesEveryWrongOne) {
    PackageFor("right", NewFiles("read me again", kAppended), "right.exe");
    EXPECT_TRUE(Check("right.exe").empty());

    PackageFor("other", NewFiles("read me AGAIN", kAppended), "other.exe");
    std::vector<std::string> differences = Check("other.exe");
    EXPECT_TRUE(AnyContains(differences, "new/readme.txt: differs after the update"));
    EXPECT_EQ(differences.size(), 1u);

    std::string slice = kAppended;
    slice[1234] = static_cast<char>(slice[1234] ^ 1);
    PackageFor("otherslice", NewFiles("read me again", slice), "slice.exe");
    EXPECT_TRUE(AnyContains(Check("slice.exe"),
                            "new/res.pak: differs after offset 5000 from what the update writes"));

    PackageFor("shorter", NewFiles("read me again", kAppended.substr(10)), "shorter.exe");
    EXPECT_TRUE(AnyContains(Check("shorter.exe"), "new/res.pak: 7990 bytes after the update"));

    // A byte of the pak entry's data, stored as it is (noise does not deflate).
    std::string damaged = testsupport::ReadBinaryFile("right.exe");
    const std::size_t at = damaged.find(kAppended.substr(0, 64));
    ASSERT_NE(at, std::string::npos);
    damaged[at + 100] = static_cast<char>(damaged[at + 100] ^ 0x20);
    ASSERT_TRUE(PutFile("damaged.exe", damaged));
    differences = Check("damaged.exe");
    EXPECT_TRUE(AnyContains(differences, "damaged.exe, entry res.pak: its data"));
}

// A manifest edited by hand is refused, or its package is refused, or the package it gives
// does turn the real OLD into NEW: never a package that passes the check wrongly.
TEST_F(RecordCheckTest, AHandEditedManifestNeverGivesAWrongPackageThatPasses) {
    const std::string manifest = testsupport::ReadBinaryFile("old.json");
    const auto edited = [&manifest](const std::string& entryPath, const std::string& field,
                                    const std::string& value) {
        std::string text = manifest;
        const std::size_t entry = text.find("\"path\": \"" + entryPath + "\"");
        const std::size_t at = text.find("\"" + field + "\": ", entry);
        const std::size_t end = text.find_first_of(",\n", at);
        return value.empty() ? text.erase(at, text.find('\n', at) + 1 - at)
                             : text.replace(at, end - at, "\"" + field + "\": " + value);
    };
    const auto swapped = [&manifest](const std::string& from, const std::string& to) {
        std::string text = manifest;
        return text.replace(text.find(from), from.size(), to);
    };
    const std::string zeros = "\"" + std::string(64, '0') + "\"";
    struct Case {
        const char* what;
        std::string document;
        const char* refusal; // nullptr: it may pass, when the real OLD is turned into NEW
    };
    const std::vector<Case> cases = {
        {"a file's digest changed", edited("readme.txt", "sha256", zeros), nullptr},
        {"an unchanged file's digest changed", edited("data/field.dat", "sha256", zeros), nullptr},
        {"a file's size changed", edited("readme.txt", "size", "8"), nullptr},
        {"the pak's start digest changed", edited("res.pak", "sha256BeforeOffset", zeros),
         "new/res.pak: differs from OLD's manifest before the append offset 5000"},
        {"the recorded offset changed",
         swapped("\"recordedPakOffset\": 5000", "\"recordedPakOffset\": 4000"),
         "pakOffset 5000 is not the offset in effect (4000)"},
        {"a size removed", edited("readme.txt", "size", ""), "entry 3 (readme.txt): size"},
        {"another format", swapped("\"manifestFormat\": 1", "\"manifestFormat\": 2"), "format 2"},
        {"an earlier version", swapped("\"version\": 3186", "\"version\": 3185"),
         "versionShown does not match"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        fs::remove_all("game");
        ASSERT_TRUE(PutFile("edited.json", test.document));
        const Outcome diffed =
            Patchkit("diff --old-manifest edited.json --new new --stub stub.exe -o p.exe --check");
        if (test.refusal != nullptr) {
            EXPECT_EQ(diffed.exitCode, 1);
            EXPECT_TRUE(Contains(diffed.err, test.refusal)) << diffed.err;
            EXPECT_FALSE(fs::exists("p.exe"));
            continue;
        }
        ASSERT_EQ(diffed.exitCode, 0) << diffed.err << diffed.out;
        fs::copy("old", "game", fs::copy_options::recursive);
        ASSERT_EQ(Patchkit("apply p.exe --game game").exitCode, 0);
        EXPECT_EQ(testsupport::ReadBinaryFile("game/version.ini"), "3187\r\n8000\r\n");
        EXPECT_EQ(testsupport::ReadBinaryFile("game/readme.txt"), "read me again");
        EXPECT_EQ(testsupport::ReadBinaryFile("game/res.pak"),
                  testsupport::ReadBinaryFile("new/res.pak"));
        fs::remove("p.exe");
    }
}

} // namespace

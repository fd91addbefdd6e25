#include "pktest/PatchkitTestFiles.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

using namespace pktest;

constexpr std::size_t kPakSize = 300000;

// A release folder as publishers keep them: mixed case, Chinese names, a pak whose recorded
// offset lies inside it (the bytes after it are the last update's).
void MakeRelease(const fs::path& folder, std::uint32_t version, const std::string& readme) {
    ASSERT_TRUE(PutFile(folder / "version.ini", std::to_string(version) + "\r\n" +
                                                    std::to_string(kPakSize - 1000) + "\r\n"));
    ASSERT_TRUE(PutFile(folder / "res.pak", testsupport::NoiseData(kPakSize, version)));
    ASSERT_TRUE(PutFile(folder / "Data/Field.dat", testsupport::PatternedData(70000)));
    ASSERT_TRUE(PutFile(folder / Utf8Path("Data/地图/说明.txt"), readme));
    ASSERT_TRUE(fs::create_directories(folder / "Empty"));
}

// Copies of a release as players' disks hold them, and what verify says of each.
struct DamagedCopy {
    const char* name;
    std::function<void(const fs::path&)> change;
    const char* kind; // nullptr: still the release
};

std::vector<DamagedCopy> DamagedCopies() {
    const auto append = [](const fs::path& file, const std::string& bytes) {
        PutFile(file, testsupport::ReadBinaryFile(file) + bytes);
    };
    return {
        {"flipped byte",
         [](const fs::path& game) {
             std::string data = testsupport::ReadBinaryFile(game / "Data/Field.dat");
             data[12345] ^= 0x10;
             PutFile(game / "Data/Field.dat", data);
         },
         "\"kind\": \"changed\""},
        {"missing file", [](const fs::path& game) { fs::remove(game / "Data/Field.dat"); },
         "\"kind\": \"missing\""},
        {"extra file", [](const fs::path& game) { PutFile(game / "Data/new.txt", "x"); },
         "\"kind\": \"extra\""},
        {"case only",
         [](const fs::path& game) {
             fs::rename(game / "Data", game / "data");
             fs::rename(game / "data/Field.dat", game / "data/FIELD.DAT");
             fs::create_directory(game / "patch"); // the updater's, left empty
         },
         nullptr},
        {"pak with a tail",
         [append](const fs::path& game) { append(game / "res.pak", "tail of a run"); },
         "\"kind\": \"pakTail\""},
        {"pak cut short",
         [](const fs::path& game) { fs::resize_file(game / "res.pak", kPakSize - 2000); },
         "\"kind\": \"pakShort\""},
        {"pak changed before its offset",
         [](const fs::path& game) {
             std::string pak = testsupport::ReadBinaryFile(game / "res.pak");
             pak[10] ^= 1;
             PutFile(game / "res.pak", pak);
         },
         "\"kind\": \"pakChangedBeforeOffset\""},
        {"wrong version.ini",
         [](const fs::path& game) { PutFile(game / "version.ini", "3186\r\n299000\r\n"); },
         "\"kind\": \"versionDiffers\""},
    };
}

class ReleaseIdentityTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakeRelease("release", 3187, "read me");
        const Outcome made = Patchkit("manifest release -o release.json --sha256sums sums.txt");
        ASSERT_EQ(made.exitCode, 0) << made.err;
    }

    // A copy of the release, changed by change; verify's exit code and report, checked to have
    // left the copy as it was.
    Outcome VerifyCopy(const std::function<void(const fs::path&)>& change,
                       const std::string& manifests = "--manifest release.json") {
        fs::remove_all("game");
        fs::copy("release", "game", fs::copy_options::recursive);
        change("game");
        const auto before = TreeOf("game");
        const Outcome verified = Patchkit("verify --game game " + manifests + " --json");
        EXPECT_TRUE(TreeOf("game") == before) << "verify changed the game folder";
        return verified;
    }

    testsupport::ScratchGameDirectory m_folder;
};

TEST_F(ReleaseIdentityTest, ManifestIsTheSameBytesEveryTimeAndItsSumsPassSha256sum) {
    const std::string first = testsupport::ReadBinaryFile("release.json");
    ASSERT_EQ(Patchkit("manifest release -o again.json --jobs 1 --quiet").exitCode, 0);
    EXPECT_TRUE(testsupport::ReadBinaryFile("again.json") == first);
    EXPECT_TRUE(Contains(first, "\"path\": \"data/地图/说明.txt\"")) << first;
    EXPECT_TRUE(Contains(first, "\"pakOffset\": 299000"));
    EXPECT_FALSE(fs::exists("release.json.partial"));

    const int status = std::system("cd release && sha256sum --quiet -c ../sums.txt >/dev/null");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(Contains(testsupport::ReadBinaryFile("sums.txt"), "  Data/Field.dat\n"));
}

TEST_F(ReleaseIdentityTest, ManifestRefusesWhatNoReleaseCanBe) {
    ASSERT_TRUE(PutFile("release/data/field.dat", "a second name for Data/Field.dat"));
    Outcome refused = Patchkit("manifest release -o clash.json");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.err, "differs only in case")) << refused.err;
    fs::remove("release/data/field.dat");
    fs::remove("release/data");
    ASSERT_TRUE(PutFile("release/version.ini", "3187\r\n400000\r\n"));
    refused = Patchkit("manifest release -o beyond.json");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.err, "beyond the end")) << refused.err;
    fs::remove("release/version.ini");
    EXPECT_EQ(Patchkit("manifest release -o none.json").exitCode, 1);
    EXPECT_FALSE(fs::exists("clash.json") || fs::exists("beyond.json") || fs::exists("none.json"));
}

TEST_F(ReleaseIdentityTest, VerifyNamesEachWayACopyDiffers) {
    for (const DamagedCopy& test : DamagedCopies()) {
        SCOPED_TRACE(test.name);
        const Outcome verified = VerifyCopy(test.change);
        EXPECT_EQ(verified.exitCode, test.kind == nullptr ? 0 : 1) << verified.out << verified.err;
        if (test.kind != nullptr) {
            EXPECT_TRUE(Contains(verified.out, test.kind)) << verified.out;
        } else {
            EXPECT_TRUE(Contains(verified.out, "\"exact\": true")) << verified.out;
        }
    }
}

TEST_F(ReleaseIdentityTest, RepairBringsEachDamagedCopyBackToTheRelease) {
    for (const DamagedCopy& test : DamagedCopies()) {
        SCOPED_TRACE(test.name);
        VerifyCopy(test.change);
        const auto before = TreeOf("game");
        const Outcome planned = Patchkit("repair --game game --release release --dry-run");
        EXPECT_EQ(planned.exitCode, 0) << planned.err;
        EXPECT_TRUE(TreeOf("game") == before) << "a dry run changed the game folder";
        const Outcome repaired =
            Patchkit("repair --game game --release release --remove-extra --json");
        EXPECT_EQ(repaired.exitCode, 0) << repaired.out << repaired.err;
        const Outcome verified = Patchkit("verify --game game --manifest release.json");
        EXPECT_EQ(verified.exitCode, 0) << verified.out;
    }
}

TEST_F(ReleaseIdentityTest, RepairKeepsExtrasUnlessAskedAndRefusesWhatItCannotDoSafely) {
    fs::copy("release", "game", fs::copy_options::recursive);
    ASSERT_TRUE(PutFile("game/saves/slot1.dat", "the player's"));
    fs::remove("game/Data/Field.dat");
    Outcome repaired = Patchkit("repair --game game --release release");
    EXPECT_EQ(repaired.exitCode, 0) << repaired.err;
    EXPECT_TRUE(Contains(repaired.out, "kept saves")) << repaired.out;
    EXPECT_EQ(testsupport::ReadBinaryFile("game/saves/slot1.dat"), "the player's");
    EXPECT_TRUE(fs::exists("game/Data/Field.dat"));

    // A folder in a file's place holds what the release does not know of.
    fs::remove("game/Data/Field.dat");
    ASSERT_TRUE(PutFile("game/Data/Field.dat/inside.txt", "x"));
    const auto before = TreeOf("game");
    repaired = Patchkit("repair --game game --release release");
    EXPECT_EQ(repaired.exitCode, 1);
    EXPECT_TRUE(Contains(repaired.err, "--remove-extra")) << repaired.err;
    EXPECT_TRUE(TreeOf("game") == before);

    ASSERT_TRUE(fs::create_directory("game/Release"));
    fs::copy("release", "game/Release", fs::copy_options::recursive);
    repaired = Patchkit("repair --game game --release game/Release");
    EXPECT_EQ(repaired.exitCode, 1);
    EXPECT_TRUE(Contains(repaired.err, "inside the other")) << repaired.err;
    fs::remove_all("game/Release");

    ASSERT_TRUE(fs::create_directory("game/DATA"));
    repaired = Patchkit("repair --game game --release release --remove-extra");
    EXPECT_EQ(repaired.exitCode, 1);
    EXPECT_TRUE(Contains(repaired.err, "differ only in case")) << repaired.err;
}

TEST_F(ReleaseIdentityTest, VerifyWithSeveralManifestsSaysWhichReleaseTheFolderIs) {
    MakeRelease("next", 3188, "read me again");
    ASSERT_EQ(Patchkit("manifest next -o next.json").exitCode, 0);
    const std::string both = "--manifest release.json --manifest next.json";
    Outcome verified = VerifyCopy([](const fs::path&) {}, both);
    EXPECT_EQ(verified.exitCode, 0) << verified.out;
    EXPECT_TRUE(Contains(verified.out, "\"version\": 3187"));

    verified = VerifyCopy([](const fs::path& game) { PutFile(game / "extra.txt", ""); },
                          "--manifest next.json --manifest release.json");
    EXPECT_EQ(verified.exitCode, 1);
    const std::size_t release = verified.out.find("\"release\"");
    ASSERT_NE(release, std::string::npos);
    EXPECT_TRUE(Contains(verified.out.substr(release, 120), "release.json")) << verified.out;

    const Outcome text = Patchkit("verify --game game " + both);
    EXPECT_TRUE(Contains(text.out, "none of the 2 releases; the nearest is release 3187"))
        << text.out;
}

TEST_F(ReleaseIdentityTest, VerifyCannotTellWithoutAValidManifest) {
    fs::copy("release", "game", fs::copy_options::recursive);
    ASSERT_TRUE(PutFile("broken.json", "{\"manifestFormat\": 1, \"version\": 3187"));
    Outcome verified = Patchkit("verify --game game --manifest broken.json");
    EXPECT_EQ(verified.exitCode, 2);
    EXPECT_TRUE(Contains(verified.err, "broken.json: not valid JSON")) << verified.err;
    ASSERT_TRUE(PutFile("other.json", "{\"entries\": []}"));
    verified = Patchkit("verify --game game --manifest other.json");
    EXPECT_EQ(verified.exitCode, 2);
    EXPECT_TRUE(Contains(verified.err, "not a release manifest")) << verified.err;
    EXPECT_EQ(Patchkit("verify --game game").exitCode, 2);
}

} // namespace

namespace {

// A release history as diff makes it: each release appends to the pak and changes the read-me.
class ReleaseHistoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(PutFile("stub.exe", pktest::MinimalPeImage()));
        for (std::uint32_t version = 3186; version <= 3189; ++version) {
            MakeHistoryRelease(Release(version), version, "read me " + std::to_string(version));
        }
        for (std::uint32_t version = 3187; version <= 3189; ++version) {
            const Outcome made =
                Patchkit("diff --old " + Release(version - 1) + " --new " + Release(version) +
                         " --stub stub.exe -o " + Package(version));
            ASSERT_EQ(made.exitCode, 0) << made.err;
        }
    }

    static std::string Release(std::uint32_t version) { return "r" + std::to_string(version); }
    static std::string Package(std::uint32_t version) {
        return "p" + std::to_string(version) + ".exe";
    }

    static void MakeHistoryRelease(const std::string& folder, std::uint32_t version,
                                   const std::string& readme) {
        std::string pak;
        for (std::uint32_t step = 3186; step <= version; ++step) {
            pak += testsupport::NoiseData(20000, step);
        }
        ASSERT_TRUE(PutFile(folder + "/version.ini", std::to_string(version) + "\r\n0\r\n"));
        ASSERT_TRUE(PutFile(folder + "/res.pak", pak));
        ASSERT_TRUE(PutFile(folder + "/readme.txt", readme));
    }

    testsupport::ScratchGameDirectory m_folder;
};

TEST_F(ReleaseHistoryTest, IndexListsTheHistoryByVersionAndProvesEveryStep) {
    const Outcome indexed = Patchkit("index p3189.exe p3187.exe p3188.exe -o releases.json "
                                     "--sha256sums sums.txt --releases r3186 r3187 r3188 r3189");
    ASSERT_EQ(indexed.exitCode, 0) << indexed.err;
    const std::string index = testsupport::ReadBinaryFile("releases.json");
    const std::size_t first = index.find("\"file\": \"p3187.exe\"");
    const std::size_t last = index.find("\"file\": \"p3189.exe\"");
    EXPECT_TRUE(first != std::string::npos && last != std::string::npos && first < last) << index;
    EXPECT_TRUE(Contains(index, "\"proven\": true"));
    EXPECT_TRUE(Contains(index, "\"fromVersion\": 3186"));
    const int status = std::system("sha256sum --quiet -c sums.txt >/dev/null");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(ReleaseHistoryTest, IndexRefusesAGapADuplicateAndADamagedPackage) {
    Outcome refused = Patchkit("index p3187.exe p3189.exe -o gap.json");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.err, "a gap: no package brings 3187 to 3188")) << refused.err;

    fs::copy_file("p3187.exe", "again.exe");
    refused = Patchkit("index p3187.exe again.exe -o twice.json");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.err, "a second package for version 3187")) << refused.err;

    std::string damaged = testsupport::ReadBinaryFile("p3188.exe");
    damaged[damaged.size() / 2] ^= 0x40; // in the pak entry's data
    ASSERT_TRUE(PutFile("damaged.exe", damaged));
    refused = Patchkit("index p3187.exe damaged.exe -o damaged.json");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.err, "damaged.exe: inspect --verify does not pass it"))
        << refused.err;
    EXPECT_FALSE(fs::exists("gap.json") || fs::exists("twice.json") || fs::exists("damaged.json"));
}

TEST_F(ReleaseHistoryTest, IndexCatchesAPackageBuiltFromTheWrongRelease) {
    MakeHistoryRelease("other3187", 3187, "a read-me that never shipped");
    ASSERT_EQ(Patchkit("diff --old r3186 --new other3187 --stub stub.exe -o wrong.exe").exitCode,
              0);
    const Outcome refused =
        Patchkit("index wrong.exe p3188.exe -o releases.json --releases r3186 r3187 r3188");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.err, "wrong.exe: applied to r3186 does not give r3187"))
        << refused.err;
    EXPECT_TRUE(Contains(refused.err, "readme.txt")) << refused.err;
    EXPECT_FALSE(fs::exists("releases.json") || fs::exists("releases.json.check"));
}

// The history proven from the releases' manifests and the packages, without a release folder.
TEST_F(ReleaseHistoryTest, IndexProvesTheHistoryFromManifestsAlone) {
    MakeHistoryRelease("other3187", 3187, "a read-me that never shipped");
    ASSERT_EQ(Patchkit("diff --old r3186 --new other3187 --stub stub.exe -o wrong.exe").exitCode,
              0);
    std::string manifests;
    for (std::uint32_t version = 3186; version <= 3189; ++version) {
        const std::string manifest = "m" + std::to_string(version) + ".json";
        ASSERT_EQ(Patchkit("manifest " + Release(version) + " -o " + manifest).exitCode, 0);
        fs::remove_all(Release(version));
        manifests += " " + manifest;
    }
    const Outcome indexed = Patchkit("index p3189.exe p3187.exe p3188.exe -o releases.json "
                                     "--release-manifests" +
                                     manifests);
    ASSERT_EQ(indexed.exitCode, 0) << indexed.err;
    EXPECT_TRUE(Contains(testsupport::ReadBinaryFile("releases.json"), "\"proven\": true"));

    const Outcome refused = Patchkit("index wrong.exe p3188.exe -o refused.json "
                                     "--release-manifests m3186.json m3187.json m3188.json");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.err, "wrong.exe: applied to m3186.json does not give m3187.json"))
        << refused.err;
    EXPECT_TRUE(Contains(refused.err, "m3187.json/readme.txt")) << refused.err;
    EXPECT_FALSE(fs::exists("refused.json"));
}

} // namespace

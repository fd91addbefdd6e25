#include "engine/TemporaryArchive.h"

#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::BuildZipArchive;
using testsupport::ReadBinaryFile;
using testsupport::WriteBinaryFile;

const fs::path kArchivePath = fs::path("patch") / "hvmanualpatch.zip";
const std::string kPrecious = "a file of the player's, outside the game folder";

// A game folder, and a folder outside it that links planted in the game folder point to.
class TemporaryArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qrt-outside-XXXXXX").string();
        ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
        outside = pattern;
        ASSERT_TRUE(WriteBinaryFile(outside / "precious.txt", kPrecious));
    }
    void TearDown() override { fs::remove_all(outside); }

    // Copies the archive out of a program file positioned at it.
    Extraction Extract(const std::string& bytes = BuildZipArchive({{"a.txt", "alpha"}})) {
        const FileHandle program(std::tmpfile());
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), program.get()), bytes.size());
        std::rewind(program.get());
        return temporary.Extract(program.get(), static_cast<std::int64_t>(bytes.size()), LockWait(),
                                 {});
    }

    std::vector<std::string> EntryNames() {
        const ArchiveReader reader = temporary.OpenReader();
        std::vector<std::string> names;
        for (int at = reader ? unzGoToFirstFile(reader.get()) : UNZ_BADZIPFILE; at == UNZ_OK;
             at = unzGoToNextFile(reader.get())) {
            char name[64] = {};
            EXPECT_EQ(unzGetCurrentFileInfo64(reader.get(), nullptr, name, sizeof name, nullptr, 0,
                                              nullptr, 0),
                      UNZ_OK);
            names.emplace_back(name);
        }
        return names;
    }

    // The file outside is as it was, and nothing outside was made or removed.
    void ExpectOutsideUntouched() {
        EXPECT_EQ(ReadBinaryFile(outside / "precious.txt"), kPrecious);
        EXPECT_EQ(fs::hard_link_count(outside / "precious.txt"), 1u);
        EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
    }

    testsupport::ScratchGameDirectory game;
    fs::path outside;
    TemporaryArchive temporary;
};

TEST_F(TemporaryArchiveTest, OrdinaryFolderHoldsTheCopyUntilItIsRemoved) {
    const std::string archive = BuildZipArchive({{"a.txt", "alpha"}, {"b.txt", "beta"}});
    fs::create_directory("patch");
    ASSERT_TRUE(WriteBinaryFile(kArchivePath, std::string(100000, 'x'))); // an earlier run's
    ASSERT_EQ(Extract(archive), Extraction::Done);
    EXPECT_EQ(ReadBinaryFile(kArchivePath), archive);
    // Nobody but the run's own user can open it, to write or to read.
    EXPECT_EQ(fs::status(kArchivePath).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(EntryNames(), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_TRUE(temporary.Remove());
    EXPECT_FALSE(fs::exists(kArchivePath));
    EXPECT_TRUE(fs::is_directory("patch"));
}

TEST_F(TemporaryArchiveTest, LinkAtTheNameLosesItselfNotWhatItPointsTo) {
    fs::create_directory("patch");
    fs::create_symlink(outside / "precious.txt", kArchivePath);
    ASSERT_EQ(Extract(), Extraction::Done);
    EXPECT_FALSE(fs::is_symlink(kArchivePath));
    EXPECT_EQ(EntryNames(), std::vector<std::string>{"a.txt"});
    EXPECT_TRUE(temporary.Remove());
    ExpectOutsideUntouched();
}

TEST_F(TemporaryArchiveTest, HardLinkAtTheNameIsNeverWrittenThrough) {
    fs::create_directory("patch");
    fs::create_hard_link(outside / "precious.txt", kArchivePath);
    ASSERT_EQ(Extract(), Extraction::Done);
    EXPECT_EQ(fs::hard_link_count(kArchivePath), 1u);
    EXPECT_TRUE(temporary.Remove());
    ExpectOutsideUntouched();
}

TEST_F(TemporaryArchiveTest, PatchFolderThatIsALinkIsRefusedWithNothingWritten) {
    ASSERT_TRUE(WriteBinaryFile(outside / "hvmanualpatch.zip", kPrecious));
    fs::create_directory_symlink(outside, "patch");
    EXPECT_EQ(Extract(), Extraction::NotCreated);
    EXPECT_EQ(ReadBinaryFile(outside / "hvmanualpatch.zip"), kPrecious);
    EXPECT_TRUE(fs::is_symlink("patch"));
    EXPECT_FALSE(temporary.Remove());
    EXPECT_EQ(ReadBinaryFile(outside / "hvmanualpatch.zip"), kPrecious);
    fs::remove(outside / "hvmanualpatch.zip");
    ExpectOutsideUntouched();
}

TEST_F(TemporaryArchiveTest, FolderInPlaceOfTheArchiveIsRefused) {
    fs::create_directories(kArchivePath);
    EXPECT_EQ(Extract(), Extraction::NotCreated);
    EXPECT_TRUE(fs::is_directory(kArchivePath));
}

// What was written is what is read, whatever is put under the name in between; the file put
// there is not the run's to remove.
TEST_F(TemporaryArchiveTest, ArchiveSwappedAfterTheCopyIsNotWhatIsRead) {
    ASSERT_EQ(Extract(), Extraction::Done);
    const std::string other = BuildZipArchive({{"evil.dll", "planted"}});
    ASSERT_TRUE(WriteBinaryFile("patch/other.zip", other));
    fs::rename("patch/other.zip", kArchivePath);
    EXPECT_EQ(EntryNames(), std::vector<std::string>{"a.txt"});
    EXPECT_FALSE(temporary.Remove());
    EXPECT_EQ(ReadBinaryFile(kArchivePath), other);
}

TEST_F(TemporaryArchiveTest, CopyThatIsNoArchiveGivesNoReader) {
    ASSERT_EQ(Extract("not a zip archive"), Extraction::Done);
    EXPECT_EQ(temporary.OpenReader(), nullptr);
    EXPECT_TRUE(temporary.Remove());
}

} // namespace

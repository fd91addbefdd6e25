#include "platform/FileSystem.h"

#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

// Through the narrow file API, as the engine meets the search.

namespace {

namespace fs = std::filesystem;

class NameCaseSearchTest : public ::testing::Test {
protected:
    testsupport::ScratchGameDirectory directory;
};

// A game folder copied from Windows keeps the case its installer gave it; the updater writes
// lower-case names, which Windows finds whatever the case on the disk.
TEST_F(NameCaseSearchTest, NarrowNamesFindExistingFilesAndFoldersWhateverTheirCase) {
    ASSERT_TRUE(fs::create_directories("Maps/Old"));
    ASSERT_TRUE(testsupport::WriteBinaryFile("Maps/Field.DAT", "old"));
    FileHandle file = OpenNarrowFile("maps/field.dat", "wb");
    ASSERT_TRUE(file);
    ASSERT_EQ(std::fwrite("new", 1, 3, file.get()), 3u);
    ASSERT_TRUE(CloseWrittenFile(file));
    EXPECT_EQ(testsupport::ReadBinaryFile("Maps/Field.DAT"), "new");
    ASSERT_TRUE(CreateNarrowDirectories("maps/old/deeper/"));
    EXPECT_TRUE(fs::is_directory("Maps/Old/deeper"));
    file = OpenNarrowFile("maps/new.dat", "wb");
    ASSERT_TRUE(file);
    ASSERT_TRUE(CloseWrittenFile(file));
    EXPECT_TRUE(fs::exists("Maps/new.dat"));
    EXPECT_FALSE(fs::exists("maps"));
    // Letters beyond ASCII: Greek and full-width Latin have cases on Windows too.
    ASSERT_TRUE(testsupport::WriteBinaryFile("\xce\xa9\xef\xbc\xa1.txt", "x"));        // ΩＡ.txt
    EXPECT_EQ(TryOpenNarrowFile("\xa6\xd8\xa3\xe1.txt", "rb", file), FileError::None); // ωａ
}

TEST_F(NameCaseSearchTest, TwoNamesThatDifferOnlyInCaseAreRefused) {
    ASSERT_TRUE(fs::create_directories("Maps"));
    ASSERT_TRUE(fs::create_directories("MAPS"));
    FileHandle file;
    EXPECT_EQ(TryOpenNarrowFile("maps/field.dat", "wb", file), FileError::Refused);
    EXPECT_FALSE(CreateNarrowDirectories("maps/sub/"));
    // As spelled, a name is taken without a search.
    EXPECT_EQ(TryOpenNarrowFile("Maps/field.dat", "wb", file), FileError::None);
}

// Folders searched once are remembered; what others change in them afterwards still counts.
TEST_F(NameCaseSearchTest, NamesAddedByOthersAfterASearchAreFound) {
    ASSERT_TRUE(fs::create_directories("Maps"));
    FileHandle file;
    EXPECT_EQ(TryOpenNarrowFile("maps/new.dat", "wb", file), FileError::None);
    file.reset();
    EXPECT_EQ(TryOpenNarrowFile("maps/other.dat", "rb", file), FileError::Missing);
    // A folder's time moves in ticks of the kernel's clock; others' changes come later than one.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(testsupport::WriteBinaryFile("Maps/Other.DAT", "theirs"));
    EXPECT_EQ(TryOpenNarrowFile("maps/other.dat", "rb", file), FileError::None);
    file.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(testsupport::WriteBinaryFile("Maps/OTHER.dat", "a second"));
    EXPECT_EQ(TryOpenNarrowFile("maps/other.dat", "rb", file), FileError::Refused);
    EXPECT_TRUE(fs::exists("Maps/new.dat"));
}

} // namespace

#include "platform/FileSystem.h"

#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

namespace fs = std::filesystem;

class FileSystemTest : public ::testing::Test {
protected:
    testsupport::ScratchGameDirectory directory;
};

// 数据 and 说明 in code page 936.
const std::string kFolder = "\xca\xfd\xbe\xdd";
const std::string kFile = "\xcb\xb5\xc3\xf7";

TEST_F(FileSystemTest, NarrowNamesAreCreatedUnderTheirHostNames) {
    ASSERT_TRUE(CreateNarrowDirectories(kFolder + "/" + kFolder + "/"));
    ASSERT_TRUE(CreateNarrowDirectories(kFolder + "/")); // exists already
    FileHandle file = OpenNarrowFile(kFolder + "/" + kFile, "wb");
    ASSERT_TRUE(file);
    ASSERT_EQ(std::fwrite("x", 1, 1, file.get()), 1u);
    ASSERT_TRUE(CloseWrittenFile(file));
    EXPECT_TRUE(fs::is_directory("数据/数据"));
    EXPECT_EQ(testsupport::ReadBinaryFile("数据/说明"), "x");
    // A backslash separates as on Windows, but not as the second byte of a character (数\).
    file = OpenNarrowFile(kFolder + "\\b.txt", "wb");
    ASSERT_TRUE(file);
    ASSERT_TRUE(CloseWrittenFile(file));
    EXPECT_TRUE(fs::exists("数据/b.txt"));
    file = OpenNarrowFile("\xca\x5c", "wb");
    ASSERT_TRUE(file);
    ASSERT_TRUE(CloseWrittenFile(file));
    EXPECT_TRUE(fs::exists("蔦"));
    // Bytes that are no code page 936 text name no file.
    EXPECT_FALSE(OpenNarrowFile("\x81", "wb"));
    EXPECT_FALSE(CreateNarrowDirectories("\x81/"));
}

// A game folder copied from Windows keeps the case its installer gave it; the updater writes
// lower-case names, which Windows finds whatever the case on the disk.
TEST_F(FileSystemTest, NarrowNamesFindExistingFilesAndFoldersWhateverTheirCase) {
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

TEST_F(FileSystemTest, TwoNamesThatDifferOnlyInCaseAreRefused) {
    ASSERT_TRUE(fs::create_directories("Maps"));
    ASSERT_TRUE(fs::create_directories("MAPS"));
    FileHandle file;
    EXPECT_EQ(TryOpenNarrowFile("maps/field.dat", "wb", file), FileError::Refused);
    EXPECT_FALSE(CreateNarrowDirectories("maps/sub/"));
    // As spelled, a name is taken without a search.
    EXPECT_EQ(TryOpenNarrowFile("Maps/field.dat", "wb", file), FileError::None);
}

// Folders searched once are remembered; what others change in them afterwards still counts.
TEST_F(FileSystemTest, NamesAddedByOthersAfterASearchAreFound) {
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

TEST_F(FileSystemTest, DirectoryCreationReportsAFileInTheWay) {
    ASSERT_TRUE(testsupport::WriteBinaryFile("data", "file"));
    EXPECT_FALSE(CreateNarrowDirectories("data/"));
    EXPECT_FALSE(CreateNarrowDirectories("data/sub/"));
    EXPECT_TRUE(MakeDirectory("patch"));
    EXPECT_FALSE(MakeDirectory("patch"));
}

TEST_F(FileSystemTest, OpeningAnExistingFileForWritingChangesNothingUntilItIsWritten) {
    FileHandle file;
    EXPECT_EQ(TryOpenExistingNarrowFileForWriting("new.txt", file), FileError::Missing);
    EXPECT_EQ(TryOpenExistingNarrowFileForWriting("nowhere/new.txt", file), FileError::Missing);
    EXPECT_FALSE(fs::exists("new.txt"));
    EXPECT_EQ(TryOpenFile("new.txt", "rb", file), FileError::Missing);

    ASSERT_TRUE(testsupport::WriteBinaryFile("old.txt", "old contents"));
    ASSERT_EQ(TryOpenExistingNarrowFileForWriting("old.txt", file), FileError::None);
    file.reset();
    EXPECT_EQ(testsupport::ReadBinaryFile("old.txt"), "old contents");
    ASSERT_EQ(TryOpenExistingNarrowFileForWriting("old.txt", file), FileError::None);
    ASSERT_TRUE(TruncateFile(file.get()));
    ASSERT_EQ(std::fwrite("new", 1, 3, file.get()), 3u);
    ASSERT_TRUE(CloseWrittenFile(file));
    EXPECT_EQ(testsupport::ReadBinaryFile("old.txt"), "new");

    fs::create_directory("folder");
    EXPECT_EQ(TryOpenExistingNarrowFileForWriting("folder", file), FileError::Refused);
    EXPECT_EQ(TryOpenFile("folder", "wb", file), FileError::Refused);
}

TEST_F(FileSystemTest, PositionsAndLengthsAreSixtyFourBit) {
    FileHandle file = OpenFile("big.bin", "w+b");
    ASSERT_TRUE(file);
    const std::int64_t beyond4GiB = (std::int64_t{1} << 32) + 5;
    ASSERT_TRUE(SeekFile(file.get(), beyond4GiB));
    ASSERT_EQ(std::fwrite("x", 1, 1, file.get()), 1u);
    EXPECT_EQ(TellFile(file.get()), beyond4GiB + 1);
    EXPECT_EQ(FileLength(file.get()), beyond4GiB + 1);
    EXPECT_FALSE(SeekFile(file.get(), -1));
}

TEST_F(FileSystemTest, ReplaceSwapsTheWholeFile) {
    ASSERT_TRUE(testsupport::WriteBinaryFile("old", "old"));
    ASSERT_TRUE(testsupport::WriteBinaryFile("new", "new"));
    ASSERT_TRUE(ReplaceFileAtomically("new", "old"));
    EXPECT_EQ(testsupport::ReadBinaryFile("old"), "new");
    EXPECT_FALSE(fs::exists("new"));
    EXPECT_TRUE(RemoveFile("old"));
    EXPECT_FALSE(RemoveFile("old"));
}

} // namespace

#include "platform/FileSystem.h"

#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>

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

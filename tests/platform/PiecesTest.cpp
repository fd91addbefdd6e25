#include "platform/Pieces.h"

#include "platform/FileSystem.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class PiecesTest : public ::testing::Test {
protected:
    // A file of size bytes, opened for reading at offset.
    FileHandle OpenData(std::size_t size, std::int64_t offset) {
        data = testsupport::PatternedData(size);
        EXPECT_TRUE(testsupport::WriteBinaryFile("data.bin", data));
        FileHandle file = OpenFile("data.bin", "rb");
        EXPECT_TRUE(file && SeekFile(file.get(), offset));
        return file;
    }

    // Keeps what each piece held.
    PieceUse Collect() {
        return [this](unsigned char* bytes, std::size_t size) {
            sizes.push_back(size);
            read.append(reinterpret_cast<const char*>(bytes), size);
            return true;
        };
    }

    testsupport::ScratchGameDirectory directory;
    std::unique_ptr<unsigned char[]> buffer = NewPieceBuffer();
    std::string data;
    std::vector<std::size_t> sizes;
    std::string read;
};

TEST_F(PiecesTest, ReadsExactlyTheCountOrToTheEndInPiecesOfOddLengths) {
    FileHandle file = OpenData(2 * kPieceSize + 123, 7);
    ASSERT_EQ(ReadPieces(file.get(), 2 * kPieceSize + 100, buffer.get(), {}, Collect()),
              PieceRun::Done);
    EXPECT_EQ(sizes, (std::vector<std::size_t>{kPieceSize, kPieceSize, 100}));
    EXPECT_EQ(read, data.substr(7, 2 * kPieceSize + 100));
    EXPECT_EQ(TellFile(file.get()), static_cast<std::int64_t>(7 + read.size()));

    sizes.clear();
    read.clear();
    ASSERT_TRUE(SeekFile(file.get(), 7));
    ASSERT_EQ(ReadPiecesToEnd(file.get(), buffer.get(), {}, Collect()), PieceRun::Done);
    EXPECT_EQ(sizes, (std::vector<std::size_t>{kPieceSize, kPieceSize, 116}));
    EXPECT_EQ(read, data.substr(7));

    // A file that ends with a whole piece gives no empty one after it.
    sizes.clear();
    file = OpenData(kPieceSize, 0);
    ASSERT_EQ(ReadPiecesToEnd(file.get(), buffer.get(), {}, Collect()), PieceRun::Done);
    EXPECT_EQ(sizes, std::vector<std::size_t>{kPieceSize});
}

TEST_F(PiecesTest, AShortFileAStopAndARefusedPieceEndTheRunAndSayWhy) {
    FileHandle file = OpenData(kPieceSize + 10, 0);
    EXPECT_EQ(ReadPieces(file.get(), kPieceSize + 11, buffer.get(), {}, Collect()),
              PieceRun::NotRead);
    // The short piece is not handed on.
    EXPECT_EQ(sizes, std::vector<std::size_t>{kPieceSize});

    ASSERT_TRUE(SeekFile(file.get(), 0));
    int asked = 0;
    EXPECT_EQ(
        ReadPieces(
            file.get(), kPieceSize + 10, buffer.get(), [&asked] { return ++asked > 1; }, Collect()),
        PieceRun::Stopped);
    EXPECT_EQ(asked, 2);

    ASSERT_TRUE(SeekFile(file.get(), 0));
    EXPECT_EQ(ReadPieces(file.get(), 10, buffer.get(), {},
                         [](unsigned char*, std::size_t) { return false; }),
              PieceRun::NotUsed);
}

TEST_F(PiecesTest, CopiesASliceAndReportsAFailedWrite) {
    FileHandle file = OpenData(kPieceSize + 500, 300);
    FileHandle target = OpenFile("copy.bin", "wb");
    ASSERT_TRUE(target);
    ASSERT_EQ(CopyPieces(file.get(), kPieceSize + 100, target.get(), buffer.get(), {}),
              PieceRun::Done);
    ASSERT_TRUE(CloseWrittenFile(target));
    EXPECT_EQ(testsupport::ReadBinaryFile("copy.bin"), data.substr(300, kPieceSize + 100));

    ASSERT_TRUE(SeekFile(file.get(), 0));
    FileHandle readOnly = OpenFile("copy.bin", "rb");
    EXPECT_EQ(CopyPieces(file.get(), 10, readOnly.get(), buffer.get(), {}), PieceRun::NotUsed);
}

} // namespace

#include "zip/ZipWriter.h"
#include "engine/RunPatch.h"
#include "pktest/PatchkitTestFiles.h"
#include "platform/FileSystem.h"
#include "support/PackageBuilder.h"
#include "support/RecordingPatchView.h"
#include "support/ScratchGameDirectory.h"
#include "zip/ArchiveReader.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>

namespace {

struct Source {
    std::string name;
    std::string data;
    bool directory = false;
};

std::uint32_t CrcOf(const std::string& data) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

SourceEntry SourceOf(const std::string& name, const std::string& path, std::uint64_t size,
                     std::uint64_t offset = 0) {
    SourceEntry source;
    source.storedName = name;
    source.path = path;
    source.size = size;
    source.offset = offset;
    return source;
}

class ZipWriterTest : public ::testing::Test {
protected:
    // Writes the sources into "archive.zip".
    void Write(const std::vector<Source>& sources, int level, ZipLimits limits = {},
               unsigned jobs = 0) {
        FileHandle file = OpenFile("archive.zip", "wb");
        EXPECT_TRUE(file);
        ZipWriter writer(file.get(), 0, level, jobs, limits);
        std::string error;
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const Source& source = sources[i];
            const std::string sourceFile = "source" + std::to_string(i);
            EXPECT_TRUE(pktest::PutFile(sourceFile, source.data));
            EXPECT_TRUE(
                source.directory
                    ? writer.AddDirectory(source.name, error)
                    : writer.AddFile(SourceOf(source.name, sourceFile, source.data.size()), error))
                << error;
        }
        EXPECT_TRUE(writer.Finish(error)) << error;
        EXPECT_TRUE(CloseWrittenFile(file));
        m_archive = testsupport::ReadBinaryFile("archive.zip");
    }

    // Reads it back with the updater's reader, inflating every entry.
    std::vector<ArchiveEntry> WriteAndRead(const std::vector<Source>& sources, int level) {
        Write(sources, level);
        return ReadBack();
    }

    std::vector<ArchiveEntry> ReadBack() {
        std::string error;
        FileHandle input = OpenFile("archive.zip", "rb");
        FileWindow window;
        window.file = input.get();
        window.length = static_cast<std::int64_t>(m_archive.size());
        std::vector<ArchiveEntry> entries;
        EXPECT_TRUE(ReadArchiveEntries(window, true, entries, error, WorkSettings{2, nullptr}))
            << error;
        return entries;
    }

    testsupport::ScratchGameDirectory m_folder;
    std::string m_archive;
};

TEST_F(ZipWriterTest, DeflatesWhatShrinksAndStoresTheRest) {
    const std::string text = testsupport::PatternedData(200000);
    const std::string noise = testsupport::NoiseData(100000);
    const std::vector<Source> sources = {{"data/", "", true},
                                         {"data/text.txt", text},
                                         {"data/noise.bin", noise},
                                         {"data/empty.txt", ""},
                                         {"res.pak", text}};
    const auto entries = WriteAndRead(sources, 6);

    ASSERT_EQ(entries.size(), sources.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        SCOPED_TRACE(sources[i].name);
        EXPECT_EQ(entries[i].storedName, sources[i].name);
        EXPECT_EQ(entries[i].size, sources[i].data.size());
        EXPECT_EQ(entries[i].crc, CrcOf(sources[i].data));
        EXPECT_EQ(entries[i].flags, 0u);
        EXPECT_EQ(entries[i].dataProblem, "");
    }
    EXPECT_EQ(entries[1].method, 8u);
    EXPECT_LT(entries[1].compressedSize, text.size() / 2);
    // The stored fallback rewrote the noise in place; the entries after it are intact.
    EXPECT_EQ(entries[2].method, 0u);
    EXPECT_EQ(entries[2].compressedSize, noise.size());
    EXPECT_EQ(entries[3].method, 0u);
    EXPECT_EQ(entries[0].method, 0u);
}

TEST_F(ZipWriterTest, LevelZeroStoresEverything) {
    const auto entries = WriteAndRead({{"a.txt", testsupport::PatternedData(5000)}}, 0);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].method, 0u);
    EXPECT_EQ(entries[0].dataProblem, "");
}

// Larger than two blocks: patterned where the blocks meet, runs of one byte between, which zopfli
// (at the highest level) gets through quickly.
std::string DataAcrossBlocks(std::size_t block) {
    std::string data(2 * block + 4321, '\0');
    const std::size_t patterned = 8000;
    for (const std::size_t at :
         {std::size_t{0}, block - patterned / 2, 2 * block - patterned / 2}) {
        data.replace(at, patterned,
                     testsupport::PatternedData(patterned, static_cast<std::uint32_t>(at)));
    }
    return data;
}

// Every level, on a file larger than a block, an empty one and ones deflate cannot shrink: the
// same bytes for any number of threads, read back exactly by the updater's reader and by Info-ZIP.
TEST_F(ZipWriterTest, EveryLevelGivesTheSameBytesForAnyJobCountAndReadsBack) {
    const std::size_t block = 1 << 20;
    const std::vector<Source> sources = {{"data/", "", true},
                                         {"res.pak", DataAcrossBlocks(block)},
                                         {"data/empty.txt", ""},
                                         {"data/noise.bin", testsupport::NoiseData(block + 100)},
                                         {"data/small-noise.bin", testsupport::NoiseData(1000)},
                                         {"data/small.txt", testsupport::PatternedData(3000, 3)}};
    for (const int level : {0, 1, 6, 9, 10, 11, 12}) {
        SCOPED_TRACE("level " + std::to_string(level));
        std::string first;
        for (const unsigned jobs : {1u, 2u, 7u}) {
            Write(sources, level, {}, jobs);
            first = first.empty() ? m_archive : first;
            EXPECT_TRUE(m_archive == first) << "the bytes depend on the number of threads";
        }
        const auto entries = ReadBack();
        ASSERT_EQ(entries.size(), sources.size());
        for (std::size_t i = 0; i < entries.size(); ++i) {
            EXPECT_EQ(entries[i].crc, CrcOf(sources[i].data)) << sources[i].name;
            EXPECT_EQ(entries[i].dataProblem, "") << sources[i].name;
        }
        EXPECT_EQ(entries[1].method, level == 0 ? 0u : 8u);
        EXPECT_EQ(entries[3].method, 0u);
        EXPECT_EQ(std::system("unzip -tqq archive.zip"), 0);
    }
}

// An entry as the central directory gives it, with the ZIP64 extra field applied. Written here
// because the 64-bit Linux build of minizip ignores that field (it compares the 32-bit values with
// (unsigned long)-1); the 32-bit Windows updater reads it.
struct CentralRecord {
    std::string name;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t headerOffset = 0;
    std::size_t zip64Fields = 0;
};

std::uint64_t Get64(const std::string& bytes, std::size_t at) {
    return testsupport::GetLittleEndian32(bytes, at) |
           std::uint64_t{testsupport::GetLittleEndian32(bytes, at + 4)} << 32;
}

std::size_t Get16(const std::string& bytes, std::size_t at) {
    return testsupport::GetLittleEndian32(bytes, at) & 0xFFFF;
}

std::vector<CentralRecord> CentralRecords(const std::string& archive, std::size_t directory,
                                          std::size_t count) {
    std::vector<CentralRecord> records;
    std::size_t at = directory;
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_EQ(testsupport::GetLittleEndian32(archive, at), 0x02014b50u);
        CentralRecord record;
        const std::size_t nameLength = Get16(archive, at + 28);
        const std::size_t extraLength = Get16(archive, at + 30);
        record.name = archive.substr(at + 46, nameLength);
        std::size_t extra = at + 46 + nameLength + 4; // past the ZIP64 field's id and size
        for (auto [field, value] :
             {std::pair{at + 24, &record.size}, std::pair{at + 20, &record.compressedSize},
              std::pair{at + 42, &record.headerOffset}}) {
            *value = testsupport::GetLittleEndian32(archive, field);
            if (*value == 0xFFFFFFFF) {
                *value = Get64(archive, extra);
                extra += 8;
                ++record.zip64Fields;
            }
        }
        records.push_back(record);
        at += 46 + nameLength + extraLength;
    }
    return records;
}

TEST_F(ZipWriterTest, UsesZip64RecordsForValuesBeyondTheLimits) {
    ZipLimits limits;
    limits.firstZip64Size = 1000;
    limits.firstZip64Count = 3;
    const std::string big = testsupport::NoiseData(5000);
    const std::vector<Source> sources = {
        {"d/", "", true}, {"d/big.bin", big}, {"d/small.txt", "small"}};
    Write(sources, 9, limits);

    using testsupport::GetLittleEndian32;
    const std::size_t end = testsupport::EndOfCentralDirectoryOffset(m_archive);
    EXPECT_EQ(GetLittleEndian32(m_archive, end + 8), 0xFFFFFFFFu);  // entry counts
    EXPECT_EQ(GetLittleEndian32(m_archive, end + 16), 0xFFFFFFFFu); // directory offset
    ASSERT_EQ(GetLittleEndian32(m_archive, end - 20), 0x07064b50u); // locator
    const std::size_t zip64End = GetLittleEndian32(m_archive, end - 12);
    ASSERT_EQ(GetLittleEndian32(m_archive, zip64End), 0x06064b50u);
    EXPECT_EQ(Get64(m_archive, zip64End + 32), 3u);
    const std::size_t directory = GetLittleEndian32(m_archive, zip64End + 48);
    EXPECT_EQ(Get64(m_archive, zip64End + 40), zip64End - directory);

    const auto records = CentralRecords(m_archive, directory, 3);
    EXPECT_EQ(records[1].name, "d/big.bin");
    EXPECT_EQ(records[1].size, 5000u);
    EXPECT_EQ(records[1].compressedSize, 5000u);
    EXPECT_EQ(records[1].zip64Fields, 2u);
    EXPECT_EQ(records[2].size, 5u);
    EXPECT_EQ(records[2].zip64Fields, 1u); // its offset
    // Each local header carries both sizes in its ZIP64 field when the size needs it, and the data
    // follows it unchanged.
    const std::size_t local = records[1].headerOffset;
    EXPECT_EQ(GetLittleEndian32(m_archive, local + 22), 0xFFFFFFFFu);
    EXPECT_EQ(Get64(m_archive, local + 30 + 9 + 4), 5000u);
    EXPECT_EQ(Get64(m_archive, local + 30 + 9 + 12), 5000u);
    EXPECT_EQ(m_archive.substr(local + 30 + 9 + 20, big.size()), big);
    EXPECT_EQ(m_archive.substr(records[2].headerOffset + 30 + 11, 5), "small");
}

// On this host the ZIP reader takes the ZIP64 marker for the size (its long has 64 bits): the
// engine must refuse such an entry before writing anything, not write it cut short.
TEST_F(ZipWriterTest, Zip64SizesThisHostsReaderMisreadsAreRefusedBeforeAnyWrite) {
    ZipLimits limits;
    limits.firstZip64Size = 1000;
    Write({{"d/", "", true}, {"d/big.bin", testsupport::NoiseData(5000)}}, 9, limits);
    ASSERT_TRUE(
        testsupport::WriteBinaryFile("package.exe", testsupport::BuildPackage(m_archive, 3187)));
    ASSERT_TRUE(testsupport::WriteBinaryFile("version.ini", "3186\r\n0\r\n"));

    testsupport::RecordingPatchView view;
    EXPECT_EQ(RunPatch(view, "package.exe"), 1);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0], testsupport::ExpectedMessage(Message::CannotReadPackage));
    EXPECT_FALSE(std::filesystem::exists("d"));
    EXPECT_EQ(testsupport::ReadBinaryFile("version.ini"), "3186\r\n0\r\n");
}

TEST_F(ZipWriterTest, RefusesASourceThatChangedSinceItWasListed) {
    ASSERT_TRUE(pktest::PutFile("source", "12345"));
    FileHandle file = OpenFile("archive.zip", "wb");
    ZipWriter writer(file.get(), 0, 6, 0);
    std::string error;
    EXPECT_FALSE(writer.AddFile(SourceOf("a.txt", "source", 6), error));
    EXPECT_NE(error.find("source: became shorter"), std::string::npos) << error;
    EXPECT_FALSE(writer.AddFile(SourceOf("a.txt", "source", 4), error));
    EXPECT_NE(error.find("source: grew"), std::string::npos) << error;
    EXPECT_FALSE(writer.AddFile(SourceOf("a.txt", "missing", 4), error));
    EXPECT_NE(error.find("missing: cannot be opened"), std::string::npos) << error;
    // A slice may end before its source does, but not after.
    EXPECT_TRUE(writer.AddFile(SourceOf("b.pak", "source", 3, 1), error)) << error;
    EXPECT_FALSE(writer.AddFile(SourceOf("c.pak", "source", 3, 3), error));
    EXPECT_NE(error.find("source: became shorter"), std::string::npos) << error;
}

TEST_F(ZipWriterTest, PacksASliceOfALongerFile) {
    const std::string body = testsupport::PatternedData(2500000);
    ASSERT_TRUE(pktest::PutFile("source", "HEAD" + body + "TAIL"));
    FileHandle file = OpenFile("archive.zip", "wb");
    ZipWriter writer(file.get(), 0, 6, 2);
    std::string error;
    ASSERT_TRUE(writer.AddFile(SourceOf("res.pak", "source", body.size(), 4), error)) << error;
    ASSERT_TRUE(writer.Finish(error)) << error;
    ASSERT_TRUE(CloseWrittenFile(file));
    m_archive = testsupport::ReadBinaryFile("archive.zip");
    const auto entries = ReadBack();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].size, body.size());
    EXPECT_EQ(entries[0].crc, CrcOf(body));
    EXPECT_EQ(entries[0].dataProblem, "");
}

// Each block but the last ends on a byte boundary with an empty stored block; damage right after
// the first one must be found, and only in its entry.
TEST_F(ZipWriterTest, VerifyingFindsADamagedBlockOfALargeEntry) {
    const std::string large = testsupport::PatternedData(3000000);
    Write({{"a.txt", "before"}, {"res.pak", large}, {"z.txt", "after"}}, 6);
    const std::size_t data = testsupport::LocalHeaderOffset(m_archive, 1) + 30 + 7;
    const std::size_t boundary = m_archive.find(std::string("\0\0\xFF\xFF", 4), data);
    ASSERT_NE(boundary, std::string::npos);
    ASSERT_LT(boundary, testsupport::LocalHeaderOffset(m_archive, 2));
    for (std::size_t at = boundary + 100; at < boundary + 110; ++at) {
        m_archive[at] = static_cast<char>(m_archive[at] ^ 0x5A);
    }
    ASSERT_TRUE(testsupport::WriteBinaryFile("archive.zip", m_archive));

    const auto entries = ReadBack();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].dataProblem, "");
    EXPECT_EQ(entries[1].storedName, "res.pak");
    EXPECT_NE(entries[1].dataProblem, "");
    EXPECT_EQ(entries[2].dataProblem, "");
}

} // namespace

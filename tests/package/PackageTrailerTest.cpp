#include "package/PackageTrailer.h"

#include "platform/FileSystem.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

namespace {

TEST(PackageTrailerTest, ReferenceTrailerBytes) {
    const unsigned char bytes[kPackageTrailerSize] = {0x00, 0x1C, 0x08, 0x00,
                                                      0x73, 0x0C, 0x00, 0x00};
    const PackageTrailer trailer = DecodePackageTrailer(bytes);
    EXPECT_EQ(trailer.archiveOffset, 531456u);
    EXPECT_EQ(trailer.packageVersion, 3187u);
    unsigned char encoded[kPackageTrailerSize];
    EncodePackageTrailer(PackageTrailer{0xA1B2C3D4, 0x01020304}, encoded);
    const unsigned char expected[] = {0xD4, 0xC3, 0xB2, 0xA1, 0x04, 0x03, 0x02, 0x01};
    EXPECT_TRUE(std::equal(std::begin(encoded), std::end(encoded), std::begin(expected)));
}

class ReadPackageTrailerTest : public ::testing::Test {
protected:
    bool Read(const std::string& bytes, PackageTrailer& trailer, std::int64_t& archiveLength) {
        EXPECT_TRUE(testsupport::WriteBinaryFile("package.exe", bytes));
        file = OpenFile("package.exe", "rb");
        return ReadPackageTrailer(file.get(), trailer, archiveLength);
    }

    testsupport::ScratchGameDirectory directory;
    FileHandle file;
};

TEST_F(ReadPackageTrailerTest, LeavesTheStreamAtTheArchive) {
    PackageTrailer trailer;
    std::int64_t archiveLength = 0;
    ASSERT_TRUE(Read(testsupport::BuildPackage("ARCHIVE", 3187, "STUB"), trailer, archiveLength));
    EXPECT_EQ(trailer.archiveOffset, 4u);
    EXPECT_EQ(trailer.packageVersion, 3187u);
    EXPECT_EQ(archiveLength, 7);
    char first[7];
    ASSERT_EQ(std::fread(first, 1, 7, file.get()), 7u);
    EXPECT_EQ(std::string(first, 7), "ARCHIVE");

    // An archive of no bytes still lies within the file.
    ASSERT_TRUE(Read(testsupport::BuildPackage("", 1, "STUB"), trailer, archiveLength));
    EXPECT_EQ(archiveLength, 0);
}

TEST_F(ReadPackageTrailerTest, RefusesShortFilesAndOffsetsBeyondTheArchive) {
    PackageTrailer trailer{11, 22};
    std::int64_t archiveLength = -5;
    EXPECT_FALSE(Read("", trailer, archiveLength));
    EXPECT_FALSE(Read("1234567", trailer, archiveLength));
    std::string beyond = testsupport::BuildPackage("", 1, "STUB");
    testsupport::PutLittleEndian32(beyond, 4, 5);
    EXPECT_FALSE(Read(beyond, trailer, archiveLength));
    EXPECT_EQ(trailer.archiveOffset, 11u);
    EXPECT_EQ(archiveLength, -5);
}

} // namespace

#include "inspect/InspectPackage.h"
#include "inspect/ReportPrinter.h"
#include "pktest/PatchkitTestFiles.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

namespace {

using testsupport::Storage;
using testsupport::ZipEntry;

// 说明 in code page 936.
const std::string kShuoMing = "\xcb\xb5\xc3\xf7";

class InspectPackageTest : public ::testing::Test {
protected:
    PackageReport InspectBytes(const std::string& packageBytes, bool verify = false) {
        EXPECT_TRUE(testsupport::WriteBinaryFile("package.exe", packageBytes));
        return InspectPackage("package.exe", verify);
    }
    PackageReport Inspect(const std::string& archive, bool verify = false,
                          std::uint32_t version = 3187) {
        return InspectBytes(testsupport::BuildPackage(archive, version, pktest::MinimalPeImage()),
                            verify);
    }

    // "severity code@entry" for every finding, in order.
    static std::vector<std::string> Findings(const PackageReport& report) {
        std::vector<std::string> found;
        for (const Finding& finding : report.findings) {
            found.push_back(std::string(SeverityName(finding.severity)) + " " + finding.code + "@" +
                            std::to_string(finding.entry));
        }
        return found;
    }

    testsupport::ScratchGameDirectory m_folder;
};

TEST_F(InspectPackageTest, DescribesTrailerAndEveryEntryInOrder) {
    const std::string archive = testsupport::BuildZipArchive({
        {"Data/", "", Storage::Stored},
        {"Data/" + kShuoMing + ".TXT", "hello", Storage::Stored},
        {"res.pak", testsupport::PatternedData(10000), Storage::Deflated},
    });
    const PackageReport report = Inspect(archive, true);

    EXPECT_TRUE(report.trailerRead);
    EXPECT_EQ(report.trailer.archiveOffset, 0x400u);
    EXPECT_EQ(report.trailer.packageVersion, 3187u);
    EXPECT_EQ(report.archiveLength, static_cast<std::int64_t>(archive.size()));
    ASSERT_EQ(report.entries.size(), 3u);
    EXPECT_EQ(report.entries[0].kind, EntryKind::Directory);
    EXPECT_EQ(report.entries[1].kind, EntryKind::File);
    EXPECT_EQ(report.entries[2].kind, EntryKind::Pak);
    EXPECT_EQ(report.entries[1].storedName, "Data/说明.TXT");
    EXPECT_EQ(report.entries[1].writtenPath, "data/说明.txt");
    EXPECT_EQ(report.entries[1].archived.crc, 0x3610a686u);
    EXPECT_EQ(report.entries[2].archived.method, 8u);
    EXPECT_EQ(report.entries[2].archived.size, 10000u);
    EXPECT_TRUE(report.AppliesCleanly());
    EXPECT_EQ(Findings(report),
              (std::vector<std::string>{"note lower-cased@1", "note lower-cased@2"}));

    const std::string text = ReportAsText(report);
    EXPECT_NE(text.find("version 3187 (31.87), applies to local version 3186 (31.86)"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("written as data/说明.txt"), std::string::npos) << text;
    EXPECT_NE(text.find("would apply this package cleanly"), std::string::npos) << text;
    const std::string json = ReportAsJson(report);
    EXPECT_NE(json.find("\"storedName\": \"Data/说明.TXT\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"appliesCleanly\": true"), std::string::npos) << json;
}

TEST_F(InspectPackageTest, FindsABadTrailer) {
    EXPECT_EQ(Findings(InspectBytes("short")), (std::vector<std::string>{"error bad-trailer@0"}));

    std::string beyond =
        testsupport::BuildPackage(testsupport::BuildZipArchive({}), 3187, pktest::MinimalPeImage());
    testsupport::PutLittleEndian32(beyond, beyond.size() - 8,
                                   static_cast<std::uint32_t>(beyond.size()));
    const PackageReport report = InspectBytes(beyond);
    EXPECT_EQ(Findings(report), (std::vector<std::string>{"error bad-trailer@0"}));
    EXPECT_FALSE(report.AppliesCleanly());

    EXPECT_EQ(Findings(Inspect(testsupport::BuildZipArchive({{"a.txt", "a"}}), false, 0)),
              (std::vector<std::string>{"error bad-trailer@0"}));
}

TEST_F(InspectPackageTest, FindsAnImageThatIsNoProgram) {
    const std::string archive = testsupport::BuildZipArchive({{"a.txt", "a"}});
    EXPECT_EQ(Findings(InspectBytes(testsupport::BuildPackage(archive, 3187))),
              (std::vector<std::string>{"error not-a-program@0"}));
}

TEST_F(InspectPackageTest, FindsADamagedArchive) {
    EXPECT_EQ(Findings(Inspect("")), (std::vector<std::string>{"error damaged-archive@0"}));
    // The updater's reader cannot open an archive that is nothing but its end record.
    EXPECT_EQ(Findings(Inspect(testsupport::BuildZipArchive({}))),
              (std::vector<std::string>{"error damaged-archive@0"}));
    EXPECT_EQ(Findings(Inspect(std::string(300, 'x'))),
              (std::vector<std::string>{"error damaged-archive@0"}));

    std::string archive = testsupport::BuildZipArchive({{"a.txt", "a"}, {"b.txt", "b"}});
    testsupport::PutLittleEndian32(archive, testsupport::CentralHeaderOffset(archive, 1), 0);
    const PackageReport report = Inspect(archive);
    EXPECT_EQ(report.entries.size(), 1u);
    EXPECT_EQ(Findings(report), (std::vector<std::string>{"error damaged-archive@0"}));
}

TEST_F(InspectPackageTest, VerifyFindsDataThatDoesNotMatchItsCrc) {
    std::string archive = testsupport::BuildZipArchive(
        {{"a.txt", testsupport::PatternedData(5000)}, {"b.txt", "b", Storage::Stored}});
    testsupport::SetEntryCrc(archive, 1, 0x12345678);
    EXPECT_TRUE(Inspect(archive, false).AppliesCleanly());
    EXPECT_EQ(Findings(Inspect(archive, true)), (std::vector<std::string>{"error bad-data@2"}));
}

TEST_F(InspectPackageTest, FindsEntriesTheUpdaterWouldRefuseOrMisplace) {
    const std::string archive = testsupport::BuildZipArchive({
        {"../evil.txt", "x"},
        {"\x81\x41.txt", "x"},
        {"\xff\xfe.txt", "x"},
        {"what?.txt", "x"},
        {"a.pak", "x"},
        {"B.PAK", "x"},
        {"A.TXT", "x"},
        {"a.txt", "x"},
        {"sub/c.txt", "x"},
    });
    const PackageReport report = Inspect(archive);
    EXPECT_EQ(Findings(report), (std::vector<std::string>{
                                    "error unsafe-name@1",
                                    "error renamed-by-lower-casing@2",
                                    "error name-not-cp936@3",
                                    "error name-forbidden-on-windows@4",
                                    "note lower-cased@6",
                                    "error several-paks@6",
                                    "note lower-cased@7",
                                    "error duplicate-path@8",
                                    "warning missing-directory@9",
                                }));
    EXPECT_FALSE(report.AppliesCleanly());
    EXPECT_EQ(report.entries[2].storedName, "\\xFF\\xFE.txt");
}

TEST_F(InspectPackageTest, AMissingFolderIsOnlyAWarning) {
    const PackageReport report = Inspect(testsupport::BuildZipArchive({{"sub/c.txt", "x"}}));
    EXPECT_EQ(Findings(report), (std::vector<std::string>{"warning missing-directory@1"}));
    EXPECT_TRUE(report.AppliesCleanly());
}

TEST_F(InspectPackageTest, FindsMethodsTheUpdaterCannotRead) {
    std::string archive = testsupport::BuildZipArchive({{"a.txt", "a"}, {"b.txt", "b"}});
    auto setField16 = [&archive](std::size_t offset, std::uint16_t value) {
        archive[offset] = static_cast<char>(value & 0xFF);
        archive[offset + 1] = static_cast<char>(value >> 8);
    };
    setField16(testsupport::LocalHeaderOffset(archive, 0) + 8, 12); // bzip2
    setField16(testsupport::CentralHeaderOffset(archive, 0) + 10, 12);
    setField16(testsupport::LocalHeaderOffset(archive, 1) + 6, 1); // encrypted
    setField16(testsupport::CentralHeaderOffset(archive, 1) + 8, 1);
    EXPECT_EQ(Findings(Inspect(archive, true)),
              (std::vector<std::string>{"error unsupported-method@1", "error encrypted@2"}));
}

} // namespace

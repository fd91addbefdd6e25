#include "signing/SealPackage.h"
#include "build/BuildPackage.h"
#include "inspect/InspectPackage.h"
#include "pktest/PatchkitTestFiles.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

using namespace pktest;
using testsupport::GetLittleEndian32;
using testsupport::ReadBinaryFile;

constexpr std::size_t kChecksumField = 0x40 + 24 + 64;
constexpr std::size_t kSecurityEntry = 0x40 + 24 + 96 + 32;

bool HasFinding(const PackageReport& report, const std::string& code) {
    for (const Finding& finding : report.findings) {
        if (finding.code == code) {
            return true;
        }
    }
    return false;
}

class SealPackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_archive = testsupport::BuildZipArchive(
            {{"res.pak", testsupport::PatternedData(5000)}, {"readme.txt", "hello"}});
        m_package = testsupport::BuildPackage(m_archive, 3187, pktest::MinimalPeImage());
    }

    bool Seal(const std::string& bytes) {
        m_error.clear();
        return PutFile("p.exe", bytes) && SealPackage("p.exe", m_result, m_error);
    }

    // A refusal says why and leaves the package as it was, with no temporary file beside it.
    void ExpectRefusal(const std::string& bytes, const std::string& says) {
        EXPECT_FALSE(Seal(bytes));
        EXPECT_NE(m_error.find(says), std::string::npos) << m_error;
        EXPECT_TRUE(ReadBinaryFile("p.exe") == bytes);
        EXPECT_FALSE(fs::exists("p.exe.partial"));
    }

    testsupport::ScratchGameDirectory m_folder;
    std::string m_archive;
    std::string m_package;
    SealResult m_result;
    std::string m_error;
};

TEST_F(SealPackageTest, SealedPackageKeepsTheSignedBytesAndEndsWithTheTrailer) {
    for (const bool earlierAttribute : {false, true}) {
        SCOPED_TRACE(earlierAttribute);
        const std::string signedPackage = pktest::AttachSignature(
            m_package, pktest::ShapedSignature(std::string(300, 'c'), earlierAttribute));
        const std::size_t tableOffset = GetLittleEndian32(signedPackage, kSecurityEntry);
        ASSERT_TRUE(Seal(signedPackage)) << m_error;
        EXPECT_EQ(m_result.trailer.packageVersion, 3187u);

        std::string sealed = ReadBinaryFile("p.exe");
        const std::size_t tableSize = sealed.size() - tableOffset;
        EXPECT_EQ(sealed.substr(sealed.size() - 8), m_package.substr(m_package.size() - 8));
        EXPECT_EQ(tableSize % 8, 0u);
        EXPECT_EQ(GetLittleEndian32(sealed, kSecurityEntry + 4), tableSize);
        EXPECT_EQ(GetLittleEndian32(sealed, tableOffset), tableSize); // no padding after the DER
        // Outside the checksum and the table's size nothing ahead of the table changed.
        EXPECT_NE(GetLittleEndian32(sealed, kChecksumField), 0u);
        testsupport::PutLittleEndian32(sealed, kChecksumField, 0);
        testsupport::PutLittleEndian32(sealed, kSecurityEntry + 4,
                                       GetLittleEndian32(signedPackage, kSecurityEntry + 4));
        EXPECT_TRUE(sealed.compare(0, tableOffset, signedPackage, 0, tableOffset) == 0);

        // The updater's ZIP reader finds the archive behind which the table now lies.
        const PackageReport report = InspectPackage("p.exe", true);
        EXPECT_TRUE(report.signature.sealed);
        EXPECT_EQ(report.archiveLength,
                  static_cast<std::int64_t>(sealed.size() - m_package.size() + m_archive.size()));
        EXPECT_EQ(report.entries.size(), 2u);
        EXPECT_FALSE(HasFinding(report, "damaged-archive"));
        EXPECT_FALSE(HasFinding(report, "not-sealed"));

        const std::string once = ReadBinaryFile("p.exe");
        ExpectRefusal(once, "is already sealed");
    }
}

TEST_F(SealPackageTest, RefusesWhatItCannotSealAndWritesNothing) {
    const std::string signature = pktest::ShapedSignature("certificates");
    const std::string signedPackage = pktest::AttachSignature(m_package, signature);
    std::string twoEntries = signedPackage + std::string("\x10\0\0\0\0\x02\x02\0cert0000", 16);
    testsupport::PutLittleEndian32(twoEntries, kSecurityEntry + 4,
                                   GetLittleEndian32(signedPackage, kSecurityEntry + 4) + 16);
    std::string indefinite = signature;
    indefinite[1] = '\x80';
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"not a program", "is not a Windows program"},
        {m_package, "is not signed"},
        {signedPackage + "after", "data follows the certificate table"},
        {twoEntries, "holds 2 entries"},
        {pktest::AttachSignature(m_package, indefinite), "not DER"},
        {pktest::AttachSignature(m_package, pktest::ShapedSignature("PK\5\6")),
         "holds the bytes of a ZIP end record signature"},
        {pktest::AttachSignature(m_package, pktest::ShapedSignature(std::string(70000, 'c'))),
         "is too large"},
        {pktest::AttachSignature(pktest::MinimalPeImage(), signature), "no package trailer"},
    };
    for (const auto& [bytes, says] : cases) {
        SCOPED_TRACE(says);
        ExpectRefusal(bytes, says);
    }
}

// minizip finds the end record only within the last 64 KiB of what it reads: the largest table
// that seal accepts still lets the archive be read, and a few bytes more are refused.
TEST_F(SealPackageTest, TheLargestTableAcceptedStillLetsTheArchiveBeRead) {
    std::size_t filler = 65600;
    std::string signedPackage;
    for (; filler > 65000; --filler) {
        signedPackage =
            pktest::AttachSignature(m_package, pktest::ShapedSignature(std::string(filler, 'c')));
        if (Seal(signedPackage)) {
            break;
        }
        EXPECT_NE(m_error.find("is too large"), std::string::npos) << m_error;
    }
    ASSERT_GT(filler, 65000u);
    ASSERT_LT(filler, 65600u) << "no refusal above the largest accepted table";
    const PackageReport report = InspectPackage("p.exe", true);
    EXPECT_EQ(report.entries.size(), 2u);
    EXPECT_FALSE(HasFinding(report, "damaged-archive"));
}

// Damaged headers, tables and signatures: every outcome is a refusal or a sealed package that
// still ends with its trailer, never a crash or a read past the data.
TEST_F(SealPackageTest, DamagedSignedFilesAreHandledWithoutCrashing) {
    const std::string signedPackage =
        pktest::AttachSignature(m_package, pktest::ShapedSignature("certs", true));
    const std::size_t tableOffset = GetLittleEndian32(signedPackage, kSecurityEntry);
    std::vector<std::string> damaged;
    for (std::size_t length = tableOffset - 16; length < signedPackage.size(); ++length) {
        damaged.push_back(signedPackage.substr(0, length));
    }
    for (std::size_t at = tableOffset; at < signedPackage.size(); ++at) {
        for (const char value : {'\0', '\x7F', '\x80', '\x84', '\xFF'}) {
            std::string bytes = signedPackage;
            bytes[at] = value;
            damaged.push_back(bytes);
        }
    }
    for (const std::uint32_t value : {0u, 8u, 0x7FFFFFFFu, 0xFFFFFFF8u}) {
        for (const std::size_t field : {kSecurityEntry, kSecurityEntry + 4}) {
            std::string bytes = signedPackage;
            testsupport::PutLittleEndian32(bytes, field, value);
            damaged.push_back(bytes);
        }
    }
    for (const std::string& bytes : damaged) {
        if (Seal(bytes)) {
            const std::string sealed = ReadBinaryFile("p.exe");
            EXPECT_EQ(sealed.substr(sealed.size() - 8), m_package.substr(m_package.size() - 8));
        } else {
            EXPECT_FALSE(m_error.empty());
        }
        EXPECT_EQ(InspectPackage("p.exe", true).package, "p.exe"); // reported, whatever it holds
        EXPECT_FALSE(fs::exists("p.exe.partial"));
    }
}

// A signature cannot survive appending: build leaves it out and says so, whether the stub is a
// signed program or a signed (sealed or not) package being replaced.
TEST_F(SealPackageTest, BuildLeavesTheStubsSignatureOut) {
    ASSERT_TRUE(PutFile("source/readme.txt", "hello"));
    BuildRequest request;
    request.version = 3188;
    request.fromFolder = "source";
    request.output = "plain.exe";
    request.stub = "stub.exe";
    std::vector<Finding> remarks;
    std::string error;
    ASSERT_TRUE(PutFile("stub.exe", pktest::MinimalPeImage()));
    ASSERT_TRUE(BuildPackage(request, remarks, error)) << error;
    const std::string plain = ReadBinaryFile("plain.exe");

    const std::string signedPackage =
        pktest::AttachSignature(m_package, pktest::ShapedSignature("certs"));
    ASSERT_TRUE(Seal(signedPackage)) << m_error;
    const std::vector<std::string> stubs = {
        pktest::AttachSignature(pktest::MinimalPeImage(), pktest::ShapedSignature("certs")),
        signedPackage, ReadBinaryFile("p.exe")};
    for (const std::string& stub : stubs) {
        ASSERT_TRUE(PutFile("stub.exe", stub));
        request.output = "out.exe";
        request.replace = stub.size() > pktest::MinimalPeImage().size() + 1000;
        remarks.clear();
        ASSERT_TRUE(BuildPackage(request, remarks, error)) << error;
        ASSERT_EQ(remarks.size(), 1u);
        EXPECT_EQ(remarks[0].code, "signature-removed");
        // The checksum, stale in every built package, is the stub's own.
        std::string built = ReadBinaryFile("out.exe");
        testsupport::PutLittleEndian32(built, kChecksumField, 0);
        EXPECT_TRUE(built == plain);
        EXPECT_FALSE(InspectPackage("out.exe", false).signature.present);
    }
}

} // namespace

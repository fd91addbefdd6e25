#include "build/BuildPackage.h"
#include "inspect/InspectPackage.h"
#include "pktest/PatchkitTestFiles.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <chrono>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using namespace pktest;

class BuildPackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(PutFile("stub.exe", pktest::MinimalPeImage()));
        ASSERT_TRUE(PutFile(Utf8Path("source/Data/说明.txt"), "hello"));
        ASSERT_TRUE(PutFile("source/Data/empty.txt", ""));
        ASSERT_TRUE(PutFile("source/res.pak", testsupport::NoiseData(70000)));
        m_request.stub = "stub.exe";
        m_request.version = 3187;
        m_request.fromFolder = "source";
        m_request.output = "out.exe";
    }

    bool Build() {
        m_remarks.clear();
        m_error.clear();
        return BuildPackage(m_request, m_remarks, m_error);
    }

    // A refusal names the file at fault and leaves nothing behind.
    void ExpectRefusal(const std::string& named) {
        EXPECT_FALSE(Build());
        EXPECT_NE(m_error.find(named), std::string::npos) << m_error;
        EXPECT_FALSE(fs::exists("out.exe"));
        EXPECT_FALSE(fs::exists("out.exe.partial"));
    }

    PackageReport InspectOutput() { return InspectPackage("out.exe", true); }

    testsupport::ScratchGameDirectory m_folder;
    BuildRequest m_request;
    std::vector<Finding> m_remarks;
    std::string m_error;
};

TEST_F(BuildPackageTest, PacksTheFolderSortedWithFoldersAheadOfTheirContents) {
    ASSERT_TRUE(PutFile("source/Data-2.txt", "after Data/ in name order, before Data's files"));
    ASSERT_TRUE(fs::create_directory("source/empty"));
    ASSERT_TRUE(Build()) << m_error;

    const PackageReport report = InspectOutput();
    std::vector<std::string> names;
    for (const EntryReport& entry : report.entries) {
        names.push_back(entry.storedName);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Data-2.txt", "Data/", "Data/empty.txt",
                                               "Data/说明.txt", "empty/", "res.pak"}));
    EXPECT_TRUE(report.AppliesCleanly());
    EXPECT_EQ(report.trailer.archiveOffset, pktest::MinimalPeImage().size());
    EXPECT_EQ(report.trailer.packageVersion, 3187u);
    // Upper-case letters are only reported.
    EXPECT_EQ(m_remarks.size(), 4u);
    EXPECT_EQ(m_remarks[1].text, "source/Data: written as data/");

    // The stub's image comes first, unchanged, and the archive ends right before the trailer,
    // also when the last entry fell back to stored over longer deflated bytes.
    const std::string package = testsupport::ReadBinaryFile("out.exe");
    EXPECT_EQ(package.substr(0, 0x400), pktest::MinimalPeImage());
    const std::string archive = package.substr(0x400, package.size() - 0x400 - 8);
    EXPECT_EQ(testsupport::EndOfCentralDirectoryOffset(archive), archive.size() - 22);
    EXPECT_EQ(report.entries.back().archived.method, 0u);
}

TEST_F(BuildPackageTest, SameInputGivesTheSameBytes) {
    ASSERT_TRUE(Build()) << m_error;
    const std::string first = testsupport::ReadBinaryFile("out.exe");
    std::error_code failure; // a new timestamp changes nothing
    fs::last_write_time("source/res.pak", fs::file_time_type::clock::now() - std::chrono::hours(5),
                        failure);
    ASSERT_FALSE(failure);
    ASSERT_TRUE(Build()) << m_error;
    EXPECT_EQ(testsupport::ReadBinaryFile("out.exe"), first);
}

TEST_F(BuildPackageTest, RefusesNamesTheUpdaterCannotWriteAsGiven) {
    {
        ASSERT_TRUE(PutFile(Utf8Path("source/smile😀.txt"), "x"));
        ExpectRefusal("smile😀.txt: the name cannot be represented in code page 936");
        fs::remove(Utf8Path("source/smile😀.txt"));
    }
    {
        ASSERT_TRUE(PutFile(Utf8Path("source/Data/丄.txt"), "x")); // second byte 'A'
        ExpectRefusal("丄.txt: a Chinese character's second byte is an upper-case letter");
        fs::remove(Utf8Path("source/Data/丄.txt"));
    }
    {
        ASSERT_TRUE(PutFile("source/c:x.txt", "x"));
        ExpectRefusal("c:x.txt: the name could reach outside the game folder");
        fs::remove("source/c:x.txt");
    }
    {
        ASSERT_TRUE(PutFile("source/what?.txt", "x"));
        ExpectRefusal("what?.txt: the name holds a character Windows does not allow");
        fs::remove("source/what?.txt");
    }
    {
        ASSERT_TRUE(PutFile("source/a\\b.txt", "x"));
        ExpectRefusal("a\\b.txt: the name holds a backslash");
        fs::remove("source/a\\b.txt");
    }
    {
        ASSERT_TRUE(PutFile("source/Data/EMPTY.TXT", "x"));
        ExpectRefusal("empty.txt: it writes the same file as entry");
        fs::remove("source/Data/EMPTY.TXT");
    }
    {
        ASSERT_TRUE(PutFile("source/second.PAK", "x"));
        ExpectRefusal("second.PAK: a second pak entry");
        fs::remove("source/second.PAK");
    }
    EXPECT_TRUE(Build()) << m_error;
}

TEST_F(BuildPackageTest, RefusesAnEmptyFolder) {
    ASSERT_TRUE(fs::create_directory("nothing"));
    m_request.fromFolder = "nothing";
    ExpectRefusal("nothing: the folder is empty");
}

TEST_F(BuildPackageTest, RefusesLinksAndSpecialFiles) {
    fs::create_symlink("res.pak", "source/link.pak");
    ExpectRefusal("source/link.pak: is a link");
    fs::remove("source/link.pak");
    ASSERT_EQ(mkfifo("source/pipe", 0600), 0);
    ExpectRefusal("source/pipe: is a special file");
}

TEST_F(BuildPackageTest, RefusesBadStubsAndVersions) {
    m_request.version = 0;
    ExpectRefusal("version 0");
    m_request.version = 3187;

    ASSERT_TRUE(PutFile("text.exe", std::string(2000, 'M')));
    m_request.stub = "text.exe";
    ExpectRefusal("text.exe: is not a Windows program");

    std::string truncated = pktest::MinimalPeImage().substr(0, 0x300); // section cut short
    ASSERT_TRUE(PutFile("truncated.exe", truncated));
    m_request.stub = "truncated.exe";
    ExpectRefusal("truncated.exe: is not a Windows program");
}

TEST_F(BuildPackageTest, RefusesToWriteOverItsInputs) {
    m_request.output = "stub.exe";
    EXPECT_FALSE(Build());
    EXPECT_NE(m_error.find("would overwrite the stub"), std::string::npos) << m_error;
    EXPECT_EQ(testsupport::ReadBinaryFile("stub.exe"), pktest::MinimalPeImage());

    m_request.output = "source/Data/out.exe";
    EXPECT_FALSE(Build());
    EXPECT_NE(m_error.find("into the folder being packed"), std::string::npos) << m_error;
    EXPECT_FALSE(fs::exists("source/Data/out.exe"));

    ASSERT_TRUE(PutFile("in.zip", testsupport::BuildZipArchive({{"a.txt", "a"}})));
    m_request.fromFolder.clear();
    m_request.fromArchive = "in.zip";
    m_request.output = "./in.zip";
    EXPECT_FALSE(Build());
    EXPECT_NE(m_error.find("would overwrite the archive"), std::string::npos) << m_error;
}

TEST_F(BuildPackageTest, AStubThatCarriesAPackageNeedsReplace) {
    ASSERT_TRUE(Build()) << m_error;
    fs::rename("out.exe", "carrier.exe");
    m_request.stub = "carrier.exe";
    m_request.version = 3188;
    ExpectRefusal("carrier.exe: already carries a package (version 3187); pass --replace");

    m_request.replace = true;
    ASSERT_TRUE(Build()) << m_error;
    const PackageReport report = InspectOutput();
    EXPECT_EQ(report.trailer.archiveOffset, pktest::MinimalPeImage().size());
    EXPECT_EQ(report.trailer.packageVersion, 3188u);
    EXPECT_TRUE(report.AppliesCleanly());
    const std::string package = testsupport::ReadBinaryFile("out.exe");
    EXPECT_EQ(package.substr(0, 0x400), pktest::MinimalPeImage());
    EXPECT_EQ(package.size(), testsupport::ReadBinaryFile("carrier.exe").size());
}

TEST_F(BuildPackageTest, CopiesACheckedArchiveByteForByte) {
    const std::string archive = testsupport::BuildZipArchive(
        {{"data/", ""}, {"data/a.txt", testsupport::PatternedData(3000)}, {"sub/b.txt", "b"}});
    ASSERT_TRUE(PutFile("in.zip", archive));
    m_request.fromFolder.clear();
    m_request.fromArchive = "in.zip";
    ASSERT_TRUE(Build()) << m_error;
    const std::string package = testsupport::ReadBinaryFile("out.exe");
    EXPECT_EQ(package.substr(0x400, package.size() - 0x400 - 8), archive);
    ASSERT_EQ(m_remarks.size(), 1u);
    EXPECT_EQ(m_remarks[0].severity, Severity::Warning);
    EXPECT_NE(m_remarks[0].text.find("in.zip, entry 3 (sub/b.txt): no earlier entry creates"),
              std::string::npos)
        << m_remarks[0].text;

    std::string damaged = archive;
    testsupport::SetEntryCrc(damaged, 1, 0);
    ASSERT_TRUE(PutFile("in.zip", damaged));
    fs::remove("out.exe");
    ExpectRefusal("in.zip, entry 2 (data/a.txt): its data does not match its CRC");

    ASSERT_TRUE(PutFile("in.zip", testsupport::BuildZipArchive({{"a.pak", "a"}, {"b.pak", "b"}})));
    ExpectRefusal("in.zip, entry 2 (b.pak): a second pak entry");

    ASSERT_TRUE(PutFile("in.zip", "not an archive"));
    ExpectRefusal("in.zip: the updater's ZIP reader cannot open it");
}

TEST_F(BuildPackageTest, RefusesAnArchiveEntryMarkedAsALinkAsItRefusesALinkInTheFolder) {
    std::string archive = testsupport::BuildZipArchive({{"a.txt", "a"}, {"b.txt", "a.txt"}});
    const std::size_t header = testsupport::CentralHeaderOffset(archive, 1);
    archive[header + 5] = 3; // made on Unix
    testsupport::PutLittleEndian32(archive, header + 38, 0120777u << 16);
    ASSERT_TRUE(PutFile("in.zip", archive));
    m_request.fromFolder.clear();
    m_request.fromArchive = "in.zip";
    ExpectRefusal("in.zip, entry 2 (b.txt): the archive marks it as a link");

    // The same mode from a host whose attributes mean something else is no link.
    archive[header + 5] = 0;
    ASSERT_TRUE(PutFile("in.zip", archive));
    EXPECT_TRUE(Build()) << m_error;
}

TEST_F(BuildPackageTest, AFailedWriteLeavesTheOldOutputAlone) {
    ASSERT_TRUE(PutFile("out.exe", "the previous package"));
    const std::atomic<bool> stop{true};
    m_request.stop = &stop;
    EXPECT_FALSE(Build());
    EXPECT_EQ(m_error, "interrupted");
    EXPECT_FALSE(fs::exists("out.exe.partial"));
    EXPECT_EQ(testsupport::ReadBinaryFile("out.exe"), "the previous package");

    m_request.stop = nullptr;
    ASSERT_TRUE(fs::create_directory("out.exe.partial")); // the temporary file cannot be made
    EXPECT_FALSE(Build());
    EXPECT_EQ(testsupport::ReadBinaryFile("out.exe"), "the previous package");
}

} // namespace

// The game folder on a small tmpfs: the temporary archive, a file entry or the pak entry cannot be
// written, or no file can be created at all.

#include "MountedGameTest.h"

using namespace testsupport;

namespace {

class DiskFullTest : public MountedGameTest {
protected:
    void MountSmallDisk(std::size_t bytes, std::size_t inodes) {
        Mount(ScopedMount::Tmpfs(m_game, bytes, inodes));
        WriteGameFile("version.ini", m_oldState);
    }

    // The run ends with the message, version.ini kept whole, nothing half-written beside it.
    void ExpectRunEndsWith(Message message) { ExpectRunEndsWith(message, m_oldState); }
    void ExpectRunEndsWith(Message message, const std::string& state) {
        EXPECT_EQ(Run(), 1);
        ExpectOnlyMessage(message, state);
        ExpectOnlyTheseInGameFolder({"version.ini", "res.pak", "patch", "big.bin"});
    }
};

TEST_F(DiskFullTest, TemporaryArchiveThatDoesNotFitGivesCannotCreateTemporaryArchive) {
    WritePackage({{"big.bin", testsupport::NoiseData(1024 * 1024, 1), Storage::Stored}});
    MountSmallDisk(256 * 1024, 64);

    ExpectRunEndsWith(Message::CannotCreateTemporaryArchive);
    EXPECT_FALSE(fs::exists(m_game / "patch" / "hvmanualpatch.zip"));
}

// The copy an earlier run left is replaced, so its space is room for the new one.
TEST_F(DiskFullTest, CopyLeftByAnEarlierRunCountsAsRoom) {
    const std::string data = testsupport::NoiseData(600 * 1024, 1);
    WritePackage({{"big.bin", data, Storage::Stored}});
    MountSmallDisk(2 * 1024 * 1024, 64);
    fs::create_directory(m_game / "patch");
    WriteGameFile("patch/hvmanualpatch.zip", std::string(1536 * 1024, 'x'));

    EXPECT_EQ(Run(), 0);
    EXPECT_TRUE(m_view.messages.empty());
    EXPECT_TRUE(ReadBinaryFile(m_game / "big.bin") == data);
}

TEST_F(DiskFullTest, NoInodeLeftForTheTemporaryArchiveGivesCannotCreateTemporaryArchive) {
    WritePackage({{"big.bin", "small"}});
    // The root, version.ini and the patch folder take every inode.
    MountSmallDisk(1024 * 1024, 3);

    ExpectRunEndsWith(Message::CannotCreateTemporaryArchive);
}

TEST_F(DiskFullTest, FileEntryThatDoesNotFitGivesWriteCameUpShort) {
    // Zeros deflate to almost nothing, so the temporary archive fits and the entry does not.
    WritePackage({{"big.bin", std::string(4 * 1024 * 1024, '\0')}});
    MountSmallDisk(1024 * 1024, 64);

    ExpectRunEndsWith(Message::WriteCameUpShort);
}

// The pak's end was recorded before the entry, so a rerun on a disk with room writes it there.
TEST_F(DiskFullTest, PakEntryThatDoesNotFitGivesWriteCameUpShort) {
    WritePackage({{"res.pak", std::string(4 * 1024 * 1024, '\0')}});
    MountSmallDisk(1024 * 1024, 64);
    WriteGameFile("res.pak", "original pak");

    ExpectRunEndsWith(Message::WriteCameUpShort, LocalStateText(kPackageVersion - 1, 12));
}

TEST_F(DiskFullTest, NoInodeLeftForAFileEntryGivesCannotWriteFile) {
    WritePackage({{"big.bin", "small"}});
    // The root, version.ini, the patch folder and the temporary archive take every inode.
    MountSmallDisk(1024 * 1024, 4);

    ExpectRunEndsWith(Message::CannotWriteFile);
    EXPECT_FALSE(fs::exists(m_game / "big.bin"));
}

} // namespace

// Targets that cannot be written even by root: files bound read-only onto themselves.

#include "MountedGameTest.h"

using namespace testsupport;

namespace {

class ReadOnlyTargetTest : public MountedGameTest {
protected:
    void SetUp() override {
        MountedGameTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        WritePackage({{"res.pak", PatternedData(3000, 1)},
                      {"data/", ""},
                      {"data/a.txt", PatternedData(2000, 2)}});
        WriteGameFile("version.ini", m_oldState);
        WriteGameFile("res.pak", "original pak");
        std::error_code error;
        fs::create_directories(m_game / "data", error);
        WriteGameFile("data/a.txt", "original file");
    }

    void MakeReadOnly(const std::string& name) { Mount(ScopedMount::ReadOnly(m_game / name)); }
};

TEST_F(ReadOnlyTargetTest, ReadOnlyFileEntryTargetGivesCannotWriteFile) {
    MakeReadOnly("data/a.txt");

    EXPECT_EQ(Run(), 1);
    ExpectOnlyMessage(Message::CannotWriteFile);
    EXPECT_EQ(ReadBinaryFile(m_game / "data/a.txt"), "original file");
}

TEST_F(ReadOnlyTargetTest, ReadOnlyPakGivesPakFileMissing) {
    MakeReadOnly("res.pak");

    EXPECT_EQ(Run(), 1);
    ExpectOnlyMessage(Message::PakFileMissing);
    EXPECT_EQ(ReadBinaryFile(m_game / "res.pak"), "original pak");
}

// With no offset recorded, the pak's end is recorded first: that fails before anything is written.
TEST_F(ReadOnlyTargetTest, ReadOnlyVersionIniGivesCannotReadLocalVersionBeforeThePakIsTouched) {
    MakeReadOnly("version.ini");

    EXPECT_EQ(Run(), 1);
    ExpectOnlyMessage(Message::CannotReadLocalVersion);
    EXPECT_EQ(ReadBinaryFile(m_game / "res.pak"), "original pak");
    EXPECT_EQ(ReadBinaryFile(m_game / "data/a.txt"), "original file");
    ExpectOnlyTheseInGameFolder({"version.ini", "res.pak", "data", "patch"});
}

TEST_F(ReadOnlyTargetTest, ReadOnlyVersionIniWithAnOffsetGivesCannotReadLocalVersionAtTheEnd) {
    const std::string recorded = LocalStateText(kPackageVersion - 1, 5);
    WriteGameFile("version.ini", recorded);
    MakeReadOnly("version.ini");

    EXPECT_EQ(Run(), 1);
    ExpectOnlyMessage(Message::CannotReadLocalVersion, recorded);
    // Everything before the record step was applied; only the state could not be recorded.
    EXPECT_EQ(ReadBinaryFile(m_game / "res.pak"), "origi" + PatternedData(3000, 1));
    EXPECT_EQ(ReadBinaryFile(m_game / "data/a.txt"), PatternedData(2000, 2));
    ExpectOnlyTheseInGameFolder({"version.ini", "res.pak", "data", "patch"});
}

} // namespace

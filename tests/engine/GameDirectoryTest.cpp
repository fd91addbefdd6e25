#include "GameDirectoryTest.h"

#include "engine/RunPatch.h"

void GameDirectoryTest::WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    ASSERT_TRUE(testsupport::WriteBinaryFile(path, bytes)) << path;
}

std::string GameDirectoryTest::ReadFile(const std::filesystem::path& path) const {
    return testsupport::ReadBinaryFile(path);
}

int GameDirectoryTest::Run(const std::string& package) {
    WriteFile(kPackageName, package);
    return RunPatch(view, kPackageName);
}

int GameDirectoryTest::RunArchive(const std::vector<testsupport::ZipEntry>& entries,
                                  std::uint32_t version) {
    const std::string archive = testsupport::BuildZipArchive(entries);
    EXPECT_FALSE(archive.empty());
    return Run(testsupport::BuildPackage(archive, version));
}

void GameDirectoryTest::ExpectStoppedWith(int result, const testsupport::RecordedMessage& message,
                                          const std::string& versionIniBefore) {
    EXPECT_EQ(result, 1);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0], message);
    EXPECT_EQ(view.finishEnabled, 0);
    EXPECT_EQ(VersionIni(), versionIniBefore);
}

void GameDirectoryTest::ExpectStoppedWith(int result, Message message,
                                          const std::string& versionIniBefore) {
    ExpectStoppedWith(result, testsupport::ExpectedMessage(message), versionIniBefore);
}

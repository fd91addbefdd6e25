#pragma once

#include "FaultScenario.h"
#include "Mounts.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

// A game folder whose files or whole folder the test replaces by mounts; skipped where this
// process cannot mount.
class MountedGameTest : public ::testing::Test {
protected:
    static constexpr std::uint32_t kPackageVersion = 501;

    void SetUp() override {
        if (!WhyMountsAreUnavailable().empty()) {
            GTEST_SKIP() << WhyMountsAreUnavailable();
        }
        std::error_code error;
        fs::create_directories(m_game, error);
        ASSERT_FALSE(error);
    }

    void TearDown() override { m_mounts.clear(); }

    void Mount(ScopedMount mount) {
        ASSERT_EQ(mount.Error(), "");
        m_mounts.push_back(std::move(mount));
    }

    void WritePackage(const std::vector<testsupport::ZipEntry>& entries) {
        const std::string archive = testsupport::BuildZipArchive(entries);
        ASSERT_FALSE(archive.empty());
        ASSERT_TRUE(testsupport::WriteBinaryFile(
            m_package, testsupport::BuildPackage(archive, kPackageVersion)));
    }

    void WriteGameFile(const std::string& name, const std::string& contents) {
        ASSERT_TRUE(testsupport::WriteBinaryFile(m_game / name, contents));
    }

    int Run() { return RunEngineIn(m_game, m_package, m_view); }

    // The run showed exactly this message, by its number (readable when it fails), did not
    // finish, and left version.ini as it was.
    void ExpectOnlyMessage(Message message) {
        ASSERT_EQ(m_view.messages.size(), 1u);
        EXPECT_EQ(MessageNumber(m_view.messages[0]), static_cast<int>(message));
        EXPECT_EQ(m_view.finishEnabled, 0);
        EXPECT_EQ(testsupport::ReadBinaryFile(m_game / "version.ini"), m_oldState);
    }

    // Nothing else at the top of the game folder, such as a temporary file a guarded write of
    // version.ini left behind.
    void ExpectOnlyTheseInGameFolder(const std::set<std::string>& allowed) {
        std::error_code error;
        for (fs::directory_iterator entry(m_game, error), end; !error && entry != end;
             entry.increment(error)) {
            const std::string name = entry->path().filename().string();
            EXPECT_EQ(allowed.count(name), 1u) << "left in the game folder: " << name;
        }
    }

    const std::string m_oldState = LocalStateText(kPackageVersion - 1, 0);
    testsupport::ScratchGameDirectory m_scratch;
    fs::path m_game = m_scratch.path() / "game";
    fs::path m_package = m_scratch.path() / "package.exe";
    testsupport::RecordingPatchView m_view;
    std::vector<ScopedMount> m_mounts;
};

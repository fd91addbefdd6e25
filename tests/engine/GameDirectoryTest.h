#pragma once

#include "support/PackageBuilder.h"
#include "support/RecordingPatchView.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

// A scratch game directory with version.ini, a package file beside it and a recording view.
class GameDirectoryTest : public ::testing::Test {
protected:
    static constexpr const char* kPackageName = "QRTManualPatch.exe";

    void WriteFile(const std::filesystem::path& path, const std::string& bytes);
    std::string ReadFile(const std::filesystem::path& path) const;
    void WriteVersionIni(const std::string& text) { WriteFile("version.ini", text); }
    std::string VersionIni() const { return ReadFile("version.ini"); }

    // Writes the package file and runs the whole update on it.
    int Run(const std::string& package);
    int RunArchive(const std::vector<testsupport::ZipEntry>& entries, std::uint32_t version);

    // The run ended with exactly this message, and version.ini is as it was before.
    void ExpectStoppedWith(int result, const testsupport::RecordedMessage& message,
                           const std::string& versionIniBefore);
    void ExpectStoppedWith(int result, Message message, const std::string& versionIniBefore);

    testsupport::ScratchGameDirectory game;
    testsupport::RecordingPatchView view;
};

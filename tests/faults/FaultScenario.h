#pragma once

#include "support/RecordingPatchView.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace fs = std::filesystem;

// Relative path -> contents ("<dir>" for a directory) of everything under a folder.
using FolderSnapshot = std::map<std::string, std::string>;
FolderSnapshot SnapshotFolder(const fs::path& folder);
// "" when equal, else one line per path that is missing, extra or different (never the contents,
// which can be megabytes).
std::string SnapshotDifferences(const FolderSnapshot& expected, const FolderSnapshot& actual);

// Runs the engine on the package with the game folder as the current directory, as the updater
// does, and returns to the previous current directory afterwards.
int RunEngineIn(const fs::path& game, const fs::path& package,
                testsupport::RecordingPatchView& view);

// The number (1 to 10) of the message table's text the view recorded, 0 when none matches.
int MessageNumber(const testsupport::RecordedMessage& shown);

// version.ini as the updater writes it.
std::string LocalStateText(std::uint32_t version, std::int64_t pakAppendOffset);

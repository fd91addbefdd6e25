#pragma once

#include "build/SourceFolder.h"

#include <cstdint>
#include <filesystem>
#include <string>

// Helpers for comparing game folders as a Windows disk sees them.

// The name under which the updater finds the entry on a Windows disk: its written path (lower
// case), without a folder's trailing "/".
std::string KeyOf(const SourceEntry& entry);

// The game folder's version.ini, in any case; the updater writes it itself.
bool IsLocalStateEntry(const SourceEntry& entry);

// A path beside output, never inside it, also when the output is a folder named "out/" or ".":
// output's name with suffix, and a number after it when an earlier run left that name behind.
std::filesystem::path UnusedPathBeside(const std::filesystem::path& output, const char* suffix);

// The host path under folder where the updater writes the entry.
[[nodiscard]] bool WrittenPathUnder(const std::filesystem::path& folder, const SourceEntry& entry,
                                    std::filesystem::path& path);

// Creates to (or truncates it) with size bytes of from, starting at offset. False, with a message
// naming the file, when from ends earlier or a read or write fails.
[[nodiscard]] bool CopyFileSlice(const std::filesystem::path& from, std::uint64_t offset,
                                 std::uint64_t size, const std::filesystem::path& to,
                                 std::string& error);

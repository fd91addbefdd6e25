#pragma once

#include "zip/SourceEntry.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Every folder and file under root, sorted by stored name byte by byte, which puts each folder
// ahead of everything inside it. False, with a message naming the file, for links, special files,
// names that have no code page 936 form and names that hold a backslash (a separator on Windows).
bool CollectSourceFolder(const std::filesystem::path& root, std::vector<SourceEntry>& entries,
                         std::string& error);

// Whether path lies inside folder or is the folder itself (neither need exist yet).
bool IsInsideFolder(const std::filesystem::path& path, const std::filesystem::path& folder);

#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// A file or folder to be packed.
struct SourceEntry {
    std::string storedName; // code page 936, "/" separators, a folder's name ends in "/"
    std::filesystem::path path;
    bool directory = false;
    std::uint64_t size = 0;
    std::uint64_t offset = 0; // a file's data starts here in path: a slice when not 0
};

// Every folder and file under root, sorted by stored name byte by byte, which puts each folder
// ahead of everything inside it. False, with a message naming the file, for links, special files,
// names that have no code page 936 form and names that hold a backslash (a separator on Windows).
bool CollectSourceFolder(const std::filesystem::path& root, std::vector<SourceEntry>& entries,
                         std::string& error);

// Whether path lies inside folder or is the folder itself (neither need exist yet).
bool IsInsideFolder(const std::filesystem::path& path, const std::filesystem::path& folder);

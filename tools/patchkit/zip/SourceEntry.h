#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// A file or folder to be packed.
struct SourceEntry {
    std::string storedName; // code page 936, "/" separators, a folder's name ends in "/"
    std::filesystem::path path;
    bool directory = false;
    std::uint64_t size = 0;
    std::uint64_t offset = 0; // a file's data starts here in path: a slice when not 0
};

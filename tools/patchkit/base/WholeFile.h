#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// Writes text to path complete or not at all: into PATH.partial, through to the disk, then renamed
// over path. False, with the reason naming the file, when it cannot be written; nothing is left.
[[nodiscard]] bool WriteOutputFile(const std::filesystem::path& path, const std::string& text,
                                   std::string& error);

// Reads a whole file of at most maximumSize bytes (a document patchkit reads back). False, with the
// reason naming the file, when it cannot be read or is larger.
[[nodiscard]] bool ReadInputFile(const std::filesystem::path& path, std::uintmax_t maximumSize,
                                 std::string& text, std::string& error);

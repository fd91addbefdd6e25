#pragma once

#include "platform/FileSystem.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

// Between FileSystem.cpp, ExclusiveFile's halves and the platform's half of the file API
// (FileSystemWin32.cpp or FileSystemPosix.cpp); nothing else includes it.

// How the host opens a file for one of the modes "rb", "r+b", "wb" and "w+b"; each platform file
// defines it.
struct OpenMode;

// nullptr for a mode the file API does not take.
[[nodiscard]] const OpenMode* FindOpenMode(const char* mode);
// For writing, creating and truncating nothing.
[[nodiscard]] const OpenMode& ExistingForWriting();

[[nodiscard]] FileError OpenWideStream(const std::filesystem::path& path, const OpenMode& mode,
                                       FileHandle& file);
// A stream in mode over a handle (Windows) or descriptor (elsewhere) opened for it; the stream
// takes it over, and it is closed when no stream can be made.
[[nodiscard]] FileError StreamOver(std::intptr_t system, const OpenMode& mode, FileHandle& file);
// The failure of the system call that just failed.
[[nodiscard]] FileError LastFileError();

[[nodiscard]] FileError OpenNarrowStream(const std::string& cp936Path, const OpenMode& mode,
                                         FileHandle& file);

// The entry of a platform's table of modes for mode; the tables differ only in what follows the
// mode's name.
template <typename Mode, std::size_t count>
const Mode* FindOpenModeIn(const Mode (&modes)[count], const char* mode) {
    for (const Mode& known : modes) {
        if (std::strcmp(known.mode, mode) == 0) {
            return &known;
        }
    }
    return nullptr;
}

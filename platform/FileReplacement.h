#pragma once

#include "platform/FileSystem.h"

#include <filesystem>
#include <functional>

enum class Replacement {
    Done,
    NotWritten, // writing the temporary file failed
    NotReplaced // it was written, but could not take the target's place
};

// Puts a new file in target's place so that readers see the old file or the whole new one, never
// a part: writeTemporary writes the temporary file and leaves it flushed to the disk and closed,
// then replace puts it over target (by default ReplaceFileAtomically, durable when it returns).
// On failure the temporary file is removed and target is as it was.
[[nodiscard]] Replacement ReplaceFileThrough(const std::filesystem::path& temporary,
                                             const std::filesystem::path& target,
                                             const std::function<bool()>& writeTemporary,
                                             const std::function<FileError()>& replace = nullptr);

// The temporary name beside target under which its replacement is written.
std::filesystem::path PartialPathOf(const std::filesystem::path& target);

#pragma once

#include <filesystem>

// Windows finds an existing file or folder whatever the case of its letters; a POSIX file system
// does not. Only the POSIX half of the file API uses this.

// Each part of hostPath that is not there as spelled is looked up in its folder; the parts below
// the first that exists in no case stay as spelled. False when two existing names differ only in
// case, since Windows could not hold both and either could be meant.
[[nodiscard]] bool ResolveNameCase(std::filesystem::path& hostPath);

// A file this process just created: the folder's names read for the search stay good.
void NoteCreatedFile(const std::filesystem::path& file);

#pragma once

#include "platform/ExclusiveFile.h"

// Between ExclusiveFile.cpp and the platform's half of it (ExclusiveFileWin32.cpp or
// ExclusiveFilePosix.cpp); nothing else includes it.

using HeldFolderHandle = std::unique_ptr<HeldFolder, HeldFolderCloser>;

// Makes the folder when missing and holds it; refused when it is a link or another reparse point.
[[nodiscard]] FileError HoldPlainFolder(const char* folder, HeldFolderHandle& held);
// Removes whatever has the name in the folder: a link loses itself, never what it points to, and
// another name of a file loses that name alone. A name that is not there is free.
[[nodiscard]] FileError FreeName(const HeldFolder& folder, const char* name);
// Creates the file new, without following a link, for reading and writing; refused when it has
// another hard link.
[[nodiscard]] FileError CreateNewFile(const HeldFolder& folder, const char* name,
                                      FileHandle& stream);

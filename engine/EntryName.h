#pragma once

#include <string>

// Entry names are code page 936 bytes with "/" as separator, relative to the game directory.

enum class EntryKind { Pak, Directory, File };

// Byte by byte: 0x41..0x5A become lower case wherever they stand, also as the second byte of a
// double-byte character, exactly as the updater has always named its files.
std::string LowerCaseEntryName(std::string name);

// Decided on the lower-cased name: ".pak" ending (any case), then "/" ending, else a file.
EntryKind EntryKindOf(const std::string& lowerCaseName);

// False for names that could reach outside the game directory: empty, a leading separator, a
// colon, or a ".." component (also when dots or spaces follow, which Windows drops); also for a
// name holding a zero byte, which the file API would cut short into another name than the one whose
// kind was decided. Separators are "/" and a backslash that is not the second byte of a double-byte
// character.
bool IsSafeEntryName(const std::string& name);

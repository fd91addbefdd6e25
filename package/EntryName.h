#pragma once

#include <cstddef>
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

// 2 where a double-byte character of code page 936 starts at index (a lead byte followed by a valid
// second byte), else 1. A lead byte before anything else, "/" or a zero byte among them, is a
// character of its own and the next byte stands alone.
std::size_t CharacterLengthAt(const std::string& name, std::size_t index);

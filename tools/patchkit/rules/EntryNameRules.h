#pragma once

#include <string>
#include <vector>

// What the updater makes of an entry name (code page 936 bytes, "/" separators): the rules that
// decide whether a package is fit to publish.

enum class NameProblem {
    None,
    NotCodePage936,      // the bytes are no code page 936 text
    Unsafe,              // could reach outside the game directory
    ForbiddenOnWindows,  // holds a character Windows does not allow in a file name
    RenamedByLowerCasing // a double-byte character's second byte is an upper-case ASCII letter
};

NameProblem CheckEntryName(const std::string& storedName);

struct NameProblemText {
    NameProblem problem;
    const char* code; // a finding's stable identifier, e.g. "unsafe-name"
    const char* text; // completes "NAME: ..." in a message
};
// Both empty for None.
const NameProblemText& TextOf(NameProblem problem);

// Upper-case ASCII letters that stand as characters of their own (not as second bytes): the
// updater writes them in lower case, which Windows file names do not tell apart.
bool HasUpperCaseLetters(const std::string& name);

// The path the updater writes, in code page 936: lower-cased, and with every backslash that is
// not part of a double-byte character turned into "/", since Windows takes it as a separator.
std::string WrittenPath(const std::string& storedName);

// The directory a file entry is written into, as a written path with a trailing "/", or empty
// for the game directory itself.
std::string DirectoryOfEntry(const std::string& storedName);
// The directories a directory entry creates: its parents and itself, outermost first.
std::vector<std::string> DirectoriesCreatedBy(const std::string& directoryEntryName);

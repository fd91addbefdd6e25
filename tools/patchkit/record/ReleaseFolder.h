#pragma once

#include "build/SourceFolder.h"
#include "package/LocalState.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

// Helpers for comparing game folders as a Windows disk sees them.

// The name under which the updater finds the entry on a Windows disk: its written path (lower
// case), without a folder's trailing "/".
std::string KeyOf(const SourceEntry& entry);

// The game folder's version.ini, in any case; the updater writes it itself.
bool IsLocalStateEntry(const SourceEntry& entry);

// A path beside output, never inside it, also when the output is a folder named "out/" or ".":
// output's name with suffix, and a number after it when an earlier run left that name behind.
std::filesystem::path UnusedPathBeside(const std::filesystem::path& output, const char* suffix);

// The host path under folder where the updater writes the entry.
[[nodiscard]] bool WrittenPathUnder(const std::filesystem::path& folder, const SourceEntry& entry,
                                    std::filesystem::path& path);

// Creates to (or truncates it) with size bytes of from, starting at offset; with toDisk, the bytes
// have reached the disk when it returns. False, with a message naming the file, when from ends
// earlier or a read or write fails.
[[nodiscard]] bool CopyFileSlice(const std::filesystem::path& from, std::uint64_t offset,
                                 std::uint64_t size, const std::filesystem::path& to,
                                 std::string& error, bool toDisk = false);

// Every reason to refuse, one per line, so a publisher sees them all at once.
class Refusals {
public:
    void Add(const std::string& text) { m_text += (m_text.empty() ? "" : "\n") + text; }
    void Add(const std::filesystem::path& path, const std::string& text);
    bool Any() const { return !m_text.empty(); }
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

// A release's game folder as the updater finds it on a Windows disk.
struct Release {
    LocalState state;
    std::filesystem::path statePath;  // its version.ini
    std::vector<SourceEntry> entries; // without the root version.ini
    std::map<std::string, std::size_t> byKey;
};

// Reads the folder and its version.ini. False, with the reasons, when the folder cannot be read
// (links, special files, names without a code page 936 form), version.ini is missing or holds no
// valid version, or two names differ only in case.
[[nodiscard]] bool ReadRelease(const std::filesystem::path& folder, Release& release,
                               Refusals& refusals);

// A file the updater writes into at the pak offset.
bool IsPak(const SourceEntry& entry);

// Every pair of names under folder that differ only in case, one line each ("A and B differ only
// in case"): a Windows disk cannot hold both, and the updater would find either. Links are not
// followed; what cannot be read is passed over.
std::vector<std::string> NamesDifferingOnlyInCase(const std::filesystem::path& folder);

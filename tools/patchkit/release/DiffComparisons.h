#pragma once

#include "release/ReleaseDiff.h"

#include <cstdint>
#include <string>
#include <vector>

// The diff's comparisons of NEW's files with OLD's, shared by the two ways OLD is given.

struct FilePair {
    const SourceEntry* oldFile;
    const SourceEntry* newFile;
};

struct ChangedPak {
    FilePair files;
    // The first byte that differs within the shorter of the two. Not exact when OLD is known only
    // by its manifest: then the append offset when the bytes before it are OLD's, else 0.
    std::uint64_t firstDifference = 0;
    bool exact = true;
};

// The NEW entries that need comparing with OLD's before the diff knows whether they changed.
struct Comparisons {
    std::vector<FilePair> files; // of equal size
    std::vector<FilePair> paks;
    std::uint64_t bytes = 0;
};

// Where OLD's version.ini has the next pak entry written: its recorded offset, or the pak's end.
std::uint64_t AppendOffset(std::int64_t recordedOffset, const SourceEntry& oldPak);

// Tells changed from unchanged by size and SHA-256 against request.oldRecord, hashing NEW's
// files on request.work's threads: the changed files go into diff.entries, the changed paks into
// changed. False, with the reason, when a file cannot be read or the work is stopped.
[[nodiscard]] bool CompareWithRecord(const DiffRequest& request, const Comparisons& comparisons,
                                     ReleaseDiff& diff, std::vector<ChangedPak>& changed,
                                     std::string& error);

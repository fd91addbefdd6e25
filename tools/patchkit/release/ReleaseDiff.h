#pragma once

#include "base/TaskQueue.h"
#include "build/SourceFolder.h"
#include "record/ReleaseManifest.h"
#include "release/FileComparison.h"
#include "rules/Finding.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct DiffRequest {
    std::filesystem::path oldFolder;            // the game folder of the release players have, or
    const ReleaseManifest* oldRecord = nullptr; // its manifest, read from oldRecordPath
    std::filesystem::path oldRecordPath;
    std::filesystem::path newFolder; // the game folder of the release to ship
    // Build although OLD holds files or folders that NEW lacks (they stay on players' disks).
    bool allowLeftovers = false;
    ProgressCallback progress; // over the bytes compared with OLD's folder
    WorkSettings work;         // hashing NEW's files against OLD's manifest
    const std::atomic<bool>* stop = nullptr;
};

// What turns OLD into NEW, as the updater can express it.
struct ReleaseDiff {
    std::uint32_t oldVersion = 0;
    std::uint32_t newVersion = 0;
    // The package's entries in archive order: new folders ahead of their contents, new and changed
    // files, and the pak entry, a slice of NEW's pak.
    std::vector<SourceEntry> entries;
    bool pakChanged = false;
    std::string pakName;        // UTF-8 path of NEW's pak that changed
    std::uint64_t pakStart = 0; // the slice of NEW's pak the entry holds: [pakStart, pakEnd)
    std::uint64_t pakEnd = 0;
    // The pak whose length stands for a recorded offset of 0: the changed one, or NEW's only pak;
    // empty when there is none.
    std::string effectivePakName; // stored name (code page 936)
    std::size_t unchangedFiles = 0;
    std::uint64_t unchangedBytes = 0;
    std::vector<std::string> leftovers;    // UTF-8 paths under OLD that NEW lacks, outermost only
    std::vector<std::string> leftoverKeys; // the same as the updater names them
};

// Compares the two releases, OLD by its folder or by its manifest (by size and SHA-256, the pak's
// start by the digest of its bytes before the offset). False, with every reason naming the file,
// when the updater could not turn OLD into NEW with one package; notes and warnings (the leftovers
// when allowed, names written in lower case) go to remarks. Reads both folders, writes nothing.
[[nodiscard]] bool DiffReleases(const DiffRequest& request, ReleaseDiff& diff,
                                std::vector<Finding>& remarks, std::string& error);

// Writes the entries as an update folder for build --from: folders, files, and the pak slice as
// the pak's whole content. The folder must not exist or be empty; created says whether it was
// made. On failure, what was written is removed again.
[[nodiscard]] bool WriteUpdateFolder(const ReleaseDiff& diff,
                                     const std::filesystem::path& newFolder,
                                     const std::filesystem::path& folder, bool& created,
                                     std::string& error);

// Removes what WriteUpdateFolder wrote: the folder's contents, and the folder when it was made.
// False when anything could not be removed.
[[nodiscard]] bool RemoveUpdateFolder(const std::filesystem::path& folder, bool created);

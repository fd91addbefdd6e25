#pragma once

#include "base/TaskQueue.h"
#include "record/ReleaseManifest.h"

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

struct RecordCheckRequest {
    std::filesystem::path package;
    const ReleaseManifest* oldRecord = nullptr;
    // NEW: its folder, whose manifest is made and whose pak is read, or its manifest alone.
    std::filesystem::path newFolder;
    const ReleaseManifest* newRecord = nullptr;
    std::string newName; // names NEW in the differences
    // What OLD has and NEW lacks, allowed to stay (keys as the updater names them, outermost).
    std::vector<std::string> leftoverKeys;
    WorkSettings work;
    const std::atomic<bool>* stop = nullptr;
};

// Proves the package on the records, without OLD's files: every entry of the package is read
// back (inflated, its size and CRC checked, its SHA-256 taken), applied to OLD's manifest as the
// updater applies it, and the manifest of the game that gives must equal NEW's: every folder, every
// file's size and SHA-256, the version and the pak offset in effect. The pak the package writes
// into is proven by its length, the digest of its bytes before OLD's offset and, with NEW's folder,
// by the bytes after it; from NEW's manifest alone only by length and offset. differences names
// each mismatch. False, with error, when the check itself could not be carried out.
[[nodiscard]] bool CheckUpdateOnRecords(const RecordCheckRequest& request,
                                        std::vector<std::string>& differences, std::string& error);

#pragma once

#include "base/TaskQueue.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// A file to hash with SHA-256: from start to its end, and the first bytes of that up to each
// prefix length.
struct HashRequest {
    std::filesystem::path path;
    std::uint64_t expectedSize = 0; // for the order of the work and the progress shown
    std::vector<std::uint64_t> prefixes;
    std::uint64_t start = 0; // the first byte hashed
};

struct HashResult {
    bool read = false;                      // false: the file could not be read to its end
    std::uint64_t size = 0;                 // the bytes read, from the request's start
    std::string whole;                      // raw digest of every byte read
    std::vector<std::string> prefixDigests; // one per prefix; empty where the file is shorter
};

// Hashes the files on work.jobs threads: several files at a time, largest first, each in one pass
// through a buffer of its own, so memory does not grow with the files. work.progress counts the
// bytes read (the caller starts and finishes it). False, with results incomplete, when stopped.
[[nodiscard]] bool HashFiles(const std::vector<HashRequest>& requests,
                             std::vector<HashResult>& results, const WorkSettings& work,
                             const std::atomic<bool>* stop);

// HashFiles with its progress shown: work.progress is started as "hashing" over the requests'
// expected sizes and finished once the files are hashed.
[[nodiscard]] bool HashFilesShown(const std::vector<HashRequest>& requests,
                                  std::vector<HashResult>& results, const WorkSettings& work,
                                  const std::atomic<bool>* stop);

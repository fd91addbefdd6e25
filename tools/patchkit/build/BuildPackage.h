#pragma once

#include "build/SourceFolder.h"
#include "rules/Finding.h"
#include "zip/DeflateChunk.h"
#include "zip/ZipWriter.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct BuildRequest {
    // Empty for a package of archive and trailer only: the engine reads it, nothing can run it.
    std::filesystem::path stub;
    std::uint32_t version = 0;
    // The entries come from exactly one of these three.
    std::filesystem::path fromFolder;
    std::filesystem::path fromArchive;
    std::vector<SourceEntry> fromEntries; // prepared by the caller, in archive order
    std::filesystem::path output;
    int level = kDefaultLevel;
    // Swap the package the stub already carries for the new one.
    bool replace = false;
    ZipLimits limits;
    // Threads that compress, and what counts the bytes packed; the bytes written do not depend
    // on the number of threads.
    WorkSettings work;
    // When not empty, the command that signs the package ({file}; see SigningStep.h) before it is
    // sealed, checked and given its name.
    std::string signCommand;
    // Set from another thread to give up; the build then fails with nothing left behind.
    const std::atomic<bool>* stop = nullptr;
};

// Writes the package: the stub's program image, the archive, the trailer. The output appears
// under its name only when complete (temporary file, then rename). False, with a message naming
// the file at fault and nothing written, when the package would not be fit for the updater.
// Notes and warnings (names written in lower case, folders the package does not create) go to
// remarks, their texts naming the file.
[[nodiscard]] bool BuildPackage(const BuildRequest& request, std::vector<Finding>& remarks,
                                std::string& error);

// The checks build makes on the names and kinds of entries prepared by the caller: false, with
// every refusal naming its file; notes and warnings go to remarks.
[[nodiscard]] bool JudgeSourceEntries(const std::vector<SourceEntry>& entries,
                                      std::vector<Finding>& remarks, std::string& error);

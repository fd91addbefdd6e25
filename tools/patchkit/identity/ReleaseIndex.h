#pragma once

#include "base/TaskQueue.h"
#include "signing/PackageSignature.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct IndexRequest {
    std::vector<std::filesystem::path> packages;
    // Release folders (each with its version.ini): each package is proven on its release.
    std::vector<std::filesystem::path> releases;
    // Or the releases' manifests: each package is proven on them, without the folders.
    std::vector<std::filesystem::path> releaseManifests;
    std::filesystem::path scratch; // beside the output: where the proofs apply the packages
    WorkSettings work;
    const std::atomic<bool>* stop = nullptr;
};

struct IndexedPackage {
    std::filesystem::path path;
    std::string fileName; // UTF-8
    std::uint32_t version = 0;
    std::uint64_t size = 0;
    std::string sha256; // raw
    SignatureReport signature;
    std::uint64_t bytesWritten = 0;     // the entries' data the updater writes
    std::uint64_t temporaryArchive = 0; // the room patch/hvmanualpatch.zip takes
};

struct ReleaseIndex {
    std::vector<IndexedPackage> packages; // by version
    bool proven = false;                  // applied to their releases, or their manifests
};

// Inspects, verifies and hashes every package, sorts them by version and, given releases, proves
// each step with the updater's engine; given their manifests, on the manifests (see
// CheckUpdateOnRecords). False, with every reason naming the package, for a package
// inspect --verify would not pass, a gap between versions, two packages for one step, two of one
// file name, or a step whose package does not turn its release into the next.
[[nodiscard]] bool IndexPackages(const IndexRequest& request, ReleaseIndex& index,
                                 std::string& error);

std::string IndexJson(const ReleaseIndex& index);
// "DIGEST  FILE" lines, as sha256sum -c reads them beside the packages.
std::string IndexSha256Sums(const ReleaseIndex& index);

// The index read back from its document, held to what index demands of a history: every package
// complete, one package for each step, the steps one after the other, every file name once and a
// plain file name (it is linked beside the document), no signature inspect reports as an error.
// False, with every reason, for anything else.
[[nodiscard]] bool ParseIndex(const std::string& json, ReleaseIndex& index, std::string& error);

#pragma once

#include "record/ReleaseManifest.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// How a game folder differs from a release.
enum class DifferenceKind {
    Missing,
    Extra,
    KindChanged,            // a folder where the release has a file, or the reverse
    Changed,                // size or content
    PakShort,               // shorter than the pak offset
    PakChangedBeforeOffset, // what later releases keep
    PakTail,                // the release's bytes, then more: an interrupted update leaves them
    PakChangedAfterOffset,
    LocalStateUnreadable,
    VersionDiffers,
    PakOffsetDiffers,
    CaseClash // two names that differ only in case
};

// "missing", "extra", ... for the JSON report.
const char* DifferenceKindName(DifferenceKind kind);

struct Difference {
    DifferenceKind kind = DifferenceKind::Changed;
    std::string path; // UTF-8, as the updater names it
    std::string text; // what differs, for people
    // For repair: where the game holds it (empty when missing), and what the release has there
    // (null for extras and version.ini).
    std::filesystem::path gamePath;
    const ManifestEntry* wanted = nullptr;
};

// The game folder as read once, for comparisons with one or more manifests.
struct GameFolder {
    struct Item {
        std::string key; // as the updater names it
        std::filesystem::path path;
        std::string storedName; // code page 936, as the folder spells it
        bool directory = false;
        std::uint64_t size = 0;
        std::string sha256;                  // filled when compared with a manifest's file
        std::vector<std::uint64_t> prefixes; // of a pak: lengths hashed
        std::vector<std::string> prefixDigests;
    };
    std::filesystem::path root;
    std::vector<Item> items; // in the folder's own order: a folder's contents follow it
    std::vector<std::string> caseClashes;
};

// Reads the folder (writing nothing) and hashes what the manifests need, on work.jobs threads.
// False, with the reason, when the folder cannot be read or the hashing was stopped.
[[nodiscard]] bool ReadGameFolder(const std::filesystem::path& game,
                                  const std::vector<ReleaseManifest>& manifests, GameFolder& folder,
                                  const WorkSettings& work, const std::atomic<bool>* stop,
                                  std::string& error);

// Every difference between the folder and the release, names compared as Windows compares them.
// Extras are given outermost only; an empty "patch" folder (the updater's) is none.
std::vector<Difference> CompareWithRelease(const GameFolder& folder,
                                           const ReleaseManifest& manifest);

// What verify says about a game folder and the manifests it was given.
struct Verification {
    std::string game;                 // as given, for display
    std::vector<std::string> sources; // the manifests, as given
    std::vector<ReleaseManifest> manifests;
    std::size_t nearest = 0; // the manifest with the fewest differences (the first on a tie)
    std::vector<std::vector<Difference>> differences; // per manifest

    bool Exact() const { return differences[nearest].empty(); }
};

std::string VerificationText(const Verification& verification);
std::string VerificationJson(const Verification& verification);

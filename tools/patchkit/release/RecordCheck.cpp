#include "release/RecordCheck.h"

#include "base/TextConversion.h"
#include "package/EntryName.h"
#include "package/PackageTrailer.h"
#include "platform/FileSystem.h"
#include "platform/TextEncoding.h"
#include "rules/EntryNameRules.h"
#include "signing/FileHashing.h"
#include "signing/SignatureDigest.h"
#include "zip/ArchiveReader.h"

#include <algorithm>
#include <map>
#include <memory>

namespace fs = std::filesystem;

namespace {

// The package's entries as read back, with the SHA-256 of each one's data.
struct PackageRead {
    std::uint32_t version = 0;
    std::vector<ArchiveEntry> entries;
    std::vector<std::string> digests;
    bool whole = false; // every entry's data came out right
};

[[nodiscard]] bool HashEntries(const FileWindow& window, const WorkSettings& work,
                               PackageRead& read, std::string& damage) {
    std::vector<ArchiveEntry> listed;
    if (!ReadArchiveEntries(window, false, listed, damage)) {
        return false;
    }
    std::vector<std::unique_ptr<Hasher>> hashers;
    for (std::size_t i = 0; i < listed.size(); ++i) {
        hashers.push_back(std::make_unique<Hasher>("sha256"));
    }
    const EntryDataUse use = [&hashers](std::size_t index, const unsigned char* bytes,
                                        std::size_t size) {
        return index < hashers.size() && hashers[index]->Add(bytes, size);
    };
    if (!ReadArchiveEntries(window, true, read.entries, damage, work, use) ||
        read.entries.size() != hashers.size()) {
        return false;
    }
    read.digests.resize(hashers.size());
    for (std::size_t i = 0; i < hashers.size(); ++i) {
        if (!hashers[i]->Finish(read.digests[i]) && read.entries[i].dataProblem.empty()) {
            read.entries[i].dataProblem = "its data cannot be hashed";
        }
    }
    return true;
}

// False, with error, when the package cannot be opened; damage the check finds goes to
// differences, and read.whole stays false.
[[nodiscard]] bool ReadPackageBack(const RecordCheckRequest& request, PackageRead& read,
                                   std::vector<std::string>& differences, std::string& error) {
    const std::string name = DisplayPath(request.package);
    FileHandle file = OpenFile(request.package, "rb");
    if (!file) {
        error = name + ": cannot be read";
        return false;
    }
    PackageTrailer trailer;
    FileWindow window;
    window.file = file.get();
    std::string damage;
    if (!ReadPackageTrailer(file.get(), trailer, window.length)) {
        differences.push_back(name + ": holds no package the updater can find");
        return true;
    }
    window.start = trailer.archiveOffset;
    read.version = trailer.packageVersion;
    if (!HashEntries(window, request.work, read, damage)) {
        differences.push_back(name + ": the archive is damaged: " + damage);
        return true;
    }
    for (const ArchiveEntry& entry : read.entries) {
        const std::string problem = entry.Encrypted() ? "encrypted" : entry.dataProblem;
        if (!problem.empty()) {
            differences.push_back(name + ", entry " + entry.storedName + ": " + problem);
        }
    }
    read.whole = differences.empty();
    return true;
}

// An entry of the game the package would make.
struct Predicted {
    std::string path; // UTF-8, for messages
    bool folder = false;
    std::uint64_t size = 0;
    std::string sha256; // of every byte; empty for the pak the package writes into
    // The pak the package writes into: OLD's bytes before sliceStart (the digest of them OLD's
    // manifest records, empty when it records none), the package's entry after them, and OLD's
    // bytes past that entry's end when OLD's pak ran longer.
    bool written = false;
    std::string digestBefore;
    std::uint64_t sliceStart = 0;
    std::string sliceSha256;
    bool oldTail = false;
};

struct PredictedGame {
    std::map<std::string, Predicted> entries; // by key
    std::uint32_t version = 0;
    std::int64_t recordedOffset = 0;
    bool pakWritten = false;

    // The offset in effect: the recorded one, or the length of the only .pak.
    std::uint64_t PakOffset() const {
        if (recordedOffset != 0) {
            return static_cast<std::uint64_t>(recordedOffset);
        }
        std::vector<const Predicted*> paks;
        for (const auto& [key, entry] : entries) {
            if (!entry.folder && EntryKindOf(key) == EntryKind::Pak) {
                paks.push_back(&entry);
            }
        }
        return paks.size() == 1 ? paks.front()->size : 0;
    }
};

PredictedGame OldGame(const ReleaseManifest& record) {
    PredictedGame game;
    for (const ManifestEntry& entry : record.entries) {
        Predicted predicted;
        predicted.path = entry.path;
        predicted.folder = entry.kind == ManifestKind::Folder;
        predicted.size = entry.size;
        predicted.sha256 = entry.sha256;
        game.entries.emplace(entry.key, predicted);
    }
    game.recordedOffset = record.recordedPakOffset;
    return game;
}

// As the updater writes into the pak: at the recorded offset (its end when none is recorded),
// moving the offset on to the end of what it wrote.
void WriteIntoPak(const ReleaseManifest& record, const std::string& key, Predicted& pak,
                  const ArchiveEntry& entry, const std::string& digest, PredictedGame& game) {
    const ManifestEntry* old = record.Find(key);
    const std::uint64_t start =
        game.recordedOffset != 0 ? static_cast<std::uint64_t>(game.recordedOffset) : pak.size;
    pak.digestBefore = old == nullptr       ? std::string()
                       : start == old->size ? old->sha256
                       : old->kind == ManifestKind::Pak && record.pakOffset == start
                           ? old->sha256BeforeOffset
                           : std::string();
    pak.written = true;
    pak.sliceStart = start;
    pak.sliceSha256 = digest;
    pak.oldTail = pak.size > start + entry.size;
    pak.size = std::max(pak.size, start + entry.size);
    pak.sha256.clear();
    game.recordedOffset = static_cast<std::int64_t>(start + entry.size);
    game.pakWritten = true;
}

// What the updater makes of the entry in the game; what it could not do goes to differences.
void ApplyEntry(const ReleaseManifest& record, const ArchiveEntry& entry, const std::string& digest,
                PredictedGame& game, std::vector<std::string>& differences) {
    std::string key = WrittenPath(entry.storedName);
    const EntryKind kind = EntryKindOf(key);
    if (kind == EntryKind::Directory) {
        key.pop_back();
    }
    const auto found = game.entries.find(key);
    const bool exists = found != game.entries.end();
    const std::string said = "the package's entry " + entry.storedName + ": ";
    if (exists && found->second.folder != (kind == EntryKind::Directory)) {
        differences.push_back(said + "OLD has a " + (found->second.folder ? "folder" : "file") +
                              " there");
    } else if (kind == EntryKind::Pak && (!exists || game.pakWritten)) {
        differences.push_back(said + (exists ? "a second pak entry" : "a pak OLD lacks"));
    } else if (kind == EntryKind::Pak) {
        WriteIntoPak(record, key, found->second, entry, digest, game);
    } else {
        Predicted& predicted = game.entries[key];
        if (!Cp936ToUtf8(key, predicted.path)) {
            predicted.path = key;
        }
        predicted.folder = kind == EntryKind::Directory;
        predicted.size = entry.size;
        predicted.sha256 = predicted.folder ? std::string() : digest;
    }
}

class RecordComparison {
public:
    RecordComparison(const RecordCheckRequest& request, std::vector<std::string>& differences)
        : m_request(request), m_differences(differences) {}

    // NEW's entries with the game's, and the game's NEW lacks.
    void CompareEntries(const PredictedGame& game, const ReleaseManifest& wanted) {
        for (const ManifestEntry& entry : wanted.entries) {
            const auto found = game.entries.find(entry.key);
            if (found == game.entries.end()) {
                Report(entry.path, "missing after the update");
            } else {
                CompareEntry(found->second, entry);
            }
        }
        for (const auto& [key, entry] : game.entries) {
            if (wanted.Find(key) == nullptr && !IsAllowedLeftover(key)) {
                Report(entry.path, "after the update, but NEW lacks it");
            }
        }
    }

    void CompareStates(const PredictedGame& game, const ReleaseManifest& wanted) {
        if (game.version != wanted.version) {
            Report("version.ini", "version " + std::to_string(game.version) +
                                      " after the update, " + std::to_string(wanted.version) +
                                      " in NEW");
        }
        if (game.PakOffset() != wanted.pakOffset) {
            Report("version.ini", "pak offset " + std::to_string(game.PakOffset()) +
                                      " in effect after the update, " +
                                      std::to_string(wanted.pakOffset) + " in NEW");
        }
    }

    // The pak the package writes into, against NEW's on the disk: its bytes before the slice
    // must hash as OLD's did, and the rest as the package's entry.
    [[nodiscard]] bool ComparePakBytes(const Predicted& pak, const ManifestEntry& wanted,
                                       std::string& error) {
        if (pak.digestBefore.empty()) {
            Report(wanted.path, "OLD's manifest records no digest of its bytes before offset " +
                                    std::to_string(pak.sliceStart) + "; they cannot be proven");
            return true;
        }
        const std::vector<HashRequest> requests = {
            HashRequest{wanted.source, wanted.size, {pak.sliceStart}, 0},
            HashRequest{wanted.source, wanted.size - pak.sliceStart, {}, pak.sliceStart}};
        std::vector<HashResult> results;
        if (!HashFiles(requests, results, WorkSettings{m_request.work.jobs, nullptr},
                       m_request.stop) ||
            !results[0].read || !results[1].read) {
            error = DisplayPath(wanted.source) + ": cannot be read";
            return false;
        }
        if (results[0].prefixDigests.front() != pak.digestBefore) {
            Report(wanted.path, "differs from OLD's before offset " +
                                    std::to_string(pak.sliceStart) + ", which the update keeps");
        } else if (results[1].whole != pak.sliceSha256) {
            Report(wanted.path, "differs after offset " + std::to_string(pak.sliceStart) +
                                    " from what the update writes there");
        }
        return true;
    }

private:
    void CompareEntry(const Predicted& predicted, const ManifestEntry& wanted) {
        const bool wantedFolder = wanted.kind == ManifestKind::Folder;
        if (predicted.folder != wantedFolder) {
            Report(wanted.path, std::string(wantedFolder ? "a folder" : "a file") +
                                    " in NEW, but a " + (predicted.folder ? "folder" : "file") +
                                    " after the update");
        } else if (predicted.size != wanted.size) {
            Report(wanted.path, std::to_string(predicted.size) + " bytes after the update, " +
                                    std::to_string(wanted.size) + " in NEW");
        } else if (!predicted.written && predicted.sha256 != wanted.sha256) {
            Report(wanted.path, "differs after the update");
        } else if (predicted.written && m_request.newFolder.empty() && predicted.oldTail) {
            Report(wanted.path, "keeps OLD's bytes past what the update writes, which NEW's "
                                "manifest alone cannot prove");
        }
    }

    bool IsAllowedLeftover(const std::string& key) const {
        for (const std::string& leftover : m_request.leftoverKeys) {
            if (key == leftover || key.compare(0, leftover.size() + 1, leftover + "/") == 0) {
                return true;
            }
        }
        return false;
    }

    void Report(const std::string& path, const std::string& text) {
        m_differences.push_back(m_request.newName + "/" + path + ": " + text);
    }

    const RecordCheckRequest& m_request;
    std::vector<std::string>& m_differences;
};

// NEW's manifest: given, or made from its folder.
[[nodiscard]] bool WantedRecord(const RecordCheckRequest& request, ReleaseManifest& made,
                                const ReleaseManifest*& wanted, std::string& error) {
    wanted = request.newRecord;
    if (wanted != nullptr) {
        return true;
    }
    if (!MakeManifest(request.newFolder, made, WorkSettings{request.work.jobs, nullptr},
                      request.stop, error)) {
        return false;
    }
    wanted = &made;
    return true;
}

} // namespace

bool CheckUpdateOnRecords(const RecordCheckRequest& request, std::vector<std::string>& differences,
                          std::string& error) {
    PackageRead read;
    ReleaseManifest made;
    const ReleaseManifest* wanted = nullptr;
    if (!ReadPackageBack(request, read, differences, error)) {
        return false;
    }
    if (!read.whole) {
        return true;
    }
    if (!WantedRecord(request, made, wanted, error)) {
        return false;
    }
    PredictedGame game = OldGame(*request.oldRecord);
    game.version = read.version;
    for (std::size_t i = 0; i < read.entries.size(); ++i) {
        ApplyEntry(*request.oldRecord, read.entries[i], read.digests[i], game, differences);
    }
    RecordComparison comparison(request, differences);
    comparison.CompareEntries(game, *wanted);
    comparison.CompareStates(game, *wanted);
    for (const auto& [key, entry] : game.entries) {
        const ManifestEntry* pak = wanted->Find(key);
        if (entry.written && !request.newFolder.empty() && pak != nullptr &&
            pak->size == entry.size && !comparison.ComparePakBytes(entry, *pak, error)) {
            return false;
        }
    }
    return true;
}

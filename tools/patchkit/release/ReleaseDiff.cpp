#include "release/ReleaseDiff.h"

#include "base/TextConversion.h"
#include "build/BuildPackage.h"
#include "package/EntryName.h"
#include "package/LocalState.h"
#include "record/ReleaseFolder.h"
#include "release/DiffComparisons.h"

#include <algorithm>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// What OLD holds that NEW lacks, outermost only: a folder's contents go with it.
std::vector<const SourceEntry*> Leftovers(const Release& oldRelease, const Release& newRelease) {
    std::vector<const SourceEntry*> leftovers;
    std::string folderKey;
    for (const SourceEntry& entry : oldRelease.entries) {
        const std::string key = KeyOf(entry);
        if (newRelease.byKey.count(key) != 0 ||
            (!folderKey.empty() && key.compare(0, folderKey.size(), folderKey) == 0)) {
            continue;
        }
        leftovers.push_back(&entry);
        folderKey = entry.directory ? key + "/" : std::string();
    }
    return leftovers;
}

// The slice of NEW's pak that turns OLD's into it; refusals when there is none.
void PlanPakSlice(const Release& oldRelease, const Release& newRelease, const ChangedPak& pak,
                  ReleaseDiff& diff, Refusals& refusals) {
    const SourceEntry& oldPak = *pak.files.oldFile;
    const SourceEntry& newPak = *pak.files.newFile;
    const std::int64_t newRecorded = newRelease.state.pakAppendOffset;
    const std::uint64_t start = AppendOffset(oldRelease.state.pakAppendOffset, oldPak);
    const std::uint64_t end =
        newRecorded != 0 ? static_cast<std::uint64_t>(newRecorded) : newPak.size;
    if (start > oldPak.size) {
        refusals.Add(oldPak.path, "OLD's version.ini records pak offset " + std::to_string(start) +
                                      ", beyond the file's end at " + std::to_string(oldPak.size));
    } else if (newPak.size < start) {
        refusals.Add(newPak.path, "shrank to " + std::to_string(newPak.size) +
                                      " bytes; the update can only append from byte " +
                                      std::to_string(start));
    } else if (pak.firstDifference < start) {
        refusals.Add(newPak.path, (pak.exact ? "differs from OLD's at byte " +
                                                   std::to_string(pak.firstDifference) + ", before"
                                             : std::string("differs from OLD's manifest before")) +
                                      " the append offset " + std::to_string(start) +
                                      "; the update can only append");
    } else if (end < start) {
        refusals.Add(newPak.path, "NEW's version.ini records pak offset " + std::to_string(end) +
                                      ", before OLD's append offset " + std::to_string(start));
    } else if (end > newPak.size) {
        refusals.Add(newPak.path, "NEW's version.ini records pak offset " + std::to_string(end) +
                                      ", beyond the file's end at " + std::to_string(newPak.size));
    } else {
        diff.pakChanged = true;
        diff.pakName = DisplayPath(newPak.path);
        diff.pakStart = start;
        diff.pakEnd = end;
        if (end > start) {
            SourceEntry slice = newPak;
            slice.offset = start;
            slice.size = end - start;
            diff.entries.push_back(slice);
        }
    }
}

const SourceEntry* FindByKey(const Release& release, const std::string& key) {
    const auto found = release.byKey.find(key);
    return found == release.byKey.end() ? nullptr : &release.entries[found->second];
}

// The recorded offset, or the pak's length when none is (0 without a pak).
std::uint64_t OffsetInEffect(std::int64_t recordedOffset, const SourceEntry* pak) {
    return pak != nullptr ? AppendOffset(recordedOffset, *pak)
                          : static_cast<std::uint64_t>(recordedOffset);
}

// Without a changed pak the update leaves the recorded offset as OLD has it; NEW must mean the
// same.
void CheckUnchangedPakOffset(const Release& oldRelease, const Release& newRelease,
                             ReleaseDiff& diff, const fs::path& newState, Refusals& refusals) {
    std::vector<const SourceEntry*> paks;
    for (const SourceEntry& entry : newRelease.entries) {
        if (IsPak(entry)) {
            paks.push_back(&entry);
        }
    }
    const SourceEntry* newPak = paks.size() == 1 ? paks.front() : nullptr;
    const SourceEntry* oldPak = newPak ? FindByKey(oldRelease, KeyOf(*newPak)) : nullptr;
    if (newPak != nullptr) {
        diff.effectivePakName = newPak->storedName;
    }
    const std::uint64_t oldOffset = OffsetInEffect(oldRelease.state.pakAppendOffset, oldPak);
    const std::uint64_t newOffset = OffsetInEffect(newRelease.state.pakAppendOffset, newPak);
    if (oldOffset != newOffset) {
        refusals.Add(newState, "records pak offset " + std::to_string(newOffset) +
                                   ", but no pak changed and the update leaves the offset at " +
                                   std::to_string(oldOffset));
    }
}

[[nodiscard]] bool CompareFiles(const std::vector<FilePair>& pairs, FileComparer& comparer,
                                ReleaseDiff& diff, std::string& error) {
    for (const FilePair& pair : pairs) {
        std::uint64_t difference = 0;
        if (!comparer.FirstDifference(pair.oldFile->path, pair.newFile->path, pair.newFile->size,
                                      difference, error)) {
            return false;
        }
        if (difference < pair.newFile->size) {
            diff.entries.push_back(*pair.newFile);
        } else {
            ++diff.unchangedFiles;
            diff.unchangedBytes += pair.newFile->size;
        }
    }
    return true;
}

[[nodiscard]] bool FindChangedPaks(const std::vector<FilePair>& paks, FileComparer& comparer,
                                   ReleaseDiff& diff, std::vector<ChangedPak>& changed,
                                   std::string& error) {
    for (const FilePair& pair : paks) {
        const std::uint64_t common = std::min(pair.oldFile->size, pair.newFile->size);
        std::uint64_t difference = 0;
        if (!comparer.FirstDifference(pair.oldFile->path, pair.newFile->path, common, difference,
                                      error)) {
            return false;
        }
        if (difference == common && pair.oldFile->size == pair.newFile->size) {
            ++diff.unchangedFiles;
            diff.unchangedBytes += common;
        } else {
            changed.push_back(ChangedPak{pair, difference, true});
        }
    }
    return true;
}

} // namespace

std::uint64_t AppendOffset(std::int64_t recordedOffset, const SourceEntry& oldPak) {
    return recordedOffset != 0 ? static_cast<std::uint64_t>(recordedOffset) : oldPak.size;
}

namespace {

// Sorts NEW's entries: new ones go into the package, those OLD has are compared, and what the
// updater cannot express is refused.
void ClassifyEntries(const Release& oldRelease, const Release& newRelease, ReleaseDiff& diff,
                     Comparisons& comparisons, Refusals& refusals) {
    for (const SourceEntry& entry : newRelease.entries) {
        const SourceEntry* old = FindByKey(oldRelease, KeyOf(entry));
        if (old == nullptr) {
            if (IsPak(entry)) {
                refusals.Add(entry.path, "a pak OLD lacks; the updater writes only into an "
                                         "existing pak");
            } else {
                diff.entries.push_back(entry);
            }
        } else if (old->directory != entry.directory) {
            refusals.Add(entry.path, std::string(entry.directory ? "a folder" : "a file") +
                                         " where OLD has a " +
                                         (old->directory ? "folder" : "file") +
                                         "; the updater cannot replace one by the other");
        } else if (IsPak(entry)) {
            comparisons.paks.push_back(FilePair{old, &entry});
            comparisons.bytes += std::min(old->size, entry.size);
        } else if (!entry.directory && old->size != entry.size) {
            diff.entries.push_back(entry);
        } else if (!entry.directory) {
            comparisons.files.push_back(FilePair{old, &entry});
            comparisons.bytes += entry.size;
        }
    }
}

// What OLD has and NEW lacks: refused, or with allowLeftovers a warning each.
void NoteLeftovers(const DiffRequest& request, const Release& oldRelease, const Release& newRelease,
                   ReleaseDiff& diff, std::vector<Finding>& remarks, Refusals& refusals) {
    for (const SourceEntry* leftover : Leftovers(oldRelease, newRelease)) {
        diff.leftovers.push_back(DisplayPath(leftover->path));
        diff.leftoverKeys.push_back(KeyOf(*leftover));
        if (request.allowLeftovers) {
            remarks.push_back(Finding{Severity::Warning, "leftover", 0,
                                      DisplayPath(leftover->path) +
                                          ": NEW lacks it; it stays on the players' disks"});
        } else {
            refusals.Add(leftover->path, "NEW lacks it, and the updater cannot delete "
                                         "(--allow-leftovers builds anyway)");
        }
    }
}

// One changed pak becomes the pak entry; several cannot be expressed; none must keep the offset.
void DecidePak(const Release& oldRelease, const Release& newRelease,
               const std::vector<ChangedPak>& changedPaks, const fs::path& newState,
               ReleaseDiff& diff, Refusals& refusals) {
    if (changedPaks.size() > 1) {
        for (const ChangedPak& pak : changedPaks) {
            refusals.Add(pak.files.newFile->path,
                         (pak.exact ? "changed from byte " + std::to_string(pak.firstDifference)
                                    : std::string("changed")) +
                             "; version.ini records one pak offset, so only one pak may change");
        }
    } else if (changedPaks.size() == 1) {
        diff.effectivePakName = changedPaks.front().files.newFile->storedName;
        PlanPakSlice(oldRelease, newRelease, changedPaks.front(), diff, refusals);
    } else {
        CheckUnchangedPakOffset(oldRelease, newRelease, diff, newState, refusals);
    }
}

// Puts the entries in archive order and judges them as build would.
[[nodiscard]] bool FinishEntries(const DiffRequest& request, ReleaseDiff& diff,
                                 std::vector<Finding>& remarks, std::string& error) {
    if (diff.entries.empty()) {
        // The updater's ZIP reader cannot open an archive that holds nothing but its end record.
        error = DisplayPath(request.newFolder) +
                ": differs from OLD only in its version; the updater cannot open a package "
                "without entries";
        return false;
    }
    std::sort(
        diff.entries.begin(), diff.entries.end(),
        [](const SourceEntry& a, const SourceEntry& b) { return a.storedName < b.storedName; });
    std::vector<Finding> judged;
    if (!JudgeSourceEntries(diff.entries, judged, error)) {
        return false;
    }
    // Files of changed entries land in folders OLD has already.
    for (Finding& finding : judged) {
        if (finding.code != "missing-directory") {
            remarks.push_back(std::move(finding));
        }
    }
    return true;
}

[[nodiscard]] bool ReadOld(const DiffRequest& request, Release& release, Refusals& refusals) {
    if (request.oldRecord == nullptr) {
        return ReadRelease(request.oldFolder, release, refusals);
    }
    release = ReleaseOfManifest(*request.oldRecord, request.oldRecordPath);
    return true;
}

// Byte by byte against OLD's folder, or by digest against its manifest.
[[nodiscard]] bool CompareWithOld(const DiffRequest& request, const Comparisons& comparisons,
                                  ReleaseDiff& diff, std::vector<ChangedPak>& changedPaks,
                                  std::string& error) {
    if (request.oldRecord != nullptr) {
        return CompareWithRecord(request, comparisons, diff, changedPaks, error);
    }
    FileComparer comparer(request.progress, request.stop);
    comparer.ExpectBytes(comparisons.bytes);
    return FindChangedPaks(comparisons.paks, comparer, diff, changedPaks, error) &&
           CompareFiles(comparisons.files, comparer, diff, error);
}

[[nodiscard]] bool Refused(const Refusals& refusals, std::string& error) {
    if (refusals.Any()) {
        error = refusals.Text();
        return true;
    }
    return false;
}

} // namespace

bool DiffReleases(const DiffRequest& request, ReleaseDiff& diff, std::vector<Finding>& remarks,
                  std::string& error) {
    diff = ReleaseDiff();
    Refusals refusals;
    Release oldRelease;
    Release newRelease;
    const bool oldRead = ReadOld(request, oldRelease, refusals);
    if (!ReadRelease(request.newFolder, newRelease, refusals) || !oldRead) {
        error = refusals.Text();
        return false;
    }
    diff.oldVersion = oldRelease.state.localVersion;
    diff.newVersion = newRelease.state.localVersion;
    const fs::path newState = request.newFolder / kLocalStateFileName;
    if (diff.newVersion != diff.oldVersion + 1) {
        refusals.Add(newState,
                     "version " + std::to_string(diff.newVersion) + " is not OLD's " +
                         std::to_string(diff.oldVersion) +
                         " plus one; the updater applies a package one version ahead only");
    }
    Comparisons comparisons;
    ClassifyEntries(oldRelease, newRelease, diff, comparisons, refusals);
    NoteLeftovers(request, oldRelease, newRelease, diff, remarks, refusals);
    if (Refused(refusals, error)) {
        return false;
    }
    std::vector<ChangedPak> changedPaks;
    if (!CompareWithOld(request, comparisons, diff, changedPaks, error)) {
        return false;
    }
    DecidePak(oldRelease, newRelease, changedPaks, newState, diff, refusals);
    return !Refused(refusals, error) && FinishEntries(request, diff, remarks, error);
}

namespace {

[[nodiscard]] bool PrepareEmptyFolder(const fs::path& folder, bool& created, std::string& error) {
    std::error_code failure;
    const bool exists = fs::exists(fs::symlink_status(folder, failure));
    if (exists && !(fs::is_directory(fs::symlink_status(folder, failure)) &&
                    fs::is_empty(folder, failure) && !failure)) {
        error =
            DisplayPath(folder) + ": exists and is not an empty folder; nothing is written there";
        return false;
    }
    created = !exists;
    if (created && !fs::create_directories(folder, failure)) {
        error = DisplayPath(folder) + ": cannot be created";
        return false;
    }
    return true;
}

[[nodiscard]] bool WriteEntries(const ReleaseDiff& diff, const fs::path& newFolder,
                                const fs::path& folder, std::string& error) {
    for (const SourceEntry& entry : diff.entries) {
        const fs::path target = folder / entry.path.lexically_relative(newFolder);
        std::error_code failure;
        if (entry.directory) {
            fs::create_directories(target, failure);
            if (failure) {
                error = DisplayPath(target) + ": cannot be created";
                return false;
            }
            continue;
        }
        // Changed files may lie in folders OLD has, which the diff does not list.
        fs::create_directories(target.parent_path(), failure);
        if (failure || !CopyFileSlice(entry.path, entry.offset, entry.size, target, error)) {
            error = failure ? DisplayPath(target.parent_path()) + ": cannot be created" : error;
            return false;
        }
    }
    return true;
}

} // namespace

bool WriteUpdateFolder(const ReleaseDiff& diff, const fs::path& newFolder, const fs::path& folder,
                       bool& created, std::string& error) {
    if (!PrepareEmptyFolder(folder, created, error)) {
        return false;
    }
    if (WriteEntries(diff, newFolder, folder, error)) {
        return true;
    }
    static_cast<void>(RemoveUpdateFolder(folder, created)); // the write's failure is what counts
    return false;
}

bool RemoveUpdateFolder(const fs::path& folder, bool created) {
    std::error_code failure;
    if (created) {
        fs::remove_all(folder, failure);
        return !failure;
    }
    std::vector<fs::path> children;
    for (fs::directory_iterator item(folder, failure); !failure && item != fs::directory_iterator();
         item.increment(failure)) {
        children.push_back(item->path());
    }
    bool removed = !failure;
    for (const fs::path& child : children) {
        fs::remove_all(child, failure);
        removed = removed && !failure;
    }
    return removed;
}

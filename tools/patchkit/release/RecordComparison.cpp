#include "base/TextConversion.h"
#include "record/ReleaseManifest.h"
#include "release/DiffComparisons.h"
#include "signing/FileHashing.h"

namespace {

// The digest OLD's manifest records of the pak's first offset bytes; empty when it records none
// (the pak is one of several, whose offset lies inside it).
std::string RecordedDigestBefore(const ReleaseManifest& record, const std::string& key,
                                 std::uint64_t offset) {
    const ManifestEntry* entry = record.Find(key);
    if (entry == nullptr) {
        return {};
    }
    if (offset == entry->size) {
        return entry->sha256;
    }
    const bool isThePak = entry->kind == ManifestKind::Pak && record.pakOffset == offset;
    return isThePak ? entry->sha256BeforeOffset : std::string();
}

std::vector<HashRequest> HashRequests(const DiffRequest& request, const Comparisons& comparisons) {
    std::vector<HashRequest> requests;
    for (const FilePair& pair : comparisons.paks) {
        const std::uint64_t start =
            AppendOffset(request.oldRecord->recordedPakOffset, *pair.oldFile);
        requests.push_back(HashRequest{pair.newFile->path, pair.newFile->size, {start}});
    }
    for (const FilePair& pair : comparisons.files) {
        requests.push_back(HashRequest{pair.newFile->path, pair.newFile->size, {}});
    }
    return requests;
}

[[nodiscard]] bool HashNewFiles(const DiffRequest& request,
                                const std::vector<HashRequest>& requests,
                                std::vector<HashResult>& results, std::string& error) {
    if (!HashFilesShown(requests, results, request.work, request.stop)) {
        error = "interrupted";
        return false;
    }
    for (std::size_t i = 0; i < requests.size(); ++i) {
        if (!results[i].read || results[i].size != requests[i].expectedSize) {
            error = DisplayPath(requests[i].path) +
                    (results[i].read ? ": changed while it was read" : ": cannot be read");
            return false;
        }
    }
    return true;
}

} // namespace

bool CompareWithRecord(const DiffRequest& request, const Comparisons& comparisons,
                       ReleaseDiff& diff, std::vector<ChangedPak>& changed, std::string& error) {
    const ReleaseManifest& record = *request.oldRecord;
    const std::vector<HashRequest> requests = HashRequests(request, comparisons);
    std::vector<HashResult> results;
    if (!HashNewFiles(request, requests, results, error)) {
        return false;
    }
    std::size_t next = 0;
    for (const FilePair& pair : comparisons.paks) {
        const HashResult& result = results[next];
        const std::uint64_t start = requests[next++].prefixes.front();
        const std::string key = KeyOf(*pair.oldFile);
        const ManifestEntry* old = record.Find(key);
        if (pair.oldFile->size == pair.newFile->size && result.whole == old->sha256) {
            ++diff.unchangedFiles;
            diff.unchangedBytes += pair.newFile->size;
            continue;
        }
        const std::string before = RecordedDigestBefore(record, key, start);
        const bool kept = !before.empty() && result.prefixDigests.front() == before;
        // A pak shorter than the offset is refused for that before its bytes are looked at.
        const std::uint64_t firstDifference = pair.newFile->size < start ? pair.newFile->size
                                              : kept                     ? start
                                                                         : 0;
        changed.push_back(ChangedPak{pair, firstDifference, false});
    }
    for (const FilePair& pair : comparisons.files) {
        if (results[next++].whole != record.Find(KeyOf(*pair.oldFile))->sha256) {
            diff.entries.push_back(*pair.newFile);
        } else {
            ++diff.unchangedFiles;
            diff.unchangedBytes += pair.newFile->size;
        }
    }
    return true;
}

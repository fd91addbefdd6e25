#include "identity/ReleaseIndex.h"

#include "base/JsonWriter.h"
#include "base/StopRequest.h"
#include "base/TextConversion.h"
#include "identity/IndexHistory.h"
#include "inspect/InspectPackage.h"
#include "inspect/ReportPrinter.h"
#include "package/LocalState.h"
#include "record/ReleaseFolder.h"
#include "record/ReleaseManifest.h"
#include "release/RecordCheck.h"
#include "release/ReleaseCheck.h"
#include "rules/VersionText.h"
#include "signing/FileHashing.h"

#include <algorithm>
#include <map>
#include <set>

namespace fs = std::filesystem;

namespace {

// What inspect --verify says of the package; its errors become refusals.
void ReadPackage(const fs::path& path, const WorkSettings& work, IndexedPackage& package,
                 Refusals& refusals) {
    const PackageReport report = InspectPackage(path, true, work);
    if (!report.AppliesCleanly()) {
        std::string reasons;
        for (const Finding& finding : report.findings) {
            if (finding.severity == Severity::Error) {
                reasons += "\n  " + finding.text;
            }
        }
        refusals.Add(path, "inspect --verify does not pass it:" + reasons);
        return;
    }
    package.path = path;
    package.fileName = DisplayPath(path.filename());
    package.version = report.trailer.packageVersion;
    package.size = static_cast<std::uint64_t>(report.fileLength);
    package.signature = report.signature;
    package.temporaryArchive = static_cast<std::uint64_t>(report.archiveLength);
    for (const EntryReport& entry : report.entries) {
        package.bytesWritten += entry.archived.size;
    }
}

bool HashPackages(std::vector<IndexedPackage>& packages, const WorkSettings& work,
                  const std::atomic<bool>* stop, Refusals& refusals) {
    std::vector<HashRequest> requests;
    for (const IndexedPackage& package : packages) {
        requests.push_back(HashRequest{package.path, package.size, {}});
    }
    std::vector<HashResult> results;
    if (!HashFiles(requests, results, WorkSettings{work.jobs, nullptr}, stop)) {
        refusals.Add("interrupted");
        return false;
    }
    for (std::size_t i = 0; i < packages.size(); ++i) {
        if (!results[i].read || results[i].size != packages[i].size) {
            refusals.Add(packages[i].path, "changed while it was read");
        }
        packages[i].sha256 = results[i].whole;
    }
    return !refusals.Any();
}

} // namespace

// Shared with the index read back (IndexHistory.h).
void CheckHistory(const std::vector<IndexedPackage>& packages, Refusals& refusals) {
    std::set<std::string> names;
    for (std::size_t i = 0; i < packages.size(); ++i) {
        const IndexedPackage& package = packages[i];
        if (!names.insert(package.fileName).second) {
            refusals.Add(package.path, "another package has the same file name");
        }
        if (i == 0) {
            continue;
        }
        const IndexedPackage& previous = packages[i - 1];
        if (package.version == previous.version) {
            refusals.Add(package.path, "a second package for version " +
                                           std::to_string(package.version) + ", beside " +
                                           DisplayPath(previous.path));
        } else if (package.version != previous.version + 1) {
            refusals.Add(package.path, "a gap: no package brings " +
                                           std::to_string(previous.version) + " to " +
                                           std::to_string(previous.version + 1));
        }
    }
}

namespace {

// The pak whose length stands for a recorded offset of 0: the release's only one.
std::string EffectivePakName(const fs::path& release) {
    Release read;
    Refusals ignored;
    if (!ReadRelease(release, read, ignored)) {
        return std::string();
    }
    std::string name;
    int paks = 0;
    for (const SourceEntry& entry : read.entries) {
        if (IsPak(entry) && ++paks == 1) {
            name = entry.storedName;
        }
    }
    return paks == 1 ? name : std::string();
}

// What the proof of one step found, as a refusal.
void NoteStep(const IndexedPackage& package, bool checked,
              const std::vector<std::string>& differences, const std::string& error,
              const fs::path& from, const fs::path& to, Refusals& refusals) {
    if (!checked) {
        refusals.Add(package.path, "cannot be proven: " + error);
    } else if (!differences.empty()) {
        std::string lines;
        for (const std::string& difference : differences) {
            lines += "\n  " + difference;
        }
        refusals.Add(package.path, "applied to " + DisplayPath(from) + " does not give " +
                                       DisplayPath(to) + ":" + lines);
    }
}

const fs::path& PathOf(const fs::path& releaseFolder) {
    return releaseFolder;
}

using RecordedRelease = std::pair<fs::path, ReleaseManifest>;

const fs::path& PathOf(const RecordedRelease& record) {
    return record.first;
}

// Proves each package on what is known of the release it starts from and the one it gives
// (KIND names it in refusals); prove(package, from, to, differences, error) checks one step.
template <typename Known, typename Prove>
bool ProveEachStep(const IndexRequest& request, const std::vector<IndexedPackage>& packages,
                   const std::map<std::uint32_t, Known>& known, const std::string& kind,
                   Prove prove, Refusals& refusals) {
    for (const IndexedPackage& package : packages) {
        const auto from = known.find(package.version - 1);
        const auto to = known.find(package.version);
        if (from == known.end() || to == known.end()) {
            refusals.Add(package.path, "cannot be proven: no " + kind + " of version " +
                                           std::to_string(from == known.end() ? package.version - 1
                                                                              : package.version));
            continue;
        }
        std::vector<std::string> differences;
        std::string error;
        const bool checked = prove(package, from->second, to->second, differences, error);
        NoteStep(package, checked, differences, error, PathOf(from->second), PathOf(to->second),
                 refusals);
        if (StopAsked(request.stop)) {
            refusals.Add("interrupted");
            return false;
        }
    }
    return !refusals.Any();
}

// Each step proven on the manifests of the release it starts from and the one it gives.
bool ProveStepsOnRecords(const IndexRequest& request, const std::vector<IndexedPackage>& packages,
                         Refusals& refusals) {
    std::map<std::uint32_t, RecordedRelease> records;
    for (const fs::path& path : request.releaseManifests) {
        ReleaseManifest record;
        std::string error;
        if (!ReadManifestFile(path, record, error)) {
            refusals.Add(error);
        } else if (!records.emplace(record.version, std::make_pair(path, record)).second) {
            refusals.Add(path, "a second manifest of version " + std::to_string(record.version));
        }
    }
    const auto prove = [&request](const IndexedPackage& package, const RecordedRelease& from,
                                  const RecordedRelease& to, std::vector<std::string>& differences,
                                  std::string& error) {
        RecordCheckRequest check;
        check.package = package.path;
        check.oldRecord = &from.second;
        check.newRecord = &to.second;
        check.newName = DisplayPath(to.first);
        check.work = WorkSettings{request.work.jobs, nullptr};
        check.stop = request.stop;
        return CheckUpdateOnRecords(check, differences, error);
    };
    return ProveEachStep(request, packages, records, "manifest", prove, refusals);
}

// Each step proven by applying it to a copy of the release folder it starts from.
bool ProveSteps(const IndexRequest& request, const std::vector<IndexedPackage>& packages,
                Refusals& refusals) {
    std::map<std::uint32_t, fs::path> releases;
    for (const fs::path& release : request.releases) {
        LocalState state;
        if (!ReadLocalStateFile(release / kLocalStateFileName, state)) {
            refusals.Add(release / kLocalStateFileName, "missing, or holds no valid version");
        } else if (!releases.emplace(state.localVersion, release).second) {
            refusals.Add(release, "a second release folder of version " +
                                      std::to_string(state.localVersion));
        }
    }
    const auto prove = [&request](const IndexedPackage& package, const fs::path& from,
                                  const fs::path& to, std::vector<std::string>& differences,
                                  std::string& error) {
        CheckRequest check;
        check.package = package.path;
        check.oldFolder = from;
        check.newFolder = to;
        check.scratch = request.scratch;
        check.effectivePakName = EffectivePakName(to);
        check.stop = request.stop;
        return CheckUpdate(check, differences, error);
    };
    return ProveEachStep(request, packages, releases, "release folder", prove, refusals);
}

} // namespace

bool IndexPackages(const IndexRequest& request, ReleaseIndex& index, std::string& error) {
    index = ReleaseIndex();
    Refusals refusals;
    for (const fs::path& path : request.packages) {
        IndexedPackage package;
        ReadPackage(path, request.work, package, refusals);
        index.packages.push_back(package);
        if (StopAsked(request.stop)) {
            error = "interrupted";
            return false;
        }
    }
    if (refusals.Any() || !HashPackages(index.packages, request.work, request.stop, refusals)) {
        error = refusals.Text();
        return false;
    }
    std::stable_sort(
        index.packages.begin(), index.packages.end(),
        [](const IndexedPackage& a, const IndexedPackage& b) { return a.version < b.version; });
    CheckHistory(index.packages, refusals);
    if (!refusals.Any() && !request.releases.empty()) {
        index.proven = ProveSteps(request, index.packages, refusals);
    } else if (!refusals.Any() && !request.releaseManifests.empty()) {
        index.proven = ProveStepsOnRecords(request, index.packages, refusals);
    }
    error = refusals.Text();
    return !refusals.Any();
}

std::string IndexJson(const ReleaseIndex& index) {
    JsonWriter json;
    json.BeginObject();
    json.Key("proven");
    json.Bool(index.proven);
    json.Key("packages");
    json.BeginArray();
    for (const IndexedPackage& package : index.packages) {
        json.BeginObject();
        json.Key("fromVersion");
        json.Number(package.version - 1);
        json.Key("toVersion");
        json.Number(package.version);
        json.Key("versionShown");
        json.String(VersionShown(package.version));
        json.Key("file");
        json.String(package.fileName);
        json.Key("size");
        json.Number(package.size);
        json.Key("sha256");
        json.String(HexText(package.sha256));
        json.Key("signature");
        SignatureJson(json, package.signature);
        json.Key("bytesWritten");
        json.Number(package.bytesWritten);
        json.Key("temporaryArchiveSize");
        json.Number(package.temporaryArchive);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return json.Text();
}

std::string IndexSha256Sums(const ReleaseIndex& index) {
    std::string lines;
    for (const IndexedPackage& package : index.packages) {
        lines += HexText(package.sha256) + "  " + package.fileName + "\n";
    }
    return lines;
}

#include "record/ReleaseFolder.h"

#include "base/TextConversion.h"
#include "package/EntryName.h"
#include "package/LocalState.h"
#include "platform/FileSystem.h"
#include "platform/NameCase.h"
#include "platform/Pieces.h"
#include "platform/TextEncoding.h"
#include "rules/EntryNameRules.h"

#include <algorithm>
#include <map>
#include <memory>

namespace fs = std::filesystem;

std::string KeyOf(const SourceEntry& entry) {
    std::string key = WrittenPath(entry.storedName);
    if (entry.directory && !key.empty()) {
        key.pop_back();
    }
    return key;
}

bool IsLocalStateEntry(const SourceEntry& entry) {
    return !entry.directory && KeyOf(entry) == kLocalStateFileName;
}

bool WrittenPathUnder(const std::filesystem::path& folder, const SourceEntry& entry,
                      std::filesystem::path& path) {
    std::string utf8;
    if (!Cp936ToUtf8(KeyOf(entry), utf8)) {
        return false;
    }
    path = folder / std::filesystem::u8path(utf8);
    return true;
}

bool CopyFileSlice(const std::filesystem::path& from, std::uint64_t offset, std::uint64_t size,
                   const std::filesystem::path& to, std::string& error, bool toDisk) {
    const std::unique_ptr<unsigned char[]> buffer = NewPieceBuffer();
    FileHandle source = OpenFile(from, "rb");
    if (!buffer || !source || !SeekFile(source.get(), static_cast<std::int64_t>(offset))) {
        error = DisplayPath(from) + ": cannot be read";
        return false;
    }
    FileHandle target = OpenFile(to, "wb");
    if (!target) {
        error = DisplayPath(to) + ": cannot be created";
        return false;
    }
    const PieceRun copied = CopyPieces(source.get(), size, target.get(), buffer.get(), {});
    if (copied == PieceRun::NotRead) {
        error = DisplayPath(from) + ": became shorter while it was read";
        return false;
    }
    if (copied != PieceRun::Done || (toDisk && !FlushFileToDisk(target.get())) ||
        !CloseWrittenFile(target)) {
        error = DisplayPath(to) + ": cannot be written (is the disk full?)";
        return false;
    }
    return true;
}

std::filesystem::path UnusedPathBeside(const std::filesystem::path& output, const char* suffix) {
    namespace fs = std::filesystem;
    fs::path base = output.lexically_normal();
    if (!base.has_filename()) {
        base = base.parent_path();
    }
    std::error_code failure;
    if (base.empty() || base.filename() == "." || base.filename() == "..") {
        base = fs::absolute(base, failure).lexically_normal().parent_path();
    }
    base += suffix;
    fs::path candidate = base;
    for (int number = 2; fs::exists(fs::symlink_status(candidate, failure)); ++number) {
        candidate = base;
        candidate += "-" + std::to_string(number);
    }
    return candidate;
}

void Refusals::Add(const std::filesystem::path& path, const std::string& text) {
    Add(DisplayPath(path) + ": " + text);
}

bool IsPak(const SourceEntry& entry) {
    return !entry.directory && EntryKindOf(LowerCaseEntryName(entry.storedName)) == EntryKind::Pak;
}

bool ReadRelease(const fs::path& folder, Release& release, Refusals& refusals) {
    std::string error;
    if (!CollectSourceFolder(folder, release.entries, error)) {
        refusals.Add(error);
        return false;
    }
    const auto stateEntry =
        std::find_if(release.entries.begin(), release.entries.end(), IsLocalStateEntry);
    if (stateEntry == release.entries.end() ||
        !ReadLocalStateFile(stateEntry->path, release.state)) {
        refusals.Add(folder / kLocalStateFileName, "missing, or holds no valid version");
        return false;
    }
    release.statePath = stateEntry->path;
    release.entries.erase(stateEntry);
    for (std::size_t index = 0; index < release.entries.size(); ++index) {
        const SourceEntry& entry = release.entries[index];
        const auto [earlier, isFirst] = release.byKey.emplace(KeyOf(entry), index);
        if (!isFirst) {
            refusals.Add(entry.path, "differs only in case from " +
                                         DisplayPath(release.entries[earlier->second].path) +
                                         ", and a Windows folder holds only one of them");
        }
    }
    return !refusals.Any();
}

std::vector<std::string> NamesDifferingOnlyInCase(const fs::path& folder) {
    std::vector<std::string> clashes;
    std::map<std::pair<fs::path, std::string>, fs::path> seen; // (parent, folded name) -> path
    std::error_code failure;
    fs::recursive_directory_iterator item(folder, fs::directory_options::skip_permission_denied,
                                          failure);
    for (; !failure && item != fs::recursive_directory_iterator(); item.increment(failure)) {
        std::string name;
        if (!PathToUtf8(item->path().filename(), name)) {
            continue; // no UTF-8 form: no Windows name to clash with
        }
        const auto [earlier, isFirst] = seen.emplace(
            std::make_pair(item->path().parent_path(), FoldedNameCase(name)), item->path());
        if (!isFirst) {
            clashes.push_back(DisplayPath(earlier->second) + " and " + DisplayPath(item->path()) +
                              " differ only in case");
        }
    }
    return clashes;
}

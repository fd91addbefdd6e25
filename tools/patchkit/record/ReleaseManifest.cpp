#include "record/ReleaseManifest.h"

#include "base/JsonReader.h"
#include "base/JsonWriter.h"
#include "base/TextConversion.h"
#include "base/WholeFile.h"
#include "package/EntryName.h"
#include "package/LocalState.h"
#include "platform/TextEncoding.h"
#include "record/ReleaseFolder.h"
#include "rules/EntryNameRules.h"
#include "rules/VersionText.h"
#include "signing/FileHashing.h"

#include <algorithm>
#include <functional>

namespace fs = std::filesystem;

namespace {

// Raised when the document changes in a way older readers would misread.
constexpr std::uint64_t kManifestFormat = 1;
constexpr std::size_t kDigestSize = 32;

const char* KindName(ManifestKind kind) {
    switch (kind) {
    case ManifestKind::Folder:
        return "folder";
    case ManifestKind::Pak:
        return "pak";
    case ManifestKind::File:
        break;
    }
    return "file";
}

bool KindOfName(const std::string& name, ManifestKind& kind) {
    for (const ManifestKind known : {ManifestKind::Folder, ManifestKind::File, ManifestKind::Pak}) {
        if (name == KindName(known)) {
            kind = known;
            return true;
        }
    }
    return false;
}

bool RefuseNames(const Release& release, Refusals& refusals) {
    for (const SourceEntry& entry : release.entries) {
        const NameProblem problem = CheckEntryName(entry.storedName);
        if (problem == NameProblem::Unsafe || problem == NameProblem::ForbiddenOnWindows) {
            refusals.Add(entry.path, TextOf(problem).text);
        }
    }
    return !refusals.Any();
}

// The entries in key order; the pak is the only .pak, when there is exactly one. False, with the
// name, for a name without a code page 936 form, which reading the release refuses before.
[[nodiscard]] bool ListEntries(const Release& release, ReleaseManifest& manifest,
                               Refusals& refusals) {
    const auto paks = std::count_if(release.entries.begin(), release.entries.end(), IsPak);
    for (const auto& [key, index] : release.byKey) {
        const SourceEntry& source = release.entries[index];
        ManifestEntry entry;
        entry.key = key;
        if (!Cp936ToUtf8(key, entry.path) || !Cp936ToUtf8(source.storedName, entry.releaseName)) {
            refusals.Add(source.path, "has no code page 936 form");
            return false;
        }
        entry.kind = source.directory             ? ManifestKind::Folder
                     : paks == 1 && IsPak(source) ? ManifestKind::Pak
                                                  : ManifestKind::File;
        entry.size = source.size;
        entry.source = source.path;
        manifest.entries.push_back(entry);
    }
    return true;
}

bool SetPakOffset(const Release& release, ReleaseManifest& manifest, Refusals& refusals) {
    manifest.version = release.state.localVersion;
    manifest.recordedPakOffset = release.state.pakAppendOffset;
    manifest.pakOffset = static_cast<std::uint64_t>(release.state.pakAppendOffset);
    const ManifestEntry* pak = manifest.Pak();
    if (pak != nullptr && manifest.recordedPakOffset == 0) {
        manifest.pakOffset = pak->size;
    } else if (pak != nullptr && manifest.pakOffset > pak->size) {
        refusals.Add(release.statePath, "records pak offset " + std::to_string(manifest.pakOffset) +
                                            ", beyond the end of " + DisplayPath(pak->source) +
                                            " at " + std::to_string(pak->size));
    }
    return !refusals.Any();
}

std::vector<HashRequest> HashRequests(const ReleaseManifest& manifest) {
    std::vector<HashRequest> requests;
    for (const ManifestEntry& entry : manifest.entries) {
        if (entry.kind != ManifestKind::Folder) {
            HashRequest request{entry.source, entry.size, {}};
            if (entry.kind == ManifestKind::Pak) {
                request.prefixes.push_back(manifest.pakOffset);
            }
            requests.push_back(request);
        }
    }
    requests.push_back(HashRequest{manifest.stateSource, 0, {}});
    return requests;
}

bool HashEntries(ReleaseManifest& manifest, const WorkSettings& work, const std::atomic<bool>* stop,
                 std::string& error) {
    const std::vector<HashRequest> requests = HashRequests(manifest);
    std::vector<HashResult> results;
    if (!HashFilesShown(requests, results, work, stop)) {
        error = "interrupted";
        return false;
    }
    std::size_t next = 0;
    for (ManifestEntry& entry : manifest.entries) {
        if (entry.kind == ManifestKind::Folder) {
            continue;
        }
        const HashResult& result = results[next++];
        if (!result.read || result.size != entry.size) {
            error = DisplayPath(entry.source) +
                    (result.read ? ": changed while it was read" : ": cannot be read");
            return false;
        }
        entry.sha256 = result.whole;
        if (entry.kind == ManifestKind::Pak) {
            entry.sha256BeforeOffset = result.prefixDigests.front();
        }
    }
    if (!results.back().read) {
        error = DisplayPath(manifest.stateSource) + ": cannot be read";
        return false;
    }
    manifest.stateSha256 = results.back().whole;
    return true;
}

} // namespace

const ManifestEntry* ReleaseManifest::Pak() const {
    const auto pak = std::find_if(entries.begin(), entries.end(), [](const ManifestEntry& entry) {
        return entry.kind == ManifestKind::Pak;
    });
    return pak == entries.end() ? nullptr : &*pak;
}

const ManifestEntry* ReleaseManifest::Find(const std::string& key) const {
    const auto found = std::lower_bound(
        entries.begin(), entries.end(), key,
        [](const ManifestEntry& entry, const std::string& k) { return entry.key < k; });
    return found != entries.end() && found->key == key ? &*found : nullptr;
}

bool MakeManifest(const fs::path& release, ReleaseManifest& manifest, const WorkSettings& work,
                  const std::atomic<bool>* stop, std::string& error) {
    manifest = ReleaseManifest();
    Release read;
    Refusals refusals;
    if (!ReadRelease(release, read, refusals) || !RefuseNames(read, refusals)) {
        error = refusals.Text();
        return false;
    }
    manifest.stateSource = read.statePath;
    if (!ListEntries(read, manifest, refusals) || !SetPakOffset(read, manifest, refusals)) {
        error = refusals.Text();
        return false;
    }
    return HashEntries(manifest, work, stop, error);
}

std::string ManifestJson(const ReleaseManifest& manifest) {
    JsonWriter json;
    json.BeginObject();
    json.Key("manifestFormat");
    json.Number(kManifestFormat);
    json.Key("version");
    json.Number(manifest.version);
    json.Key("versionShown");
    json.String(VersionShown(manifest.version));
    json.Key("recordedPakOffset");
    json.Number(static_cast<std::uint64_t>(manifest.recordedPakOffset));
    json.Key("pakOffset");
    json.Number(manifest.pakOffset);
    json.Key("entries");
    json.BeginArray();
    for (const ManifestEntry& entry : manifest.entries) {
        json.BeginObject();
        json.Key("path");
        json.String(entry.path);
        json.Key("nameCp936");
        json.String(HexText(entry.key));
        json.Key("kind");
        json.String(KindName(entry.kind));
        if (entry.kind != ManifestKind::Folder) {
            json.Key("size");
            json.Number(entry.size);
            json.Key("sha256");
            json.String(HexText(entry.sha256));
        }
        if (entry.kind == ManifestKind::Pak) {
            json.Key("sha256BeforeOffset");
            json.String(HexText(entry.sha256BeforeOffset));
        }
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return json.Text();
}

namespace {

// Each reason completes "entry N (PATH): ...".
[[nodiscard]] bool ReadDigest(const JsonValue& entry, const char* field, std::string& digest,
                              std::string& reason) {
    std::string text;
    if (!entry[field].GetString(text) || text.size() != 2 * kDigestSize ||
        !BytesOfHexText(text, digest)) {
        reason = std::string(field) + " is not 64 hexadecimal digits";
        return false;
    }
    return true;
}

// The entry's name: its code page 936 bytes in the form the updater writes, and the same as UTF-8.
[[nodiscard]] bool ReadEntryName(const JsonValue& value, ManifestEntry& entry,
                                 std::string& reason) {
    std::string hexName;
    std::string utf8;
    if (!value["path"].GetString(entry.path) || !value["nameCp936"].GetString(hexName) ||
        !BytesOfHexText(hexName, entry.key) || entry.key.empty()) {
        reason = "path or nameCp936 is missing or not a name";
    } else if (!Cp936ToUtf8(entry.key, utf8) || utf8 != entry.path) {
        reason = "path does not match nameCp936";
    } else if (WrittenPath(entry.key) != entry.key || entry.key.back() == '/' ||
               CheckEntryName(entry.key) != NameProblem::None) {
        reason = "is not a name the updater writes";
    } else {
        return true;
    }
    return false;
}

[[nodiscard]] bool ReadEntryData(const JsonValue& value, ManifestEntry& entry,
                                 std::string& reason) {
    const bool isPakName = EntryKindOf(entry.key) == EntryKind::Pak;
    if (entry.kind == ManifestKind::Folder) {
        const bool hasData = value["size"].kind() != JsonValue::Kind::Null ||
                             value["sha256"].kind() != JsonValue::Kind::Null;
        reason = hasData ? "a folder with a size or a digest" : "";
        return !hasData;
    }
    if (!value["size"].GetNumber(entry.size)) {
        reason = "size is missing or not a whole number";
        return false;
    }
    if (!ReadDigest(value, "sha256", entry.sha256, reason)) {
        return false;
    }
    if (entry.kind == ManifestKind::Pak && !isPakName) {
        reason = "marked as the pak, but its name does not end in .pak";
        return false;
    }
    if (entry.kind != ManifestKind::Pak) {
        const bool hasPrefix = value["sha256BeforeOffset"].kind() != JsonValue::Kind::Null;
        reason = hasPrefix ? "sha256BeforeOffset on an entry that is not the pak" : "";
        return !hasPrefix;
    }
    return ReadDigest(value, "sha256BeforeOffset", entry.sha256BeforeOffset, reason);
}

[[nodiscard]] bool ReadEntry(const JsonValue& value, const ReleaseManifest& manifest,
                             ManifestEntry& entry, std::string& reason) {
    std::string kind;
    if (!ReadEntryName(value, entry, reason)) {
        return false;
    }
    if (!value["kind"].GetString(kind) || !KindOfName(kind, entry.kind)) {
        reason = "kind is missing or not folder, file or pak";
        return false;
    }
    if (!manifest.entries.empty() && !(manifest.entries.back().key < entry.key)) {
        reason = "out of order, or a second entry of that name";
        return false;
    }
    const std::size_t separator = entry.key.rfind('/');
    const ManifestEntry* parent =
        separator == std::string::npos ? nullptr : manifest.Find(entry.key.substr(0, separator));
    if (separator != std::string::npos &&
        (parent == nullptr || parent->kind != ManifestKind::Folder)) {
        reason = "its folder is not an entry before it";
        return false;
    }
    return ReadEntryData(value, entry, reason);
}

[[nodiscard]] bool ReadState(const JsonValue& document, ReleaseManifest& manifest,
                             std::string& error) {
    std::uint64_t version = 0;
    std::uint64_t recorded = 0;
    std::string shown;
    if (!document["version"].GetNumber(version) || version == 0 || version > UINT32_MAX ||
        !document["recordedPakOffset"].GetNumber(recorded) || recorded > INT64_MAX ||
        !document["pakOffset"].GetNumber(manifest.pakOffset)) {
        error = "the release's version or pak offset is missing or invalid";
        return false;
    }
    manifest.version = static_cast<std::uint32_t>(version);
    manifest.recordedPakOffset = static_cast<std::int64_t>(recorded);
    if (!document["versionShown"].GetString(shown) || shown != VersionShown(manifest.version)) {
        error = "versionShown does not match version " + std::to_string(version);
        return false;
    }
    return true;
}

[[nodiscard]] bool ReadEntries(const JsonValue& entries, ReleaseManifest& manifest,
                               std::string& error) {
    if (!entries.IsArray()) {
        error = "it has no list of entries";
        return false;
    }
    for (const JsonValue& value : entries.Elements()) {
        ManifestEntry entry;
        std::string reason;
        if (!ReadEntry(value, manifest, entry, reason)) {
            error = "entry " + std::to_string(manifest.entries.size() + 1) +
                    (entry.path.empty() ? "" : " (" + entry.path + ")") + ": " + reason;
            return false;
        }
        manifest.entries.push_back(std::move(entry));
    }
    return true;
}

// What MakeManifest derives from the entries must hold: one pak, marked when it is the only
// .pak, and the offset in effect the one version.ini's offset and the pak give.
[[nodiscard]] bool CheckConsistency(const ReleaseManifest& manifest, std::string& error) {
    const auto count = [&manifest](const std::function<bool(const ManifestEntry&)>& test) {
        return std::count_if(manifest.entries.begin(), manifest.entries.end(), test);
    };
    const auto paks = count([](const ManifestEntry& e) { return e.kind == ManifestKind::Pak; });
    const auto pakNames = count([](const ManifestEntry& e) {
        return e.kind != ManifestKind::Folder && EntryKindOf(e.key) == EntryKind::Pak;
    });
    const ManifestEntry* pak = manifest.Pak();
    const std::uint64_t recorded = static_cast<std::uint64_t>(manifest.recordedPakOffset);
    const std::uint64_t inEffect = pak != nullptr && recorded == 0 ? pak->size : recorded;
    if (paks != (pakNames == 1 ? 1 : 0)) {
        error = "the pak is marked on " + std::to_string(paks) + " entries, but the release has " +
                std::to_string(pakNames) + " .pak files";
    } else if (manifest.pakOffset != inEffect) {
        error = "pakOffset " + std::to_string(manifest.pakOffset) +
                " is not the offset in effect (" + std::to_string(inEffect) + ")";
    } else if (pak != nullptr && manifest.pakOffset > pak->size) {
        error = "pakOffset " + std::to_string(manifest.pakOffset) +
                " lies beyond the pak's end at " + std::to_string(pak->size);
    } else if (pak != nullptr && manifest.pakOffset == pak->size &&
               pak->sha256BeforeOffset != pak->sha256) {
        error = "the pak's offset is its end, but sha256BeforeOffset differs from its sha256";
    } else {
        return true;
    }
    return false;
}

} // namespace

bool ParseManifest(const std::string& text, ReleaseManifest& manifest, std::string& error) {
    manifest = ReleaseManifest();
    JsonValue document;
    if (!ParseJson(text, document, error)) {
        return false;
    }
    std::uint64_t format = 0;
    if (!document["manifestFormat"].GetNumber(format)) {
        error = "not a release manifest (no manifestFormat)";
        return false;
    }
    if (format != kManifestFormat) {
        error = "a release manifest of format " + std::to_string(format) +
                ", which this patchkit does not know (it reads format " +
                std::to_string(kManifestFormat) + ")";
        return false;
    }
    if (!ReadState(document, manifest, error) ||
        !ReadEntries(document["entries"], manifest, error) || !CheckConsistency(manifest, error)) {
        manifest = ReleaseManifest();
        return false;
    }
    return true;
}

bool ReadManifestFile(const fs::path& path, ReleaseManifest& manifest, std::string& error) {
    // Far above the manifest of any game folder; a larger file is no manifest.
    constexpr std::uintmax_t kLargestManifest = std::uintmax_t(1) << 30;
    std::string text;
    if (!ReadInputFile(path, kLargestManifest, text, error)) {
        return false;
    }
    if (!ParseManifest(text, manifest, error)) {
        error = DisplayPath(path) + ": " + error;
        return false;
    }
    return true;
}

Release ReleaseOfManifest(const ReleaseManifest& manifest, const fs::path& label) {
    Release release;
    release.state.localVersion = manifest.version;
    release.state.pakAppendOffset = manifest.recordedPakOffset;
    release.statePath = label / kLocalStateFileName;
    for (const ManifestEntry& recorded : manifest.entries) {
        SourceEntry entry;
        entry.directory = recorded.kind == ManifestKind::Folder;
        entry.storedName = recorded.key + (entry.directory ? "/" : "");
        entry.size = recorded.size;
        entry.path = label / fs::u8path(recorded.path);
        release.byKey.emplace(recorded.key, release.entries.size());
        release.entries.push_back(std::move(entry));
    }
    return release;
}

std::string Sha256Sums(const ReleaseManifest& manifest) {
    std::string lines;
    for (const ManifestEntry& entry : manifest.entries) {
        if (entry.kind != ManifestKind::Folder) {
            lines += HexText(entry.sha256) + "  " + entry.releaseName + "\n";
        }
    }
    return lines + HexText(manifest.stateSha256) + "  " +
           DisplayPath(manifest.stateSource.filename()) + "\n";
}

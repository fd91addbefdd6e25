#include "identity/GameVerification.h"

#include "base/JsonWriter.h"
#include "base/TextConversion.h"
#include "package/LocalState.h"
#include "platform/TextEncoding.h"
#include "record/ReleaseFolder.h"
#include "rules/VersionText.h"
#include "signing/FileHashing.h"

#include <algorithm>
#include <map>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

using Item = GameFolder::Item;

// The digests of a game file that comparing it with the manifests' entry of its name takes.
std::set<std::uint64_t> PrefixesWanted(const std::vector<ReleaseManifest>& manifests,
                                       const Item& item, bool& wanted) {
    std::set<std::uint64_t> prefixes;
    for (const ReleaseManifest& manifest : manifests) {
        const ManifestEntry* entry = manifest.Find(item.key);
        if (entry == nullptr || entry->kind == ManifestKind::Folder) {
            continue;
        }
        if (entry->kind == ManifestKind::Pak) {
            prefixes.insert({manifest.pakOffset, entry->size});
            wanted = true;
        } else {
            wanted = wanted || entry->size == item.size;
        }
    }
    return prefixes;
}

bool HashWanted(const std::vector<ReleaseManifest>& manifests, GameFolder& folder,
                const WorkSettings& work, const std::atomic<bool>* stop, std::string& error) {
    std::vector<HashRequest> requests;
    std::vector<Item*> hashed;
    for (Item& item : folder.items) {
        bool wanted = false;
        const std::set<std::uint64_t> prefixes =
            item.directory ? std::set<std::uint64_t>() : PrefixesWanted(manifests, item, wanted);
        if (wanted) {
            item.prefixes.assign(prefixes.begin(), prefixes.end());
            requests.push_back(HashRequest{item.path, item.size, item.prefixes});
            hashed.push_back(&item);
        }
    }
    std::vector<HashResult> results;
    if (!HashFilesShown(requests, results, work, stop)) {
        error = "interrupted";
        return false;
    }
    for (std::size_t i = 0; i < hashed.size(); ++i) {
        if (!results[i].read) {
            error = DisplayPath(hashed[i]->path) + ": cannot be read";
            return false;
        }
        // A file that changed since it was listed is compared as it was read.
        hashed[i]->size = results[i].size;
        hashed[i]->sha256 = results[i].whole;
        hashed[i]->prefixDigests = results[i].prefixDigests;
    }
    return true;
}

std::string PrefixDigest(const Item& item, std::uint64_t length) {
    const auto found = std::find(item.prefixes.begin(), item.prefixes.end(), length);
    return found == item.prefixes.end()
               ? std::string()
               : item.prefixDigests[static_cast<std::size_t>(found - item.prefixes.begin())];
}

class Comparison {
public:
    Comparison(const GameFolder& folder, const ReleaseManifest& manifest)
        : m_folder(folder), m_manifest(manifest) {
        for (const Item& item : folder.items) {
            m_byKey.emplace(item.key, &item); // the first of names that differ only in case
        }
    }

    std::vector<Difference> Run() {
        for (const ManifestEntry& entry : m_manifest.entries) {
            CompareEntry(entry);
        }
        FindExtras();
        CompareState();
        for (const std::string& clash : m_folder.caseClashes) {
            Add(DifferenceKind::CaseClash, "", clash + "; Windows holds only one of them");
        }
        return std::move(m_differences);
    }

private:
    const Item* Find(const std::string& key) const {
        const auto found = m_byKey.find(key);
        return found == m_byKey.end() ? nullptr : found->second;
    }

    Difference& Add(DifferenceKind kind, const std::string& path, const std::string& text) {
        m_differences.push_back(Difference{kind, path, text, {}, nullptr});
        return m_differences.back();
    }

    void Add(DifferenceKind kind, const ManifestEntry& entry, const Item* item,
             const std::string& text) {
        Difference& difference = Add(kind, entry.path, text);
        difference.wanted = &entry;
        difference.gamePath = item != nullptr ? item->path : fs::path();
    }

    void CompareEntry(const ManifestEntry& entry) {
        const Item* item = Find(entry.key);
        const bool folderWanted = entry.kind == ManifestKind::Folder;
        if (item == nullptr) {
            Add(DifferenceKind::Missing, entry, nullptr, "not in the game folder");
        } else if (item->directory != folderWanted) {
            Add(DifferenceKind::KindChanged, entry, item,
                folderWanted ? "a file, where the release has a folder"
                             : "a folder, where the release has a file");
        } else if (entry.kind == ManifestKind::File && item->size != entry.size) {
            Add(DifferenceKind::Changed, entry, item,
                std::to_string(item->size) + " bytes, the release's " + std::to_string(entry.size));
        } else if (entry.kind == ManifestKind::File && item->sha256 != entry.sha256) {
            Add(DifferenceKind::Changed, entry, item, "content differs (same size)");
        } else if (entry.kind == ManifestKind::Pak) {
            ComparePak(entry, *item);
        }
    }

    void ComparePak(const ManifestEntry& entry, const Item& item) {
        const std::uint64_t offset = m_manifest.pakOffset;
        const std::string sizes =
            std::to_string(item.size) + " bytes, the release's " + std::to_string(entry.size);
        if (item.size < offset) {
            Add(DifferenceKind::PakShort, entry, &item,
                sizes + ": shorter than the pak offset " + std::to_string(offset));
        } else if (PrefixDigest(item, offset) != entry.sha256BeforeOffset) {
            Add(DifferenceKind::PakChangedBeforeOffset, entry, &item,
                "differs before the pak offset " + std::to_string(offset) +
                    ", in what every later release keeps");
        } else if (item.size > entry.size && PrefixDigest(item, entry.size) == entry.sha256) {
            Add(DifferenceKind::PakTail, entry, &item,
                std::to_string(item.size - entry.size) +
                    " bytes past the release's end (an interrupted update leaves them)");
        } else if (item.size != entry.size || item.sha256 != entry.sha256) {
            Add(DifferenceKind::PakChangedAfterOffset, entry, &item,
                sizes + ": differs after the pak offset " + std::to_string(offset));
        }
    }

    static bool IsUpdatersEmptyWorkFolder(const Item& item) {
        std::error_code failure;
        return item.directory && item.key == "patch" && fs::is_empty(item.path, failure) &&
               !failure;
    }

    void FindExtras() {
        std::string skipped; // a folder reported (or replaced) as a whole: its stored name
        for (const Item& item : m_folder.items) {
            if (!skipped.empty() && item.storedName.compare(0, skipped.size(), skipped) == 0) {
                continue;
            }
            const ManifestEntry* entry = m_manifest.Find(item.key);
            const bool inRelease = entry != nullptr && Find(item.key) == &item;
            if (inRelease) {
                const bool replaced = item.directory && entry->kind != ManifestKind::Folder;
                skipped = replaced ? item.storedName : std::string();
                continue;
            }
            if ((item.key == kLocalStateFileName && !item.directory) ||
                IsUpdatersEmptyWorkFolder(item) || entry != nullptr) {
                continue; // the second of two names that differ only in case is a clash
            }
            std::string path;
            if (!Cp936ToUtf8(item.key, path)) {
                path = item.key; // the report's writer replaces what is not UTF-8
            }
            Add(DifferenceKind::Extra, path,
                item.directory ? "a folder the release does not have" : "not in the release")
                .gamePath = item.path;
            skipped = item.directory ? item.storedName : std::string();
        }
    }

    // The offset the next pak entry would be written at, as the game's version.ini says it.
    std::uint64_t EffectiveOffset(const LocalState& state) const {
        const ManifestEntry* pak = m_manifest.Pak();
        const Item* item = pak != nullptr ? Find(pak->key) : nullptr;
        if (state.pakAppendOffset != 0 || item == nullptr || item->directory) {
            return static_cast<std::uint64_t>(state.pakAppendOffset);
        }
        return item->size;
    }

    void CompareState() {
        const Item* item = Find(kLocalStateFileName);
        LocalState state;
        if (item == nullptr || item->directory || !ReadLocalStateFile(item->path, state)) {
            Add(DifferenceKind::LocalStateUnreadable, kLocalStateFileName,
                "missing, or holds no valid version");
            return;
        }
        if (state.localVersion != m_manifest.version) {
            Add(DifferenceKind::VersionDiffers, kLocalStateFileName,
                "version " + std::to_string(state.localVersion) + ", the release's " +
                    std::to_string(m_manifest.version));
        }
        const std::uint64_t offset = EffectiveOffset(state);
        if (offset != m_manifest.pakOffset) {
            Add(DifferenceKind::PakOffsetDiffers, kLocalStateFileName,
                "pak offset " + std::to_string(offset) + " in effect, the release's " +
                    std::to_string(m_manifest.pakOffset));
        }
    }

    const GameFolder& m_folder;
    const ReleaseManifest& m_manifest;
    std::map<std::string, const Item*> m_byKey;
    std::vector<Difference> m_differences;
};

} // namespace

const char* DifferenceKindName(DifferenceKind kind) {
    switch (kind) {
    case DifferenceKind::Missing:
        return "missing";
    case DifferenceKind::Extra:
        return "extra";
    case DifferenceKind::KindChanged:
        return "kindChanged";
    case DifferenceKind::Changed:
        return "changed";
    case DifferenceKind::PakShort:
        return "pakShort";
    case DifferenceKind::PakChangedBeforeOffset:
        return "pakChangedBeforeOffset";
    case DifferenceKind::PakTail:
        return "pakTail";
    case DifferenceKind::PakChangedAfterOffset:
        return "pakChangedAfterOffset";
    case DifferenceKind::LocalStateUnreadable:
        return "versionIniUnreadable";
    case DifferenceKind::VersionDiffers:
        return "versionDiffers";
    case DifferenceKind::PakOffsetDiffers:
        return "pakOffsetDiffers";
    case DifferenceKind::CaseClash:
        break;
    }
    return "caseClash";
}

bool ReadGameFolder(const fs::path& game, const std::vector<ReleaseManifest>& manifests,
                    GameFolder& folder, const WorkSettings& work, const std::atomic<bool>* stop,
                    std::string& error) {
    folder = GameFolder();
    folder.root = game;
    std::vector<SourceEntry> entries;
    if (!CollectSourceFolder(game, entries, error)) {
        return false;
    }
    std::map<std::string, fs::path> byKey;
    for (const SourceEntry& entry : entries) {
        Item item{KeyOf(entry), entry.path, entry.storedName, entry.directory, entry.size, {},
                  {},           {}};
        const auto [earlier, isFirst] = byKey.emplace(item.key, entry.path);
        if (!isFirst) {
            folder.caseClashes.push_back(DisplayPath(earlier->second) + " and " +
                                         DisplayPath(entry.path) + " differ only in case");
        }
        folder.items.push_back(std::move(item));
    }
    return HashWanted(manifests, folder, work, stop, error);
}

std::vector<Difference> CompareWithRelease(const GameFolder& folder,
                                           const ReleaseManifest& manifest) {
    return Comparison(folder, manifest).Run();
}

namespace {

std::string ReleaseName(const ReleaseManifest& manifest) {
    return "release " + std::to_string(manifest.version) + " (" + VersionShown(manifest.version) +
           ")";
}

// Wide enough for the longest kind name and a space.
constexpr std::size_t kKindColumn = 24;

std::string DifferenceLines(const std::vector<Difference>& differences) {
    std::string lines;
    for (const Difference& difference : differences) {
        const std::string kind = DifferenceKindName(difference.kind);
        lines += "  " + kind + std::string(kKindColumn - std::min(kKindColumn, kind.size()), ' ') +
                 (difference.path.empty() ? "" : difference.path + ": ") + difference.text + "\n";
    }
    return lines;
}

std::string Ways(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " way" : " ways");
}

void ReleaseJson(JsonWriter& json, const Verification& verification, std::size_t index) {
    const ReleaseManifest& manifest = verification.manifests[index];
    json.Key("manifest");
    json.String(verification.sources[index]);
    json.Key("version");
    json.Number(manifest.version);
    json.Key("versionShown");
    json.String(VersionShown(manifest.version));
}

} // namespace

std::string VerificationText(const Verification& verification) {
    const std::size_t nearest = verification.nearest;
    const std::string release =
        ReleaseName(verification.manifests[nearest]) + " (" + verification.sources[nearest] + ")";
    if (verification.Exact()) {
        return verification.game + " is " + release + ", exactly\n";
    }
    const std::vector<Difference>& differences = verification.differences[nearest];
    std::string text;
    if (verification.manifests.size() == 1) {
        text = verification.game + " differs from " + release + " in " + Ways(differences.size()) +
               ":\n";
    } else {
        text = verification.game + " is none of the " +
               std::to_string(verification.manifests.size()) + " releases; the nearest is " +
               release + ", from which it differs in " + Ways(differences.size()) + ":\n";
    }
    text += DifferenceLines(differences);
    for (std::size_t i = 0; i < verification.manifests.size(); ++i) {
        if (i != nearest) {
            text += "  (" + ReleaseName(verification.manifests[i]) + ": " +
                    Ways(verification.differences[i].size()) + ")\n";
        }
    }
    return text;
}

std::string VerificationJson(const Verification& verification) {
    JsonWriter json;
    json.BeginObject();
    json.Key("game");
    json.String(verification.game);
    json.Key("exact");
    json.Bool(verification.Exact());
    json.Key("release");
    json.BeginObject();
    ReleaseJson(json, verification, verification.nearest);
    json.EndObject();
    json.Key("differences");
    json.BeginArray();
    for (const Difference& difference : verification.differences[verification.nearest]) {
        json.BeginObject();
        json.Key("kind");
        json.String(DifferenceKindName(difference.kind));
        json.Key("path");
        json.String(difference.path);
        json.Key("text");
        json.String(difference.text);
        json.EndObject();
    }
    json.EndArray();
    json.Key("releases");
    json.BeginArray();
    for (std::size_t i = 0; i < verification.manifests.size(); ++i) {
        json.BeginObject();
        ReleaseJson(json, verification, i);
        json.Key("differences");
        json.Number(verification.differences[i].size());
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    return json.Text();
}

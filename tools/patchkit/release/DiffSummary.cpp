#include "release/DiffSummary.h"

#include "base/JsonWriter.h"
#include "package/EntryName.h"
#include "platform/TextEncoding.h"
#include "rules/VersionText.h"

namespace {

const char* KindOf(const SourceEntry& entry) {
    if (entry.directory) {
        return "folder";
    }
    return EntryKindOf(LowerCaseEntryName(entry.storedName)) == EntryKind::Pak ? "pak" : "file";
}

struct EntryCounts {
    std::size_t folders = 0;
    std::size_t files = 0;
    std::size_t paks = 0;
    std::uint64_t bytes = 0;
};

EntryCounts CountEntries(const ReleaseDiff& diff) {
    EntryCounts counts;
    for (const SourceEntry& entry : diff.entries) {
        const std::string kind = KindOf(entry);
        ++(kind == "folder" ? counts.folders : kind == "pak" ? counts.paks : counts.files);
        counts.bytes += entry.size;
    }
    return counts;
}

std::string NameOf(const SourceEntry& entry) {
    std::string utf8;
    return Cp936ToUtf8(entry.storedName, utf8) ? utf8 : entry.storedName;
}

std::string Count(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

} // namespace

std::string DiffSummaryText(const DiffOutcome& outcome) {
    const ReleaseDiff& diff = *outcome.diff;
    const EntryCounts counts = CountEntries(diff);
    std::string text = VersionShown(diff.oldVersion) + " to " + VersionShown(diff.newVersion) +
                       ": " + Count(counts.folders, "new folder", "new folders") + ", " +
                       Count(counts.files, "file", "files") + ", " +
                       Count(counts.paks, "pak slice", "pak slices") + "; " +
                       std::to_string(counts.bytes) + " bytes\n";
    if (diff.pakChanged) {
        text += "pak: " + diff.pakName + " bytes " + std::to_string(diff.pakStart) + " to " +
                std::to_string(diff.pakEnd) + " (" + std::to_string(diff.pakEnd - diff.pakStart) +
                " bytes)\n";
    }
    text += "left out: " + Count(diff.unchangedFiles, "unchanged file", "unchanged files") + " (" +
            std::to_string(diff.unchangedBytes) + " bytes), version.ini\n";
    if (!diff.leftovers.empty()) {
        text +=
            "left on the players' disks: " +
            Count(diff.leftovers.size(), "file or folder NEW lacks", "files or folders NEW lacks") +
            "\n";
    }
    if (outcome.folder) {
        text += outcome.output + ": update folder for version " + std::to_string(diff.newVersion) +
                "; build it with: patchkit build --stub STUB.exe "
                "--version " +
                std::to_string(diff.newVersion) + " --from " + outcome.output + " -o PACKAGE.exe\n";
    } else {
        text += outcome.output + ": package for version " + std::to_string(diff.newVersion) + " (" +
                VersionShown(diff.newVersion) + "), applies to local version " +
                std::to_string(diff.oldVersion) + "\n";
    }
    if (outcome.checked) {
        text += outcome.differences.empty()
                    ? "check: the update turns a copy of OLD into NEW\n"
                    : "check: " + Count(outcome.differences.size(), "difference", "differences") +
                          " between the updated copy of OLD and NEW\n";
        for (const std::string& difference : outcome.differences) {
            text += "  " + difference + "\n";
        }
    }
    return text;
}

std::string DiffSummaryJson(const DiffOutcome& outcome) {
    const ReleaseDiff& diff = *outcome.diff;
    const EntryCounts counts = CountEntries(diff);
    JsonWriter json;
    json.BeginObject();
    json.Key("oldVersion");
    json.Number(diff.oldVersion);
    json.Key("newVersion");
    json.Number(diff.newVersion);
    json.Key("entries");
    json.BeginArray();
    for (const SourceEntry& entry : diff.entries) {
        json.BeginObject();
        json.Key("kind");
        json.String(KindOf(entry));
        json.Key("storedName");
        json.String(NameOf(entry));
        json.Key("bytes");
        json.Number(entry.size);
        json.EndObject();
    }
    json.EndArray();
    json.Key("counts");
    json.BeginObject();
    json.Key("folders");
    json.Number(counts.folders);
    json.Key("files");
    json.Number(counts.files);
    json.Key("paks");
    json.Number(counts.paks);
    json.Key("bytes");
    json.Number(counts.bytes);
    json.EndObject();
    json.Key("pak");
    if (diff.pakChanged) {
        json.BeginObject();
        json.Key("path");
        json.String(diff.pakName);
        json.Key("start");
        json.Number(diff.pakStart);
        json.Key("end");
        json.Number(diff.pakEnd);
        json.EndObject();
    } else {
        json.Null();
    }
    json.Key("unchangedFiles");
    json.Number(diff.unchangedFiles);
    json.Key("unchangedBytes");
    json.Number(diff.unchangedBytes);
    json.Key("leftovers");
    json.BeginArray();
    for (const std::string& leftover : diff.leftovers) {
        json.String(leftover);
    }
    json.EndArray();
    json.Key(outcome.folder ? "folder" : "package");
    json.String(outcome.output);
    json.Key("check");
    if (outcome.checked) {
        json.BeginObject();
        json.Key("passed");
        json.Bool(outcome.differences.empty());
        json.Key("differences");
        json.BeginArray();
        for (const std::string& difference : outcome.differences) {
            json.String(difference);
        }
        json.EndArray();
        json.EndObject();
    } else {
        json.Null();
    }
    json.EndObject();
    return json.Text();
}

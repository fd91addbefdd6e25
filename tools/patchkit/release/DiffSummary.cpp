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
        const char* const checked =
            outcome.checkedOnRecords ? " between OLD's manifest with the package applied and NEW\n"
                                     : " between the updated copy of OLD and NEW\n";
        text += outcome.differences.empty()
                    ? outcome.checkedOnRecords
                          ? "check: the package applied to OLD's manifest gives NEW's\n"
                          : "check: the update turns a copy of OLD into NEW\n"
                    : "check: " + Count(outcome.differences.size(), "difference", "differences") +
                          checked;
        for (const std::string& difference : outcome.differences) {
            text += "  " + difference + "\n";
        }
    }
    return text;
}

namespace {

void EntriesField(JsonWriter& json, const ReleaseDiff& diff) {
    json.Key("entries");
    json.BeginArray();
    for (const SourceEntry& entry : diff.entries) {
        json.BeginObject();
        json.StringField("kind", KindOf(entry));
        json.StringField("storedName", NameOf(entry));
        json.NumberField("bytes", entry.size);
        json.EndObject();
    }
    json.EndArray();
}

void CountsField(JsonWriter& json, const EntryCounts& counts) {
    json.Key("counts");
    json.BeginObject();
    json.NumberField("folders", counts.folders);
    json.NumberField("files", counts.files);
    json.NumberField("paks", counts.paks);
    json.NumberField("bytes", counts.bytes);
    json.EndObject();
}

void PakField(JsonWriter& json, const ReleaseDiff& diff) {
    if (!diff.pakChanged) {
        json.NullField("pak");
        return;
    }
    json.Key("pak");
    json.BeginObject();
    json.StringField("path", diff.pakName);
    json.NumberField("start", diff.pakStart);
    json.NumberField("end", diff.pakEnd);
    json.EndObject();
}

void CheckField(JsonWriter& json, const DiffOutcome& outcome) {
    if (!outcome.checked) {
        json.NullField("check");
        return;
    }
    json.Key("check");
    json.BeginObject();
    json.BoolField("passed", outcome.differences.empty());
    json.StringField("method", outcome.checkedOnRecords ? "manifests" : "engine");
    json.StringArrayField("differences", outcome.differences);
    json.EndObject();
}

} // namespace

std::string DiffSummaryJson(const DiffOutcome& outcome) {
    const ReleaseDiff& diff = *outcome.diff;
    JsonWriter json;
    json.BeginObject();
    json.NumberField("oldVersion", diff.oldVersion);
    json.NumberField("newVersion", diff.newVersion);
    EntriesField(json, diff);
    CountsField(json, CountEntries(diff));
    PakField(json, diff);
    json.NumberField("unchangedFiles", diff.unchangedFiles);
    json.NumberField("unchangedBytes", diff.unchangedBytes);
    json.StringArrayField("leftovers", diff.leftovers);
    json.StringField(outcome.folder ? "folder" : "package", outcome.output);
    CheckField(json, outcome);
    json.EndObject();
    return json.Text();
}

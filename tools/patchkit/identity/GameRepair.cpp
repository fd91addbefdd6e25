#include "identity/GameRepair.h"

#include "base/JsonWriter.h"
#include "base/StopRequest.h"
#include "base/TextConversion.h"
#include "build/SourceFolder.h"
#include "package/LocalState.h"
#include "platform/FileReplacement.h"
#include "platform/FileSystem.h"
#include "platform/TextEncoding.h"
#include "record/ReleaseFolder.h"
#include "rules/VersionText.h"

#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The temporary a copy is written to beside its target; one left by an interrupted repair is
// removed by the next.
constexpr const char* kPartialSuffix = ".patchkit-partial";

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class Planner {
public:
    Planner(const RepairRequest& request, const GameFolder& folder, RepairOutcome& outcome)
        : m_request(request), m_outcome(outcome) {
        for (const GameFolder::Item& item : folder.items) {
            m_paths.emplace(item.key, item.path);
        }
    }

    bool Plan(const std::vector<Difference>& differences, std::string& error) {
        for (const Difference& difference : differences) {
            if (!PlanFor(difference, error)) {
                return false;
            }
        }
        // Out of the way first, then folders ahead of what goes into them, version.ini last.
        for (const RepairStep step :
             {RepairStep::Remove, RepairStep::Keep, RepairStep::CreateFolder, RepairStep::Copy,
              RepairStep::WriteLocalState}) {
            for (const RepairAction& action : m_planned) {
                if (action.step == step ||
                    (step == RepairStep::Copy && action.step == RepairStep::CutPak)) {
                    m_outcome.actions.push_back(action);
                }
            }
        }
        return true;
    }

private:
    void Add(RepairStep step, const Difference& difference, const fs::path& target) {
        m_planned.push_back(
            RepairAction{step, difference.path, difference.text, target, difference.wanted});
    }

    // Where an entry goes: where the game has it, or below the deepest folder of its path that
    // the game has, in whatever case, under the names the release spells.
    fs::path TargetOf(const std::string& key, const std::string& releaseName) const {
        const auto existing = m_paths.find(key);
        if (existing != m_paths.end()) {
            return existing->second;
        }
        fs::path target = m_request.game;
        std::size_t parts = 0; // of the key found in the game
        for (std::size_t slash = key.find('/'); slash != std::string::npos;
             slash = key.find('/', slash + 1)) {
            const auto found = m_paths.find(key.substr(0, slash));
            if (found == m_paths.end()) {
                break;
            }
            target = found->second;
            ++parts;
        }
        // "/" is never part of a double-byte character: the names have the same parts.
        for (const fs::path& part : fs::u8path(releaseName)) {
            if (parts == 0) {
                target /= part;
            } else {
                --parts;
            }
        }
        return target;
    }

    bool PlanFor(const Difference& difference, std::string& error) {
        const fs::path target =
            difference.gamePath.empty() && difference.wanted != nullptr
                ? TargetOf(difference.wanted->key, difference.wanted->releaseName)
                : difference.gamePath;
        switch (difference.kind) {
        case DifferenceKind::Extra: {
            std::string name;
            const bool ours = PathToUtf8(target.filename(), name) && EndsWith(name, kPartialSuffix);
            Add(ours || m_request.removeExtra ? RepairStep::Remove : RepairStep::Keep, difference,
                target);
            return true;
        }
        case DifferenceKind::KindChanged:
            if (difference.wanted->kind != ManifestKind::Folder && !m_request.removeExtra) {
                error = DisplayPath(target) +
                        ": a folder where the release has a file; pass --remove-extra to replace "
                        "it and what it holds";
                return false;
            }
            Add(RepairStep::Remove, difference, target);
            Add(difference.wanted->kind == ManifestKind::Folder ? RepairStep::CreateFolder
                                                                : RepairStep::Copy,
                difference, target);
            return true;
        case DifferenceKind::Missing:
            Add(difference.wanted->kind == ManifestKind::Folder ? RepairStep::CreateFolder
                                                                : RepairStep::Copy,
                difference, target);
            return true;
        case DifferenceKind::PakTail:
            Add(RepairStep::CutPak, difference, target);
            return true;
        case DifferenceKind::LocalStateUnreadable:
        case DifferenceKind::VersionDiffers:
        case DifferenceKind::PakOffsetDiffers:
            PlanLocalState(difference);
            return true;
        case DifferenceKind::CaseClash:
            error = difference.text;
            return false;
        default:
            Add(RepairStep::Copy, difference, target);
            return true;
        }
    }

    void PlanLocalState(const Difference& difference) {
        for (const RepairAction& action : m_planned) {
            if (action.step == RepairStep::WriteLocalState) {
                return; // one rewrite mends every difference of version.ini
            }
        }
        Add(RepairStep::WriteLocalState, difference,
            TargetOf(kLocalStateFileName, kLocalStateFileName));
    }

    const RepairRequest& m_request;
    RepairOutcome& m_outcome;
    std::map<std::string, fs::path> m_paths; // what the game holds, by key
    std::vector<RepairAction> m_planned;
};

// The release's bytes under the target's name, complete or not at all.
bool CopyInPlace(const fs::path& from, std::uint64_t size, const fs::path& target,
                 std::string& error) {
    fs::path temporary = target;
    temporary += kPartialSuffix;
    switch (ReplaceFileThrough(
        temporary, target, [&] { return CopyFileSlice(from, 0, size, temporary, error, true); })) {
    case Replacement::Done:
        return true;
    case Replacement::NotWritten:
        return false;
    case Replacement::NotReplaced:
        break;
    }
    error = DisplayPath(target) + ": cannot be replaced";
    return false;
}

bool CutPak(const fs::path& target, std::uint64_t size, std::string& error) {
    std::error_code failure;
    fs::resize_file(target, size, failure);
    FileHandle pak = failure ? FileHandle() : OpenFile(target, "r+b");
    if (!pak || !FlushFileToDisk(pak.get()) || !CloseWrittenFile(pak)) {
        error = DisplayPath(target) + ": cannot be cut back to " + std::to_string(size) + " bytes";
        return false;
    }
    return true;
}

bool CarryOut(const RepairAction& action, const ReleaseManifest& manifest, std::string& error) {
    std::error_code failure;
    switch (action.step) {
    case RepairStep::Keep:
        return true;
    case RepairStep::Remove:
        fs::remove_all(action.target, failure);
        break;
    case RepairStep::CreateFolder:
        fs::create_directories(action.target, failure);
        break;
    case RepairStep::Copy:
        return CopyInPlace(action.source->source, action.source->size, action.target, error);
    case RepairStep::CutPak:
        return CutPak(action.target, action.source->size, error);
    case RepairStep::WriteLocalState:
        return CopyInPlace(manifest.stateSource, fs::file_size(manifest.stateSource, failure),
                           action.target, error);
    }
    if (failure) {
        error = DisplayPath(action.target) + ": " + failure.message();
        return false;
    }
    return true;
}

bool RefuseNestedFolders(const RepairRequest& request, std::string& error) {
    if (IsInsideFolder(request.game, request.release) ||
        IsInsideFolder(request.release, request.game)) {
        error = DisplayPath(request.game) + " and " + DisplayPath(request.release) +
                ": one folder lies inside the other; repair copies between two separate folders";
        return true;
    }
    return false;
}

} // namespace

bool RepairGame(const RepairRequest& request, RepairOutcome& outcome, std::string& error) {
    outcome = RepairOutcome();
    outcome.game = DisplayPath(request.game);
    outcome.dryRun = request.dryRun;
    if (RefuseNestedFolders(request, error) ||
        !MakeManifest(request.release, outcome.manifest, request.work, request.stop, error)) {
        return false;
    }
    GameFolder folder;
    if (!ReadGameFolder(request.game, {outcome.manifest}, folder, request.work, request.stop,
                        error)) {
        return false;
    }
    if (!folder.caseClashes.empty()) {
        error =
            folder.caseClashes.front() + "; Windows holds only one of them: rename or remove one";
        return false;
    }
    Planner planner(request, folder, outcome);
    if (!planner.Plan(CompareWithRelease(folder, outcome.manifest), error)) {
        return false;
    }
    if (request.dryRun) {
        return true;
    }
    std::vector<RepairAction> done;
    for (const RepairAction& action : outcome.actions) {
        if (StopAsked(request.stop)) {
            error = "interrupted";
        } else if (CarryOut(action, outcome.manifest, error)) {
            done.push_back(action);
            continue;
        }
        outcome.actions = done;
        return false;
    }
    return true;
}

namespace {

const char* StepName(RepairStep step, bool dryRun) {
    switch (step) {
    case RepairStep::Remove:
        return dryRun ? "would remove" : "removed";
    case RepairStep::Keep:
        return "kept";
    case RepairStep::CreateFolder:
        return dryRun ? "would create" : "created";
    case RepairStep::Copy:
        return dryRun ? "would copy" : "copied";
    case RepairStep::CutPak:
        return dryRun ? "would cut back" : "cut back";
    case RepairStep::WriteLocalState:
        break;
    }
    return dryRun ? "would write" : "wrote";
}

// "remove", "keep", ... for the JSON report.
const char* StepKey(RepairStep step) {
    switch (step) {
    case RepairStep::Remove:
        return "remove";
    case RepairStep::Keep:
        return "keep";
    case RepairStep::CreateFolder:
        return "createFolder";
    case RepairStep::Copy:
        return "copy";
    case RepairStep::CutPak:
        return "cutPak";
    case RepairStep::WriteLocalState:
        break;
    }
    return "writeVersionIni";
}

std::size_t Kept(const RepairOutcome& outcome) {
    std::size_t kept = 0;
    for (const RepairAction& action : outcome.actions) {
        kept += action.step == RepairStep::Keep ? 1 : 0;
    }
    return kept;
}

} // namespace

std::string RepairText(const RepairOutcome& outcome) {
    std::string text;
    for (const RepairAction& action : outcome.actions) {
        text += std::string(StepName(action.step, outcome.dryRun)) + " " + action.path + ": " +
                action.reason + "\n";
    }
    const std::string release = "release " + std::to_string(outcome.manifest.version) + " (" +
                                VersionShown(outcome.manifest.version) + ")";
    const std::size_t kept = Kept(outcome);
    if (outcome.actions.size() == kept) {
        text += outcome.game + " is " + release + " already";
    } else {
        text += outcome.game + (outcome.dryRun ? " would be " : " is now ") + release;
    }
    if (kept != 0) {
        text += ", beside " + std::to_string(kept) +
                " extra files or folders it keeps (--remove-extra removes them)";
    }
    return text + "\n";
}

std::string RepairJson(const RepairOutcome& outcome) {
    JsonWriter json;
    json.BeginObject();
    json.Key("game");
    json.String(outcome.game);
    json.Key("version");
    json.Number(outcome.manifest.version);
    json.Key("versionShown");
    json.String(VersionShown(outcome.manifest.version));
    json.Key("dryRun");
    json.Bool(outcome.dryRun);
    json.Key("actions");
    json.BeginArray();
    for (const RepairAction& action : outcome.actions) {
        json.BeginObject();
        json.Key("action");
        json.String(StepKey(action.step));
        json.Key("path");
        json.String(action.path);
        json.Key("reason");
        json.String(action.reason);
        json.EndObject();
    }
    json.EndArray();
    json.Key("extrasKept");
    json.Number(Kept(outcome));
    json.EndObject();
    return json.Text();
}

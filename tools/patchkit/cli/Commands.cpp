#include "cli/Commands.h"

#include "base/TextConversion.h"
#include "cli/ConsoleView.h"
#include "cli/InterruptWatcher.h"
#include "cli/ProgressDisplay.h"
#include "cli/Terminal.h"
#include "engine/RunPatch.h"
#include "inspect/ReportPrinter.h"
#include "platform/FileSystem.h"
#include "record/ReleaseFolder.h"
#include "release/DiffSummary.h"
#include "release/DiffWorkflow.h"
#include "rules/VersionText.h"
#include "signing/SealPackage.h"

#include <cstdio>
#include <memory>
#include <system_error>

namespace fs = std::filesystem;

void PrintError(const std::string& text) {
    std::fprintf(stderr, "patchkit: %s\n", text.c_str());
}

namespace {

// The comparisons report the bytes done so far, from 0 again in each phase; the display counts
// what each report adds.
ProgressCallback ComparisonProgress(ProgressDisplay& display, const char* label) {
    auto shown = std::make_shared<std::uint64_t>(0);
    return [&display, label, shown](std::uint64_t done, std::uint64_t total) {
        if (!display.Started() || done < *shown) {
            display.Start(label, total);
            *shown = 0;
        }
        display.Add(done - *shown);
        *shown = done;
    };
}

void PrintRemarks(const std::vector<Finding>& remarks) {
    // A folder named Data alone would give a note for every file in it.
    constexpr std::size_t kNotesShown = 5;
    std::size_t notes = 0;
    for (const Finding& remark : remarks) {
        if (remark.severity != Severity::Note || ++notes <= kNotesShown) {
            PrintError(std::string(SeverityName(remark.severity)) + ": " + remark.text);
        }
    }
    if (notes > kNotesShown) {
        PrintError("note: " + std::to_string(notes - kNotesShown) +
                   " more names with upper-case letters, which the updater writes in lower case");
    }
}

} // namespace

int RunBuild(BuildRequest request, bool quiet) {
    ProgressDisplay progress(stderr, !quiet && IsTerminal(stderr));
    request.work.progress = &progress;
    std::vector<Finding> remarks;
    std::string error;
    std::atomic<bool> interrupted{false};
    bool built = false;
    {
        InterruptWatcher watcher([&interrupted] { interrupted = true; });
        request.stop = &interrupted;
        built = BuildPackage(request, remarks, error);
    }
    PrintRemarks(remarks);
    if (!built) {
        PrintError("nothing written:\n" + error);
        return 1;
    }
    std::printf("%s: package for version %u (%s), applies to local version %u\n",
                DisplayPath(request.output).c_str(), request.version,
                VersionShown(request.version).c_str(), request.version - 1);
    return 0;
}

int RunSeal(const fs::path& package) {
    SealResult result;
    std::string error;
    std::atomic<bool> interrupted{false};
    bool sealed = false;
    {
        InterruptWatcher watcher([&interrupted] { interrupted = true; });
        sealed = SealPackage(package, result, error, &interrupted);
    }
    if (!sealed) {
        PrintError("nothing written:\n" + error);
        return 1;
    }
    std::printf("%s: sealed; the trailer (archive at byte %u, version %u) is the last 8 bytes of "
                "the signature, the certificate table %u bytes\n",
                DisplayPath(package).c_str(), result.trailer.archiveOffset,
                result.trailer.packageVersion, result.tableSize);
    return 0;
}

// Said on standard error, so that a JSON report stays whole.
bool MeetsRequirements(const SignatureReport& signature, const InspectRequirements& requirements) {
    if ((requirements.signature || requirements.timestamp) && !signature.present) {
        PrintError(std::string("the package is not signed (") +
                   (requirements.signature ? "--require-signed" : "--require-timestamp") + ")");
        return false;
    }
    if (requirements.timestamp && !signature.signer.timestamped) {
        PrintError("the signature carries no timestamp (--require-timestamp)");
        return false;
    }
    return true;
}

int RunInspect(const fs::path& package, bool verify, bool json, unsigned jobs, bool quiet,
               const InspectRequirements& requirements) {
    ProgressDisplay progress(stderr, !quiet && IsTerminal(stderr));
    const PackageReport report = InspectPackage(package, verify, WorkSettings{jobs, &progress});
    const std::string text = json ? ReportAsJson(report) : ReportAsText(report);
    std::fputs(text.c_str(), stdout);
    const bool met = MeetsRequirements(report.signature, requirements);
    return report.AppliesCleanly() && met ? 0 : 1;
}

int RunApply(const fs::path& package, const fs::path& gameFolder) {
    // The updater would find either of two names that differ only in case; the player's folder
    // is not guessed at.
    const std::vector<std::string> clashes = NamesDifferingOnlyInCase(gameFolder);
    if (!clashes.empty()) {
        for (const std::string& clash : clashes) {
            PrintError(clash + "; Windows holds only one of them: rename or remove one");
        }
        PrintError("nothing written");
        return 1;
    }
    ConsoleView view(stdout, stderr, IsTerminal(stdout));
    int result = 1;
    FolderMove move = FolderMove::NotEntered;
    {
        InterruptWatcher watcher([&view] { view.Cancel(); });
        move = RunPatchInFolder(view, package, gameFolder, result);
    }
    // Where the program stands once the run is over does not matter: it ends.
    if (move == FolderMove::NotEntered) {
        PrintError(DisplayPath(gameFolder) + ": cannot enter the game folder");
        return 1;
    }
    if (result != 0 && view.IsCancelled()) {
        PrintError("cancelled");
    }
    return result;
}

namespace {

std::string RemovalNote(const DiffRun& run) {
    return run.outcome.output +
           (run.outputRemoved ? " is removed" : " could not be removed: do not ship it");
}

} // namespace

int RunDiff(DiffCommand command) {
    std::atomic<bool> interrupted{false};
    InterruptWatcher watcher([&interrupted] { interrupted = true; });
    command.diff.stop = &interrupted;
    ProgressDisplay progress(stderr, !command.quiet && IsTerminal(stderr));
    command.build.work.progress = &progress;
    command.diff.progress = ComparisonProgress(progress, "comparing");
    command.compared = [&progress](const std::vector<Finding>& remarks) {
        progress.Finish();
        PrintRemarks(remarks);
    };
    DiffRun run;
    const DiffResult result = RunDiffJob(command, run);
    progress.Finish();
    switch (result) {
    case DiffResult::Refused:
        PrintError("nothing written:\n" + run.error);
        return 1;
    case DiffResult::CheckNotCompleted:
        PrintError("the check was not completed; " + RemovalNote(run) + ":\n" + run.error);
        return 1;
    case DiffResult::Differs:
        PrintError("the check found differences; " + RemovalNote(run));
        break;
    case DiffResult::Written:
        break;
    }
    const std::string summary =
        command.json ? DiffSummaryJson(run.outcome) : DiffSummaryText(run.outcome);
    std::fputs(summary.c_str(), stdout);
    return result == DiffResult::Written ? 0 : 1;
}

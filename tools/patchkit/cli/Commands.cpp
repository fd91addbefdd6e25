#include "cli/Commands.h"

#include "base/TextConversion.h"
#include "cli/ConsoleView.h"
#include "cli/InterruptWatcher.h"
#include "cli/ProgressDisplay.h"
#include "engine/RunPatch.h"
#include "inspect/ReportPrinter.h"
#include "platform/FileSystem.h"
#include "release/DiffSummary.h"
#include "release/ReleaseCheck.h"
#include "release/ReleaseFolder.h"
#include "rules/VersionText.h"
#include "signing/SealPackage.h"

#include <cstdio>
#include <memory>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

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

int RunInspect(const fs::path& package, bool verify, bool json, unsigned jobs, bool quiet) {
    ProgressDisplay progress(stderr, !quiet && IsTerminal(stderr));
    const PackageReport report = InspectPackage(package, verify, WorkSettings{jobs, &progress});
    const std::string text = json ? ReportAsJson(report) : ReportAsText(report);
    std::fputs(text.c_str(), stdout);
    return report.AppliesCleanly() ? 0 : 1;
}

int RunApply(const fs::path& package, const fs::path& gameFolder) {
    std::error_code failure;
    // The engine works in the game folder; the package path must not depend on where we were.
    const fs::path packagePath = fs::absolute(package, failure);
    if (failure) {
        PrintError(DisplayPath(package) + ": cannot be located");
        return 1;
    }
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
    fs::current_path(gameFolder, failure);
    if (failure) {
        PrintError(DisplayPath(gameFolder) + ": cannot enter the game folder");
        return 1;
    }
    ConsoleView view(stdout, stderr, IsTerminal(stdout));
    int result = 1;
    {
        InterruptWatcher watcher([&view] { view.Cancel(); });
        result = RunPatch(view, packagePath);
    }
    if (result != 0 && view.IsCancelled()) {
        PrintError("cancelled");
    }
    return result;
}

namespace {

// Refuses an output that would land inside one of the releases being compared.
bool RefuseOutputInRelease(const DiffCommand& command, const fs::path& output, std::string& error) {
    for (const fs::path& release : {command.diff.oldFolder, command.diff.newFolder}) {
        if (IsInsideFolder(output, release)) {
            error =
                DisplayPath(output) + ": would be written into the release " + DisplayPath(release);
            return true;
        }
    }
    return false;
}

bool WriteDiffOutput(DiffCommand& command, const ReleaseDiff& diff, bool& folderCreated,
                     std::string& error) {
    if (!command.folder.empty()) {
        return WriteUpdateFolder(diff, command.diff.newFolder, command.folder, folderCreated,
                                 error);
    }
    command.build.version = diff.newVersion;
    command.build.fromEntries = diff.entries;
    command.build.stop = command.diff.stop;
    std::vector<Finding> judgedAgain; // the diff has shown them already
    return BuildPackage(command.build, judgedAgain, error);
}

// A path beside the output, never inside it, also when the output is a folder named "out/" or ".".
fs::path BesideOutput(const fs::path& output, const char* suffix) {
    fs::path base = output.lexically_normal();
    if (!base.has_filename()) {
        base = base.parent_path();
    }
    if (base.empty() || base.filename() == "." || base.filename() == "..") {
        std::error_code failure;
        base = fs::absolute(base, failure).lexically_normal().parent_path();
    }
    base += suffix;
    return base;
}

bool CheckPackage(const DiffCommand& command, const ReleaseDiff& diff, const fs::path& package,
                  const fs::path& output, std::vector<std::string>& differences,
                  std::string& error) {
    CheckRequest check;
    check.package = package;
    check.oldFolder = command.diff.oldFolder;
    check.newFolder = command.diff.newFolder;
    check.scratch = BesideOutput(output, ".check");
    check.effectivePakName = diff.effectivePakName;
    check.leftoverKeys = diff.leftoverKeys;
    check.progress = command.diff.progress;
    check.stop = command.diff.stop;
    return CheckUpdate(check, differences, error);
}

// The update folder is checked as build --from packs it, in a package without a program image
// (the engine only reads it), which is removed afterwards.
bool CheckUpdateFolder(const DiffCommand& command, const ReleaseDiff& diff,
                       std::vector<std::string>& differences, std::string& error) {
    BuildRequest build;
    build.version = diff.newVersion;
    build.fromFolder = command.folder;
    build.output = BesideOutput(command.folder, ".check.package");
    build.level = 0; // applied once and never shipped: storing is the quickest
    build.stop = command.diff.stop;
    std::error_code failure;
    if (fs::exists(fs::symlink_status(build.output, failure))) {
        error =
            DisplayPath(build.output) + ": the check's package cannot be made (it exists already)";
        return false;
    }
    std::vector<Finding> judgedAgain; // the diff has shown them already
    if (!BuildPackage(build, judgedAgain, error)) {
        return false;
    }
    const bool checked =
        CheckPackage(command, diff, build.output, command.folder, differences, error);
    RemoveFile(build.output);
    return checked;
}

bool CheckDiffOutput(const DiffCommand& command, const ReleaseDiff& diff,
                     std::vector<std::string>& differences, std::string& error) {
    if (!command.folder.empty()) {
        return CheckUpdateFolder(command, diff, differences, error);
    }
    return CheckPackage(command, diff, command.build.output, command.build.output, differences,
                        error);
}

// An update that does not give NEW must not be shipped by mistake.
void RemoveDiffOutput(const DiffCommand& command, bool folderCreated) {
    if (!command.folder.empty()) {
        RemoveUpdateFolder(command.folder, folderCreated);
    } else {
        RemoveFile(command.build.output);
    }
}

} // namespace

int RunDiff(DiffCommand command) {
    std::atomic<bool> interrupted{false};
    InterruptWatcher watcher([&interrupted] { interrupted = true; });
    command.diff.stop = &interrupted;
    ProgressDisplay progress(stderr, !command.quiet && IsTerminal(stderr));
    command.build.work.progress = &progress;
    command.diff.progress = ComparisonProgress(progress, "comparing");
    const fs::path output = command.folder.empty() ? command.build.output : command.folder;
    ReleaseDiff diff;
    std::vector<Finding> remarks;
    std::string error;
    const bool planned = !RefuseOutputInRelease(command, output, error) &&
                         DiffReleases(command.diff, diff, remarks, error);
    progress.Finish();
    PrintRemarks(remarks);
    bool folderCreated = false;
    if (!planned || !WriteDiffOutput(command, diff, folderCreated, error)) {
        PrintError("nothing written:\n" + (interrupted ? std::string("interrupted") : error));
        return 1;
    }
    DiffOutcome outcome;
    outcome.diff = &diff;
    outcome.output = DisplayPath(output);
    outcome.folder = !command.folder.empty();
    outcome.checked = command.check;
    const bool checkFailed =
        command.check &&
        (!CheckDiffOutput(command, diff, outcome.differences, error) || interrupted);
    progress.Finish();
    if (checkFailed) {
        RemoveDiffOutput(command, folderCreated);
        PrintError("the check was not completed; " + outcome.output + " is removed:\n" +
                   (interrupted ? std::string("interrupted") : error));
        return 1;
    }
    if (!outcome.differences.empty()) {
        RemoveDiffOutput(command, folderCreated);
        PrintError("the check found differences; " + outcome.output + " is removed");
    }
    const std::string summary = command.json ? DiffSummaryJson(outcome) : DiffSummaryText(outcome);
    std::fputs(summary.c_str(), stdout);
    return outcome.differences.empty() ? 0 : 1;
}

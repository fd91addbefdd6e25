#include "release/DiffWorkflow.h"

#include "base/StopRequest.h"
#include "base/TextConversion.h"
#include "platform/FileSystem.h"
#include "record/ReleaseFolder.h"
#include "record/ReleaseManifest.h"
#include "release/RecordCheck.h"
#include "release/ReleaseCheck.h"

#include <system_error>

namespace fs = std::filesystem;

namespace {

bool Interrupted(const DiffJob& job) {
    return StopAsked(job.diff.stop);
}

// Refuses an output that would land inside one of the releases being compared.
[[nodiscard]] bool RefuseOutputInRelease(const DiffJob& job, const fs::path& output,
                                         std::string& error) {
    for (const fs::path& release : {job.diff.oldFolder, job.diff.newFolder}) {
        if (!release.empty() && IsInsideFolder(output, release)) {
            error =
                DisplayPath(output) + ": would be written into the release " + DisplayPath(release);
            return true;
        }
    }
    return false;
}

// OLD's manifest, when OLD is given by one and not read yet; it is read whole before anything is
// written.
[[nodiscard]] bool ReadOldRecord(DiffJob& job, ReleaseManifest& record, std::string& error) {
    if (job.diff.oldRecord != nullptr || job.diff.oldRecordPath.empty()) {
        return true;
    }
    if (!ReadManifestFile(job.diff.oldRecordPath, record, error)) {
        return false;
    }
    job.diff.oldRecord = &record;
    return true;
}

[[nodiscard]] bool WriteDiffOutput(DiffJob& job, const ReleaseDiff& diff, bool& folderCreated,
                                   std::string& error) {
    if (!job.folder.empty()) {
        return WriteUpdateFolder(diff, job.diff.newFolder, job.folder, folderCreated, error);
    }
    job.build.version = diff.newVersion;
    job.build.fromEntries = diff.entries;
    job.build.stop = job.diff.stop;
    std::vector<Finding> judgedAgain; // the diff has shown them already
    return BuildPackage(job.build, judgedAgain, error);
}

[[nodiscard]] bool CheckPackage(const DiffJob& job, const ReleaseDiff& diff,
                                const fs::path& package, const fs::path& output,
                                std::vector<std::string>& differences, std::string& error) {
    if (job.diff.oldRecord != nullptr) {
        RecordCheckRequest check;
        check.package = package;
        check.oldRecord = job.diff.oldRecord;
        check.newFolder = job.diff.newFolder;
        check.newName = DisplayPath(job.diff.newFolder);
        check.leftoverKeys = diff.leftoverKeys;
        check.work = job.diff.work;
        check.stop = job.diff.stop;
        return CheckUpdateOnRecords(check, differences, error);
    }
    CheckRequest check;
    check.package = package;
    check.oldFolder = job.diff.oldFolder;
    check.newFolder = job.diff.newFolder;
    check.scratch = UnusedPathBeside(output, ".check");
    check.effectivePakName = diff.effectivePakName;
    check.leftoverKeys = diff.leftoverKeys;
    check.progress = job.diff.progress;
    check.stop = job.diff.stop;
    return CheckUpdate(check, differences, error);
}

// The update folder is checked as build --from packs it, in a package without a program image
// (the engine only reads it), which is removed afterwards.
[[nodiscard]] bool CheckUpdateFolder(const DiffJob& job, const ReleaseDiff& diff,
                                     std::vector<std::string>& differences, std::string& error) {
    BuildRequest build;
    build.version = diff.newVersion;
    build.fromFolder = job.folder;
    build.output = UnusedPathBeside(job.folder, ".check.package");
    build.level = 0; // applied once and never shipped: storing is the quickest
    build.stop = job.diff.stop;
    std::vector<Finding> judgedAgain; // the diff has shown them already
    if (!BuildPackage(build, judgedAgain, error)) {
        return false;
    }
    const bool checked = CheckPackage(job, diff, build.output, job.folder, differences, error);
    static_cast<void>(RemoveFile(build.output)); // a leftover is passed over by the next check
    return checked;
}

[[nodiscard]] bool CheckDiffOutput(const DiffJob& job, const ReleaseDiff& diff,
                                   std::vector<std::string>& differences, std::string& error) {
    if (!job.folder.empty()) {
        return CheckUpdateFolder(job, diff, differences, error);
    }
    return CheckPackage(job, diff, job.build.output, job.build.output, differences, error);
}

[[nodiscard]] bool RemoveDiffOutput(const DiffJob& job, bool folderCreated) {
    if (!job.folder.empty()) {
        return RemoveUpdateFolder(job.folder, folderCreated);
    }
    return RemoveFile(job.build.output);
}

} // namespace

DiffResult RunDiffJob(DiffJob job, DiffRun& run) {
    const fs::path output = job.folder.empty() ? job.build.output : job.folder;
    std::vector<Finding> remarks;
    ReleaseManifest oldRecord;
    job.diff.work = job.build.work;
    const bool planned = !RefuseOutputInRelease(job, output, run.error) &&
                         ReadOldRecord(job, oldRecord, run.error) &&
                         DiffReleases(job.diff, run.diff, remarks, run.error);
    if (job.compared) {
        job.compared(remarks);
    }
    bool folderCreated = false;
    if (!planned || !WriteDiffOutput(job, run.diff, folderCreated, run.error)) {
        run.error = Interrupted(job) ? std::string("interrupted") : run.error;
        return DiffResult::Refused;
    }
    run.outcome.diff = &run.diff;
    run.outcome.output = DisplayPath(output);
    run.outcome.folder = !job.folder.empty();
    run.outcome.checked = job.check;
    run.outcome.checkedOnRecords = job.diff.oldRecord != nullptr;
    if (!job.check) {
        return DiffResult::Written;
    }
    const bool checked = CheckDiffOutput(job, run.diff, run.outcome.differences, run.error);
    if (!checked || Interrupted(job)) {
        run.error = Interrupted(job) ? std::string("interrupted") : run.error;
        run.outputRemoved = RemoveDiffOutput(job, folderCreated);
        return DiffResult::CheckNotCompleted;
    }
    if (!run.outcome.differences.empty()) {
        run.outputRemoved = RemoveDiffOutput(job, folderCreated);
        return DiffResult::Differs;
    }
    return DiffResult::Written;
}

#include "engine/RunPatch.h"

#include "engine/ApplyPackage.h"
#include "engine/PatchView.h"
#include "engine/Report.h"
#include "engine/VersionLabels.h"
#include "platform/FileSystem.h"

#include <exception>
#include <system_error>

namespace {

int ReportAndStop(PatchView& view, Message message) {
    ReportMessage(view, message);
    return kRunStopped;
}

int ReportAndStop(PatchView& view, const std::wstring& text) {
    view.ReportAndQuit(text);
    return kRunStopped;
}

// A cancelled run takes no further step, not even a label.
[[nodiscard]] bool ShowUnlessCancelled(PatchView& view,
                                       void (PatchView::*show)(const std::wstring&),
                                       const std::wstring& text) {
    if (view.IsCancelled()) {
        return false;
    }
    (view.*show)(text);
    return true;
}

// Only a package exactly one version ahead applies; versions wrap like the unsigned values they
// are.
int ApplyVersionGate(RunState& run) {
    const std::uint32_t packageVersion = run.trailer.packageVersion;
    const std::uint32_t localVersion = run.local.localVersion;
    if (packageVersion == localVersion) {
        run.view.SetProgress(100);
        return ReportAndStop(run.view, AlreadyUpToDateText(localVersion));
    }
    if (packageVersion == localVersion + 1u) {
        return ApplyPackage(run);
    }
    if (packageVersion > localVersion) {
        return ReportAndStop(run.view, VersionSkippedText(localVersion, packageVersion));
    }
    return ReportAndStop(run.view, Message::PackageWithdrawn);
}

int RunSteps(PatchView& view, const std::filesystem::path& packageFile) {
    if (view.IsCancelled()) {
        return kRunStopped;
    }
    const FileHandle programFile = OpenFile(packageFile, "rb");
    const LockWait lockWait([&view] { return view.IsCancelled(); });
    RunState run{view, programFile.get(), 0, PackageTrailer{}, LocalState{}, lockWait};
    if (!programFile || !ReadPackageTrailer(programFile.get(), run.trailer, run.archiveLength)) {
        return ReportAndStop(view, Message::CannotOpenPackage);
    }
    if (!ShowUnlessCancelled(view, &PatchView::SetLatestVersionText,
                             LatestVersionLabel(run.trailer.packageVersion))) {
        return kRunStopped;
    }
    if (!ReadLocalState(run.local, lockWait)) {
        return ReportAndStop(view, Message::CannotReadLocalVersion);
    }
    if (!ShowUnlessCancelled(view, &PatchView::SetLocalVersionText,
                             LocalVersionLabel(run.local.localVersion)) ||
        view.IsCancelled()) {
        return kRunStopped;
    }
    return ApplyVersionGate(run);
}

} // namespace

int RunPatch(PatchView& view, const std::filesystem::path& packageFile) {
    try {
        return RunSteps(view, packageFile);
    } catch (const std::exception&) {
        ReportUnexpectedFailure(view);
        return kRunStopped;
    }
}

FolderMove RunPatchInFolder(PatchView& view, const std::filesystem::path& packageFile,
                            const std::filesystem::path& gameFolder, int& result) {
    std::error_code failure;
    const std::filesystem::path package = std::filesystem::absolute(packageFile, failure);
    if (failure) {
        return FolderMove::NotEntered;
    }
    const std::filesystem::path previous = std::filesystem::current_path(failure);
    if (failure) {
        return FolderMove::NotEntered;
    }
    std::filesystem::current_path(gameFolder, failure);
    if (failure) {
        return FolderMove::NotEntered;
    }
    result = RunPatch(view, package);
    std::filesystem::current_path(previous, failure);
    return failure ? FolderMove::NotReturned : FolderMove::Done;
}

#include "RunPatch.h"

#include "ApplyPackage.h"
#include "FileSystem.h"
#include "PatchView.h"
#include "Report.h"
#include "VersionLabels.h"

namespace {

int ReportAndStop(PatchView& view, Message message) {
    ReportMessage(view, message);
    return kRunStopped;
}

int ReportAndStop(PatchView& view, const std::wstring& text) {
    view.ReportAndQuit(text);
    return kRunStopped;
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

} // namespace

int RunPatch(PatchView& view, const std::filesystem::path& packageFile) {
    if (view.IsCancelled()) {
        return kRunStopped;
    }
    const FileHandle programFile = OpenFile(packageFile, "rb");
    RunState run{view, programFile.get(), 0, PackageTrailer{}, LocalState{}};
    if (!programFile || !ReadPackageTrailer(programFile.get(), run.trailer, run.archiveLength)) {
        return ReportAndStop(view, Message::CannotOpenPackage);
    }
    if (view.IsCancelled()) {
        return kRunStopped;
    }
    view.SetLatestVersionText(LatestVersionLabel(run.trailer.packageVersion));
    if (view.IsCancelled()) {
        return kRunStopped;
    }
    if (!ReadLocalState(run.local)) {
        return ReportAndStop(view, Message::CannotReadLocalVersion);
    }
    if (view.IsCancelled()) {
        return kRunStopped;
    }
    view.SetLocalVersionText(LocalVersionLabel(run.local.localVersion));
    if (view.IsCancelled()) {
        return kRunStopped;
    }
    return ApplyVersionGate(run);
}

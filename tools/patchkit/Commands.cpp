#include "Commands.h"

#include "ConsoleView.h"
#include "InterruptWatcher.h"
#include "ProgressDisplay.h"
#include "ReportPrinter.h"
#include "RunPatch.h"
#include "TextConversion.h"

#include <cstdio>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

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
    if (!built) {
        PrintError("nothing written:\n" + error);
        return 1;
    }
    std::printf("%s: package for version %u (%s), applies to local version %u\n",
                DisplayPath(request.output).c_str(), request.version,
                VersionShown(request.version).c_str(), request.version - 1);
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

#pragma once

#include "build/BuildPackage.h"
#include "release/DiffWorkflow.h"

#include <filesystem>
#include <string>

// The commands of patchkit; each returns the process's exit code.

// "patchkit: TEXT" on standard error.
void PrintError(const std::string& text);

// Progress is shown on standard error when it is a terminal, unless quiet.

// 0 when the package is written, 1 when it is refused or interrupted (Ctrl-C).
[[nodiscard]] int RunBuild(BuildRequest request, bool quiet);
// 0 when the signed package is sealed, 1 when it is refused.
[[nodiscard]] int RunSeal(const std::filesystem::path& package);
// What a release pipeline demands of a package beyond what the updater needs.
struct InspectRequirements {
    bool signature = false;
    bool timestamp = false;
};

// 0 when the updater would apply the package cleanly and it meets the requirements, 1 otherwise.
// jobs: threads that verify.
[[nodiscard]] int RunInspect(const std::filesystem::path& package, bool verify, bool json,
                             unsigned jobs, bool quiet, const InspectRequirements& requirements);
// The updater's run on the game folder: 0 when applied, 1 after a message or a cancel.
[[nodiscard]] int RunApply(const std::filesystem::path& package,
                           const std::filesystem::path& gameFolder);

struct DiffCommand : DiffJob {
    bool json = false;
    bool quiet = false;
};

// 0 when the update is written (and, with check, proven), 1 when refused, interrupted or when
// the check finds a difference.
[[nodiscard]] int RunDiff(DiffCommand command);

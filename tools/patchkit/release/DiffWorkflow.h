#pragma once

#include "build/BuildPackage.h"
#include "release/DiffSummary.h"
#include "release/ReleaseDiff.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

struct DiffJob {
    DiffRequest diff;
    std::filesystem::path folder; // write the update folder here, or
    BuildRequest build;           // the package (stub, output, level, replace, jobs)
    bool check = false;
    // Called once the releases are compared, with the remarks, before anything is written.
    std::function<void(const std::vector<Finding>& remarks)> compared;
};

enum class DiffResult {
    Refused,           // nothing written: error says why
    CheckNotCompleted, // the check could not be carried out: error says why
    Differs,           // the check found differences (outcome.differences)
    Written            // the output is written and, when asked, proven
};

struct DiffRun {
    ReleaseDiff diff;
    DiffOutcome outcome;
    std::string error;
    // After CheckNotCompleted or Differs: whether the output was removed again, as an update that
    // does not give NEW must not be shipped by mistake.
    bool outputRemoved = false;
};

// Compares the releases, writes the update folder or the package, and with check applies it to
// a copy of OLD with the updater's engine and compares the result with NEW.
[[nodiscard]] DiffResult RunDiffJob(DiffJob job, DiffRun& run);

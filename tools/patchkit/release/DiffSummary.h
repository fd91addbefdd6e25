#pragma once

#include "release/ReleaseDiff.h"

#include <string>
#include <vector>

// What diff did, for its summary.
struct DiffOutcome {
    const ReleaseDiff* diff = nullptr;
    std::string output; // UTF-8: the package, or the update folder
    bool folder = false;
    bool checked = false;
    bool checkedOnRecords = false; // against the manifests, not by the engine on a copy of OLD
    std::vector<std::string> differences; // from the check
};

// Entries by kind, bytes, the pak slice, what was left out, the output and the check's verdict.
std::string DiffSummaryText(const DiffOutcome& outcome);
std::string DiffSummaryJson(const DiffOutcome& outcome);

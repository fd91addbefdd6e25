#pragma once

#include "release/FileComparison.h"

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

struct CheckRequest {
    std::filesystem::path package;
    std::filesystem::path oldFolder;
    std::filesystem::path newFolder;
    // Where OLD is copied and updated; must not exist, and is removed afterwards.
    std::filesystem::path scratch;
    // The pak whose length stands for a recorded offset of 0 (stored name; empty for none).
    std::string effectivePakName;
    // What OLD has and NEW lacks, allowed to stay (keys as the updater names them, outermost).
    std::vector<std::string> leftoverKeys;
    ProgressCallback progress; // over the bytes compared
    const std::atomic<bool>* stop = nullptr;
};

// Applies the package with the updater's engine to a copy of OLD and compares the result with
// NEW as a Windows disk would: names without regard to case, every file byte for byte,
// version.ini by meaning (version and pak offset in effect). differences names each mismatch,
// the engine's message among them when it stopped. False, with error, when the check itself
// could not be carried out.
bool CheckUpdate(const CheckRequest& request, std::vector<std::string>& differences,
                 std::string& error);

#pragma once

#include "identity/GameVerification.h"

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

struct RepairRequest {
    std::filesystem::path game;
    std::filesystem::path release; // the release's game folder, with version.ini
    bool dryRun = false;           // plan only, change nothing
    bool removeExtra = false;      // remove what the release does not have, instead of keeping it
    WorkSettings work;
    const std::atomic<bool>* stop = nullptr;
};

enum class RepairStep { Remove, Keep, CreateFolder, Copy, CutPak, WriteLocalState };

struct RepairAction {
    RepairStep step = RepairStep::Copy;
    std::string path;             // UTF-8, as the updater names it
    std::string reason;           // the difference it mends
    std::filesystem::path target; // in the game folder
    const ManifestEntry* source = nullptr;
};

struct RepairOutcome {
    std::string game; // for display
    ReleaseManifest manifest;
    std::vector<RepairAction> actions; // in the order they are (or would be) carried out
    bool dryRun = false;
};

// Brings the game folder to exactly the release: what is missing or differs is copied from the
// release through a temporary file (flushed, then renamed over the old one), a pak that only runs
// longer is cut back, version.ini is written last; extras are removed or kept as asked. Run again
// after an interruption at any point, it ends with the exact release. False, with the reason, when
// refused (a folder inside the other, names that differ only in case, a folder in a file's place
// without removeExtra) or when a step fails; the actions done so far are in outcome.
[[nodiscard]] bool RepairGame(const RepairRequest& request, RepairOutcome& outcome,
                              std::string& error);

std::string RepairText(const RepairOutcome& outcome);
std::string RepairJson(const RepairOutcome& outcome);

#pragma once

#include <filesystem>

class PatchView;

// The whole update run on the package file (the updater passes its own program file), with the
// current directory as the game directory. 0 after a completed application, 1 after any message
// or a cancel.
[[nodiscard]] int RunPatch(PatchView& view, const std::filesystem::path& packageFile);

// Where RunPatchInFolder could not go.
enum class FolderMove {
    Done,
    NotEntered,  // nothing was run
    NotReturned, // the run is over, but the current directory is still the game folder
};

// RunPatch with gameFolder as the current directory for the run, and the caller's current
// directory again afterwards; packageFile may be relative to the caller's. result is RunPatch's
// once the folder was entered.
[[nodiscard]] FolderMove RunPatchInFolder(PatchView& view, const std::filesystem::path& packageFile,
                                          const std::filesystem::path& gameFolder, int& result);

#pragma once

#include <filesystem>

class PatchView;

// The whole update run on the package file (the updater passes its own program file), with the
// current directory as the game directory. 0 after a completed application, 1 after any message
// or a cancel.
[[nodiscard]] int RunPatch(PatchView& view, const std::filesystem::path& packageFile);

#pragma once

#include "package/LocalState.h"
#include "package/PackageTrailer.h"
#include "platform/LockWait.h"

#include <cstdint>
#include <cstdio>

class PatchView;

// What the update run knows once the version gate has let the package through.
struct RunState {
    PatchView& view;
    std::FILE* programFile;     // positioned at the embedded archive
    std::int64_t archiveLength; // bytes of the embedded archive, up to the trailer
    PackageTrailer trailer;
    LocalState local;
    const LockWait& lockWait; // gives up when the run is cancelled
};

// Extracts the embedded archive, applies its entries to the game directory and records the new
// local state. kRunCompleted, or kRunStopped after a message or a cancel.
[[nodiscard]] int ApplyPackage(RunState& run);

#pragma once

#include "platform/LockWait.h"

#include <cstdint>
#include <filesystem>

// The client's state between updates, kept in version.ini in the game directory.
struct LocalState {
    std::uint32_t localVersion = 0;
    std::int64_t pakAppendOffset = 0; // 0: none recorded, the next pak entry goes to the file's end
};

constexpr const char* kLocalStateFileName = "version.ini";

// False when version.ini cannot be opened, its local version is 0, not a number or beyond 32 bits,
// or its pak append offset is negative or beyond 64 bits. A missing second value reads as 0.
// A version.ini that another program holds is waited for.
[[nodiscard]] bool ReadLocalState(LocalState& state, const LockWait& wait = LockWait());
// The same from a version.ini elsewhere (the tools read other folders' state).
[[nodiscard]] bool ReadLocalStateFile(const std::filesystem::path& path, LocalState& state,
                        const LockWait& wait = LockWait());
// Replaces version.ini atomically (sibling temporary file, then rename); false on any failure,
// which leaves the old file as it was. Files that another program holds are waited for.
[[nodiscard]] bool WriteLocalState(const LocalState& state, const LockWait& wait = LockWait());

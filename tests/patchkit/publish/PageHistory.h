#pragma once

#include <cstdint>
#include <string>

// A release history in the current folder, as a publisher keeps it: release folders r3184 to
// r3187, the packages QRTManualPatch-31.85.exe to -31.87.exe made by diff (the newest signed and
// timestamped, the one before signed only), and releases.json, the index that proved every step
// on the releases.
namespace pagetest {

constexpr std::uint32_t kOldest = 3184;
constexpr std::uint32_t kNewest = 3187;

std::string PackageName(std::uint32_t version); // "QRTManualPatch-31.87.exe"

// Fails the test (ASSERT) when any step of making it fails.
void MakeProvenHistory();

} // namespace pagetest

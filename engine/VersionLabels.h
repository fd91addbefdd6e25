#pragma once

#include <cstdint>
#include <string>

// The value a version is shown as: divided by 100 and rounded to single precision, as the labels
// have always shown it (3187 is 31.87 with two decimals).
float VersionAsShown(std::uint32_t version);

// The dialog's version labels: the version shown with two decimals.
std::wstring LatestVersionLabel(std::uint32_t version);
std::wstring LocalVersionLabel(std::uint32_t version);

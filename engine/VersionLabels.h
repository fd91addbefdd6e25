#pragma once

#include <cstdint>
#include <string>

// The dialog's version labels: the version divided by 100 with two decimals (3187 is 31.87).
std::wstring LatestVersionLabel(std::uint32_t version);
std::wstring LocalVersionLabel(std::uint32_t version);

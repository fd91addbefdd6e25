#pragma once

#include <cstdint>
#include <string>

// "31.87" for 3187: the version as the updater's labels show it.
std::string VersionShown(std::uint32_t version);

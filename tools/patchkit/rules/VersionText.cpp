#include "rules/VersionText.h"

#include "engine/VersionLabels.h"

#include <cstdio>

std::string VersionShown(std::uint32_t version) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(VersionAsShown(version)));
    return text;
}

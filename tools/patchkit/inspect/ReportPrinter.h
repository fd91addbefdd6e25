#pragma once

#include "inspect/InspectPackage.h"

#include <string>

// The report of `patchkit inspect` for people, and as one JSON document for release pipelines.
std::string ReportAsText(const PackageReport& report);
std::string ReportAsJson(const PackageReport& report);

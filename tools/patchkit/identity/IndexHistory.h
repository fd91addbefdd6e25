#pragma once

#include "identity/ReleaseIndex.h"
#include "record/ReleaseFolder.h"

#include <vector>

// One package for each step, the steps one after the other, every file name once: what index
// demands of the packages it is given and of a document it reads back. packages are by version.
void CheckHistory(const std::vector<IndexedPackage>& packages, Refusals& refusals);

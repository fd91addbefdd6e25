#pragma once

#include "package/PackageTrailer.h"
#include "rules/EntryChecks.h"
#include "signing/PackageSignature.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct PackageReport {
    std::string package;          // as given, for display
    std::int64_t fileLength = -1; // -1 when the file cannot be read
    bool trailerRead = false;
    PackageTrailer trailer;
    std::int64_t archiveLength = -1; // -1 when the trailer does not locate an archive
    bool verified = false;
    SignatureReport signature;
    std::vector<EntryReport> entries;
    std::vector<Finding> findings;

    bool AppliesCleanly() const;
};

// With verify, the entries are inflated on work.jobs threads, their bytes counted by work.progress.
PackageReport InspectPackage(const std::filesystem::path& package, bool verify,
                             const WorkSettings& work = {});

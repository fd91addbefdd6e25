#pragma once

#include "ArchiveReader.h"
#include "EntryName.h"
#include "PackageSignature.h"
#include "PackageTrailer.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

enum class Severity { Note, Warning, Error };

// "note", "warning" or "error".
const char* SeverityName(Severity severity);

struct Finding {
    Severity severity = Severity::Error;
    std::string code;      // stable identifier for scripts, e.g. "unsafe-name"
    std::size_t entry = 0; // 1-based entry number, 0 for the package as a whole
    std::string text;      // UTF-8
};

struct EntryReport {
    ArchiveEntry archived;
    EntryKind kind = EntryKind::File;
    bool nameDecodes = false;
    std::string storedName;  // UTF-8, when the stored bytes are code page 936 text
    std::string writtenPath; // UTF-8, the path the updater writes
};

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

// "31.87" for 3187: the version as the updater's labels show it.
std::string VersionShown(std::uint32_t version);

// Describes each entry and adds the findings about the entries' names, kinds, methods and (when
// the archive was read with verify) data: what the updater would do wrong or refuse.
void ExamineEntries(const std::vector<ArchiveEntry>& archived, std::vector<EntryReport>& entries,
                    std::vector<Finding>& findings);

// With verify, the entries are inflated on work.jobs threads, their bytes counted by work.progress.
PackageReport InspectPackage(const std::filesystem::path& package, bool verify,
                             const WorkSettings& work = {});

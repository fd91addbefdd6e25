#pragma once

#include "package/EntryName.h"
#include "rules/Finding.h"
#include "zip/ArchiveReader.h"

#include <string>
#include <vector>

struct EntryReport {
    ArchiveEntry archived;
    EntryKind kind = EntryKind::File;
    bool nameDecodes = false;
    std::string storedName;  // UTF-8, when the stored bytes are code page 936 text
    std::string writtenPath; // UTF-8, the path the updater writes
};

// Describes each entry and adds the findings about the entries' names, kinds, methods and (when
// the archive was read with verify) data: what the updater would do wrong or refuse.
void ExamineEntries(const std::vector<ArchiveEntry>& archived, std::vector<EntryReport>& entries,
                    std::vector<Finding>& findings);

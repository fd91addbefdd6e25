#pragma once

#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

// The files and folders a run wrote, brought to the disk before the run records them as done.
// Where the system can start a file's write-back without waiting (Linux), that is done as each
// file is closed and the flushes wait at the end, when the disk has long caught up: a package of
// many small files then costs no flush per file while it is applied. Elsewhere each file is
// flushed before it is closed: reopening it at the end would cost more (under Wine, three round
// trips to its server per file) than the flush itself.
class WrittenFiles {
public:
    // For a file the run wrote, before it is closed. False when its data cannot be handed on.
    [[nodiscard]] bool BeforeClose(std::FILE* file, const std::string& cp936Path);
    // A folder the run created, with any missing parents.
    void FolderCreated(const std::string& cp936Path);
    // Everything noted is on the disk, the folders' entries included, when this returns true.
    [[nodiscard]] bool FlushToDisk();

private:
    std::vector<std::filesystem::path> m_files;
    std::set<std::filesystem::path> m_folders;
    bool m_unnamed = false; // a name had no host form: it cannot be flushed later
};

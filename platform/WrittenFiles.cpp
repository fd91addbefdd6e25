#include "platform/WrittenFiles.h"

#include "platform/FileSystem.h"

namespace fs = std::filesystem;

namespace {

#ifdef __linux__
constexpr bool kFlushAtTheEnd = true;
#else
constexpr bool kFlushAtTheEnd = false;
#endif

// "." for a name in the current folder.
fs::path FolderOf(const fs::path& path) {
    const fs::path parent = path.parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

bool FlushNamedFile(const fs::path& path) {
    FileHandle file;
    return TryOpenFile(path, "rb", file) == FileError::None && FlushFileToDisk(file.get());
}

} // namespace

bool WrittenFiles::BeforeClose(std::FILE* file, const std::string& cp936Path) {
    if (!kFlushAtTheEnd) {
        return FlushFileToDisk(file);
    }
    fs::path hostPath;
    if (!NarrowToHostPath(cp936Path, hostPath)) {
        m_unnamed = true;
    } else {
        m_files.push_back(hostPath);
        m_folders.insert(FolderOf(hostPath));
    }
    return StartWriteBack(file);
}

// A folder made with its parents is an entry in each of them.
void WrittenFiles::FolderCreated(const std::string& cp936Path) {
    if (!kFlushAtTheEnd) {
        return;
    }
    fs::path hostPath;
    if (!NarrowToHostPath(cp936Path, hostPath)) {
        m_unnamed = true;
        return;
    }
    for (fs::path folder = hostPath.lexically_normal(); folder.has_relative_path();
         folder = folder.parent_path()) {
        if (folder.filename().empty()) {
            continue; // "data/" names the same folder as "data"
        }
        m_folders.insert(FolderOf(folder));
        m_folders.insert(folder);
    }
}

bool WrittenFiles::FlushToDisk() {
    if (m_unnamed) {
        return false;
    }
    for (const fs::path& file : m_files) {
        if (!FlushNamedFile(file)) {
            return false;
        }
    }
    for (const fs::path& folder : m_folders) {
        if (!FlushFolderToDisk(folder)) {
            return false;
        }
    }
    m_files.clear();
    m_folders.clear();
    return true;
}

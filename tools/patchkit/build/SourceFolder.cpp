#include "build/SourceFolder.h"

#include "base/TextConversion.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool Refuse(const fs::path& path, const char* reason, std::string& error) {
    error = DisplayPath(path) + ": " + reason;
    return false;
}

// The entry's stored name: its path below the root folder, from UTF-8 to code page 936.
bool StoredNameOf(const fs::path& path, const std::string& parentName, std::string& name,
                  std::string& error) {
    std::string component;
    if (!PathToUtf8(path.filename(), component)) {
        return Refuse(path, "the name cannot be represented in code page 936", error);
    }
    if (component.find('\\') != std::string::npos) {
        return Refuse(path, "the name holds a backslash, which Windows takes as a folder separator",
                      error);
    }
    std::string cp936Component;
    if (!Utf8ToCp936(component, cp936Component)) {
        return Refuse(path, "the name cannot be represented in code page 936", error);
    }
    name = parentName + cp936Component;
    return true;
}

bool CollectFolder(const fs::path& folder, const std::string& folderName,
                   std::vector<SourceEntry>& entries, std::string& error) {
    std::error_code failure;
    fs::directory_iterator item(folder, failure);
    for (; !failure && item != fs::directory_iterator(); item.increment(failure)) {
        const fs::path& path = item->path();
        const fs::file_status status = item->symlink_status(failure);
        if (failure) {
            return Refuse(path, "cannot be examined", error);
        }
        SourceEntry entry;
        entry.path = path;
        if (!StoredNameOf(path, folderName, entry.storedName, error)) {
            return false;
        }
        if (fs::is_symlink(status)) {
            return Refuse(path, "is a link; only regular files and folders can be packed", error);
        }
        if (fs::is_directory(status)) {
            entry.directory = true;
            entry.storedName += '/';
            entries.push_back(entry);
            if (!CollectFolder(path, entry.storedName, entries, error)) {
                return false;
            }
        } else if (fs::is_regular_file(status)) {
            entry.size = item->file_size(failure);
            if (failure) {
                return Refuse(path, "cannot be examined", error);
            }
            entries.push_back(entry);
        } else {
            return Refuse(path, "is a special file; only regular files and folders can be packed",
                          error);
        }
    }
    if (failure) {
        return Refuse(folder, "the folder cannot be read", error);
    }
    return true;
}

} // namespace

bool CollectSourceFolder(const fs::path& root, std::vector<SourceEntry>& entries,
                         std::string& error) {
    entries.clear();
    if (!CollectFolder(root, std::string(), entries, error)) {
        return false;
    }
    // std::string compares as unsigned bytes.
    std::sort(entries.begin(), entries.end(), [](const SourceEntry& a, const SourceEntry& b) {
        return a.storedName < b.storedName;
    });
    return true;
}

bool IsInsideFolder(const fs::path& path, const fs::path& folder) {
    std::error_code failure;
    const fs::path fullPath = fs::weakly_canonical(path, failure);
    if (failure) {
        return false;
    }
    const fs::path fullFolder = fs::weakly_canonical(folder, failure);
    if (failure) {
        return false;
    }
    auto pathPart = fullPath.begin();
    for (const fs::path& folderPart : fullFolder) {
        if (folderPart.empty()) {
            continue; // the empty last element of a path that ends in a separator
        }
        if (pathPart == fullPath.end() || *pathPart != folderPart) {
            return false;
        }
        ++pathPart;
    }
    return true;
}

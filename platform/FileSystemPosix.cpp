#include "platform/FileSystem.h"

#include "platform/NameCaseSearch.h"
#include "platform/OpenMode.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct OpenMode {
    const char* mode;
    int flags;
};

namespace {

constexpr OpenMode kOpenModes[] = {
    {"rb", O_RDONLY},
    {"r+b", O_RDWR},
    {"wb", O_WRONLY | O_CREAT | O_TRUNC},
    {"w+b", O_RDWR | O_CREAT | O_TRUNC},
};
constexpr OpenMode kExistingForWriting = {"wb", O_WRONLY};

// A program being run cannot be written: the nearest this system has to a file held by another.
FileError ErrorOf(int error) {
    switch (error) {
    case ETXTBSY:
        return FileError::Held;
    case ENOENT:
        return FileError::Missing;
    default:
        return FileError::Refused;
    }
}

} // namespace

const OpenMode* FindOpenMode(const char* mode) {
    return FindOpenModeIn(kOpenModes, mode);
}

const OpenMode& ExistingForWriting() {
    return kExistingForWriting;
}

FileError LastFileError() {
    return ErrorOf(errno);
}

FileError StreamOver(std::intptr_t system, const OpenMode& mode, FileHandle& file) {
    const auto descriptor = static_cast<int>(system);
    file.reset(fdopen(descriptor, mode.mode));
    if (!file) {
        close(descriptor);
        return FileError::Refused;
    }
    return FileError::None;
}

FileError OpenWideStream(const std::filesystem::path& path, const OpenMode& mode,
                         FileHandle& file) {
    const int descriptor = open(path.c_str(), mode.flags | O_CLOEXEC, 0666);
    if (descriptor == -1) {
        return LastFileError();
    }
    return StreamOver(descriptor, mode, file);
}

FileError OpenNarrowStream(const std::string& cp936Path, const OpenMode& mode, FileHandle& file) {
    std::filesystem::path hostPath;
    if (!NarrowToHostPath(cp936Path, hostPath)) {
        return FileError::Refused;
    }
    const FileError error = OpenWideStream(hostPath, mode, file);
    if (error == FileError::None && (mode.flags & O_CREAT) != 0) {
        NoteCreatedFile(hostPath);
    }
    return error;
}

bool NarrowToHostPath(const std::string& cp936Path, std::filesystem::path& hostPath) {
    std::string utf8;
    if (!Cp936ToUtf8(cp936Path, utf8)) {
        return false;
    }
    // Windows separates at a backslash too; in UTF-8 no byte of a longer character is one.
    std::replace(utf8.begin(), utf8.end(), '\\', '/');
    hostPath = utf8;
    return ResolveNameCase(hostPath);
}

bool TruncateFile(std::FILE* file) {
    return ftruncate(fileno(file), 0) == 0;
}

bool FlushFileToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && fsync(fileno(file)) == 0;
}

bool StartWriteBack(std::FILE* file) {
    if (std::fflush(file) != 0) {
        return false;
    }
#ifdef __linux__
    // Only a request: its result says nothing about the data, which the flush at the end checks.
    sync_file_range(fileno(file), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    return true;
}

bool FlushFolderToDisk(const std::filesystem::path& folder) {
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor == -1) {
        return false;
    }
    const bool flushed = fsync(descriptor) == 0;
    return close(descriptor) == 0 && flushed;
}

bool SeekFile(std::FILE* file, std::int64_t offset) {
    return offset >= 0 && fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::int64_t TellFile(std::FILE* file) {
    return static_cast<std::int64_t>(ftello(file));
}

std::int64_t FileLength(std::FILE* file) {
    return fseeko(file, 0, SEEK_END) == 0 ? TellFile(file) : -1;
}

bool MakeDirectory(const char* path) {
    return mkdir(path, 0777) == 0;
}

bool RemoveFile(const std::filesystem::path& path) {
    return unlink(path.c_str()) == 0;
}

FileError TryReplaceFileAtomically(const std::filesystem::path& source,
                                   const std::filesystem::path& target) {
    if (std::rename(source.c_str(), target.c_str()) != 0) {
        return ErrorOf(errno);
    }
    // The rename is in the folder's entries; until they reach the disk a power loss can undo it.
    const std::filesystem::path folder = target.parent_path();
    if (!FlushFolderToDisk(folder.empty() ? std::filesystem::path(".") : folder)) {
        return FileError::Refused;
    }
    return FileError::None;
}

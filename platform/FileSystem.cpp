#include "platform/FileSystem.h"

#include "platform/OpenMode.h"

#include <algorithm>
#include <limits>
#include <system_error>

FileError TryOpenFile(const std::filesystem::path& path, const char* mode, FileHandle& file) {
    const OpenMode* openMode = FindOpenMode(mode);
    return openMode != nullptr ? OpenWideStream(path, *openMode, file) : FileError::Refused;
}

FileError TryOpenNarrowFile(const std::string& cp936Path, const char* mode, FileHandle& file) {
    const OpenMode* openMode = FindOpenMode(mode);
    return openMode != nullptr ? OpenNarrowStream(cp936Path, *openMode, file) : FileError::Refused;
}

FileError TryOpenExistingNarrowFileForWriting(const std::string& cp936Path, FileHandle& file) {
    return OpenNarrowStream(cp936Path, ExistingForWriting(), file);
}

FileHandle OpenFile(const std::filesystem::path& path, const char* mode) {
    FileHandle file;
    static_cast<void>(TryOpenFile(path, mode, file)); // an empty handle tells the failure
    return file;
}

FileHandle OpenNarrowFile(const std::string& cp936Path, const char* mode) {
    FileHandle file;
    static_cast<void>(TryOpenNarrowFile(cp936Path, mode, file)); // an empty handle tells
    return file;
}

bool CloseWrittenFile(FileHandle& file) {
    return std::fclose(file.release()) == 0;
}

bool CreateNarrowDirectories(const std::string& cp936Path) {
    std::filesystem::path hostPath;
    if (!NarrowToHostPath(cp936Path, hostPath)) {
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(hostPath, error);
    return !error && std::filesystem::is_directory(hostPath, error);
}

bool ReplaceFileAtomically(const std::filesystem::path& source,
                           const std::filesystem::path& target) {
    return TryReplaceFileAtomically(source, target) == FileError::None;
}

std::int64_t AvailableSpace(const std::filesystem::path& folder) {
    std::error_code error;
    const std::filesystem::space_info space = std::filesystem::space(folder, error);
    if (error) {
        return -1;
    }
    constexpr auto kLargest = static_cast<std::uintmax_t>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::int64_t>(std::min(space.available, kLargest));
}

#include "platform/FileSystem.h"

#include "platform/OpenMode.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
// windef.h first; only kernel headers, never the UI ones.
#include <windef.h>

#include <winbase.h>
#include <winnls.h>

// What CreateFile needs to give the stream the C runtime would give for the mode.
struct OpenMode {
    const char* mode;
    DWORD access;
    DWORD disposition;
    int descriptorFlags;
};

namespace {

constexpr OpenMode kOpenModes[] = {
    {"rb", GENERIC_READ, OPEN_EXISTING, _O_RDONLY},
    {"r+b", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING, 0},
    {"wb", GENERIC_WRITE, CREATE_ALWAYS, 0},
    {"w+b", GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS, 0},
};
// A stream over an existing file does not truncate it, whatever its mode says.
constexpr OpenMode kExistingForWriting = {"wb", GENERIC_WRITE, OPEN_EXISTING, 0};
// The C runtime's sharing: other programs may read and write the file beside us.
constexpr DWORD kRuntimeSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The C runtime folds sharing and lock violations into plain access denial; the system tells them
// apart.
FileError ErrorOf(DWORD systemError) {
    switch (systemError) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return FileError::Held;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return FileError::Missing;
    default:
        return FileError::Refused;
    }
}

// An attribute query is far cheaper than a failed open under Wine (no round trip to its server),
// and most targets of a package do not exist yet. Other failures are left to the open to classify.
bool NarrowPathMissing(const std::string& cp936Path) {
    if (GetFileAttributesA(cp936Path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    return ErrorOf(GetLastError()) == FileError::Missing;
}

} // namespace

FileError LastFileError() {
    return ErrorOf(GetLastError());
}

FileError StreamOver(std::intptr_t system, const OpenMode& mode, FileHandle& file) {
    const int descriptor = _open_osfhandle(system, _O_BINARY | mode.descriptorFlags);
    if (descriptor == -1) {
        CloseHandle(reinterpret_cast<HANDLE>(system));
        return FileError::Refused;
    }
    file.reset(_fdopen(descriptor, mode.mode));
    if (!file) {
        _close(descriptor);
        return FileError::Refused;
    }
    return FileError::None;
}

namespace {

// A handle that could not be opened gives the system's reason.
FileError StreamOverHandle(HANDLE handle, const OpenMode& mode, FileHandle& file) {
    if (handle == INVALID_HANDLE_VALUE) {
        return LastFileError();
    }
    return StreamOver(reinterpret_cast<std::intptr_t>(handle), mode, file);
}

} // namespace

const OpenMode* FindOpenMode(const char* mode) {
    return FindOpenModeIn(kOpenModes, mode);
}

const OpenMode& ExistingForWriting() {
    return kExistingForWriting;
}

FileError OpenWideStream(const std::filesystem::path& path, const OpenMode& mode,
                         FileHandle& file) {
    return StreamOverHandle(CreateFileW(path.c_str(), mode.access, kRuntimeSharing, nullptr,
                                        mode.disposition, FILE_ATTRIBUTE_NORMAL, nullptr),
                            mode, file);
}

// The ANSI file API takes the code page 936 bytes as they are.
FileError OpenNarrowStream(const std::string& cp936Path, const OpenMode& mode, FileHandle& file) {
    if (mode.disposition == OPEN_EXISTING && NarrowPathMissing(cp936Path)) {
        return FileError::Missing;
    }
    return StreamOverHandle(CreateFileA(cp936Path.c_str(), mode.access, kRuntimeSharing, nullptr,
                                        mode.disposition, FILE_ATTRIBUTE_NORMAL, nullptr),
                            mode, file);
}

// What the ANSI file API does with a narrow name.
bool NarrowToHostPath(const std::string& cp936Path, std::filesystem::path& hostPath) {
    const int inputLength = static_cast<int>(cp936Path.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, cp936Path.data(), inputLength, nullptr, 0);
    if (length <= 0) {
        return false;
    }
    std::wstring wide(static_cast<size_t>(length), L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, cp936Path.data(), inputLength, &wide[0], length) != length) {
        return false;
    }
    hostPath = wide;
    return true;
}

bool TruncateFile(std::FILE* file) {
    return _chsize(_fileno(file), 0) == 0;
}

bool FlushFileToDisk(std::FILE* file) {
    return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

bool StartWriteBack(std::FILE* file) {
    return std::fflush(file) == 0;
}

// The file system's log holds the folder's entries; every file flush and write-through rename
// commits it.
bool FlushFolderToDisk(const std::filesystem::path& /*folder*/) {
    return true;
}

bool SeekFile(std::FILE* file, std::int64_t offset) {
    return offset >= 0 && _fseeki64(file, offset, SEEK_SET) == 0;
}

std::int64_t TellFile(std::FILE* file) {
    return _ftelli64(file);
}

std::int64_t FileLength(std::FILE* file) {
    return _fseeki64(file, 0, SEEK_END) == 0 ? TellFile(file) : -1;
}

bool MakeDirectory(const char* path) {
    return _mkdir(path) == 0;
}

bool RemoveFile(const std::filesystem::path& path) {
    return DeleteFileW(path.c_str()) != FALSE;
}

FileError TryReplaceFileAtomically(const std::filesystem::path& source,
                                   const std::filesystem::path& target) {
    if (MoveFileExW(source.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        return ErrorOf(GetLastError());
    }
    return FileError::None;
}

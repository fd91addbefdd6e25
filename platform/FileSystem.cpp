#include "platform/FileSystem.h"

#include "platform/NameCase.h"
#include "platform/TextEncoding.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
// windef.h first; only kernel headers, never the UI ones.
#include <windef.h>

#include <winbase.h>
#include <winnls.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32

// What CreateFile needs to give the stream the C runtime would give for the mode.
struct OpenMode {
    const char* mode;
    DWORD access;
    DWORD disposition;
    int descriptorFlags;
};

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

FileError StreamOverHandle(HANDLE handle, const OpenMode& mode, FileHandle& file) {
    if (handle == INVALID_HANDLE_VALUE) {
        return ErrorOf(GetLastError());
    }
    const int descriptor =
        _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | mode.descriptorFlags);
    if (descriptor == -1) {
        CloseHandle(handle);
        return FileError::Refused;
    }
    file.reset(_fdopen(descriptor, mode.mode));
    if (!file) {
        _close(descriptor);
        return FileError::Refused;
    }
    return FileError::None;
}

FileError OpenWideStream(const std::filesystem::path& path, const OpenMode& mode,
                         FileHandle& file) {
    return StreamOverHandle(CreateFileW(path.c_str(), mode.access, kRuntimeSharing, nullptr,
                                        mode.disposition, FILE_ATTRIBUTE_NORMAL, nullptr),
                            mode, file);
}

// An attribute query is far cheaper than a failed open under Wine (no round trip to its server),
// and most targets of a package do not exist yet. Other failures are left to the open to classify.
bool NarrowPathMissing(const std::string& cp936Path) {
    if (GetFileAttributesA(cp936Path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    return ErrorOf(GetLastError()) == FileError::Missing;
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

#else

struct OpenMode {
    const char* mode;
    int flags;
};

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

FileError OpenWideStream(const std::filesystem::path& path, const OpenMode& mode,
                         FileHandle& file) {
    const int descriptor = open(path.c_str(), mode.flags | O_CLOEXEC, 0666);
    if (descriptor == -1) {
        return ErrorOf(errno);
    }
    file.reset(fdopen(descriptor, mode.mode));
    if (!file) {
        close(descriptor);
        return FileError::Refused;
    }
    return FileError::None;
}

// The names of the folders searched, folded, so that writing many new files into one folder
// does not read the folder again for each. A listing is used while the folder's identity and time
// are those it had when read, or after a file was created here. A change another program makes
// within the same tick of the file times as the listing goes unseen: nothing else writes into a
// game folder while it is updated.
class FolderNames {
public:
    // The one name in folder that Windows would take for name (empty for none); false when
    // several would do.
    bool Find(const std::filesystem::path& folder, const std::string& name, std::string& found) {
        const std::string key = folder.empty() ? "." : folder.native();
        struct stat status {};
        if (stat(key.c_str(), &status) != 0) {
            return true; // nothing there to find
        }
        std::lock_guard<std::mutex> hold(m_lock);
        Listing& listing = m_listings[key];
        if (!listing.Fresh(status)) {
            listing.Read(key, status);
        }
        const std::string folded = FoldedNameCase(name);
        if (listing.ambiguous.count(folded) != 0) {
            return false;
        }
        const auto match = listing.names.find(folded);
        found = match == listing.names.end() ? std::string() : match->second;
        return true;
    }

    // A file this process just created: its folder's listing stays good.
    void Created(const std::filesystem::path& file) {
        const std::filesystem::path folder = file.parent_path();
        const std::string key = folder.empty() ? "." : folder.native();
        struct stat status {};
        std::lock_guard<std::mutex> hold(m_lock);
        const auto listing = m_listings.find(key);
        if (listing != m_listings.end() && stat(key.c_str(), &status) == 0) {
            listing->second.names.emplace(FoldedNameCase(file.filename().native()),
                                          file.filename().native());
            listing->second.Remember(status);
        }
    }

private:
    struct Listing {
        ino_t inode = 0;
        timespec modified{};
        std::map<std::string, std::string> names; // folded -> as on the disk
        std::set<std::string> ambiguous;          // folded names held more than once

        bool Fresh(const struct stat& status) const {
            return inode == status.st_ino && modified.tv_sec == status.st_mtim.tv_sec &&
                   modified.tv_nsec == status.st_mtim.tv_nsec;
        }
        void Remember(const struct stat& status) {
            inode = status.st_ino;
            modified = status.st_mtim;
        }
        void Read(const std::string& folder, const struct stat& status) {
            names.clear();
            ambiguous.clear();
            Remember(status);
            DIR* directory = opendir(folder.c_str());
            while (const dirent* item = directory != nullptr ? readdir(directory) : nullptr) {
                if (!names.emplace(FoldedNameCase(item->d_name), item->d_name).second) {
                    ambiguous.insert(FoldedNameCase(item->d_name));
                }
            }
            if (directory != nullptr) {
                closedir(directory);
            }
        }
    };

    std::mutex m_lock;
    std::map<std::string, Listing> m_listings;
};

FolderNames& SearchedFolders() {
    static FolderNames folders;
    return folders;
}

// Windows finds an existing file or folder whatever the case of its letters. Each part of the
// path that is not there as spelled is looked up in its folder; the parts below the first that
// exists in no case stay as spelled. False when two existing names differ only in case, since
// Windows could not hold both and either could be meant.
bool ResolveNameCase(std::filesystem::path& hostPath) {
    std::filesystem::path resolved;
    bool searching = true;
    for (const std::filesystem::path& part : hostPath) {
        std::error_code error;
        if (searching && !part.empty() && part != "." && part != ".." &&
            !std::filesystem::exists(std::filesystem::symlink_status(resolved / part, error))) {
            std::string found;
            if (!SearchedFolders().Find(resolved, part.native(), found)) {
                return false;
            }
            searching = !found.empty();
            resolved /= searching ? std::filesystem::path(found) : part;
            continue;
        }
        resolved /= part;
    }
    hostPath = resolved;
    return true;
}

FileError OpenNarrowStream(const std::string& cp936Path, const OpenMode& mode, FileHandle& file) {
    std::filesystem::path hostPath;
    if (!NarrowToHostPath(cp936Path, hostPath)) {
        return FileError::Refused;
    }
    const FileError error = OpenWideStream(hostPath, mode, file);
    if (error == FileError::None && (mode.flags & O_CREAT) != 0) {
        SearchedFolders().Created(hostPath);
    }
    return error;
}

#endif

const OpenMode* FindOpenMode(const char* mode) {
    for (const OpenMode& known : kOpenModes) {
        if (std::strcmp(known.mode, mode) == 0) {
            return &known;
        }
    }
    return nullptr;
}

} // namespace

#ifdef _WIN32

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

#else

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

#endif

FileError TryOpenFile(const std::filesystem::path& path, const char* mode, FileHandle& file) {
    const OpenMode* openMode = FindOpenMode(mode);
    return openMode != nullptr ? OpenWideStream(path, *openMode, file) : FileError::Refused;
}

FileError TryOpenNarrowFile(const std::string& cp936Path, const char* mode, FileHandle& file) {
    const OpenMode* openMode = FindOpenMode(mode);
    return openMode != nullptr ? OpenNarrowStream(cp936Path, *openMode, file) : FileError::Refused;
}

FileError TryOpenExistingNarrowFileForWriting(const std::string& cp936Path, FileHandle& file) {
    return OpenNarrowStream(cp936Path, kExistingForWriting, file);
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

bool TruncateFile(std::FILE* file) {
#ifdef _WIN32
    return _chsize(_fileno(file), 0) == 0;
#else
    return ftruncate(fileno(file), 0) == 0;
#endif
}

bool CloseWrittenFile(FileHandle& file) {
    return std::fclose(file.release()) == 0;
}

bool FlushFileToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) {
        return false;
    }
#ifdef _WIN32
    return _commit(_fileno(file)) == 0;
#else
    return fsync(fileno(file)) == 0;
#endif
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
#ifdef _WIN32
    (void)folder;
    return true;
#else
    const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor == -1) {
        return false;
    }
    const bool flushed = fsync(descriptor) == 0;
    return close(descriptor) == 0 && flushed;
#endif
}

bool SeekFile(std::FILE* file, std::int64_t offset) {
    if (offset < 0) {
        return false;
    }
#ifdef _WIN32
    return _fseeki64(file, offset, SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

std::int64_t TellFile(std::FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<std::int64_t>(ftello(file));
#endif
}

std::int64_t FileLength(std::FILE* file) {
#ifdef _WIN32
    const bool atEnd = _fseeki64(file, 0, SEEK_END) == 0;
#else
    const bool atEnd = fseeko(file, 0, SEEK_END) == 0;
#endif
    return atEnd ? TellFile(file) : -1;
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

bool MakeDirectory(const char* path) {
#ifdef _WIN32
    return _mkdir(path) == 0;
#else
    return mkdir(path, 0777) == 0;
#endif
}

bool RemoveFile(const std::filesystem::path& path) {
#ifdef _WIN32
    return DeleteFileW(path.c_str()) != FALSE;
#else
    return unlink(path.c_str()) == 0;
#endif
}

FileError TryReplaceFileAtomically(const std::filesystem::path& source,
                                   const std::filesystem::path& target) {
#ifdef _WIN32
    if (MoveFileExW(source.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        return ErrorOf(GetLastError());
    }
#else
    if (std::rename(source.c_str(), target.c_str()) != 0) {
        return ErrorOf(errno);
    }
    // The rename is in the folder's entries; until they reach the disk a power loss can undo it.
    const std::filesystem::path folder = target.parent_path();
    if (!FlushFolderToDisk(folder.empty() ? std::filesystem::path(".") : folder)) {
        return FileError::Refused;
    }
#endif
    return FileError::None;
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

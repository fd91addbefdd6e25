#include "FileSystem.h"

#include "TextEncoding.h"

#include <algorithm>
#include <system_error>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
// windef.h first; only kernel headers, never the UI ones.
#include <windef.h>

#include <winbase.h>
#include <winnls.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32

std::wstring WideMode(const char* mode) {
    return std::wstring(mode, mode + std::char_traits<char>::length(mode));
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

#else

bool NarrowToHostPath(const std::string& cp936Path, std::filesystem::path& hostPath) {
    std::string utf8;
    if (!Cp936ToUtf8(cp936Path, utf8)) {
        return false;
    }
    // Windows separates at a backslash too; in UTF-8 no byte of a longer character is one.
    std::replace(utf8.begin(), utf8.end(), '\\', '/');
    hostPath = utf8;
    return true;
}

#endif

} // namespace

FileHandle OpenFile(const std::filesystem::path& path, const char* mode) {
#ifdef _WIN32
    return FileHandle(_wfopen(path.c_str(), WideMode(mode).c_str()));
#else
    return FileHandle(std::fopen(path.c_str(), mode));
#endif
}

FileHandle OpenNarrowFile(const std::string& cp936Path, const char* mode) {
#ifdef _WIN32
    return FileHandle(std::fopen(cp936Path.c_str(), mode));
#else
    std::filesystem::path hostPath;
    if (!NarrowToHostPath(cp936Path, hostPath)) {
        return nullptr;
    }
    return OpenFile(hostPath, mode);
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

bool ReplaceFileAtomically(const std::filesystem::path& source,
                           const std::filesystem::path& target) {
#ifdef _WIN32
    return MoveFileExW(source.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
#else
    return std::rename(source.c_str(), target.c_str()) == 0;
#endif
}

#include "platform/ExclusiveFile.h"

#include "platform/HeldFolder.h"
#include "platform/OpenMode.h"

#include <cstdint>
#include <filesystem>
#include <io.h>
// windef.h first; only kernel headers, never the UI ones.
#include <windef.h>

#include <winbase.h>

// Held with reading (an open with attribute access alone takes no part in sharing) and without
// delete sharing, the folder cannot be renamed or replaced while the file in it is used.
struct HeldFolder {
    HANDLE handle;
    std::filesystem::path path;
};

void HeldFolderCloser::operator()(HeldFolder* folder) const {
    CloseHandle(folder->handle);
    delete folder;
}

namespace {

bool IsPlainFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

} // namespace

// The folder itself, not what a junction or link there points to. Wine shows a link to a folder
// as a reparse point by its name; Windows by the handle too.
FileError HoldPlainFolder(const char* folder, HeldFolderHandle& held) {
    const std::filesystem::path path(folder);
    static_cast<void>(CreateDirectoryW(path.c_str(), nullptr)); // it may exist; opening tells
    const HANDLE handle = CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return LastFileError();
    }
    held.reset(new HeldFolder{handle, path});
    BY_HANDLE_FILE_INFORMATION information{};
    if (!IsPlainFolder(GetFileAttributesW(path.c_str())) ||
        GetFileInformationByHandle(handle, &information) == FALSE ||
        !IsPlainFolder(information.dwFileAttributes)) {
        return FileError::Refused;
    }
    return FileError::None;
}

FileError FreeName(const HeldFolder& folder, const char* name) {
    if (DeleteFileW((folder.path / name).c_str()) != FALSE) {
        return FileError::None;
    }
    const FileError error = LastFileError();
    return error == FileError::Missing ? FileError::None : error;
}

// Readable by others, but nobody can write, rename or delete it while it is held; DELETE access
// lets it be deleted through the handle.
FileError CreateNewFile(const HeldFolder& folder, const char* name, FileHandle& stream) {
    const HANDLE file = CreateFileW(
        (folder.path / name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return LastFileError();
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(file, &information) == FALSE ||
        information.nNumberOfLinks != 1) {
        CloseHandle(file);
        return FileError::Refused;
    }
    return StreamOver(reinterpret_cast<std::intptr_t>(file), *FindOpenMode("w+b"), stream);
}

// Held without delete sharing, the name still holds this file: it goes when the handle is closed.
bool ExclusiveFile::Remove() {
    if (!m_stream) {
        return false;
    }
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(m_stream.get())));
    FILE_DISPOSITION_INFO disposition{TRUE};
    const bool removed = SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                                    sizeof disposition) != FALSE;
    Close();
    return removed;
}

#include "platform/ExclusiveFile.h"

#include "platform/OpenMode.h"

#include <cstdint>
#include <io.h>
#include <string>
// windef.h first; only kernel headers, never the UI ones.
#include <windef.h>

#include <winbase.h>

struct HeldFolder {
    HANDLE handle;
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

// The folder itself, not what a junction or link there points to. Held with reading (an open with
// attribute access alone takes no part in sharing) and without delete sharing, it cannot be
// renamed or replaced while the file in it is used. Wine shows a link to a folder as a reparse
// point by its name; Windows by the handle too.
FileError HoldPlainFolder(const std::wstring& folder, HANDLE& handle) {
    static_cast<void>(CreateDirectoryW(folder.c_str(), nullptr)); // it may exist; opening tells
    handle = CreateFileW(folder.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                         nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return LastFileError();
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (!IsPlainFolder(GetFileAttributesW(folder.c_str())) ||
        GetFileInformationByHandle(handle, &information) == FALSE ||
        !IsPlainFolder(information.dwFileAttributes)) {
        CloseHandle(handle);
        return FileError::Refused;
    }
    return FileError::None;
}

// Made new, never through a link; readable by others, but nobody can write, rename or delete it
// while it is held. DELETE access lets it be deleted through the handle.
FileError CreateNew(const std::wstring& path, FileHandle& stream) {
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
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

} // namespace

FileError ExclusiveFile::Create(const char* folder, const char* name) {
    Close();
    const std::filesystem::path folderPath(folder);
    HANDLE folderHandle = INVALID_HANDLE_VALUE;
    const FileError folderError = HoldPlainFolder(folderPath.wstring(), folderHandle);
    if (folderError != FileError::None) {
        return folderError;
    }
    m_folder.reset(new HeldFolder{folderHandle});
    // A link loses itself, never what it points to; another name of a file loses that name alone.
    const std::wstring path = (folderPath / name).wstring();
    if (DeleteFileW(path.c_str()) == FALSE) {
        const FileError error = LastFileError();
        if (error != FileError::Missing) {
            return error;
        }
    }
    FileHandle stream;
    const FileError error = CreateNew(path, stream);
    if (error != FileError::None) {
        return error;
    }
    m_stream = std::move(stream);
    m_name = name;
    return FileError::None;
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

#include "platform/ExclusiveFile.h"

#include "platform/HeldFolder.h"
#include "platform/OpenMode.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Names are looked up relative to the folder's descriptor, so the folder cannot be swapped for a
// link between the check and the use.
struct HeldFolder {
    int descriptor;
};

void HeldFolderCloser::operator()(HeldFolder* folder) const {
    close(folder->descriptor);
    delete folder;
}

namespace {

bool SameFile(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

} // namespace

FileError HoldPlainFolder(const char* folder, HeldFolderHandle& held) {
    static_cast<void>(mkdir(folder, 0777)); // it may exist; opening it tells
    const int descriptor = open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor == -1) {
        return LastFileError();
    }
    held.reset(new HeldFolder{descriptor});
    return FileError::None;
}

FileError FreeName(const HeldFolder& folder, const char* name) {
    return unlinkat(folder.descriptor, name, 0) != 0 && errno != ENOENT ? LastFileError()
                                                                        : FileError::None;
}

// Only the owner may open it: nobody else can write into it while it is held.
FileError CreateNewFile(const HeldFolder& folder, const char* name, FileHandle& stream) {
    const int descriptor =
        openat(folder.descriptor, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor == -1) {
        return LastFileError();
    }
    FileHandle created;
    const FileError error = StreamOver(descriptor, *FindOpenMode("w+b"), created);
    if (error != FileError::None) {
        return error;
    }
    struct stat status {};
    if (fstat(descriptor, &status) != 0 || status.st_nlink != 1) {
        return FileError::Refused;
    }
    stream = std::move(created);
    return FileError::None;
}

// The name is removed only while it still names the file held: one put in its place stays.
bool ExclusiveFile::Remove() {
    if (!m_stream) {
        return false;
    }
    struct stat held {};
    struct stat named {};
    const bool ours =
        fstat(fileno(m_stream.get()), &held) == 0 &&
        fstatat(m_folder->descriptor, m_name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        SameFile(held, named);
    const bool removed = ours && unlinkat(m_folder->descriptor, m_name.c_str(), 0) == 0;
    Close();
    return removed;
}

#include "platform/ExclusiveFile.h"

#include "platform/OpenMode.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

struct HeldFolder {
    int descriptor;
};

void HeldFolderCloser::operator()(HeldFolder* folder) const {
    close(folder->descriptor);
    delete folder;
}

namespace {

// Names are looked up relative to the folder opened here, so the folder cannot be swapped for a
// link between the check and the use.
FileError OpenPlainFolder(const char* folder, int& descriptor) {
    static_cast<void>(mkdir(folder, 0777)); // it may exist; opening it tells
    descriptor = open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return descriptor == -1 ? LastFileError() : FileError::None;
}

bool SameFile(const struct stat& one, const struct stat& other) {
    return one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

} // namespace

FileError ExclusiveFile::Create(const char* folder, const char* name) {
    Close();
    int folderDescriptor = -1;
    const FileError folderError = OpenPlainFolder(folder, folderDescriptor);
    if (folderError != FileError::None) {
        return folderError;
    }
    m_folder.reset(new HeldFolder{folderDescriptor});
    if (unlinkat(folderDescriptor, name, 0) != 0 && errno != ENOENT) {
        return LastFileError();
    }
    // Only the owner may open it: nobody else can write into it while it is held.
    const int descriptor =
        openat(folderDescriptor, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor == -1) {
        return LastFileError();
    }
    FileHandle stream;
    const FileError streamError = StreamOver(descriptor, *FindOpenMode("w+b"), stream);
    struct stat status {};
    if (streamError != FileError::None) {
        return streamError;
    }
    if (fstat(descriptor, &status) != 0 || status.st_nlink != 1) {
        return FileError::Refused;
    }
    m_stream = std::move(stream);
    m_name = name;
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

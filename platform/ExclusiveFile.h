#pragma once

#include "platform/FileSystem.h"

#include <cstdio>
#include <memory>
#include <string>

// The platform's hold on the folder an ExclusiveFile is made in.
struct HeldFolder;
struct HeldFolderCloser {
    void operator()(HeldFolder* folder) const;
};

// A file of one run alone, made where others may write too (a game folder every user of the
// machine can write to), for a program that runs with administrator rights. Its folder must be a
// plain folder, not a link or another reparse point, and is held so that it cannot be replaced
// while the file is used. Whatever has the file's name is removed first (that name alone, never
// what a link points to); the file is then made new without following a link, refused when it has
// another hard link, held open with no sharing for writing or deleting, written and read through
// that one stream, and deleted through it.
class ExclusiveFile {
public:
    ExclusiveFile() = default;
    ExclusiveFile(const ExclusiveFile&) = delete;
    ExclusiveFile& operator=(const ExclusiveFile&) = delete;

    // folder: one level below the current directory (ASCII), made when missing; name: a plain file
    // name in it. Refused when the folder is a link, or the name cannot be freed or made new.
    [[nodiscard]] FileError Create(const char* folder, const char* name);
    // For reading and writing, at the start after Create; null before it and after Close.
    [[nodiscard]] std::FILE* Stream() const { return m_stream.get(); }
    // Deletes the file, if its name still holds it, and closes it; false when the file stays.
    [[nodiscard]] bool Remove();
    // Closes the file and leaves it where it is.
    void Close() {
        m_stream.reset();
        m_folder.reset();
    }

private:
    std::unique_ptr<HeldFolder, HeldFolderCloser> m_folder;
    FileHandle m_stream;
    std::string m_name;
};

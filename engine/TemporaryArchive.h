#pragma once

#include "platform/ExclusiveFile.h"
#include "platform/LockWait.h"
#include "platform/Pieces.h"

#include <unzip.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <type_traits>

struct ArchiveReaderCloser {
    void operator()(unzFile reader) const { unzClose(reader); }
};
// A ZIP reader; closing it leaves the file under it open.
using ArchiveReader = std::unique_ptr<std::remove_pointer_t<unzFile>, ArchiveReaderCloser>;

// How copying the embedded archive out ended.
enum class Extraction {
    Done,
    Stopped,      // the run was cancelled
    NotCreated,   // no room, or the file could not be made the run's own: nothing is left
    PackageShort, // the program file could not be read to the archive's end
};

// The package's ZIP archive copied out to patch/hvmanualpatch.zip for the ZIP reader. The run
// holds it from its creation to its removal (see ExclusiveFile): a link planted at its name or in
// place of "patch" cannot turn the writes elsewhere, and nobody can change it between the copy and
// the reading, which goes through the same handle. A run that ends with a message leaves it in
// "patch"; the next run replaces it.
class TemporaryArchive {
public:
    static constexpr const char* kFolder = "patch";
    static constexpr const char* kName = "hvmanualpatch.zip";

    // Copies length bytes of programFile, from where it stands.
    [[nodiscard]] Extraction Extract(std::FILE* programFile, std::int64_t length,
                                     const LockWait& wait, const StopCheck& stopped);
    // A reader over the copy; null when it is no ZIP archive. Closed before Remove.
    [[nodiscard]] ArchiveReader OpenReader();
    // Deletes the copy through the handle held; false when it could not be deleted.
    [[nodiscard]] bool Remove() { return m_file.Remove(); }

private:
    ExclusiveFile m_file;
};

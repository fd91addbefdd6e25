#include "engine/TemporaryArchive.h"

#include "platform/FileSystem.h"

#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

// Whether the folder can take the archive; a copy left by an earlier run is replaced, so its space
// counts, unless it is a link or has another name, whose space stays taken. Where the free space
// cannot be told, writing finds out.
bool RoomFor(std::int64_t length) {
    const fs::path earlier = fs::path(TemporaryArchive::kFolder) / TemporaryArchive::kName;
    const std::int64_t available = AvailableSpace(TemporaryArchive::kFolder);
    std::error_code error;
    const bool replacedFile = fs::is_regular_file(fs::symlink_status(earlier, error)) &&
                              fs::hard_link_count(earlier, error) == 1;
    const std::uintmax_t size = replacedFile ? fs::file_size(earlier, error) : 0;
    const std::int64_t replaced = error ? 0 : static_cast<std::int64_t>(size);
    return available < 0 || available >= length - replaced;
}

// The reader's file functions over the held stream: it reads through the handle the copy was
// written with, and closing the reader leaves that handle open for the removal.
zlib_filefunc64_def FunctionsOverStream() {
    zlib_filefunc64_def functions;
    fill_fopen64_filefunc(&functions);
    functions.zopen64_file = [](voidpf, const void* stream, int) -> voidpf {
        return const_cast<void*>(stream);
    };
    functions.zclose_file = [](voidpf, voidpf) -> int { return 0; };
    return functions;
}

} // namespace

Extraction TemporaryArchive::Extract(std::FILE* programFile, std::int64_t length,
                                     const LockWait& wait, const StopCheck& stopped) {
    if (!RoomFor(length)) {
        return Extraction::NotCreated;
    }
    const std::unique_ptr<unsigned char[]> buffer = NewPieceBuffer();
    if (!buffer ||
        wait.Retry([this] { return m_file.Create(kFolder, kName); }) != FileError::None) {
        m_file.Close();
        return Extraction::NotCreated;
    }
    const PieceRun copy = CopyPieces(programFile, static_cast<std::uint64_t>(length),
                                     m_file.Stream(), buffer.get(), stopped);
    if (copy == PieceRun::Stopped) {
        return Extraction::Stopped;
    }
    if (copy == PieceRun::NotRead) {
        return Extraction::PackageShort;
    }
    // A disk that fills up is reported here, not later as an archive that cannot be read; a
    // partial copy would only keep the space taken.
    if (copy == PieceRun::NotUsed || std::fflush(m_file.Stream()) != 0) {
        static_cast<void>(m_file.Remove());
        return Extraction::NotCreated;
    }
    return Extraction::Done;
}

ArchiveReader TemporaryArchive::OpenReader() {
    zlib_filefunc64_def functions = FunctionsOverStream();
    std::FILE* const stream = m_file.Stream();
    if (stream == nullptr) {
        return nullptr;
    }
    return ArchiveReader(unzOpen2_64(stream, &functions));
}

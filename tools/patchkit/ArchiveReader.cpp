#include "ArchiveReader.h"

#include "EntryRecord.h"
#include "FileSystem.h"

#include <unzip.h>

#include <algorithm>
#include <memory>
#include <new>

namespace {

constexpr std::size_t kBufferSize = 1 << 20;

FileWindow* WindowOf(voidpf stream) {
    return static_cast<FileWindow*>(stream);
}

// minizip file functions confined to the window.
voidpf ZCALLBACK OpenWindow(voidpf opaque, const void*, int) {
    return opaque;
}

uLong ZCALLBACK ReadWindow(voidpf, voidpf stream, void* buffer, uLong size) {
    FileWindow& window = *WindowOf(stream);
    const std::int64_t available = std::max<std::int64_t>(0, window.length - window.position);
    const auto count = static_cast<std::size_t>(
        std::min<std::int64_t>(available, static_cast<std::int64_t>(size)));
    if (count == 0 || !SeekFile(window.file, window.start + window.position)) {
        return 0;
    }
    const std::size_t read = std::fread(buffer, 1, count, window.file);
    window.position += static_cast<std::int64_t>(read);
    return static_cast<uLong>(read);
}

uLong ZCALLBACK WriteWindow(voidpf, voidpf, const void*, uLong) {
    return 0;
}

ZPOS64_T ZCALLBACK TellWindow(voidpf, voidpf stream) {
    return static_cast<ZPOS64_T>(WindowOf(stream)->position);
}

long ZCALLBACK SeekWindow(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    FileWindow& window = *WindowOf(stream);
    const auto distance = static_cast<std::int64_t>(offset);
    std::int64_t position = distance;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
        position = window.position + distance;
    } else if (origin == ZLIB_FILEFUNC_SEEK_END) {
        position = window.length + distance;
    }
    if (position < 0) {
        return -1;
    }
    window.position = position;
    return 0;
}

int ZCALLBACK CloseWindow(voidpf, voidpf) {
    return 0;
}

int ZCALLBACK WindowError(voidpf, voidpf stream) {
    return std::ferror(WindowOf(stream)->file);
}

struct ArchiveCloser {
    void operator()(void* archive) const { unzClose(archive); }
};
using ArchiveHandle = std::unique_ptr<void, ArchiveCloser>;

bool ReadCurrentEntry(unzFile archive, ArchiveEntry& entry) {
    unz_file_info64 info{};
    if (!ReadEntryRecord(archive, info, entry.storedName)) {
        return false;
    }
    entry.method = static_cast<std::uint32_t>(info.compression_method);
    entry.flags = static_cast<std::uint32_t>(info.flag);
    entry.crc = static_cast<std::uint32_t>(info.crc);
    entry.compressedSize = info.compressed_size;
    entry.size = info.uncompressed_size;
    return true;
}

// Empty when the current entry's data inflates to its recorded size and CRC.
std::string VerifyCurrentEntry(unzFile archive, const ArchiveEntry& entry, unsigned char* buffer) {
    if (unzOpenCurrentFile(archive) != UNZ_OK) {
        return "its data cannot be opened";
    }
    std::uint64_t delivered = 0;
    int read = 0;
    while ((read = unzReadCurrentFile(archive, buffer, static_cast<unsigned>(kBufferSize))) > 0) {
        delivered += static_cast<std::uint64_t>(read);
    }
    const int closed = unzCloseCurrentFile(archive);
    if (read < 0) {
        return "its data cannot be inflated";
    }
    if (delivered != entry.size) {
        return "its data holds " + std::to_string(delivered) + " bytes instead of " +
               std::to_string(entry.size);
    }
    if (closed == UNZ_CRCERROR) {
        return "its data does not match its CRC";
    }
    return closed == UNZ_OK ? std::string() : "its data cannot be read to the end";
}

} // namespace

bool ReadArchiveEntries(FileWindow window, bool verify, std::vector<ArchiveEntry>& entries,
                        std::string& error) {
    entries.clear();
    zlib_filefunc64_def functions{};
    functions.zopen64_file = OpenWindow;
    functions.zread_file = ReadWindow;
    functions.zwrite_file = WriteWindow;
    functions.ztell64_file = TellWindow;
    functions.zseek64_file = SeekWindow;
    functions.zclose_file = CloseWindow;
    functions.zerror_file = WindowError;
    functions.opaque = &window;
    ArchiveHandle archive(unzOpen2_64("archive", &functions));
    if (!archive) {
        error = "the updater's ZIP reader cannot open it (not a ZIP archive, damaged, or without "
                "any entry)";
        return false;
    }
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(archive.get(), &global) != UNZ_OK) {
        error = "its central directory cannot be read";
        return false;
    }
    if (global.number_entry == 0) {
        return true;
    }
    std::unique_ptr<unsigned char[]> buffer;
    if (verify) {
        buffer.reset(new (std::nothrow) unsigned char[kBufferSize]);
        if (!buffer) {
            error = "out of memory";
            return false;
        }
    }
    int positioned = unzGoToFirstFile(archive.get());
    for (; positioned == UNZ_OK; positioned = unzGoToNextFile(archive.get())) {
        ArchiveEntry entry;
        if (!ReadCurrentEntry(archive.get(), entry)) {
            error = "the record of entry " + std::to_string(entries.size() + 1) + " cannot be read";
            return false;
        }
        if (verify && !entry.Encrypted()) {
            entry.dataProblem = VerifyCurrentEntry(archive.get(), entry, buffer.get());
        }
        entries.push_back(entry);
    }
    if (positioned != UNZ_END_OF_LIST_OF_FILE) {
        error = "its central directory is damaged after entry " + std::to_string(entries.size());
        return false;
    }
    return true;
}

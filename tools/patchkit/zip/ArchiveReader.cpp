#include "zip/ArchiveReader.h"

#include "base/Progress.h"
#include "package/EntryRecord.h"
#include "platform/FileSystem.h"
#include "platform/Pieces.h"

#include <unzip.h>

#include <algorithm>
#include <atomic>
#include <memory>

namespace {

FileWindow* WindowOf(voidpf stream) {
    return static_cast<FileWindow*>(stream);
}

// minizip file functions confined to the window.
voidpf ZCALLBACK OpenWindow(voidpf opaque, const void*, int) {
    return opaque;
}

uLong ZCALLBACK ReadWindow(voidpf, voidpf stream, void* buffer, uLong size) {
    FileWindow& window = *WindowOf(stream);
    std::unique_lock<std::mutex> hold;
    if (window.shared != nullptr) {
        hold = std::unique_lock<std::mutex>(*window.shared);
    }
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

ArchiveHandle OpenArchive(FileWindow& window) {
    zlib_filefunc64_def functions{};
    functions.zopen64_file = OpenWindow;
    functions.zread_file = ReadWindow;
    functions.zwrite_file = WriteWindow;
    functions.ztell64_file = TellWindow;
    functions.zseek64_file = SeekWindow;
    functions.zclose_file = CloseWindow;
    functions.zerror_file = WindowError;
    functions.opaque = &window;
    return ArchiveHandle(unzOpen2_64("archive", &functions));
}

[[nodiscard]] bool ReadCurrentEntry(unzFile archive, ArchiveEntry& entry) {
    unz_file_info64 info{};
    if (!ReadEntryRecord(archive, info, entry.storedName)) {
        return false;
    }
    entry.method = static_cast<std::uint32_t>(info.compression_method);
    entry.flags = static_cast<std::uint32_t>(info.flag);
    entry.crc = static_cast<std::uint32_t>(info.crc);
    entry.madeBy = static_cast<std::uint16_t>(info.version);
    entry.externalAttributes = static_cast<std::uint32_t>(info.external_fa);
    entry.compressedSize = info.compressed_size;
    entry.size = info.uncompressed_size;
    return true;
}

// Empty when the current entry's data inflates to its recorded size and CRC.
std::string VerifyCurrentEntry(unzFile archive, const ArchiveEntry& entry, unsigned char* buffer,
                               Progress* progress, const EntryDataUse& use, std::size_t index) {
    if (unzOpenCurrentFile(archive) != UNZ_OK) {
        return "its data cannot be opened";
    }
    std::uint64_t delivered = 0;
    int read = 0;
    while ((read = unzReadCurrentFile(archive, buffer, static_cast<unsigned>(kPieceSize))) > 0) {
        if (use && !use(index, buffer, static_cast<std::size_t>(read))) {
            static_cast<void>(unzCloseCurrentFile(archive)); // the data was given up on
            return "its data cannot be taken in";
        }
        delivered += static_cast<std::uint64_t>(read);
        if (progress != nullptr) {
            progress->Add(static_cast<std::uint64_t>(read));
        }
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

// Entries to verify, shared by the threads that verify them; each thread reads through its own
// archive handle.
struct VerifyQueue {
    FileWindow window;
    std::mutex fileLock;
    const std::vector<unz64_file_pos>* positions = nullptr;
    std::vector<ArchiveEntry>* entries = nullptr;
    std::vector<std::size_t> order;
    std::atomic<std::size_t> next{0};
    Progress* progress = nullptr;
    const EntryDataUse* use = nullptr;

    void Work() {
        FileWindow own = window;
        own.position = 0;
        own.shared = &fileLock;
        ArchiveHandle archive = OpenArchive(own);
        const std::unique_ptr<unsigned char[]> buffer = NewPieceBuffer();
        for (std::size_t taken = next++; taken < order.size(); taken = next++) {
            const std::size_t index = order[taken];
            ArchiveEntry& entry = (*entries)[index];
            unz64_file_pos position = (*positions)[index];
            if (!archive || !buffer) {
                entry.dataProblem = "its data cannot be read (out of memory?)";
            } else if (unzGoToFilePos64(archive.get(), &position) != UNZ_OK) {
                entry.dataProblem = "its data cannot be opened";
            } else {
                entry.dataProblem =
                    VerifyCurrentEntry(archive.get(), entry, buffer.get(), progress, *use, index);
            }
        }
    }
};

void VerifyEntries(const FileWindow& window, const std::vector<unz64_file_pos>& positions,
                   std::vector<ArchiveEntry>& entries, const WorkSettings& work,
                   const EntryDataUse& use) {
    VerifyQueue queue;
    queue.use = &use;
    queue.window = window;
    queue.positions = &positions;
    queue.entries = &entries;
    queue.progress = work.progress;
    std::uint64_t total = 0;
    for (std::size_t index = 0; index < entries.size(); ++index) {
        if (!entries[index].Encrypted()) {
            queue.order.push_back(index);
            total += entries[index].size;
        }
    }
    // Largest first, so that no large entry is left to run alone at the end.
    std::stable_sort(queue.order.begin(), queue.order.end(), [&](std::size_t a, std::size_t b) {
        return entries[a].compressedSize > entries[b].compressedSize;
    });
    if (work.progress != nullptr) {
        work.progress->Start("verifying", total);
    }
    const unsigned threads =
        static_cast<unsigned>(std::min<std::size_t>(JobCount(work.jobs), queue.order.size()));
    {
        TaskQueue verifiers(threads > 1 ? threads : 0);
        for (unsigned thread = 0; thread < std::max(threads, 1u); ++thread) {
            verifiers.Submit([&queue] { queue.Work(); });
        }
    }
    if (work.progress != nullptr) {
        work.progress->Finish();
    }
}

} // namespace

bool ReadArchiveEntries(FileWindow window, bool verify, std::vector<ArchiveEntry>& entries,
                        std::string& error, const WorkSettings& work, const EntryDataUse& use) {
    entries.clear();
    ArchiveHandle archive = OpenArchive(window);
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
    std::vector<unz64_file_pos> positions;
    bool walked = true;
    int positioned = unzGoToFirstFile(archive.get());
    for (; positioned == UNZ_OK; positioned = unzGoToNextFile(archive.get())) {
        ArchiveEntry entry;
        unz64_file_pos position{};
        if (!ReadCurrentEntry(archive.get(), entry) ||
            unzGetFilePos64(archive.get(), &position) != UNZ_OK) {
            error = "the record of entry " + std::to_string(entries.size() + 1) + " cannot be read";
            walked = false;
            break;
        }
        entries.push_back(entry);
        positions.push_back(position);
    }
    if (walked && positioned != UNZ_END_OF_LIST_OF_FILE) {
        error = "its central directory is damaged after entry " + std::to_string(entries.size());
        walked = false;
    }
    if (verify) {
        // Also the entries read ahead of damage further on in the central directory.
        VerifyEntries(window, positions, entries, work, use);
    }
    return walked;
}

#include "ApplyPackage.h"

#include "ClientMutex.h"
#include "EntryName.h"
#include "EntryRecord.h"
#include "FileSystem.h"
#include "PatchView.h"
#include "Report.h"
#include "VersionLabels.h"

#include <unzip.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

namespace {

constexpr const char* kPatchDirectory = "patch";
constexpr const char* kTemporaryArchive = "patch/hvmanualpatch.zip";
constexpr std::int64_t kExtractionPiece = 1024;
constexpr std::int64_t kEntryPiece = 1048576;
// Keeps processed * 100 within 64 bits when the progress is computed.
constexpr std::int64_t kMaximumTotal = INT64_MAX / 100;

// Whether a step lets the run go on. Stop: a message has been shown, or the run was cancelled.
enum class Step { Continue, Stop };

struct ArchiveCloser {
    void operator()(unzFile archive) const { unzClose(archive); }
};
using ArchiveHandle = std::unique_ptr<std::remove_pointer_t<unzFile>, ArchiveCloser>;

struct ArchiveEntry {
    unz_file_info64 info{};
    std::string name; // lower-cased: the path the entry is written to
};

struct Application {
    RunState& run;
    unzFile archive = nullptr;
    std::int64_t total = 0;
    std::int64_t processed = 0;
};

Step Fail(PatchView& view, Message message) {
    ReportMessage(view, message);
    return Step::Stop;
}

Step CheckCancelled(PatchView& view) {
    return view.IsCancelled() ? Step::Stop : Step::Continue;
}

// A partial copy left by a full disk would only keep the space taken; the next run rewrites it.
Step FailWithPartialArchive(RunState& run, FileHandle& archive) {
    archive.reset();
    RemoveFile(kTemporaryArchive);
    return Fail(run.view, Message::CannotCreateTemporaryArchive);
}

Step ExtractEmbeddedArchive(RunState& run) {
    FileHandle archive = OpenFile(kTemporaryArchive, "wb");
    if (!archive) {
        return Fail(run.view, Message::CannotCreateTemporaryArchive);
    }
    char buffer[kExtractionPiece];
    for (std::int64_t count = run.archiveLength; count > 0;) {
        if (run.view.IsCancelled()) {
            return Step::Stop;
        }
        const auto piece = static_cast<std::size_t>(std::min(count, kExtractionPiece));
        if (std::fread(buffer, 1, piece, run.programFile) != piece) {
            return Fail(run.view, Message::CannotReadPackage);
        }
        // A disk that fills up is reported here, not later as an archive that cannot be read.
        if (std::fwrite(buffer, 1, piece, archive.get()) != piece) {
            return FailWithPartialArchive(run, archive);
        }
        count -= static_cast<std::int64_t>(piece);
    }
    if (!CloseWrittenFile(archive)) {
        return FailWithPartialArchive(run, archive);
    }
    return Step::Continue;
}

bool ReadCurrentEntry(unzFile archive, ArchiveEntry& entry) {
    if (!ReadEntryRecord(archive, entry.info, entry.name)) {
        return false;
    }
    entry.name = LowerCaseEntryName(std::move(entry.name));
    return true;
}

// Calls visit on every entry in archive order. An archive whose directory holds no entries has
// nothing to visit; one whose first entry cannot be reached is damaged.
template <typename Visit> Step ForEachEntry(Application& application, Visit visit) {
    PatchView& view = application.run.view;
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(application.archive, &global) != UNZ_OK) {
        return Fail(view, Message::CannotReadPackage);
    }
    if (global.number_entry == 0) {
        return Step::Continue;
    }
    if (unzGoToFirstFile(application.archive) != UNZ_OK) {
        return Fail(view, Message::CannotReadPackage);
    }
    for (;;) {
        if (view.IsCancelled() || visit() == Step::Stop) {
            return Step::Stop;
        }
        const int next = unzGoToNextFile(application.archive);
        if (next == UNZ_END_OF_LIST_OF_FILE) {
            return Step::Continue;
        }
        if (next != UNZ_OK) {
            return Fail(view, Message::CannotReadPackage);
        }
    }
}

// minizip 1.1 takes an entry's sizes from its ZIP64 field only when the 32-bit field equals
// (unsigned long)-1, which is no 32-bit value where long has 64 bits: there it reads the marker
// itself as the size, and would write the entry cut at that size before the CRC check noticed.
// Such entries are refused before anything is written; where long has 32 bits they are read right.
bool ReaderMisreadsSizes(const unz_file_info64& info) {
    constexpr std::uint64_t kZip64Marker = 0xFFFFFFFF;
    constexpr bool kReaderIgnoresZip64Sizes = sizeof(unsigned long) > sizeof(std::uint32_t);
    return kReaderIgnoresZip64Sizes &&
           (info.uncompressed_size == kZip64Marker || info.compressed_size == kZip64Marker);
}

// Sums the entry sizes for the progress bar, and refuses a package that would write outside the
// game directory or carries more than the one pak entry version.ini can record, before anything
// is written.
Step SumEntrySizes(Application& application) {
    int pakEntries = 0;
    return ForEachEntry(application, [&application, &pakEntries] {
        PatchView& view = application.run.view;
        ArchiveEntry entry;
        if (!ReadCurrentEntry(application.archive, entry) || ReaderMisreadsSizes(entry.info) ||
            !IsSafeEntryName(entry.name) ||
            (EntryKindOf(entry.name) == EntryKind::Pak && ++pakEntries > 1) ||
            entry.info.uncompressed_size >
                static_cast<std::uint64_t>(kMaximumTotal - application.total)) {
            return Fail(view, Message::CannotReadPackage);
        }
        application.total += static_cast<std::int64_t>(entry.info.uncompressed_size);
        return Step::Continue;
    });
}

// A read may deliver less than asked; it is continued until the piece is full. Delivering
// nothing before that is a damaged entry.
bool ReadEntryPiece(unzFile archive, char* buffer, unsigned piece) {
    for (unsigned filled = 0; filled < piece;) {
        const int read = unzReadCurrentFile(archive, buffer + filled, piece - filled);
        if (read <= 0) {
            return false;
        }
        filled += static_cast<unsigned>(read);
    }
    return true;
}

Step CopyEntryData(Application& application, const ArchiveEntry& entry, std::FILE* target) {
    PatchView& view = application.run.view;
    const std::unique_ptr<char[]> buffer(new (std::nothrow) char[kEntryPiece]);
    if (!buffer) {
        return Fail(view, Message::WriteCameUpShort);
    }
    auto remaining = static_cast<std::int64_t>(entry.info.uncompressed_size);
    while (remaining > 0) {
        if (view.IsCancelled()) {
            return Step::Stop;
        }
        const std::int64_t piece = std::min(remaining, kEntryPiece);
        if (!ReadEntryPiece(application.archive, buffer.get(), static_cast<unsigned>(piece))) {
            return Fail(view, Message::CannotReadPackage);
        }
        if (std::fwrite(buffer.get(), 1, static_cast<std::size_t>(piece), target) !=
            static_cast<std::size_t>(piece)) {
            return Fail(view, Message::WriteCameUpShort);
        }
        remaining -= piece;
        application.processed += piece;
        view.SetProgress(static_cast<int>(application.processed * 100 / application.total));
    }
    return Step::Continue;
}

// Written into the existing pak file at the recorded offset (its end when none is recorded); the
// offset moves on to the end of what was written. Not guarded: version.ini keeps the old offset
// until the whole package is applied, so a run that stops here writes the same place again.
Step ApplyPakEntry(Application& application, const ArchiveEntry& entry) {
    PatchView& view = application.run.view;
    std::int64_t& offset = application.run.local.pakAppendOffset;
    FileHandle pak = OpenNarrowFile(entry.name, "r+b");
    if (!pak) {
        return Fail(view, Message::PakFileMissing);
    }
    if (offset == 0) {
        offset = FileLength(pak.get());
    }
    if (!SeekFile(pak.get(), offset)) {
        return Fail(view, Message::WriteCameUpShort);
    }
    if (CopyEntryData(application, entry, pak.get()) == Step::Stop) {
        return Step::Stop;
    }
    const std::int64_t end = TellFile(pak.get());
    if (end < 0 || !CloseWrittenFile(pak)) {
        return Fail(view, Message::WriteCameUpShort);
    }
    offset = end;
    return Step::Continue;
}

Step ApplyDirectoryEntry(Application& application, const ArchiveEntry& entry) {
    if (!CreateNarrowDirectories(entry.name)) {
        return Fail(application.run.view, Message::CannotWriteFile);
    }
    return Step::Continue;
}

// Guarded from creating the file to closing it, messages included, so a cancel never leaves it
// half-written.
Step ApplyFileEntry(Application& application, const ArchiveEntry& entry) {
    PatchView& view = application.run.view;
    const CClient_MutexGuard guard(&view.ClientMutex());
    if (view.IsCancelled()) {
        return Step::Stop;
    }
    FileHandle file = OpenNarrowFile(entry.name, "wb");
    if (!file) {
        return Fail(view, Message::CannotWriteFile);
    }
    if (CopyEntryData(application, entry, file.get()) == Step::Stop) {
        return Step::Stop;
    }
    if (!CloseWrittenFile(file)) {
        return Fail(view, Message::WriteCameUpShort);
    }
    return Step::Continue;
}

Step ApplyEntryOfKind(Application& application, const ArchiveEntry& entry) {
    switch (EntryKindOf(entry.name)) {
    case EntryKind::Pak:
        return ApplyPakEntry(application, entry);
    case EntryKind::Directory:
        return ApplyDirectoryEntry(application, entry);
    case EntryKind::File:
        break;
    }
    return ApplyFileEntry(application, entry);
}

Step ApplyEntry(Application& application) {
    PatchView& view = application.run.view;
    ArchiveEntry entry;
    if (!ReadCurrentEntry(application.archive, entry) ||
        unzOpenCurrentFile(application.archive) != UNZ_OK) {
        return Fail(view, Message::CannotReadPackage);
    }
    if (ApplyEntryOfKind(application, entry) == Step::Stop) {
        return Step::Stop;
    }
    // Closing checks the CRC of an entry read to its end: damaged data is not reported as success.
    if (unzCloseCurrentFile(application.archive) != UNZ_OK) {
        return Fail(view, Message::CannotReadPackage);
    }
    return Step::Continue;
}

Step ApplyEntries(RunState& run) {
    const ArchiveHandle archive(unzOpen(kTemporaryArchive));
    if (!archive) {
        return Fail(run.view, Message::CannotReadPackage);
    }
    Application application{run, archive.get()};
    if (SumEntrySizes(application) == Step::Stop) {
        return Step::Stop;
    }
    return ForEachEntry(application, [&application] { return ApplyEntry(application); });
}

// Guarded from opening to closing, so a cancel never cuts the rewrite short.
Step RecordLocalState(RunState& run) {
    const CClient_MutexGuard guard(&run.view.ClientMutex());
    if (run.view.IsCancelled()) {
        return Step::Stop;
    }
    LocalState updated;
    updated.localVersion = run.trailer.packageVersion;
    updated.pakAppendOffset = run.local.pakAppendOffset;
    if (!WriteLocalState(updated)) {
        return Fail(run.view, Message::CannotReadLocalVersion);
    }
    return Step::Continue;
}

} // namespace

int ApplyPackage(RunState& run) {
    PatchView& view = run.view;
    view.SetProgress(0);
    // It may exist from an earlier run; if it cannot be made, creating the archive says so.
    MakeDirectory(kPatchDirectory);
    if (CheckCancelled(view) == Step::Stop || ExtractEmbeddedArchive(run) == Step::Stop ||
        CheckCancelled(view) == Step::Stop || ApplyEntries(run) == Step::Stop) {
        return kRunStopped;
    }
    // Only a leftover file in "patch" if it cannot be deleted.
    RemoveFile(kTemporaryArchive);
    if (CheckCancelled(view) == Step::Stop || RecordLocalState(run) == Step::Stop) {
        return kRunStopped;
    }
    view.SetLocalVersionText(LocalVersionLabel(run.trailer.packageVersion));
    view.EnableFinish();
    return kRunCompleted;
}

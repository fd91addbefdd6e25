#include "engine/ApplyPackage.h"

#include "engine/PatchView.h"
#include "engine/Report.h"
#include "engine/TemporaryArchive.h"
#include "engine/VersionLabels.h"
#include "package/EntryName.h"
#include "package/EntryRecord.h"
#include "platform/ClientMutex.h"
#include "platform/FileSystem.h"
#include "platform/Pieces.h"
#include "platform/WrittenFiles.h"

#include <unzip.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

// Keeps processed * 100 within 64 bits when the progress is computed.
constexpr std::int64_t kMaximumTotal = INT64_MAX / 100;

// Whether a step lets the run go on. Stop: a message has been shown, or the run was cancelled.
enum class Step { Continue, Stop };

struct ArchiveEntry {
    unz_file_info64 info{};
    std::string name; // lower-cased: the path the entry is written to
};

struct Application {
    RunState& run;
    unzFile archive = nullptr;
    std::int64_t total = 0;
    std::int64_t processed = 0;
    int shownProgress = 0;                   // the bar starts at 0
    std::vector<ArchiveEntry> targets;       // pak and file entries, in archive order
    std::unique_ptr<unsigned char[]> buffer; // the entries' pieces; made at the first one
    WrittenFiles written;                    // on the disk before version.ini says they are applied
};

Step Fail(PatchView& view, Message message) {
    ReportMessage(view, message);
    return Step::Stop;
}

Step CheckCancelled(PatchView& view) {
    return view.IsCancelled() ? Step::Stop : Step::Continue;
}

Step ExtractEmbeddedArchive(RunState& run, TemporaryArchive& temporary) {
    switch (temporary.Extract(run.programFile, run.archiveLength, run.lockWait,
                              [&run] { return run.view.IsCancelled(); })) {
    case Extraction::Done:
        return Step::Continue;
    case Extraction::Stopped:
        return Step::Stop;
    case Extraction::PackageShort:
        return Fail(run.view, Message::CannotReadPackage);
    case Extraction::NotCreated:
        break;
    }
    return Fail(run.view, Message::CannotCreateTemporaryArchive);
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

// Sums the entry sizes for the progress bar, notes the targets, and refuses a package that would
// write outside the game directory or carries more than the one pak entry version.ini can record,
// before anything is written.
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
        if (EntryKindOf(entry.name) != EntryKind::Directory) {
            application.targets.push_back(std::move(entry));
        }
        return Step::Continue;
    });
}

// A file entry's target as it is before the lock: opened for writing without being truncated, or
// missing (it is created under the lock). Another program holding it is waited for here, where a
// cancel is not kept waiting for the lock.
FileError OpenExistingTarget(const RunState& run, const std::string& name, FileHandle& file) {
    return run.lockWait.Retry([&] { return TryOpenExistingNarrowFileForWriting(name, file); });
}

// Before the first write into the game folder, every target that exists must be writable: a file
// the running client holds stops the run with nothing changed, instead of after the pak entry and
// the earlier files were written. Targets are opened and closed without being changed.
Step CheckTargets(Application& application) {
    RunState& run = application.run;
    for (const ArchiveEntry& target : application.targets) {
        FileHandle file;
        if (EntryKindOf(target.name) == EntryKind::Pak) {
            if (OpenNarrowFileWaiting(target.name, "r+b", run.lockWait, file) != FileError::None) {
                return Fail(run.view, Message::PakFileMissing);
            }
            continue;
        }
        const FileError error = OpenExistingTarget(run, target.name, file);
        if (error != FileError::None && error != FileError::Missing) {
            return Fail(run.view, Message::CannotWriteFile);
        }
    }
    return Step::Continue;
}

// A read may deliver less than asked; it is continued until the piece is full. Delivering
// nothing before that is a damaged entry.
bool ReadEntryPiece(unzFile archive, unsigned char* buffer, unsigned piece) {
    for (unsigned filled = 0; filled < piece;) {
        const int read = unzReadCurrentFile(archive, buffer + filled, piece - filled);
        if (read <= 0) {
            return false;
        }
        filled += static_cast<unsigned>(read);
    }
    return true;
}

// Only a position the bar does not show yet: each call waits for the dialog's thread, which costs
// far more than a piece under Wine when a package has many small files.
void ShowProgress(Application& application) {
    const auto position = static_cast<int>(application.processed * 100 / application.total);
    if (position != application.shownProgress) {
        application.shownProgress = position;
        application.run.view.SetProgress(position);
    }
}

Step CopyEntryData(Application& application, const ArchiveEntry& entry, std::FILE* target) {
    PatchView& view = application.run.view;
    if (!application.buffer) {
        application.buffer = NewPieceBuffer();
    }
    unsigned char* const buffer = application.buffer.get();
    if (buffer == nullptr) {
        return Fail(view, Message::WriteCameUpShort);
    }
    auto remaining = static_cast<std::int64_t>(entry.info.uncompressed_size);
    while (remaining > 0) {
        if (view.IsCancelled()) {
            return Step::Stop;
        }
        const std::int64_t piece = std::min(remaining, static_cast<std::int64_t>(kPieceSize));
        if (!ReadEntryPiece(application.archive, buffer, static_cast<unsigned>(piece))) {
            return Fail(view, Message::CannotReadPackage);
        }
        if (std::fwrite(buffer, 1, static_cast<std::size_t>(piece), target) !=
            static_cast<std::size_t>(piece)) {
            return Fail(view, Message::WriteCameUpShort);
        }
        remaining -= piece;
        application.processed += piece;
        ShowProgress(application);
    }
    return Step::Continue;
}

// Guarded from opening to closing, so a cancel never cuts the rewrite short. A failure gives the
// same message wherever in the run the state is written.
Step RecordState(RunState& run, const LocalState& state) {
    const CClient_MutexGuard guard(&run.view.ClientMutex());
    if (run.view.IsCancelled()) {
        return Step::Stop;
    }
    if (!WriteLocalState(state, run.lockWait)) {
        return Fail(run.view, Message::CannotReadLocalVersion);
    }
    return Step::Continue;
}

// With no offset recorded, the pak's end is recorded (the local version unchanged) before its
// first byte is written: a run stopped inside the pak entry by a kill, a full disk or a power
// loss leaves the next run the same place to write, instead of an end grown by a partial slice.
// An empty pak's end cannot be told from no offset at all; it goes unrecorded.
Step RecordPakEnd(Application& application, std::FILE* pak) {
    RunState& run = application.run;
    const std::int64_t length = FileLength(pak);
    if (length < 0) {
        return Fail(run.view, Message::WriteCameUpShort);
    }
    if (length > 0) {
        LocalState recorded = run.local;
        recorded.pakAppendOffset = length;
        if (RecordState(run, recorded) == Step::Stop) {
            return Step::Stop;
        }
    }
    run.local.pakAppendOffset = length;
    return Step::Continue;
}

// Written into the existing pak file at the recorded offset; the offset moves on to the end of
// what was written. Not guarded: version.ini keeps the offset the entry starts at until the whole
// package is applied, so a run that stops here writes the same place again.
Step ApplyPakEntry(Application& application, const ArchiveEntry& entry) {
    PatchView& view = application.run.view;
    std::int64_t& offset = application.run.local.pakAppendOffset;
    FileHandle pak;
    if (OpenNarrowFileWaiting(entry.name, "r+b", application.run.lockWait, pak) !=
        FileError::None) {
        return Fail(view, Message::PakFileMissing);
    }
    if (offset == 0 && RecordPakEnd(application, pak.get()) == Step::Stop) {
        return Step::Stop;
    }
    if (!SeekFile(pak.get(), offset)) {
        return Fail(view, Message::WriteCameUpShort);
    }
    if (CopyEntryData(application, entry, pak.get()) == Step::Stop) {
        return Step::Stop;
    }
    const std::int64_t end = TellFile(pak.get());
    if (end < 0 || !application.written.BeforeClose(pak.get(), entry.name) ||
        !CloseWrittenFile(pak)) {
        return Fail(view, Message::WriteCameUpShort);
    }
    offset = end;
    return Step::Continue;
}

Step ApplyDirectoryEntry(Application& application, const ArchiveEntry& entry) {
    if (!CreateNarrowDirectories(entry.name)) {
        return Fail(application.run.view, Message::CannotWriteFile);
    }
    application.written.FolderCreated(entry.name);
    return Step::Continue;
}

// Truncates the target opened before the lock, or creates the one that did not exist.
bool CreateOrTruncate(const RunState& run, const std::string& name, FileError existing,
                      FileHandle& file) {
    if (existing == FileError::None) {
        return TruncateFile(file.get());
    }
    return existing == FileError::Missing &&
           OpenNarrowFileWaiting(name, "wb", run.lockWait, file) == FileError::None;
}

// Guarded from truncating or creating the file to closing it, messages included, so a cancel
// never leaves it half-written.
Step ApplyFileEntry(Application& application, const ArchiveEntry& entry) {
    PatchView& view = application.run.view;
    FileHandle file;
    const FileError existing = OpenExistingTarget(application.run, entry.name, file);
    const CClient_MutexGuard guard(&view.ClientMutex());
    if (view.IsCancelled()) {
        return Step::Stop;
    }
    if (!CreateOrTruncate(application.run, entry.name, existing, file)) {
        return Fail(view, Message::CannotWriteFile);
    }
    if (CopyEntryData(application, entry, file.get()) == Step::Stop) {
        return Step::Stop;
    }
    if (!application.written.BeforeClose(file.get(), entry.name) || !CloseWrittenFile(file)) {
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

Step ApplyEntries(RunState& run, TemporaryArchive& temporary) {
    const ArchiveReader archive = temporary.OpenReader();
    if (!archive) {
        return Fail(run.view, Message::CannotReadPackage);
    }
    Application application{run, archive.get(), 0, 0, 0, {}, nullptr, {}};
    if (SumEntrySizes(application) == Step::Stop || CheckTargets(application) == Step::Stop ||
        ForEachEntry(application, [&application] { return ApplyEntry(application); }) ==
            Step::Stop) {
        return Step::Stop;
    }
    // Outside the lock: a cancel need not wait for the disk. A disk that cannot take the data
    // may say so only now.
    if (!application.written.FlushToDisk()) {
        return Fail(run.view, Message::WriteCameUpShort);
    }
    return Step::Continue;
}

Step RecordLocalState(RunState& run) {
    LocalState updated;
    updated.localVersion = run.trailer.packageVersion;
    updated.pakAppendOffset = run.local.pakAppendOffset;
    return RecordState(run, updated);
}

} // namespace

int ApplyPackage(RunState& run) {
    PatchView& view = run.view;
    view.SetProgress(0);
    TemporaryArchive temporary;
    if (CheckCancelled(view) == Step::Stop ||
        ExtractEmbeddedArchive(run, temporary) == Step::Stop ||
        CheckCancelled(view) == Step::Stop || ApplyEntries(run, temporary) == Step::Stop) {
        return kRunStopped;
    }
    // Only a leftover file in "patch" if it cannot be deleted.
    static_cast<void>(temporary.Remove());
    if (CheckCancelled(view) == Step::Stop || RecordLocalState(run) == Step::Stop) {
        return kRunStopped;
    }
    view.SetLocalVersionText(LocalVersionLabel(run.trailer.packageVersion));
    view.EnableFinish();
    return kRunCompleted;
}

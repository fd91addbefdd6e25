#include "build/BuildPackage.h"

#include "base/StopRequest.h"
#include "base/TextConversion.h"
#include "build/SigningStep.h"
#include "build/SourceFolder.h"
#include "platform/FileReplacement.h"
#include "platform/FileSystem.h"
#include "platform/Pieces.h"
#include "rules/EntryChecks.h"
#include "signing/StubImage.h"
#include "zip/ArchiveReader.h"

#include <memory>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kLargestArchiveOffset = 0xFFFFFFFF;

// The entries of the new package, from a folder or from an archive.
struct PackageContents {
    std::vector<SourceEntry> folderEntries; // empty for an archive
    std::vector<ArchiveEntry> entries;      // what the updater will see, in archive order
};

[[nodiscard]] bool SameFile(const fs::path& a, const fs::path& b) {
    std::error_code failure;
    return fs::equivalent(a, b, failure) && !failure;
}

[[nodiscard]] bool RefuseOutputOverInput(const BuildRequest& request, std::string& error) {
    const std::string output = DisplayPath(request.output);
    if (SameFile(request.output, request.stub)) {
        error = output + ": the output would overwrite the stub it is built from";
    } else if (!request.fromArchive.empty() && SameFile(request.output, request.fromArchive)) {
        error = output + ": the output would overwrite the archive it is built from";
    } else if (!request.fromFolder.empty() && IsInsideFolder(request.output, request.fromFolder)) {
        error = output + ": the output would be written into the folder being packed";
    } else {
        return false;
    }
    return true;
}

[[nodiscard]] bool Stopped(const BuildRequest& request) {
    return StopAsked(request.stop);
}

[[nodiscard]] bool CopyBytes(const BuildRequest& request, std::FILE* from, std::int64_t count,
                             std::FILE* to, unsigned char* buffer) {
    return CopyPieces(from, static_cast<std::uint64_t>(count), to, buffer,
                      [&request] { return Stopped(request); }) == PieceRun::Done;
}

void ListSourceEntries(PackageContents& contents) {
    for (const SourceEntry& source : contents.folderEntries) {
        ArchiveEntry entry;
        entry.storedName = source.storedName;
        entry.size = source.size;
        contents.entries.push_back(entry);
    }
}

[[nodiscard]] bool CollectContents(const BuildRequest& request, PackageContents& contents,
                                   std::string& error) {
    if (!request.fromEntries.empty()) {
        contents.folderEntries = request.fromEntries;
        ListSourceEntries(contents);
        return true;
    }
    if (!request.fromFolder.empty()) {
        if (!CollectSourceFolder(request.fromFolder, contents.folderEntries, error)) {
            return false;
        }
        if (contents.folderEntries.empty()) {
            // The updater's ZIP reader cannot open an archive that holds nothing but its end
            // record.
            error = DisplayPath(request.fromFolder) + ": the folder is empty; the updater cannot "
                                                      "open a package without entries";
            return false;
        }
        ListSourceEntries(contents);
        return true;
    }
    FileHandle archive = OpenFile(request.fromArchive, "rb");
    FileWindow window;
    window.file = archive.get();
    window.length = archive ? FileLength(archive.get()) : -1;
    std::string damage;
    if (window.length < 0) {
        error = DisplayPath(request.fromArchive) + ": cannot be read";
        return false;
    }
    if (!ReadArchiveEntries(window, true, contents.entries, damage, request.work)) {
        error = DisplayPath(request.fromArchive) + ": " + damage;
        return false;
    }
    return true;
}

// The name by which a message points at an entry: its file in the folder, or its archive entry.
std::string EntryLabel(const BuildRequest& request, const PackageContents& contents,
                       const EntryReport& entry, std::size_t number) {
    if (!contents.folderEntries.empty()) {
        return DisplayPath(contents.folderEntries[number - 1].path);
    }
    return DisplayPath(request.fromArchive) + ", entry " + std::to_string(number) + " (" +
           entry.storedName + ")";
}

// Refuses contents the updater would apply wrongly; passes on the rest as remarks.
[[nodiscard]] bool JudgeContents(const BuildRequest& request, const PackageContents& contents,
                                 std::vector<Finding>& remarks, std::string& error) {
    std::vector<EntryReport> entries;
    std::vector<Finding> findings;
    ExamineEntries(contents.entries, entries, findings);
    error.clear();
    for (const Finding& finding : findings) {
        const std::string text =
            EntryLabel(request, contents, entries[finding.entry - 1], finding.entry) + ": " +
            finding.text;
        if (finding.severity == Severity::Error) {
            error += (error.empty() ? "" : "\n") + text;
        } else {
            remarks.push_back(Finding{finding.severity, finding.code, finding.entry, text});
        }
    }
    return error.empty();
}

[[nodiscard]] bool PackFolder(const BuildRequest& request, const PackageContents& contents,
                              std::FILE* out, std::int64_t archiveStart, std::string& error) {
    ZipWriter writer(out, archiveStart, request.level, request.work.jobs, request.limits);
    writer.StopWhen(request.stop);
    writer.ReportTo(request.work.progress);
    for (const SourceEntry& entry : contents.folderEntries) {
        const bool added = entry.directory ? writer.AddDirectory(entry.storedName, error)
                                           : writer.AddFile(entry, error);
        if (!added) {
            return false;
        }
    }
    return writer.Finish(error);
}

[[nodiscard]] bool WriteArchive(const BuildRequest& request, const PackageContents& contents,
                                std::FILE* out, std::int64_t archiveStart, unsigned char* buffer,
                                std::string& error) {
    if (!request.fromArchive.empty()) {
        FileHandle archive = OpenFile(request.fromArchive, "rb");
        const std::int64_t length = archive ? FileLength(archive.get()) : -1;
        if (length < 0 || !SeekFile(archive.get(), 0) ||
            !CopyBytes(request, archive.get(), length, out, buffer)) {
            error = DisplayPath(request.fromArchive) + ": cannot be copied into the package";
            return false;
        }
        return true;
    }
    Progress* const progress = request.work.progress;
    if (progress == nullptr) {
        return PackFolder(request, contents, out, archiveStart, error);
    }
    std::uint64_t total = 0;
    for (const SourceEntry& entry : contents.folderEntries) {
        total += entry.size;
    }
    progress->Start("packing", total);
    const bool packed = PackFolder(request, contents, out, archiveStart, error);
    // Ends the line, so that a message follows on a line of its own.
    progress->Finish();
    return packed;
}

[[nodiscard]] bool OpenStub(const fs::path& path, FileHandle& file, StubImage& stub,
                            std::string& error) {
    file = OpenFile(path, "rb");
    std::string reason;
    if (!file) {
        error = DisplayPath(path) + ": cannot be opened";
        return false;
    }
    if (!ExamineStub(file.get(), stub, reason)) {
        error = DisplayPath(path) + ": " + reason;
        return false;
    }
    return true;
}

// The trailer behind the archive, then the package cut there, flushed and closed.
[[nodiscard]] bool WriteTrailer(const BuildRequest& request, std::int64_t archiveOffset,
                                FileHandle& out, const fs::path& temporary, std::string& error) {
    PackageTrailer trailer;
    trailer.archiveOffset = static_cast<std::uint32_t>(archiveOffset);
    trailer.packageVersion = request.version;
    unsigned char trailerBytes[kPackageTrailerSize];
    EncodePackageTrailer(trailer, trailerBytes);
    const std::int64_t archiveEnd = TellFile(out.get());
    std::error_code failure;
    if (archiveEnd >= 0 &&
        std::fwrite(trailerBytes, 1, sizeof trailerBytes, out.get()) == sizeof trailerBytes &&
        std::fflush(out.get()) == 0) {
        // The stored fallback can leave deflated bytes behind the end: cut them off.
        fs::resize_file(temporary, static_cast<std::uintmax_t>(archiveEnd + kPackageTrailerSize),
                        failure);
    } else {
        failure = std::make_error_code(std::errc::io_error);
    }
    if (failure || !FlushFileToDisk(out.get()) || !CloseWrittenFile(out)) {
        error = DisplayPath(request.output) + ": the package cannot be written (is the disk full?)";
        return false;
    }
    return true;
}

// Image, archive and trailer into the file at temporary; the caller removes it on failure.
[[nodiscard]] bool WritePackage(const BuildRequest& request, const PackageContents& contents,
                                std::FILE* stub, const StubImage& image, const fs::path& temporary,
                                std::string& error) {
    const std::int64_t imageLength = image.imageLength;
    const std::string output = DisplayPath(request.output);
    const std::unique_ptr<unsigned char[]> buffer = NewPieceBuffer();
    FileHandle out = OpenFile(temporary, "wb");
    if (!buffer || !out) {
        error = DisplayPath(temporary) + ": cannot be created";
        return false;
    }
    if (stub != nullptr &&
        (!SeekFile(stub, 0) || !CopyBytes(request, stub, imageLength, out.get(), buffer.get()) ||
         (image.pe.Signed() && !ClearSecurityEntry(out.get(), image.pe)))) {
        error = output + ": the stub cannot be copied (is the disk full?)";
        return false;
    }
    if (!WriteArchive(request, contents, out.get(), imageLength, buffer.get(), error)) {
        return false;
    }
    return WriteTrailer(request, imageLength, out, temporary, error);
}

// Writes the package under a temporary name, signs it when asked, then gives it its name.
bool WriteFinishedPackage(const BuildRequest& request, const PackageContents& contents,
                          std::FILE* stub, const StubImage& image, std::string& error) {
    const bool signing = !request.signCommand.empty();
    const fs::path temporary =
        signing ? SigningPath(request.output, ".partial") : PartialPathOf(request.output);
    switch (ReplaceFileThrough(temporary, request.output, [&] {
        return WritePackage(request, contents, stub, image, temporary, error) &&
               (!signing ||
                SignAndSealPackage(temporary, request.signCommand, request.stop, error));
    })) {
    case Replacement::Done:
        return true;
    case Replacement::NotWritten:
        if (Stopped(request)) {
            error = "interrupted";
        }
        return false;
    case Replacement::NotReplaced:
        break;
    }
    error = DisplayPath(request.output) + ": cannot be replaced";
    return false;
}

// Refusals that need nothing read: the version, where the output goes, the signing command.
[[nodiscard]] bool RefuseRequest(const BuildRequest& request, std::string& error) {
    if (request.version == 0) {
        error = "version 0: no client can be updated to version 0";
        return true;
    }
    return RefuseOutputOverInput(request, error) ||
           (!request.signCommand.empty() &&
            !CheckSigningCommand(request.signCommand, request.output, error));
}

// Opens the stub, if there is one, and refuses one the package cannot be appended to. Without a
// stub, stub stays empty and the archive starts the file.
[[nodiscard]] bool AcceptStub(const BuildRequest& request, FileHandle& file, StubImage& stub,
                              std::vector<Finding>& remarks, std::string& error) {
    if (request.stub.empty()) {
        return true;
    }
    if (!OpenStub(request.stub, file, stub, error)) {
        return false;
    }
    const std::string stubName = DisplayPath(request.stub);
    if (stub.carriesPackage && !request.replace) {
        error = stubName + ": already carries a package (version " +
                std::to_string(stub.carriedTrailer.packageVersion) +
                "); pass --replace to swap it for the new one";
        return false;
    }
    if (stub.imageLength > kLargestArchiveOffset) {
        error = stubName + ": too large; the archive must start within the first 4 GiB";
        return false;
    }
    if (stub.pe.Signed()) {
        // The signature cannot cover what is appended; the package is signed as a whole later.
        remarks.push_back(Finding{Severity::Warning, "signature-removed", 0,
                                  stubName + ": its signature is left out of the package; sign "
                                             "the package, then run patchkit seal on it"});
    }
    return true;
}

} // namespace

bool BuildPackage(const BuildRequest& request, std::vector<Finding>& remarks, std::string& error) {
    FileHandle stubFile;
    StubImage stub;
    PackageContents contents;
    if (RefuseRequest(request, error) || !AcceptStub(request, stubFile, stub, remarks, error) ||
        !CollectContents(request, contents, error) ||
        !JudgeContents(request, contents, remarks, error)) {
        return false;
    }
    return WriteFinishedPackage(request, contents, stubFile.get(), stub, error);
}

bool JudgeSourceEntries(const std::vector<SourceEntry>& entries, std::vector<Finding>& remarks,
                        std::string& error) {
    PackageContents contents;
    contents.folderEntries = entries;
    ListSourceEntries(contents);
    return JudgeContents(BuildRequest(), contents, remarks, error);
}

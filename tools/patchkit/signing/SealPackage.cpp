#include "signing/SealPackage.h"

#include "base/ByteReading.h"
#include "base/StopRequest.h"
#include "base/TextConversion.h"
#include "platform/FileReplacement.h"
#include "platform/FileSystem.h"
#include "platform/LittleEndian.h"
#include "platform/Pieces.h"
#include "signing/PackageSignature.h"
#include "signing/SignatureSeal.h"
#include "signing/StubImage.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

// The updater's ZIP reader looks for the end records only this far back from the archive's end.
constexpr std::int64_t kZipSearchReach = 0xFFFF;
const char kEndRecordSignature[] = "PK\5\6";
const char kZip64LocatorSignature[] = "PK\6\7";

// The position of the last signature starting in [from, end - 4] of bytes, or npos: where the
// ZIP reader, searching backwards, settles.
std::size_t LastSignature(const std::string& bytes, std::size_t from, std::size_t end,
                          const char* signature) {
    for (std::size_t at = end; at >= from + 4; --at) {
        if (bytes.compare(at - 4, 4, signature, 4) == 0) {
            return at - 4;
        }
    }
    return std::string::npos;
}

// Where the archive ends before sealing and where the sealed certificate table will start.
struct SealLayout {
    std::int64_t archiveStart = 0;
    std::int64_t trailerEnd = 0; // one past the trailer, unsealed
    std::int64_t tableOffset = 0;
};

// Why the ZIP reader would settle on another record once sealed: the table pushes the archive's
// own record out of its reach, or holds bytes that pass for one.
std::string SettlesElsewhere(std::size_t before, std::size_t after, std::size_t tableSize) {
    const bool foundInTable =
        after != std::string::npos && (before == std::string::npos || after > before);
    if (!foundInTable) {
        return "the certificate table (" + std::to_string(tableSize) +
               " bytes) is too large: the updater's ZIP reader looks for the archive's end record "
               "only in the last 64 KiB, and the table would push it out of reach; sign without "
               "extra certificates or timestamps to shrink it";
    }
    return "the signature holds the bytes of a ZIP end record signature, which the updater's ZIP "
           "reader would take for the archive's end; sign it again (a new signature has other "
           "bytes) and seal that";
}

// The bytes the updater's ZIP reader searches for the end records, unsealed and sealed: from the
// first byte either search reaches to the end of the sealed table without the trailer.
struct SearchedTail {
    std::string bytes;
    std::size_t unsealedEnd = 0; // where the search in the unsealed package ends
    std::size_t sealedFrom = 0;  // where the search in the sealed one starts
};

[[nodiscard]] bool ReadSearchedTail(std::FILE* file, const SealLayout& layout,
                                    const std::string& sealedTable, SearchedTail& tail) {
    const std::int64_t unsealedEnd = layout.trailerEnd - kPackageTrailerSize;
    const std::int64_t sealedEnd =
        layout.tableOffset + static_cast<std::int64_t>(sealedTable.size()) - kPackageTrailerSize;
    const std::int64_t tailStart = std::max(layout.archiveStart, unsealedEnd - kZipSearchReach);
    tail.bytes.assign(static_cast<std::size_t>(layout.tableOffset - tailStart), '\0');
    if (!ReadAt(file, tailStart, &tail.bytes[0], tail.bytes.size())) {
        return false;
    }
    tail.bytes += sealedTable.substr(0, sealedTable.size() - kPackageTrailerSize);
    tail.unsealedEnd = static_cast<std::size_t>(unsealedEnd - tailStart);
    tail.sealedFrom = static_cast<std::size_t>(
        std::max(layout.archiveStart, sealedEnd - kZipSearchReach) - tailStart);
    return true;
}

// The archive the updater copies out ends with the certificate table now. Its reader must still
// settle on the archive's own end records.
[[nodiscard]] bool CheckEndRecordsStayFound(std::FILE* file, const SealLayout& layout,
                                            const std::string& sealedTable, std::string& problem) {
    SearchedTail tail;
    if (!ReadSearchedTail(file, layout, sealedTable, tail)) {
        problem = "cannot be read";
        return false;
    }
    for (const char* signature : {kEndRecordSignature, kZip64LocatorSignature}) {
        const std::size_t before = LastSignature(tail.bytes, 0, tail.unsealedEnd, signature);
        const std::size_t after =
            LastSignature(tail.bytes, tail.sealedFrom, tail.bytes.size(), signature);
        if (signature == kEndRecordSignature && before == std::string::npos) {
            problem = "the archive's end record is not within the last 64 KiB of the archive";
            return false;
        }
        if (after != before) {
            problem = SettlesElsewhere(before, after, sealedTable.size());
            return false;
        }
    }
    return true;
}

// The sealed certificate table: the one entry's header with its new length, then the sealed DER.
std::string SealedTable(const SignatureEntry& signature, const std::string& sealedDer) {
    std::string table = signature.table.substr(0, kCertificateHeaderSize) + sealedDer;
    WriteLittle32(reinterpret_cast<unsigned char*>(&table[0]),
                  static_cast<std::uint32_t>(table.size()));
    return table;
}

// Overwrites the part of a chunk that starts at file offset chunkStart with the bytes of a field
// at fieldOffset, where the two overlap.
void PatchChunk(unsigned char* chunk, std::int64_t chunkStart, std::size_t chunkSize,
                std::int64_t fieldOffset, const unsigned char* field, std::size_t fieldSize) {
    for (std::size_t i = 0; i < fieldSize; ++i) {
        const std::int64_t at = fieldOffset + static_cast<std::int64_t>(i) - chunkStart;
        if (at >= 0 && at < static_cast<std::int64_t>(chunkSize)) {
            chunk[at] = field[i];
        }
    }
}

// The signed bytes unchanged, the new security directory entry, the sealed table, the checksum.
[[nodiscard]] bool WriteSealed(std::FILE* in, const PeImage& image, const std::string& sealedTable,
                               const std::filesystem::path& temporary,
                               const std::atomic<bool>* stop) {
    const std::unique_ptr<unsigned char[]> buffer = NewPieceBuffer();
    FileHandle out = OpenFile(temporary, "wb");
    if (!buffer || !out || !SeekFile(in, 0)) {
        return false;
    }
    unsigned char securityEntry[kSecurityEntrySize];
    WriteLittle32(securityEntry, image.tableOffset);
    WriteLittle32(securityEntry + 4, static_cast<std::uint32_t>(sealedTable.size()));
    PeChecksum checksum(image.checksumOffset);
    std::int64_t at = 0;
    const PieceRun copied = ReadPieces(
        in, image.tableOffset, buffer.get(), [stop] { return StopAsked(stop); },
        [&](unsigned char* piece, std::size_t size) {
            PatchChunk(piece, at, size, image.securityEntryOffset, securityEntry,
                       sizeof securityEntry);
            checksum.Add(piece, size);
            at += static_cast<std::int64_t>(size);
            return std::fwrite(piece, 1, size, out.get()) == size;
        });
    if (copied != PieceRun::Done) {
        return false;
    }
    const auto* table = reinterpret_cast<const unsigned char*>(sealedTable.data());
    checksum.Add(table, sealedTable.size());
    unsigned char checksumBytes[kChecksumSize];
    WriteLittle32(checksumBytes, checksum.Finish());
    return std::fwrite(table, 1, sealedTable.size(), out.get()) == sealedTable.size() &&
           SeekFile(out.get(), image.checksumOffset) &&
           std::fwrite(checksumBytes, 1, sizeof checksumBytes, out.get()) == sizeof checksumBytes &&
           FlushFileToDisk(out.get()) && CloseWrittenFile(out);
}

// Everything short of writing: the sealed table, or why the package cannot be sealed.
[[nodiscard]] bool PrepareSeal(std::FILE* file, PeImage& image, SealResult& result,
                               std::string& sealedTable, std::string& problem) {
    const std::int64_t length = FileLength(file);
    if (length < 0) {
        problem = "cannot be read";
        return false;
    }
    if (!ReadPeImage(file, length, image)) {
        problem = "is not a Windows program (PE image), or its certificate table lies outside it";
        return false;
    }
    if (!image.Signed()) {
        problem = "is not signed: sign the package after patchkit build, then seal it";
        return false;
    }
    if (static_cast<std::int64_t>(image.tableOffset) + image.tableSize != length) {
        problem = "data follows the certificate table; the trailer cannot be made the last bytes";
        return false;
    }
    SignatureEntry signature;
    if (!ReadSignatureEntry(file, image, signature, problem)) {
        return false;
    }
    if (IsSealed(signature.der)) {
        problem = "is already sealed";
        return false;
    }
    std::int64_t trailerEnd = 0;
    if (!FindTrailerBeforeSignature(file, image, result.trailer, trailerEnd)) {
        problem = "is signed, but no package trailer precedes its signature (not built by "
                  "patchkit build?)";
        return false;
    }
    unsigned char trailerBytes[kPackageTrailerSize];
    EncodePackageTrailer(result.trailer, trailerBytes);
    std::string sealedDer;
    if (!SealSignature(signature.der, trailerBytes, sealedDer, problem)) {
        return false;
    }
    sealedTable = SealedTable(signature, sealedDer);
    result.tableSize = static_cast<std::uint32_t>(sealedTable.size());
    const SealLayout layout{result.trailer.archiveOffset, trailerEnd, image.tableOffset};
    return CheckEndRecordsStayFound(file, layout, sealedTable, problem);
}

} // namespace

bool SealPackage(const std::filesystem::path& package, SealResult& result, std::string& error,
                 const std::atomic<bool>* stop) {
    const std::string name = DisplayPath(package);
    const std::filesystem::path temporary = PartialPathOf(package);
    PeImage image;
    std::string sealedTable;
    std::string problem;
    FileHandle file = OpenFile(package, "rb");
    if (!file) {
        error = name + ": cannot be opened";
        return false;
    }
    if (!PrepareSeal(file.get(), image, result, sealedTable, problem)) {
        error = name + ": " + problem;
        return false;
    }
    const Replacement replaced = ReplaceFileThrough(temporary, package, [&] {
        const bool written = WriteSealed(file.get(), image, sealedTable, temporary, stop);
        file.reset(); // closed: Windows renames nothing over an open file
        return written;
    });
    if (replaced == Replacement::NotWritten) {
        error = StopAsked(stop)
                    ? std::string("interrupted")
                    : name + ": the sealed package cannot be written (is the disk full?)";
        return false;
    }
    if (replaced == Replacement::NotReplaced) {
        error = name + ": cannot be replaced";
        return false;
    }
    return true;
}

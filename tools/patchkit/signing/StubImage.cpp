#include "signing/StubImage.h"

#include "base/ByteReading.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstring>

namespace {

bool StartsLikeZipArchive(std::FILE* file, std::int64_t offset) {
    unsigned char signature[4];
    return ReadAt(file, offset, signature, sizeof signature) &&
           (std::memcmp(signature, "PK\3\4", 4) == 0 || std::memcmp(signature, "PK\5\6", 4) == 0);
}

// The trailer ending at trailerEnd, when it points at an archive between the sections and itself.
bool FindTrailer(std::FILE* file, std::int64_t endOfSections, std::int64_t trailerEnd,
                 PackageTrailer& trailer) {
    unsigned char trailerBytes[kPackageTrailerSize];
    if (trailerEnd - endOfSections < kPackageTrailerSize ||
        !ReadAt(file, trailerEnd - kPackageTrailerSize, trailerBytes, sizeof trailerBytes)) {
        return false;
    }
    trailer = DecodePackageTrailer(trailerBytes);
    const std::int64_t archiveOffset = trailer.archiveOffset;
    return archiveOffset >= endOfSections &&
           archiveOffset + 4 <= trailerEnd - kPackageTrailerSize &&
           StartsLikeZipArchive(file, archiveOffset);
}

} // namespace

bool FindTrailerBeforeSignature(std::FILE* file, const PeImage& image, PackageTrailer& trailer,
                                std::int64_t& trailerEnd) {
    // Signing tools pad the file with up to 7 zeros to put the table on an 8-byte boundary.
    unsigned char padding[7] = {};
    const std::int64_t tableOffset = image.tableOffset;
    const std::int64_t paddingRead = std::min<std::int64_t>(7, tableOffset - image.endOfSections);
    if (!image.Signed() || paddingRead < 0 ||
        !ReadAt(file, tableOffset - paddingRead, padding, static_cast<std::size_t>(paddingRead))) {
        return false;
    }
    for (std::int64_t zeros = 0; zeros <= paddingRead; ++zeros) {
        if (zeros > 0 && padding[paddingRead - zeros] != 0) {
            return false;
        }
        trailerEnd = tableOffset - zeros;
        if (FindTrailer(file, image.endOfSections, trailerEnd, trailer)) {
            return true;
        }
    }
    return false;
}

bool IsProgramImage(std::FILE* file, std::int64_t length) {
    // A signature's certificate table lies behind the archive: judge the whole file's headers.
    PeImage image;
    return ReadPeImage(file, FileLength(file), image) && image.endOfSections <= length;
}

bool ExamineStub(std::FILE* file, StubImage& stub, std::string& reason) {
    const std::int64_t length = FileLength(file);
    if (length < 0) {
        reason = "cannot be read";
        return false;
    }
    stub = StubImage();
    if (!ReadPeImage(file, length, stub.pe)) {
        reason = "is not a Windows program (PE image)";
        return false;
    }
    stub.imageLength = stub.pe.Signed() ? stub.pe.tableOffset : length;
    std::int64_t trailerEnd = 0;
    if (FindTrailer(file, stub.pe.endOfSections, length, stub.carriedTrailer) ||
        FindTrailerBeforeSignature(file, stub.pe, stub.carriedTrailer, trailerEnd)) {
        stub.carriesPackage = true;
        stub.imageLength =
            std::min<std::int64_t>(stub.imageLength, stub.carriedTrailer.archiveOffset);
    }
    return true;
}

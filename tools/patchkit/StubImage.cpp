#include "StubImage.h"

#include "FileSystem.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::int64_t kDosHeaderSize = 64;
constexpr std::int64_t kPeHeaderOffsetField = 0x3C;
constexpr std::int64_t kFileHeaderSize = 20;
constexpr std::int64_t kSectionHeaderSize = 40;

bool ReadAt(std::FILE* file, std::int64_t offset, void* buffer, std::size_t size) {
    return SeekFile(file, offset) && std::fread(buffer, 1, size, file) == size;
}

std::uint32_t Little32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint16_t Little16(const unsigned char* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

// The end of the last section's raw data: where the program proper ends in the file.
bool FindEndOfSections(std::FILE* file, std::int64_t length, std::int64_t& endOfSections) {
    unsigned char dosHeader[kDosHeaderSize];
    if (length < kDosHeaderSize || !ReadAt(file, 0, dosHeader, sizeof dosHeader) ||
        std::memcmp(dosHeader, "MZ", 2) != 0) {
        return false;
    }
    const std::int64_t peHeader = Little32(dosHeader + kPeHeaderOffsetField);
    unsigned char headers[4 + kFileHeaderSize];
    if (peHeader + static_cast<std::int64_t>(sizeof headers) > length ||
        !ReadAt(file, peHeader, headers, sizeof headers) ||
        std::memcmp(headers, "PE\0\0", 4) != 0) {
        return false;
    }
    const unsigned char* fileHeader = headers + 4;
    const std::int64_t sectionCount = Little16(fileHeader + 2);
    const std::int64_t optionalHeaderSize = Little16(fileHeader + 16);
    const std::int64_t sectionTable = peHeader + 4 + kFileHeaderSize + optionalHeaderSize;
    const std::int64_t sectionTableEnd = sectionTable + sectionCount * kSectionHeaderSize;
    if (sectionTableEnd > length) {
        return false;
    }
    endOfSections = sectionTableEnd;
    for (std::int64_t section = sectionTable; section < sectionTableEnd;
         section += kSectionHeaderSize) {
        unsigned char header[kSectionHeaderSize];
        if (!ReadAt(file, section, header, sizeof header)) {
            return false;
        }
        const std::int64_t rawSize = Little32(header + 16);
        const std::int64_t rawStart = Little32(header + 20);
        if (rawSize != 0) {
            endOfSections = std::max(endOfSections, rawStart + rawSize);
        }
    }
    return endOfSections <= length;
}

bool StartsLikeZipArchive(std::FILE* file, std::int64_t offset) {
    unsigned char signature[4];
    return ReadAt(file, offset, signature, sizeof signature) &&
           (std::memcmp(signature, "PK\3\4", 4) == 0 || std::memcmp(signature, "PK\5\6", 4) == 0);
}

} // namespace

bool IsProgramImage(std::FILE* file, std::int64_t length) {
    std::int64_t endOfSections = 0;
    return FindEndOfSections(file, length, endOfSections);
}

bool ExamineStub(std::FILE* file, StubImage& stub, std::string& reason) {
    const std::int64_t length = FileLength(file);
    if (length < 0) {
        reason = "cannot be read";
        return false;
    }
    std::int64_t endOfSections = 0;
    if (!FindEndOfSections(file, length, endOfSections)) {
        reason = "is not a Windows program (PE image)";
        return false;
    }
    stub = StubImage();
    stub.imageLength = length;
    unsigned char trailerBytes[kPackageTrailerSize];
    if (length - endOfSections < kPackageTrailerSize ||
        !ReadAt(file, length - kPackageTrailerSize, trailerBytes, sizeof trailerBytes)) {
        return true;
    }
    const PackageTrailer trailer = DecodePackageTrailer(trailerBytes);
    const std::int64_t archiveOffset = trailer.archiveOffset;
    if (archiveOffset >= endOfSections && archiveOffset + 4 <= length - kPackageTrailerSize &&
        StartsLikeZipArchive(file, archiveOffset)) {
        stub.carriesPackage = true;
        stub.carriedTrailer = trailer;
        stub.imageLength = archiveOffset;
    }
    return true;
}

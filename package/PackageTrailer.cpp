#include "package/PackageTrailer.h"

#include "platform/FileSystem.h"

namespace {

std::uint32_t DecodeLittleEndian(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

void EncodeLittleEndian(std::uint32_t value, unsigned char* bytes) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

} // namespace

PackageTrailer DecodePackageTrailer(const unsigned char (&bytes)[kPackageTrailerSize]) {
    PackageTrailer trailer;
    trailer.archiveOffset = DecodeLittleEndian(bytes);
    trailer.packageVersion = DecodeLittleEndian(bytes + 4);
    return trailer;
}

void EncodePackageTrailer(const PackageTrailer& trailer,
                          unsigned char (&bytes)[kPackageTrailerSize]) {
    EncodeLittleEndian(trailer.archiveOffset, bytes);
    EncodeLittleEndian(trailer.packageVersion, bytes + 4);
}

bool ReadPackageTrailer(std::FILE* programFile, PackageTrailer& trailer,
                        std::int64_t& archiveLength) {
    const std::int64_t length = FileLength(programFile);
    if (length < kPackageTrailerSize || !SeekFile(programFile, length - kPackageTrailerSize)) {
        return false;
    }
    unsigned char bytes[kPackageTrailerSize];
    if (std::fread(bytes, 1, sizeof bytes, programFile) != sizeof bytes) {
        return false;
    }
    const PackageTrailer read = DecodePackageTrailer(bytes);
    if (read.archiveOffset > length - kPackageTrailerSize ||
        !SeekFile(programFile, read.archiveOffset)) {
        return false;
    }
    trailer = read;
    archiveLength = length - kPackageTrailerSize - read.archiveOffset;
    return true;
}

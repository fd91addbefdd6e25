#include "package/PackageTrailer.h"

#include "platform/FileSystem.h"
#include "platform/LittleEndian.h"

PackageTrailer DecodePackageTrailer(const unsigned char (&bytes)[kPackageTrailerSize]) {
    PackageTrailer trailer;
    trailer.archiveOffset = ReadLittle32(bytes);
    trailer.packageVersion = ReadLittle32(bytes + 4);
    return trailer;
}

void EncodePackageTrailer(const PackageTrailer& trailer,
                          unsigned char (&bytes)[kPackageTrailerSize]) {
    WriteLittle32(bytes, trailer.archiveOffset);
    WriteLittle32(bytes + 4, trailer.packageVersion);
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

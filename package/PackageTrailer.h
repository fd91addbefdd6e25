#pragma once

#include <cstdint>
#include <cstdio>

// The last 8 bytes of a program file that carries an update package (little-endian).
struct PackageTrailer {
    std::uint32_t archiveOffset = 0;  // first byte of the embedded ZIP archive
    std::uint32_t packageVersion = 0; // the version the client has once the package is applied
};

constexpr int kPackageTrailerSize = 8;

PackageTrailer DecodePackageTrailer(const unsigned char (&bytes)[kPackageTrailerSize]);
void EncodePackageTrailer(const PackageTrailer& trailer,
                          unsigned char (&bytes)[kPackageTrailerSize]);

// Reads the trailer, gives the length of the embedded archive (the bytes up to the trailer) and
// leaves the stream at archiveOffset. False when the file is shorter than the trailer, the trailer
// cannot be read, or archiveOffset lies beyond the archive's last byte.
[[nodiscard]] bool ReadPackageTrailer(std::FILE* programFile, PackageTrailer& trailer,
                                      std::int64_t& archiveLength);

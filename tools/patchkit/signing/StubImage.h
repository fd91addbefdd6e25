#pragma once

#include "package/PackageTrailer.h"
#include "signing/PeImage.h"

#include <cstdint>
#include <cstdio>
#include <string>

// The program a package is appended to.
struct StubImage {
    std::int64_t imageLength = 0; // bytes that make up the program, where the archive will start
    bool carriesPackage = false;  // an archive and a trailer already follow the program
    PackageTrailer carriedTrailer;
    PeImage pe; // a signature's certificate table is not part of imageLength
};

// Checks that the file is a PE image and whether it already carries a package: its trailer, the
// file's last 8 bytes or those in front of a signature, then points behind the image's last
// section at the start of a ZIP archive. False, with the reason, when the file is not a PE image
// or cannot be read.
bool ExamineStub(std::FILE* file, StubImage& stub, std::string& reason);

// The trailer of a package signed after it was built: in front of the certificate table and the
// zeros that pad the file to a multiple of 8 bytes. trailerEnd is one past its last byte.
bool FindTrailerBeforeSignature(std::FILE* file, const PeImage& image, PackageTrailer& trailer,
                                std::int64_t& trailerEnd);

// Whether the first length bytes of the file hold a whole PE image.
bool IsProgramImage(std::FILE* file, std::int64_t length);

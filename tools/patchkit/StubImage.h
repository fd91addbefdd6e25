#pragma once

#include "PackageTrailer.h"

#include <cstdint>
#include <cstdio>
#include <string>

// The program a package is appended to.
struct StubImage {
    std::int64_t imageLength = 0; // bytes that make up the program, where the archive will start
    bool carriesPackage = false;  // an archive and a trailer already follow the program
    PackageTrailer carriedTrailer;
};

// Checks that the file is a PE image and whether it already carries a package: its trailer then
// points behind the image's last section at the start of a ZIP archive. False, with the reason,
// when the file is not a PE image or cannot be read.
bool ExamineStub(std::FILE* file, StubImage& stub, std::string& reason);

// Whether the first length bytes of the file hold a whole PE image.
bool IsProgramImage(std::FILE* file, std::int64_t length);

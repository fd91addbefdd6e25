// Any file read as a program file: the trailer is accepted exactly when the file holds one and its
// archive offset lies inside the file, and the stream is then left at that offset.

#include "Scratch.h"
#include "package/PackageTrailer.h"

#include <cstdio>
#include <sys/types.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path programFile = ScratchFolder() / "program.exe";
    WriteWholeFile(programFile, data, size);
    std::FILE* stream = std::fopen(programFile.c_str(), "rb");
    if (stream == nullptr) {
        PropertyFailed("cannot open the program file");
    }
    PackageTrailer trailer;
    std::int64_t archiveLength = 0;
    const bool accepted = ReadPackageTrailer(stream, trailer, archiveLength);

    bool expected = size >= kPackageTrailerSize;
    PackageTrailer stored;
    if (expected) {
        unsigned char last[kPackageTrailerSize];
        for (std::size_t i = 0; i < kPackageTrailerSize; ++i) {
            last[i] = data[size - kPackageTrailerSize + i];
        }
        stored = DecodePackageTrailer(last);
        expected = stored.archiveOffset <= size - kPackageTrailerSize;
    }
    if (accepted != expected) {
        PropertyFailed(accepted ? "a trailer outside the file was accepted"
                                : "a sound trailer was refused");
    }
    if (accepted) {
        if (trailer.archiveOffset != stored.archiveOffset ||
            trailer.packageVersion != stored.packageVersion) {
            PropertyFailed("the trailer read differs from the last 8 bytes");
        }
        if (archiveLength !=
            static_cast<std::int64_t>(size - kPackageTrailerSize - trailer.archiveOffset)) {
            PropertyFailed("the archive length is not the bytes up to the trailer");
        }
        if (ftello(stream) != static_cast<off_t>(trailer.archiveOffset)) {
            PropertyFailed("the stream is not left at the archive");
        }
    }
    std::fclose(stream);
    return 0;
}

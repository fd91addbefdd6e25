#pragma once

#include "package/PackageTrailer.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>

struct SealResult {
    PackageTrailer trailer;
    std::uint32_t tableSize = 0; // the certificate table's size once sealed
};

// Makes the trailer of a package that was signed after it was built the file's last 8 bytes
// again, inside the signature, without changing a signed byte; recomputes the PE checksum. The
// package is replaced in one step (temporary file, then rename). False, with the reason and the
// package untouched, when it is no signed package, is already sealed, or its sealed certificate
// table would hide the archive's end record from the updater's ZIP reader.
// Once *stop is true, sealing gives up at the next piece it copies, leaving the package as it was.
bool SealPackage(const std::filesystem::path& package, SealResult& result, std::string& error,
                 const std::atomic<bool>* stop = nullptr);

#pragma once

#include "signing/PeImage.h"

#include <cstdint>
#include <cstdio>
#include <string>

// What inspect says about a package's Authenticode signature.
struct SignatureReport {
    enum class Digest { NotChecked, Matches, Differs };

    bool present = false;
    bool sealed = false;         // the trailer is the last 8 bytes of the signature (see seal)
    std::string digestAlgorithm; // "sha256", or the dotted identifier of one this build lacks
    Digest digest = Digest::NotChecked;
    std::string problem; // why the signature or the file could not be read; empty otherwise
};

SignatureReport ExamineSignature(std::FILE* file, std::int64_t length);

// The only certificate entry of a signed image, which must be an Authenticode signature: the
// table's bytes, and the entry's data as DER. False, with the reason, otherwise.
struct SignatureEntry {
    std::string table;
    CertificateEntry entry;
    std::string der;
};
bool ReadSignatureEntry(std::FILE* file, const PeImage& image, SignatureEntry& signature,
                        std::string& problem);

// The Authenticode image hash: the file up to the certificate table, without the checksum field
// and the security directory entry.
bool ComputeImageHash(std::FILE* file, const PeImage& image, const std::string& algorithm,
                      std::string& digest);

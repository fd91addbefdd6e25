#include "signing/PackageSignature.h"

#include "base/ByteReading.h"
#include "platform/FileSystem.h"
#include "platform/Pieces.h"
#include "signing/SignatureDigest.h"
#include "signing/SignatureSeal.h"

#include <algorithm>
#include <memory>

namespace {

// Far more than any signature with its chain and timestamps; guards what is read into memory.
constexpr std::uint32_t kLargestTable = 16u << 20;

// The algorithms Authenticode signs with, by their identifiers.
std::string DigestAlgorithmName(const std::string& oid) {
    static const std::pair<const char*, const char*> kNames[] = {
        {"1.3.14.3.2.26", "sha1"},
        {"2.16.840.1.101.3.4.2.1", "sha256"},
        {"2.16.840.1.101.3.4.2.2", "sha384"},
        {"2.16.840.1.101.3.4.2.3", "sha512"},
        {"1.2.840.113549.2.5", "md5"},
    };
    for (const auto& [known, name] : kNames) {
        if (oid == known) {
            return name;
        }
    }
    return "";
}

bool HashRange(std::FILE* file, std::int64_t from, std::int64_t to, Hasher& hasher,
               unsigned char* buffer) {
    const auto count = static_cast<std::uint64_t>(std::max<std::int64_t>(to - from, 0));
    return SeekFile(file, from) &&
           ReadPieces(file, count, buffer, {},
                      [&hasher](const unsigned char* bytes, std::size_t size) {
                          return hasher.Add(bytes, size);
                      }) == PieceRun::Done;
}

} // namespace

bool ReadSignatureEntry(std::FILE* file, const PeImage& image, SignatureEntry& signature,
                        std::string& problem) {
    if (image.tableSize > kLargestTable) {
        problem = "the certificate table is " + std::to_string(image.tableSize) +
                  " bytes, too large for a signature";
        return false;
    }
    signature.table.assign(image.tableSize, '\0');
    std::vector<CertificateEntry> entries;
    if (!ReadAt(file, image.tableOffset, &signature.table[0], signature.table.size())) {
        problem = "the certificate table cannot be read";
        return false;
    }
    if (!SplitCertificateTable(signature.table, image.tableOffset, entries)) {
        problem = "the certificate table is damaged: an entry runs past its end";
        return false;
    }
    if (entries.size() != 1) {
        problem = "the certificate table holds " + std::to_string(entries.size()) +
                  " entries; only one signature is supported (nest further signatures inside it)";
        return false;
    }
    signature.entry = entries[0];
    if (!signature.entry.IsSignature()) {
        problem = "the certificate table's entry is not an Authenticode signature";
        return false;
    }
    const std::string data = signature.table.substr(
        kCertificateHeaderSize, signature.entry.length - kCertificateHeaderSize);
    if (!TrimToDer(data, signature.der)) {
        problem = "the signature is not DER: its length runs past its certificate entry";
        return false;
    }
    return true;
}

bool ComputeImageHash(std::FILE* file, const PeImage& image, const std::string& algorithm,
                      std::string& digest) {
    Hasher hasher(algorithm);
    const std::unique_ptr<unsigned char[]> buffer = NewPieceBuffer();
    const std::int64_t checksumEnd = image.checksumOffset + kChecksumSize;
    const std::int64_t securityEnd = image.securityEntryOffset + kSecurityEntrySize;
    return buffer && hasher.Ready() &&
           HashRange(file, 0, image.checksumOffset, hasher, buffer.get()) &&
           HashRange(file, checksumEnd, image.securityEntryOffset, hasher, buffer.get()) &&
           HashRange(file, securityEnd, image.tableOffset, hasher, buffer.get()) &&
           hasher.Finish(digest);
}

SignatureReport ExamineSignature(std::FILE* file, std::int64_t length) {
    SignatureReport report;
    PeImage image;
    if (!ReadPeImage(file, length, image) || !image.Signed()) {
        return report;
    }
    report.present = true;
    SignatureEntry signature;
    if (!ReadSignatureEntry(file, image, signature, report.problem)) {
        return report;
    }
    const std::int64_t entryEnd =
        static_cast<std::int64_t>(signature.entry.offset) + signature.entry.length;
    report.sealed = IsSealed(signature.der) && entryEnd == length &&
                    signature.entry.length == kCertificateHeaderSize + signature.der.size();
    SignedDigest signedDigest;
    if (!ReadSignedDigest(signature.der, signedDigest)) {
        report.problem = "the signature cannot be parsed";
        return report;
    }
    if (!ReadSignerDetails(signature.der, report.signer)) {
        report.problem = "the signer's certificate or the timestamp cannot be read";
        return report;
    }
    const std::string name = DigestAlgorithmName(signedDigest.algorithmOid);
    report.digestAlgorithm = name.empty() ? signedDigest.algorithmOid : name;
    std::string fileDigest;
    if (name.empty() || !Hasher(name).Ready()) {
        return report;
    }
    if (!ComputeImageHash(file, image, name, fileDigest)) {
        report.problem = "the file cannot be read to compute its image hash";
        return report;
    }
    report.digest = fileDigest == signedDigest.digest ? SignatureReport::Digest::Matches
                                                      : SignatureReport::Digest::Differs;
    return report;
}

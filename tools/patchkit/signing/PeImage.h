#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The parts of a PE image that an Authenticode signature involves. Offsets are file offsets.
struct PeImage {
    std::int64_t endOfSections = 0;       // where the last section's raw data ends
    std::int64_t checksumOffset = 0;      // the optional header's CheckSum field (4 bytes)
    std::int64_t securityEntryOffset = 0; // the security directory entry (8 bytes), 0 when absent
    std::uint32_t tableOffset = 0;        // the certificate table, 0 and 0 when unsigned
    std::uint32_t tableSize = 0;

    bool Signed() const { return tableSize != 0; }
};

constexpr std::int64_t kSecurityEntrySize = 8;
constexpr std::int64_t kChecksumSize = 4;

// False when the first length bytes of the file are not a whole PE image, or when the security
// directory names a certificate table that does not lie within the file behind the sections.
bool ReadPeImage(std::FILE* file, std::int64_t length, PeImage& image);

// Writes zeros over the security directory entry of an image being written to file, which then
// claims no signature, and returns to the end of the file.
bool ClearSecurityEntry(std::FILE* file, const PeImage& image);

// One WIN_CERTIFICATE of the certificate table.
struct CertificateEntry {
    std::uint32_t offset = 0; // of its 8-byte header
    std::uint32_t length = 0; // header and data, without the padding to 8 bytes
    std::uint16_t revision = 0;
    std::uint16_t type = 0;
    bool IsSignature() const { return revision == 0x0200 && type == 0x0002; }
};

constexpr std::uint32_t kCertificateHeaderSize = 8;

// Splits the table (its bytes, starting at the file offset tableOffset) into its entries. False
// when an entry is shorter than its header or runs past the table.
bool SplitCertificateTable(const std::string& table, std::uint32_t tableOffset,
                           std::vector<CertificateEntry>& entries);

// The PE checksum, fed the file's bytes in order; the CheckSum field itself counts as zero.
class PeChecksum {
public:
    explicit PeChecksum(std::int64_t checksumOffset) : m_checksumOffset(checksumOffset) {}
    void Add(const unsigned char* bytes, std::size_t count);
    std::uint32_t Finish() const;

private:
    std::int64_t m_checksumOffset;
    std::int64_t m_position = 0;
    std::uint64_t m_sum = 0;
};

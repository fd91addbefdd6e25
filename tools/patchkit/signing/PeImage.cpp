#include "signing/PeImage.h"

#include "base/ByteReading.h"
#include "platform/LittleEndian.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::int64_t kDosHeaderSize = 64;
constexpr std::int64_t kPeHeaderOffsetField = 0x3C;
constexpr std::int64_t kFileHeaderSize = 20;
constexpr std::int64_t kSectionHeaderSize = 40;
constexpr std::int64_t kChecksumField = 64;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
// Where the directory count and the directories start, for PE32 and PE32+.
constexpr std::int64_t kDirectoryCountField32 = 92;
constexpr std::int64_t kDirectoryCountField64 = 108;
constexpr std::uint32_t kSecurityDirectory = 4;

// Locates the security directory entry in the optional header, when it has one.
[[nodiscard]] bool ReadSecurityDirectory(std::FILE* file, std::int64_t optionalHeader,
                                         std::int64_t optionalHeaderSize, PeImage& image) {
    unsigned char magic[2];
    if (optionalHeaderSize < 2) {
        return true; // no optional header, nothing a signature could be named in
    }
    if (!ReadAt(file, optionalHeader, magic, sizeof magic)) {
        return false;
    }
    std::int64_t countField = 0;
    if (ReadLittle16(magic) == kPe32Magic) {
        countField = kDirectoryCountField32;
    } else if (ReadLittle16(magic) == kPe32PlusMagic) {
        countField = kDirectoryCountField64;
    } else {
        return true; // not an image we can sign: treated as unsigned
    }
    image.checksumOffset = optionalHeader + kChecksumField;
    const std::int64_t securityEntry = countField + 4 + kSecurityDirectory * kSecurityEntrySize;
    unsigned char count[4];
    if (securityEntry + kSecurityEntrySize > optionalHeaderSize ||
        !ReadAt(file, optionalHeader + countField, count, sizeof count) ||
        ReadLittle32(count) <= kSecurityDirectory) {
        return true;
    }
    image.securityEntryOffset = optionalHeader + securityEntry;
    unsigned char entry[kSecurityEntrySize];
    if (!ReadAt(file, image.securityEntryOffset, entry, sizeof entry)) {
        return false;
    }
    image.tableOffset = ReadLittle32(entry);
    image.tableSize = ReadLittle32(entry + 4);
    if (image.tableSize == 0) {
        image.tableOffset = 0;
    }
    return true;
}

} // namespace

bool ReadPeImage(std::FILE* file, std::int64_t length, PeImage& image) {
    image = PeImage();
    unsigned char dosHeader[kDosHeaderSize];
    if (length < kDosHeaderSize || !ReadAt(file, 0, dosHeader, sizeof dosHeader) ||
        std::memcmp(dosHeader, "MZ", 2) != 0) {
        return false;
    }
    const std::int64_t peHeader = ReadLittle32(dosHeader + kPeHeaderOffsetField);
    unsigned char headers[4 + kFileHeaderSize];
    if (peHeader + static_cast<std::int64_t>(sizeof headers) > length ||
        !ReadAt(file, peHeader, headers, sizeof headers) ||
        std::memcmp(headers, "PE\0\0", 4) != 0) {
        return false;
    }
    const unsigned char* fileHeader = headers + 4;
    const std::int64_t sectionCount = ReadLittle16(fileHeader + 2);
    const std::int64_t optionalHeaderSize = ReadLittle16(fileHeader + 16);
    const std::int64_t optionalHeader = peHeader + 4 + kFileHeaderSize;
    const std::int64_t sectionTable = optionalHeader + optionalHeaderSize;
    const std::int64_t sectionTableEnd = sectionTable + sectionCount * kSectionHeaderSize;
    if (sectionTableEnd > length) {
        return false;
    }
    image.endOfSections = sectionTableEnd;
    for (std::int64_t section = sectionTable; section < sectionTableEnd;
         section += kSectionHeaderSize) {
        unsigned char header[kSectionHeaderSize];
        if (!ReadAt(file, section, header, sizeof header)) {
            return false;
        }
        const std::int64_t rawSize = ReadLittle32(header + 16);
        const std::int64_t rawStart = ReadLittle32(header + 20);
        if (rawSize != 0) {
            image.endOfSections = std::max(image.endOfSections, rawStart + rawSize);
        }
    }
    if (image.endOfSections > length ||
        !ReadSecurityDirectory(file, optionalHeader, optionalHeaderSize, image)) {
        return false;
    }
    const std::int64_t tableEnd =
        static_cast<std::int64_t>(image.tableOffset) + static_cast<std::int64_t>(image.tableSize);
    return !image.Signed() || (image.tableOffset >= image.endOfSections && tableEnd <= length);
}

bool ClearSecurityEntry(std::FILE* file, const PeImage& image) {
    const unsigned char zeros[kSecurityEntrySize] = {};
    return SeekFile(file, image.securityEntryOffset) &&
           std::fwrite(zeros, 1, sizeof zeros, file) == sizeof zeros &&
           std::fseek(file, 0, SEEK_END) == 0;
}

bool SplitCertificateTable(const std::string& table, std::uint32_t tableOffset,
                           std::vector<CertificateEntry>& entries) {
    entries.clear();
    const auto* bytes = reinterpret_cast<const unsigned char*>(table.data());
    std::size_t at = 0;
    while (at < table.size()) {
        if (table.size() - at < kCertificateHeaderSize) {
            return false;
        }
        CertificateEntry entry;
        entry.offset = tableOffset + static_cast<std::uint32_t>(at);
        entry.length = ReadLittle32(bytes + at);
        entry.revision = ReadLittle16(bytes + at + 4);
        entry.type = ReadLittle16(bytes + at + 6);
        if (entry.length < kCertificateHeaderSize || entry.length > table.size() - at) {
            return false;
        }
        entries.push_back(entry);
        // Entries start on 8-byte boundaries.
        at += (static_cast<std::size_t>(entry.length) + 7) & ~static_cast<std::size_t>(7);
    }
    return !entries.empty();
}

void PeChecksum::Add(const unsigned char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, ++m_position) {
        if (m_position >= m_checksumOffset && m_position < m_checksumOffset + kChecksumSize) {
            continue;
        }
        // Little-endian 16-bit words: odd positions are high bytes.
        m_sum += static_cast<std::uint64_t>(bytes[i]) << ((m_position & 1) * 8);
    }
}

std::uint32_t PeChecksum::Finish() const {
    std::uint64_t sum = m_sum;
    while ((sum >> 16) != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint32_t>(sum) + static_cast<std::uint32_t>(m_position);
}

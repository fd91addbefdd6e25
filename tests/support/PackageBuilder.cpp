#include "support/PackageBuilder.h"

#include "package/PackageTrailer.h"
#include "zip/DeflateChunk.h"

#include <zip.h>
#include <zlib.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>
#include <unistd.h>

namespace testsupport {
namespace {

constexpr std::uint32_t kEndOfCentralDirectorySignature = 0x06054b50;
constexpr std::size_t kEndOfCentralDirectorySize = 22;
constexpr std::size_t kCentralHeaderSize = 46;

std::filesystem::path ScratchArchivePath() {
    static std::atomic<int> counter{0};
    return std::filesystem::temp_directory_path() /
           ("qrt-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".zip");
}

std::uint16_t GetLittleEndian16(const std::string& bytes, std::size_t offset) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes.at(offset)) |
                                      static_cast<unsigned char>(bytes.at(offset + 1)) << 8);
}

bool AddStoredEntry(zipFile zip, const ZipEntry& entry) {
    const zip_fileinfo info{};
    const int zip64 = entry.data.size() >= 0xFFFFFFFFu ? 1 : 0;
    if (zipOpenNewFileInZip64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, 0, 0,
                              zip64) != ZIP_OK) {
        return false;
    }
    const char* data = entry.data.data();
    for (std::size_t left = entry.data.size(); left > 0;) {
        const auto piece = static_cast<unsigned>(std::min<std::size_t>(left, 1u << 20));
        if (zipWriteInFileInZip(zip, data, piece) != ZIP_OK) {
            return false;
        }
        data += piece;
        left -= piece;
    }
    return zipCloseFileInZip(zip) == ZIP_OK;
}

// Deflated as patchkit deflates at its default level, so the engine and the real updater read
// the streams publishers ship.
bool AddDeflatedEntry(zipFile zip, const ZipEntry& entry) {
    DeflateChunkInput chunk;
    chunk.data = reinterpret_cast<const unsigned char*>(entry.data.data());
    chunk.size = entry.data.size();
    chunk.last = true;
    std::string deflated(DeflateChunkRoom(chunk.size), '\0');
    std::size_t deflatedSize = 0;
    if (!DeflateChunk(chunk, reinterpret_cast<unsigned char*>(&deflated[0]), deflatedSize)) {
        return false;
    }
    const zip_fileinfo info{};
    const int zip64 = entry.data.size() >= 0xFFFFFFFFu ? 1 : 0;
    const uLong crc = crc32_z(0, chunk.data, chunk.size);
    if (zipOpenNewFileInZip2_64(zip, entry.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                Z_DEFLATED, kDefaultLevel, 1, zip64) != ZIP_OK ||
        zipWriteInFileInZip(zip, deflated.data(), static_cast<unsigned>(deflatedSize)) != ZIP_OK) {
        return false;
    }
    return zipCloseFileInZipRaw64(zip, chunk.size, crc) == ZIP_OK;
}

bool AddEntry(zipFile zip, const ZipEntry& entry) {
    return entry.storage == Storage::Deflated ? AddDeflatedEntry(zip, entry)
                                              : AddStoredEntry(zip, entry);
}

} // namespace

std::string BuildZipArchive(const std::vector<ZipEntry>& entries) {
    const std::filesystem::path path = ScratchArchivePath();
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (zip == nullptr) {
        return {};
    }
    bool written = true;
    for (const ZipEntry& entry : entries) {
        written = written && AddEntry(zip, entry);
    }
    written = zipClose(zip, nullptr) == ZIP_OK && written;
    std::string archive = written ? ReadBinaryFile(path) : std::string();
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    return archive;
}

std::string BuildPackage(const std::string& archive, std::uint32_t packageVersion,
                         const std::string& stub) {
    PackageTrailer trailer;
    trailer.archiveOffset = static_cast<std::uint32_t>(stub.size());
    trailer.packageVersion = packageVersion;
    unsigned char bytes[kPackageTrailerSize];
    EncodePackageTrailer(trailer, bytes);
    return stub + archive + std::string(std::begin(bytes), std::end(bytes));
}

bool WriteBinaryFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return !file.fail();
}

std::string ReadBinaryFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string NoiseData(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::string data(size, '\0');
    for (char& byte : data) {
        byte = static_cast<char>(generator() & 0xFF);
    }
    return data;
}

std::string PatternedData(std::size_t size, std::uint32_t seed) {
    std::string data(size, '\0');
    std::uint32_t state = seed;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        // Mostly a few letters, so it deflates, with a byte of noise now and then.
        data[i] =
            (i % 61 == 0) ? static_cast<char>(state >> 24) : static_cast<char>('a' + (state >> 29));
    }
    return data;
}

std::size_t EndOfCentralDirectoryOffset(const std::string& archive) {
    if (archive.size() < kEndOfCentralDirectorySize) {
        return std::string::npos;
    }
    for (std::size_t offset = archive.size() - kEndOfCentralDirectorySize;; --offset) {
        if (GetLittleEndian32(archive, offset) == kEndOfCentralDirectorySignature) {
            return offset;
        }
        if (offset == 0) {
            return std::string::npos;
        }
    }
}

std::size_t CentralHeaderOffset(const std::string& archive, std::size_t entryIndex) {
    std::size_t offset = GetLittleEndian32(archive, EndOfCentralDirectoryOffset(archive) + 16);
    for (std::size_t i = 0; i < entryIndex; ++i) {
        offset += kCentralHeaderSize + GetLittleEndian16(archive, offset + 28) +
                  GetLittleEndian16(archive, offset + 30) + GetLittleEndian16(archive, offset + 32);
    }
    return offset;
}

std::size_t LocalHeaderOffset(const std::string& archive, std::size_t entryIndex) {
    return GetLittleEndian32(archive, CentralHeaderOffset(archive, entryIndex) + 42);
}

void SetEntryCrc(std::string& archive, std::size_t entryIndex, std::uint32_t crc) {
    PutLittleEndian32(archive, LocalHeaderOffset(archive, entryIndex) + 14, crc);
    PutLittleEndian32(archive, CentralHeaderOffset(archive, entryIndex) + 16, crc);
}

void SetEntryUncompressedSize(std::string& archive, std::size_t entryIndex, std::uint32_t size) {
    PutLittleEndian32(archive, LocalHeaderOffset(archive, entryIndex) + 22, size);
    PutLittleEndian32(archive, CentralHeaderOffset(archive, entryIndex) + 24, size);
}

void PutLittleEndian32(std::string& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes.at(offset + i) = static_cast<char>(value >> (8 * i));
    }
}

std::uint32_t GetLittleEndian32(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.at(offset + i)))
                 << (8 * i);
    }
    return value;
}

} // namespace testsupport

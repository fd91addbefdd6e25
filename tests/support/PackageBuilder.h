#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Builds update packages for tests: stub bytes, a ZIP archive written with minizip's zip half, the
// trailer; and damages archives on purpose.
namespace testsupport {

enum class Storage { Stored, Deflated };

struct ZipEntry {
    std::string name; // raw bytes as stored (code page 936 for Chinese names)
    std::string data;
    Storage storage = Storage::Deflated;
};

// The bytes of a ZIP archive holding the entries in this order. Empty when minizip fails.
std::string BuildZipArchive(const std::vector<ZipEntry>& entries);

// Stub, archive and trailer (archiveOffset = stub length).
std::string BuildPackage(const std::string& archive, std::uint32_t packageVersion,
                         const std::string& stub = std::string(512, 'S'));

bool WriteBinaryFile(const std::filesystem::path& path, const std::string& bytes);
// Empty when the file cannot be read.
std::string ReadBinaryFile(const std::filesystem::path& path);

// Data that deflates to a fraction of its size but is not trivially repetitive.
std::string PatternedData(std::size_t size, std::uint32_t seed = 1);
// Bytes that deflate cannot shrink.
std::string NoiseData(std::size_t size, std::uint32_t seed = 7);

// Places in an archive's records, for crafting damaged archives. Entries count from 0 in
// central-directory order; offsets are into the archive bytes.
std::size_t EndOfCentralDirectoryOffset(const std::string& archive);
std::size_t CentralHeaderOffset(const std::string& archive, std::size_t entryIndex);
std::size_t LocalHeaderOffset(const std::string& archive, std::size_t entryIndex);

// Rewrites a field in both the local and the central header of an entry.
void SetEntryCrc(std::string& archive, std::size_t entryIndex, std::uint32_t crc);
void SetEntryUncompressedSize(std::string& archive, std::size_t entryIndex, std::uint32_t size);

void PutLittleEndian32(std::string& bytes, std::size_t offset, std::uint32_t value);
std::uint32_t GetLittleEndian32(const std::string& bytes, std::size_t offset);

} // namespace testsupport

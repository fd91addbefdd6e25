#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// Where the 32-bit and 16-bit fields of a ZIP archive run out: values from these up are written
// through ZIP64 records. Lower limits let the tests exercise ZIP64 without gigabytes of data.
struct ZipLimits {
    std::uint64_t firstZip64Size = 0xFFFFFFFF;
    std::uint64_t firstZip64Count = 0xFFFF;
};

// Writes a ZIP archive whose bytes depend on nothing but the entries given: fixed timestamps,
// no host attributes, names as given. Entries are deflated, or stored where deflate does not
// shrink them (level 0 stores everything).
class ZipWriter {
public:
    // The archive starts at archiveStart in file (opened for writing and positioned there);
    // the offsets inside it count from that byte.
    ZipWriter(std::FILE* file, std::int64_t archiveStart, int level, ZipLimits limits = {});

    // Once *stop is true, the writer fails at the next piece of data it reads.
    void StopWhen(const std::atomic<bool>* stop) { m_stop = stop; }

    // name ends in "/".
    bool AddDirectory(const std::string& name, std::string& error);
    // Reads exactly size bytes from source, starting at offset; a file that changed meanwhile is
    // an error. With an offset, the entry is a slice: the source may go on after it.
    bool AddFile(const std::string& name, const std::filesystem::path& source, std::uint64_t offset,
                 std::uint64_t size, std::string& error);
    // Writes the central directory and the end records.
    bool Finish(std::string& error);

private:
    struct Entry {
        std::string name;
        std::uint16_t method = 0;
        std::uint32_t crc = 0;
        std::uint64_t compressedSize = 0;
        std::uint64_t size = 0;
        std::uint64_t headerOffset = 0;
        bool directory = false;
    };

    bool NeedsZip64(std::uint64_t value) const { return value >= m_limits.firstZip64Size; }
    std::uint16_t VersionNeeded(const Entry& entry) const;
    bool WriteBytes(const void* bytes, std::size_t count, std::string& error);
    bool MoveTo(std::uint64_t position, std::string& error);
    bool WriteLocalHeader(const Entry& entry, std::string& error);
    bool WriteCentralHeader(const Entry& entry, std::string& error);
    bool WriteEndRecords(std::uint64_t directoryStart, std::uint64_t directorySize,
                         std::string& error);
    bool EnsureBuffers(std::string& error);
    bool StoreData(std::FILE* source, const std::string& sourceName, Entry& entry,
                   std::string& error);
    bool DeflateData(std::FILE* source, const std::string& sourceName, Entry& entry,
                     std::string& error);

    std::FILE* m_file;
    std::int64_t m_archiveStart;
    int m_level;
    ZipLimits m_limits;
    const std::atomic<bool>* m_stop = nullptr;
    std::uint64_t m_position = 0;
    std::uint64_t m_offset = 0; // where the current file's data starts in its source
    std::vector<Entry> m_entries;
    std::unique_ptr<unsigned char[]> m_input;
    std::unique_ptr<unsigned char[]> m_output;
};

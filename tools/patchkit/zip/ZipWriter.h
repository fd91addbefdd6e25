#pragma once

#include "base/Progress.h"
#include "base/TaskQueue.h"
#include "zip/SourceEntry.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Where the 32-bit and 16-bit fields of a ZIP archive run out: values from these up are written
// through ZIP64 records. Lower limits let the tests exercise ZIP64 without gigabytes of data.
struct ZipLimits {
    std::uint64_t firstZip64Size = 0xFFFFFFFF;
    std::uint64_t firstZip64Count = 0xFFFF;
};

// Writes a ZIP archive whose bytes depend on nothing but the entries given: fixed timestamps,
// no host attributes, names as given. Entries are deflated at the level (zip/DeflateChunk.h), or
// stored where deflate does not shrink them (level 0 stores everything).
//
// A file is deflated in blocks of fixed size that join into one deflate stream
// (zip/DeflateChunk.h), so the blocks compress on several threads at once; the bytes never
// depend on the number of threads. A few blocks per thread are
// held at a time, whatever the files' sizes. Entries are added without waiting for their data to
// be written: a failure may surface at a later call, its message naming the file at fault.
class ZipWriter {
public:
    // The archive starts at archiveStart in file (opened for writing and positioned there);
    // the offsets inside it count from that byte. jobs: threads that compress (0: one per core).
    ZipWriter(std::FILE* file, std::int64_t archiveStart, int level, unsigned jobs,
              ZipLimits limits = {});
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Once *stop is true, the writer fails at the next piece of data it reads.
    void StopWhen(const std::atomic<bool>* stop) { m_stop = stop; }
    // Counts the bytes of the files as their data is written.
    void ReportTo(Progress* progress) { m_progress = progress; }

    // name ends in "/".
    [[nodiscard]] bool AddDirectory(const std::string& name, std::string& error);
    // Reads exactly source.size bytes from source.offset; a file that changed meanwhile is an
    // error. A whole file (offset 0) must end there; a slice of a longer file need not.
    [[nodiscard]] bool AddFile(const SourceEntry& source, std::string& error);
    // Writes what is still pending, the central directory and the end records.
    [[nodiscard]] bool Finish(std::string& error);

private:
    struct Entry {
        std::string name;
        std::uint16_t method = 0;
        std::uint32_t crc = 0;
        std::uint64_t compressedSize = 0;
        std::uint64_t size = 0;
        std::uint64_t headerOffset = 0;
        bool directory = false;
        std::filesystem::path source; // read again when deflate does not shrink it
        std::uint64_t offset = 0;
    };
    // A block of an entry's data on its way into the archive; a folder or an empty file has one
    // without data.
    struct Block;

    bool NeedsZip64(std::uint64_t value) const { return value >= m_limits.firstZip64Size; }
    std::uint16_t VersionNeeded(const Entry& entry) const;
    [[nodiscard]] bool WriteBytes(const void* bytes, std::size_t count, std::string& error);
    [[nodiscard]] bool MoveTo(std::uint64_t position, std::string& error);
    [[nodiscard]] bool WriteLocalHeader(const Entry& entry, std::string& error);
    [[nodiscard]] bool WriteCentralHeader(const Entry& entry, std::string& error);
    [[nodiscard]] bool WriteEndRecords(std::uint64_t directoryStart, std::uint64_t directorySize,
                                       std::string& error);
    Entry FileEntry(const SourceEntry& source) const;
    [[nodiscard]] bool NextBlock(const Block* previous, std::uint64_t& remaining,
                                 std::unique_ptr<Block>& block, std::string& error);
    [[nodiscard]] bool MakeRoom(std::string& error);
    void Submit(std::unique_ptr<Block> block);
    [[nodiscard]] bool WriteOldestBlock(std::string& error);
    [[nodiscard]] bool EndEntry(Entry& entry, std::string& error);
    [[nodiscard]] bool StoreAgain(Entry& entry, std::string& error);

    std::FILE* m_file;
    std::int64_t m_archiveStart;
    int m_level;
    ZipLimits m_limits;
    const std::atomic<bool>* m_stop = nullptr;
    Progress* m_progress = nullptr;
    std::uint64_t m_position = 0;
    std::vector<Entry> m_entries;
    // The entry whose blocks are being written.
    std::uint64_t m_dataStart = 0;
    std::uint32_t m_dataCrc = 0;

    std::size_t m_blocksAllowed;
    std::deque<std::unique_ptr<Block>> m_blocks; // in archive order
    std::mutex m_doneLock;
    std::condition_variable m_doneSignal;
    // Last: its threads end before the blocks they work on go away.
    TaskQueue m_compressors;
};

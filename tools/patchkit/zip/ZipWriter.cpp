#include "zip/ZipWriter.h"

#include "zip/DeflateChunk.h"

#include "base/StopRequest.h"
#include "base/TextConversion.h"
#include "platform/FileSystem.h"
#include "platform/Pieces.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Blocks of input compressed apart: large enough that restarting costs next to nothing in size
// (at level 12, 1 MiB blocks made 107 MB of programs, scripts and text 0.04% larger than whole
// files did).
constexpr std::size_t kBlockSize = 1 << 20;
// What deflate can refer back to: the dictionary each block but the first is primed with, at the
// levels that use one.
constexpr std::size_t kDictionarySize = 32768;

constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
// 1980-01-01 00:00:00, the first moment a ZIP timestamp can hold.
constexpr std::uint16_t kFixedDosDate = 0x0021;
constexpr std::uint16_t kFixedDosTime = 0x0000;
constexpr std::uint32_t kDosDirectoryAttribute = 0x10;
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint32_t kMarker32 = 0xFFFFFFFF;
constexpr std::uint16_t kMarker16 = 0xFFFF;

// Little-endian fields of a ZIP record.
class RecordBytes {
public:
    void Put16(std::uint64_t value) { Put(value, 2); }
    void Put32(std::uint64_t value) { Put(value, 4); }
    void Put64(std::uint64_t value) { Put(value, 8); }
    void PutText(const std::string& text) { m_bytes += text; }
    const std::string& Bytes() const { return m_bytes; }
    std::size_t Size() const { return m_bytes.size(); }

private:
    void Put(std::uint64_t value, int count) {
        for (int i = 0; i < count; ++i) {
            m_bytes += static_cast<char>(value >> (8 * i) & 0xFF);
        }
    }
    std::string m_bytes;
};

// Why a read of the source came up short: a source that ends early changed since it was listed.
std::string ShortReadError(std::FILE* source, const std::string& sourceName) {
    return sourceName +
           (std::ferror(source) ? ": cannot be read" : ": became shorter while it was read");
}

// Reads count bytes.
[[nodiscard]] bool ReadExactly(std::FILE* source, const std::string& sourceName,
                               unsigned char* buffer, std::size_t count, std::string& error) {
    if (std::fread(buffer, 1, count, source) == count) {
        return true;
    }
    error = ShortReadError(source, sourceName);
    return false;
}

[[nodiscard]] bool OpenSource(const std::filesystem::path& path, std::uint64_t offset,
                              FileHandle& source, std::string& error) {
    source = OpenFile(path, "rb");
    if (!source) {
        error = DisplayPath(path) + ": cannot be opened";
        return false;
    }
    if (!SeekFile(source.get(), static_cast<std::int64_t>(offset))) {
        error = DisplayPath(path) + ": cannot be read";
        return false;
    }
    return true;
}

[[nodiscard]] bool Stopped(const std::atomic<bool>* stop, std::string& error) {
    if (StopAsked(stop)) {
        error = "interrupted";
        return true;
    }
    return false;
}

std::uint32_t UpdateCrc(std::uint32_t crc, const unsigned char* bytes, std::size_t count) {
    return static_cast<std::uint32_t>(crc32(crc, bytes, static_cast<uInt>(count)));
}

} // namespace

struct ZipWriter::Block {
    std::size_t entry = 0; // in m_entries
    bool first = false;
    bool last = false;
    bool deflate = false;
    std::unique_ptr<unsigned char[]> input;
    std::size_t inputSize = 0;
    std::unique_ptr<unsigned char[]> dictionary; // the input ahead of this block, if any
    std::size_t dictionarySize = 0;
    std::unique_ptr<unsigned char[]> output;
    std::size_t outputSize = 0;
    std::uint32_t crc = 0;
    bool failed = false;
    bool done = false; // under m_doneLock

    [[nodiscard]] bool Allocate(bool withDictionary) {
        input.reset(new (std::nothrow) unsigned char[inputSize]);
        if (withDictionary) {
            dictionary.reset(new (std::nothrow) unsigned char[kDictionarySize]);
        }
        if (deflate) {
            output.reset(new (std::nothrow) unsigned char[DeflateChunkRoom(inputSize)]);
        }
        return input && (dictionary || !withDictionary) && (output || !deflate);
    }

    // The blocks of an entry join into one deflate stream (zip/DeflateChunk.h).
    void Compress(int level) {
        crc = UpdateCrc(0, input.get(), inputSize);
        if (!deflate) {
            return;
        }
        DeflateChunkInput chunk;
        chunk.level = level;
        chunk.data = input.get();
        chunk.size = inputSize;
        chunk.dictionary = dictionary.get();
        chunk.dictionarySize = dictionarySize;
        chunk.last = last;
        failed = !DeflateChunk(chunk, output.get(), outputSize);
    }

    const unsigned char* Data() const { return deflate ? output.get() : input.get(); }
    std::size_t DataSize() const { return deflate ? outputSize : inputSize; }
};

ZipWriter::ZipWriter(std::FILE* file, std::int64_t archiveStart, int level, unsigned jobs,
                     ZipLimits limits)
    : m_file(file), m_archiveStart(archiveStart), m_level(level), m_limits(limits),
      // One thread compresses on the caller's; more leave the caller to read and write.
      m_compressors(JobCount(jobs) == 1 ? 0 : JobCount(jobs)) {
    // Four blocks per thread (about 8 MiB) keep each busy while the caller, which reads and
    // writes for all of them, waits for a core on a busy machine.
    m_blocksAllowed = 4 * static_cast<std::size_t>(m_compressors.Threads()) + 1;
}

ZipWriter::~ZipWriter() = default;

std::uint16_t ZipWriter::VersionNeeded(const Entry& entry) const {
    if (NeedsZip64(entry.size) || NeedsZip64(entry.headerOffset)) {
        return 45;
    }
    return entry.method == kDeflated || entry.directory ? 20 : 10;
}

bool ZipWriter::WriteBytes(const void* bytes, std::size_t count, std::string& error) {
    // An empty block has no data pointer, and fwrite must not be given a null one.
    if (count == 0) {
        return true;
    }
    if (std::fwrite(bytes, 1, count, m_file) != count) {
        error = "the package cannot be written (is the disk full?)";
        return false;
    }
    m_position += count;
    return true;
}

bool ZipWriter::MoveTo(std::uint64_t position, std::string& error) {
    if (!SeekFile(m_file, m_archiveStart + static_cast<std::int64_t>(position))) {
        error = "the package cannot be written (positioning failed)";
        return false;
    }
    m_position = position;
    return true;
}

// The header's length depends on the name and the size only, so it can be written first and
// rewritten in place once method, CRC and compressed size are known.
bool ZipWriter::WriteLocalHeader(const Entry& entry, std::string& error) {
    const bool zip64 = NeedsZip64(entry.size);
    RecordBytes header;
    header.Put32(0x04034b50);
    header.Put16(VersionNeeded(entry));
    header.Put16(0); // flags: no data descriptor, names in the ANSI code page
    header.Put16(entry.method);
    header.Put16(kFixedDosTime);
    header.Put16(kFixedDosDate);
    header.Put32(entry.crc);
    header.Put32(zip64 ? kMarker32 : entry.compressedSize);
    header.Put32(zip64 ? kMarker32 : entry.size);
    header.Put16(static_cast<std::uint32_t>(entry.name.size()));
    header.Put16(zip64 ? 20 : 0);
    header.PutText(entry.name);
    if (zip64) {
        header.Put16(kZip64ExtraId);
        header.Put16(16);
        header.Put64(entry.size);
        header.Put64(entry.compressedSize);
    }
    return WriteBytes(header.Bytes().data(), header.Size(), error);
}

bool ZipWriter::WriteCentralHeader(const Entry& entry, std::string& error) {
    RecordBytes extra;
    for (const std::uint64_t value : {entry.size, entry.compressedSize, entry.headerOffset}) {
        if (NeedsZip64(value)) {
            extra.Put64(value);
        }
    }
    const std::uint16_t version = VersionNeeded(entry);
    RecordBytes header;
    header.Put32(0x02014b50);
    header.Put16(version); // made by: MS-DOS, so readers take the names in the ANSI code page
    header.Put16(version);
    header.Put16(0);
    header.Put16(entry.method);
    header.Put16(kFixedDosTime);
    header.Put16(kFixedDosDate);
    header.Put32(entry.crc);
    header.Put32(NeedsZip64(entry.compressedSize) ? kMarker32 : entry.compressedSize);
    header.Put32(NeedsZip64(entry.size) ? kMarker32 : entry.size);
    header.Put16(static_cast<std::uint32_t>(entry.name.size()));
    header.Put16(extra.Size() == 0 ? 0 : static_cast<std::uint32_t>(extra.Size() + 4));
    header.Put16(0); // comment
    header.Put16(0); // disk
    header.Put16(0); // internal attributes
    header.Put32(entry.directory ? kDosDirectoryAttribute : 0);
    header.Put32(NeedsZip64(entry.headerOffset) ? kMarker32 : entry.headerOffset);
    header.PutText(entry.name);
    if (extra.Size() != 0) {
        header.Put16(kZip64ExtraId);
        header.Put16(static_cast<std::uint32_t>(extra.Size()));
        header.PutText(extra.Bytes());
    }
    return WriteBytes(header.Bytes().data(), header.Size(), error);
}

bool ZipWriter::WriteEndRecords(std::uint64_t directoryStart, std::uint64_t directorySize,
                                std::string& error) {
    const std::uint64_t count = m_entries.size();
    const bool countOverflows = count >= m_limits.firstZip64Count;
    RecordBytes records;
    if (countOverflows || NeedsZip64(directoryStart) || NeedsZip64(directorySize)) {
        const std::uint64_t zip64End = m_position;
        records.Put32(0x06064b50);
        records.Put64(44); // size of the rest of this record
        records.Put16(45);
        records.Put16(45);
        records.Put32(0); // this disk
        records.Put32(0); // disk of the central directory
        records.Put64(count);
        records.Put64(count);
        records.Put64(directorySize);
        records.Put64(directoryStart);
        records.Put32(0x07064b50); // locator
        records.Put32(0);
        records.Put64(zip64End);
        records.Put32(1); // disks
    }
    records.Put32(0x06054b50);
    records.Put16(0);
    records.Put16(0);
    records.Put16(countOverflows ? kMarker16 : count);
    records.Put16(countOverflows ? kMarker16 : count);
    records.Put32(NeedsZip64(directorySize) ? kMarker32 : directorySize);
    records.Put32(NeedsZip64(directoryStart) ? kMarker32 : directoryStart);
    records.Put16(0); // comment
    return WriteBytes(records.Bytes().data(), records.Size(), error);
}

bool ZipWriter::AddDirectory(const std::string& name, std::string& error) {
    if (!MakeRoom(error)) {
        return false;
    }
    Entry entry;
    entry.name = name;
    entry.directory = true;
    m_entries.push_back(entry);
    auto block = std::make_unique<Block>();
    block->entry = m_entries.size() - 1;
    block->first = block->last = true;
    Submit(std::move(block));
    return true;
}

ZipWriter::Entry ZipWriter::FileEntry(const SourceEntry& source) const {
    Entry entry;
    entry.name = source.storedName;
    entry.size = source.size;
    entry.method = m_level > 0 && source.size > 0 ? kDeflated : kStored;
    entry.source = source.path;
    entry.offset = source.offset;
    return entry;
}

// The last entry's next block, with room for its input and, after the first, its dictionary.
bool ZipWriter::NextBlock(const Block* previous, std::uint64_t& remaining,
                          std::unique_ptr<Block>& block, std::string& error) {
    block = std::make_unique<Block>();
    block->entry = m_entries.size() - 1;
    block->first = previous == nullptr;
    block->deflate = m_entries.back().method == kDeflated;
    block->inputSize = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kBlockSize));
    remaining -= block->inputSize;
    block->last = remaining == 0;
    const bool withDictionary = previous != nullptr && ChunkNeedsDictionary(m_level);
    if (block->inputSize != 0 && !block->Allocate(withDictionary)) {
        error = "out of memory";
        return false;
    }
    if (withDictionary) {
        // Copied before making room, which may write the previous block out. Blocks ahead
        // of the last are full, so the previous one alone holds the dictionary.
        block->dictionarySize = kDictionarySize;
        std::memcpy(block->dictionary.get(),
                    previous->input.get() + previous->inputSize - kDictionarySize, kDictionarySize);
    }
    return true;
}

bool ZipWriter::AddFile(const SourceEntry& source, std::string& error) {
    FileHandle input;
    if (!OpenSource(source.path, source.offset, input, error)) {
        return false;
    }
    const std::string sourceName = DisplayPath(source.path);
    m_entries.push_back(FileEntry(source));
    std::uint64_t remaining = source.size;
    const Block* previous = nullptr;
    do {
        std::unique_ptr<Block> block;
        if (Stopped(m_stop, error) || !NextBlock(previous, remaining, block, error) ||
            !MakeRoom(error) ||
            !ReadExactly(input.get(), sourceName, block->input.get(), block->inputSize, error)) {
            return false;
        }
        previous = block.get();
        Submit(std::move(block));
    } while (remaining != 0);
    if (source.offset == 0 && std::fgetc(input.get()) != EOF) {
        error = sourceName + ": grew while it was read";
        return false;
    }
    return true;
}

// Waits for the oldest blocks until another may be read.
bool ZipWriter::MakeRoom(std::string& error) {
    while (m_blocks.size() >= m_blocksAllowed) {
        if (!WriteOldestBlock(error)) {
            return false;
        }
    }
    return true;
}

void ZipWriter::Submit(std::unique_ptr<Block> block) {
    Block* const work = block.get();
    m_blocks.push_back(std::move(block));
    if (!work->input) {
        work->done = true;
        return;
    }
    m_compressors.Submit([this, work] {
        work->Compress(m_level);
        {
            std::lock_guard<std::mutex> hold(m_doneLock);
            work->done = true;
        }
        m_doneSignal.notify_one();
    });
}

bool ZipWriter::WriteOldestBlock(std::string& error) {
    {
        std::unique_lock<std::mutex> hold(m_doneLock);
        m_doneSignal.wait(hold, [this] { return m_blocks.front()->done; });
    }
    const std::unique_ptr<Block> block = std::move(m_blocks.front());
    m_blocks.pop_front();
    Entry& entry = m_entries[block->entry];
    if (block->failed) {
        error = DisplayPath(entry.source) + ": cannot be compressed (out of memory?)";
        return false;
    }
    if (block->first) {
        if (block->last && block->deflate && block->outputSize >= block->inputSize) {
            // Deflate did not shrink it: known before anything is written.
            block->deflate = false;
            entry.method = kStored;
        }
        entry.headerOffset = m_position;
        entry.crc = block->crc;
        entry.compressedSize = block->DataSize();
        if (!WriteLocalHeader(entry, error)) {
            return false;
        }
        m_dataStart = m_position;
        m_dataCrc = 0;
    }
    if (!WriteBytes(block->Data(), block->DataSize(), error)) {
        return false;
    }
    m_dataCrc = static_cast<std::uint32_t>(
        crc32_combine(m_dataCrc, block->crc, static_cast<z_off_t>(block->inputSize)));
    if (m_progress != nullptr) {
        m_progress->Add(block->inputSize);
    }
    return !block->last || block->first || EndEntry(entry, error);
}

// An entry of several blocks: its header is rewritten once the data is known.
bool ZipWriter::EndEntry(Entry& entry, std::string& error) {
    entry.crc = m_dataCrc;
    entry.compressedSize = m_position - m_dataStart;
    if (entry.compressedSize >= entry.size && !StoreAgain(entry, error)) {
        return false;
    }
    const std::uint64_t dataEnd = m_position;
    return MoveTo(entry.headerOffset, error) && WriteLocalHeader(entry, error) &&
           MoveTo(dataEnd, error);
}

// Deflate did not shrink it: store it over the deflated bytes instead.
bool ZipWriter::StoreAgain(Entry& entry, std::string& error) {
    const std::string sourceName = DisplayPath(entry.source);
    FileHandle input;
    const std::unique_ptr<unsigned char[]> buffer = NewPieceBuffer();
    if (!buffer) {
        error = "out of memory";
        return false;
    }
    if (!OpenSource(entry.source, entry.offset, input, error) || !MoveTo(m_dataStart, error)) {
        return false;
    }
    std::uint32_t crc = 0;
    const PieceRun stored = ReadPieces(
        input.get(), entry.size, buffer.get(), [this, &error] { return Stopped(m_stop, error); },
        [this, &crc, &error](const unsigned char* bytes, std::size_t size) {
            crc = UpdateCrc(crc, bytes, size);
            return WriteBytes(bytes, size, error);
        });
    if (stored == PieceRun::NotRead) {
        error = ShortReadError(input.get(), sourceName);
    }
    if (stored != PieceRun::Done) {
        return false;
    }
    if (crc != entry.crc) {
        error = sourceName + ": changed while it was read";
        return false;
    }
    entry.method = kStored;
    entry.compressedSize = entry.size;
    return true;
}

bool ZipWriter::Finish(std::string& error) {
    while (!m_blocks.empty()) {
        if (!WriteOldestBlock(error)) {
            return false;
        }
    }
    const std::uint64_t directoryStart = m_position;
    for (const Entry& entry : m_entries) {
        if (!WriteCentralHeader(entry, error)) {
            return false;
        }
    }
    return WriteEndRecords(directoryStart, m_position - directoryStart, error);
}

#include "ZipWriter.h"

#include "FileSystem.h"
#include "TextConversion.h"

#include <zlib.h>

#include <algorithm>
#include <new>

namespace {

constexpr std::size_t kBufferSize = 1 << 20;

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

// Reads exactly size bytes in pieces, handing each to consume; a whole file must end right there,
// a slice may be followed by more.
template <typename Consume>
bool ReadSource(std::FILE* source, const std::string& sourceName, std::uint64_t size, bool slice,
                unsigned char* buffer, const std::atomic<bool>* stop, Consume consume,
                std::string& error) {
    std::uint64_t remaining = size;
    while (remaining != 0) {
        if (stop != nullptr && *stop) {
            error = "interrupted";
            return false;
        }
        const auto piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kBufferSize));
        const std::size_t read = std::fread(buffer, 1, piece, source);
        if (read != piece) {
            error = sourceName + (std::ferror(source) ? ": cannot be read"
                                                      : ": became shorter while it was read");
            return false;
        }
        if (!consume(buffer, piece, remaining == piece)) {
            return false;
        }
        remaining -= piece;
    }
    if (!slice && std::fgetc(source) != EOF) {
        error = sourceName + ": grew while it was read";
        return false;
    }
    return true;
}

std::uint32_t UpdateCrc(std::uint32_t crc, const unsigned char* bytes, std::size_t count) {
    return static_cast<std::uint32_t>(crc32(crc, bytes, static_cast<uInt>(count)));
}

} // namespace

ZipWriter::ZipWriter(std::FILE* file, std::int64_t archiveStart, int level, ZipLimits limits)
    : m_file(file), m_archiveStart(archiveStart), m_level(level), m_limits(limits) {}

std::uint16_t ZipWriter::VersionNeeded(const Entry& entry) const {
    if (NeedsZip64(entry.size) || NeedsZip64(entry.headerOffset)) {
        return 45;
    }
    return entry.method == kDeflated || entry.directory ? 20 : 10;
}

bool ZipWriter::WriteBytes(const void* bytes, std::size_t count, std::string& error) {
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

bool ZipWriter::EnsureBuffers(std::string& error) {
    if (!m_input) {
        m_input.reset(new (std::nothrow) unsigned char[kBufferSize]);
        m_output.reset(new (std::nothrow) unsigned char[kBufferSize]);
    }
    if (!m_input || !m_output) {
        error = "out of memory";
        return false;
    }
    return true;
}

bool ZipWriter::StoreData(std::FILE* source, const std::string& sourceName, Entry& entry,
                          std::string& error) {
    std::uint32_t crc = 0;
    auto store = [&](const unsigned char* bytes, std::size_t count, bool) {
        crc = UpdateCrc(crc, bytes, count);
        return WriteBytes(bytes, count, error);
    };
    if (!ReadSource(source, sourceName, entry.size, m_offset != 0, m_input.get(), m_stop, store,
                    error)) {
        return false;
    }
    entry.compressedSize = entry.size;
    entry.crc = crc;
    return true;
}

bool ZipWriter::DeflateData(std::FILE* source, const std::string& sourceName, Entry& entry,
                            std::string& error) {
    z_stream stream{};
    // Raw deflate: the ZIP records carry what a zlib header and trailer would.
    if (deflateInit2(&stream, m_level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        error = "out of memory";
        return false;
    }
    const std::uint64_t dataStart = m_position;
    std::uint32_t crc = 0;
    auto compress = [&](const unsigned char* bytes, std::size_t count, bool last) {
        crc = UpdateCrc(crc, bytes, count);
        stream.next_in = const_cast<unsigned char*>(bytes);
        stream.avail_in = static_cast<uInt>(count);
        int result = Z_OK;
        do {
            stream.next_out = m_output.get();
            stream.avail_out = static_cast<uInt>(kBufferSize);
            result = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            if (result == Z_STREAM_ERROR ||
                !WriteBytes(m_output.get(), kBufferSize - stream.avail_out, error)) {
                return false;
            }
        } while (stream.avail_out == 0 || (last && result != Z_STREAM_END));
        return true;
    };
    const bool compressed = ReadSource(source, sourceName, entry.size, m_offset != 0, m_input.get(),
                                       m_stop, compress, error);
    deflateEnd(&stream);
    entry.compressedSize = m_position - dataStart;
    entry.crc = crc;
    return compressed;
}

bool ZipWriter::AddDirectory(const std::string& name, std::string& error) {
    Entry entry;
    entry.name = name;
    entry.directory = true;
    entry.headerOffset = m_position;
    if (!WriteLocalHeader(entry, error)) {
        return false;
    }
    m_entries.push_back(entry);
    return true;
}

bool ZipWriter::AddFile(const std::string& name, const std::filesystem::path& source,
                        std::uint64_t offset, std::uint64_t size, std::string& error) {
    const std::string sourceName = DisplayPath(source);
    FileHandle input = OpenFile(source, "rb");
    if (!input) {
        error = sourceName + ": cannot be opened";
        return false;
    }
    m_offset = offset;
    if (!SeekFile(input.get(), static_cast<std::int64_t>(offset))) {
        error = sourceName + ": cannot be read";
        return false;
    }
    if (!EnsureBuffers(error)) {
        return false;
    }
    Entry entry;
    entry.name = name;
    entry.size = size;
    entry.headerOffset = m_position;
    entry.method = m_level > 0 && size > 0 ? kDeflated : kStored;
    if (!WriteLocalHeader(entry, error)) {
        return false;
    }
    const std::uint64_t dataStart = m_position;
    if (entry.method == kDeflated) {
        if (!DeflateData(input.get(), sourceName, entry, error)) {
            return false;
        }
        if (entry.compressedSize >= entry.size) {
            // Deflate did not shrink it: store it over the deflated bytes instead.
            const std::uint32_t deflatedCrc = entry.crc;
            entry.method = kStored;
            if (!SeekFile(input.get(), static_cast<std::int64_t>(offset))) {
                error = sourceName + ": cannot be read";
                return false;
            }
            if (!MoveTo(dataStart, error) || !StoreData(input.get(), sourceName, entry, error)) {
                return false;
            }
            if (entry.crc != deflatedCrc) {
                error = sourceName + ": changed while it was read";
                return false;
            }
        }
    } else if (!StoreData(input.get(), sourceName, entry, error)) {
        return false;
    }
    const std::uint64_t dataEnd = m_position;
    if (!MoveTo(entry.headerOffset, error) || !WriteLocalHeader(entry, error) ||
        !MoveTo(dataEnd, error)) {
        return false;
    }
    m_entries.push_back(entry);
    return true;
}

bool ZipWriter::Finish(std::string& error) {
    const std::uint64_t directoryStart = m_position;
    for (const Entry& entry : m_entries) {
        if (!WriteCentralHeader(entry, error)) {
            return false;
        }
    }
    return WriteEndRecords(directoryStart, m_position - directoryStart, error);
}

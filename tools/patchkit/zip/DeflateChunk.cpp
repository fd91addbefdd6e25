#include "zip/DeflateChunk.h"

#include <libdeflate.h>
#include <zlib.h>
#include <zopfli/deflate.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

namespace {

// An empty stored block after a non-final chunk brings the stream to a byte boundary: its three
// header bits, up to seven padding bits, and the lengths 0 and ~0.
constexpr std::size_t kStoredBlockRoom = 5;
// Where zlib's inflate writes what it decodes while it looks for the chunk's last block.
constexpr std::size_t kScratchSize = 1 << 16;
// The level that also tries zopfli on each chunk, and how many times zopfli refines its parse:
// its own default. On 15 MB of programs, scripts and text, 5 and 10 also came under whole-file
// zopfli's archive, by 0.02% and 0.03%; 15 by 0.04%, the widest margin, for 1.5 times the time.
constexpr int kZopfliLevel = kMaxLevel;
constexpr int kZopfliIterations = 15;

// Today's bytes: the chunk primed with the data ahead of it, and ended by a sync flush unless it
// is the last.
[[nodiscard]] bool DeflateWithZlib(const DeflateChunkInput& chunk, unsigned char* output,
                                   std::size_t& outputSize) {
    z_stream stream{};
    // Raw deflate: the ZIP records carry what a zlib header and trailer would.
    if (deflateInit2(&stream, chunk.level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }
    bool failed = chunk.dictionarySize != 0 &&
                  deflateSetDictionary(&stream, chunk.dictionary,
                                       static_cast<uInt>(chunk.dictionarySize)) != Z_OK;
    const std::size_t room = DeflateChunkRoom(chunk.size);
    stream.next_in = const_cast<unsigned char*>(chunk.data);
    stream.avail_in = static_cast<uInt>(chunk.size);
    stream.next_out = output;
    stream.avail_out = static_cast<uInt>(room);
    const int result = deflate(&stream, chunk.last ? Z_FINISH : Z_SYNC_FLUSH);
    failed = failed || stream.avail_in != 0 || stream.avail_out == 0 ||
             result != (chunk.last ? Z_STREAM_END : Z_OK);
    outputSize = room - stream.avail_out;
    deflateEnd(&stream);
    return !failed;
}

// Bit positions in a complete deflate stream: where its final block's header starts and where
// the stream ends, counted from the first byte's lowest bit.
struct FinalBlockBits {
    std::size_t header = 0;
    std::size_t end = 0;
};

// Decodes the stream with zlib, stopping after each block, as zlib's gzjoin example does. The
// decoded length must be the chunk's: the encoders agree, or the chunk is not written.
[[nodiscard]] bool FindFinalBlock(const unsigned char* stream, std::size_t size,
                                  std::size_t decodedSize, FinalBlockBits& bits) {
    const std::unique_ptr<unsigned char[]> scratch(new (std::nothrow) unsigned char[kScratchSize]);
    z_stream inflater{};
    if (!scratch || inflateInit2(&inflater, -MAX_WBITS) != Z_OK) {
        return false;
    }
    inflater.next_in = const_cast<unsigned char*>(stream);
    inflater.avail_in = static_cast<uInt>(size);
    bool found = false;
    while (!found) {
        inflater.next_out = scratch.get();
        inflater.avail_out = static_cast<uInt>(kScratchSize);
        if (inflate(&inflater, Z_BLOCK) != Z_OK) {
            break;
        }
        const int state = inflater.data_type;
        const bool atBoundary = (state & 128) != 0;
        const bool afterFinal = (state & 64) != 0;
        const std::size_t position =
            (size - inflater.avail_in) * 8 - static_cast<std::size_t>(state & 7);
        if (atBoundary && !afterFinal) {
            bits.header = position;
        }
        found = atBoundary && afterFinal;
        bits.end = position;
    }
    found = found && inflater.total_out == decodedSize;
    inflateEnd(&inflater);
    return found;
}

// An empty stored block's lengths, 0 and ~0.
constexpr unsigned char kEmptyStoredLengths[] = {0x00, 0x00, 0xFF, 0xFF};

// The size of a stream that ends at bit end once an empty stored block follows it: the block's
// three header bits, the padding to a byte, and its lengths.
std::size_t SizeWithEmptyStoredBlock(std::size_t end) {
    return (end + 3 + 7) / 8 + sizeof kEmptyStoredLengths;
}

// Follows a stream that ends at bit end with no final block by an empty stored block, which ends
// on a byte boundary: the next chunk's blocks continue the stream. Returns the new size.
std::size_t AppendEmptyStoredBlock(unsigned char* stream, std::size_t end) {
    // Padding after the last block, then the stored block's header: all zero bits.
    const std::size_t endByte = end / 8;
    stream[endByte] &= static_cast<unsigned char>((1u << (end % 8)) - 1);
    const std::size_t size = SizeWithEmptyStoredBlock(end);
    const std::size_t lengthsAt = size - sizeof kEmptyStoredLengths;
    for (std::size_t at = endByte + 1; at < lengthsAt; ++at) {
        stream[at] = 0;
    }
    std::memcpy(stream + lengthsAt, kEmptyStoredLengths, sizeof kEmptyStoredLengths);
    return size;
}

// Makes the final block an ordinary one, so that the next chunk's blocks continue the stream.
void OpenStreamEnd(unsigned char* stream, std::size_t& size, const FinalBlockBits& bits) {
    stream[bits.header / 8] &= static_cast<unsigned char>(~(1u << (bits.header % 8)));
    size = AppendEmptyStoredBlock(stream, bits.end);
}

struct CompressorRelease {
    void operator()(libdeflate_compressor* compressor) const {
        libdeflate_free_compressor(compressor);
    }
};

// The optimal-parsing encoder compresses whole buffers into a complete stream only; a chunk
// before the last is opened up afterwards.
[[nodiscard]] bool DeflateWithOptimalParsing(const DeflateChunkInput& chunk, unsigned char* output,
                                             std::size_t& outputSize) {
    // Its levels 10 to 12 are the ones that parse optimally; ours number them the same.
    const std::unique_ptr<libdeflate_compressor, CompressorRelease> compressor(
        libdeflate_alloc_compressor(chunk.level));
    if (!compressor) {
        return false;
    }
    outputSize = libdeflate_deflate_compress(compressor.get(), chunk.data, chunk.size, output,
                                             DeflateChunkRoom(chunk.size) - kStoredBlockRoom);
    if (outputSize == 0) {
        return false;
    }
    if (chunk.last) {
        return true;
    }
    FinalBlockBits bits;
    if (!FindFinalBlock(output, outputSize, chunk.size, bits)) {
        return false;
    }
    OpenStreamEnd(output, outputSize, bits);
    return true;
}

struct MallocRelease {
    void operator()(unsigned char* bytes) const { std::free(bytes); }
};

// A chunk's blocks as zopfli gives them, as a bit length: zopfli appends to a buffer it allocates.
struct ZopfliStream {
    std::unique_ptr<unsigned char, MallocRelease> bytes;
    std::size_t size = 0;
    std::size_t endBit = 0;
};

// The data ahead of the chunk and the chunk, one after the other: zopfli takes its window from
// the bytes before the part it compresses. The first chunk has none and is used as it is.
[[nodiscard]] bool WindowAndChunk(const DeflateChunkInput& chunk,
                                  std::unique_ptr<unsigned char[]>& joined,
                                  const unsigned char*& input) {
    input = chunk.data;
    if (chunk.dictionarySize == 0) {
        return true;
    }
    joined.reset(new (std::nothrow) unsigned char[chunk.dictionarySize + chunk.size]);
    if (!joined) {
        return false;
    }
    std::memcpy(joined.get(), chunk.dictionary, chunk.dictionarySize);
    std::memcpy(joined.get() + chunk.dictionarySize, chunk.data, chunk.size);
    input = joined.get();
    return true;
}

// False when memory for the window ran out; zopfli itself ends the process when its own runs out
// (it allocates about 30 bytes for each byte of the chunk).
[[nodiscard]] bool DeflateWithZopfli(const DeflateChunkInput& chunk, ZopfliStream& stream) {
    std::unique_ptr<unsigned char[]> joined;
    const unsigned char* input = nullptr;
    if (!WindowAndChunk(chunk, joined, input)) {
        return false;
    }
    ZopfliOptions options;
    ZopfliInitOptions(&options);
    options.numiterations = kZopfliIterations;
    unsigned char bitInLastByte = 0;
    unsigned char* bytes = nullptr;
    const int dynamicBlocks = 2;
    ZopfliDeflatePart(&options, dynamicBlocks, chunk.last ? 1 : 0, input, chunk.dictionarySize,
                      chunk.dictionarySize + chunk.size, &bitInLastByte, &bytes, &stream.size);
    stream.bytes.reset(bytes);
    // A bit position of 0 means the last byte is full.
    stream.endBit = stream.size * 8 - (bitInLastByte == 0 ? 0 : 8 - bitInLastByte);
    return true;
}

// libdeflate's blocks, or zopfli's where they are smaller. zopfli is skipped where libdeflate
// could not shrink the chunk: such data (already compressed) leaves it nothing to gain, and the
// rule depends on the chunk alone, so the bytes stay the same for any number of threads.
[[nodiscard]] bool DeflateWithBothEncoders(const DeflateChunkInput& chunk, unsigned char* output,
                                           std::size_t& outputSize) {
    if (!DeflateWithOptimalParsing(chunk, output, outputSize)) {
        return false;
    }
    if (outputSize >= chunk.size) {
        return true;
    }
    ZopfliStream zopfli;
    if (!DeflateWithZopfli(chunk, zopfli)) {
        return false;
    }
    const std::size_t size = chunk.last ? zopfli.size : SizeWithEmptyStoredBlock(zopfli.endBit);
    if (size >= outputSize) {
        return true;
    }
    std::memcpy(output, zopfli.bytes.get(), zopfli.size);
    outputSize = chunk.last ? zopfli.size : AppendEmptyStoredBlock(output, zopfli.endBit);
    return true;
}

} // namespace

bool ChunkNeedsDictionary(int level) {
    return level <= kLastZlibLevel || level == kZopfliLevel;
}

std::size_t DeflateChunkRoom(std::size_t inputSize) {
    // zlib's room for input that does not shrink: its stored-block framing and the flush marker.
    const std::size_t zlibRoom = inputSize + inputSize / 256 + 1024;
    const std::size_t optimalRoom =
        libdeflate_deflate_compress_bound(nullptr, inputSize) + kStoredBlockRoom;
    return zlibRoom > optimalRoom ? zlibRoom : optimalRoom;
}

bool DeflateChunk(const DeflateChunkInput& chunk, unsigned char* output, std::size_t& outputSize) {
    if (chunk.level <= kLastZlibLevel) {
        return DeflateWithZlib(chunk, output, outputSize);
    }
    return chunk.level == kZopfliLevel ? DeflateWithBothEncoders(chunk, output, outputSize)
                                       : DeflateWithOptimalParsing(chunk, output, outputSize);
}

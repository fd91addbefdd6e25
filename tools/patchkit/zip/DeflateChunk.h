#pragma once

#include <cstddef>

// Deflate levels as --level gives them. 0 stores; 1 to 9 are zlib's levels, the bytes they have
// always given; from 10 a second encoder (libdeflate) searches for the cheapest matches (optimal
// parsing), slower and smaller; 12 also has zopfli compress each chunk and keeps the smaller.
constexpr int kStoreLevel = 0;
constexpr int kLastZlibLevel = 9;
constexpr int kDefaultLevel = 11;
constexpr int kMaxLevel = 12;

// One chunk of an entry's data. Chunks are compressed apart and joined into one deflate stream by
// writing them one after another: every chunk but the last ends on a byte boundary with no final
// block, the last ends the stream.
struct DeflateChunkInput {
    int level = kDefaultLevel; // 1 to kMaxLevel
    const unsigned char* data = nullptr;
    std::size_t size = 0;
    // The 32 KiB ahead of the chunk, which zlib's levels and zopfli refer back to; libdeflate
    // compresses each chunk alone.
    const unsigned char* dictionary = nullptr;
    std::size_t dictionarySize = 0;
    bool last = false;
};

// Whether chunks after the first need the 32 KiB ahead of them at this level.
bool ChunkNeedsDictionary(int level);

// The output room a chunk of inputSize bytes needs at any level, framing included.
std::size_t DeflateChunkRoom(std::size_t inputSize);

// Writes the chunk's deflate blocks to output (DeflateChunkRoom bytes) and their length to
// outputSize; false when memory ran out.
[[nodiscard]] bool DeflateChunk(const DeflateChunkInput& chunk, unsigned char* output,
                                std::size_t& outputSize);

#include "zip/DeflateChunk.h"
#include "support/PackageBuilder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

const unsigned char* BytesOf(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

// The chunks compressed one after another at the level, each but the first with the 32 KiB
// ahead of it where the level uses one, and their outputs written one after another.
std::string JoinedStream(const std::vector<std::string>& chunks, int level) {
    std::string whole;
    std::string joined;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        DeflateChunkInput chunk;
        chunk.level = level;
        chunk.data = BytesOf(chunks[i]);
        chunk.size = chunks[i].size();
        const std::size_t ahead = std::min<std::size_t>(whole.size(), 32768);
        if (ChunkNeedsDictionary(level) && ahead != 0) {
            chunk.dictionary = BytesOf(whole) + whole.size() - ahead;
            chunk.dictionarySize = ahead;
        }
        chunk.last = i + 1 == chunks.size();
        std::vector<unsigned char> output(DeflateChunkRoom(chunk.size));
        std::size_t outputSize = 0;
        EXPECT_TRUE(DeflateChunk(chunk, output.data(), outputSize));
        EXPECT_LE(outputSize, output.size());
        joined.append(reinterpret_cast<const char*>(output.data()), outputSize);
        whole += chunks[i];
    }
    return joined;
}

// zlib's inflate of a raw deflate stream; empty when it is not one complete stream.
std::string Inflated(const std::string& stream, std::size_t expectedSize) {
    std::string output(expectedSize + 1, '\0');
    z_stream inflater{};
    EXPECT_EQ(inflateInit2(&inflater, -MAX_WBITS), Z_OK);
    inflater.next_in = const_cast<unsigned char*>(BytesOf(stream));
    inflater.avail_in = static_cast<uInt>(stream.size());
    inflater.next_out = reinterpret_cast<unsigned char*>(&output[0]);
    inflater.avail_out = static_cast<uInt>(output.size());
    const int result = inflate(&inflater, Z_FINISH);
    const bool whole = result == Z_STREAM_END && inflater.avail_in == 0;
    output.resize(inflater.total_out);
    inflateEnd(&inflater);
    return whole ? output : std::string();
}

// A chunk's blocks end at any of the eight bit positions of a byte; the join must continue the
// stream from each of them. Short chunks of varied lengths reach them all.
TEST(DeflateChunkTest, ChunksJoinIntoOneStreamWhereverTheirLastBlockEnds) {
    for (const int level : {1, 6, 10, 12}) {
        SCOPED_TRACE("level " + std::to_string(level));
        for (std::size_t length = 1; length <= 48; ++length) {
            SCOPED_TRACE("first chunk of " + std::to_string(length) + " bytes");
            const std::vector<std::string> chunks = {
                testsupport::PatternedData(length, static_cast<std::uint32_t>(length)),
                testsupport::NoiseData(length + 3), testsupport::PatternedData(5000, 2)};
            const std::string stream = JoinedStream(chunks, level);
            EXPECT_EQ(Inflated(stream, 7000), chunks[0] + chunks[1] + chunks[2]);
        }
    }
}

TEST(DeflateChunkTest, OptimalParsingLevelsGiveSmallerStreamsThanZlibsBest) {
    const std::vector<std::string> chunks = {testsupport::PatternedData(300000, 4),
                                             testsupport::PatternedData(200000, 5)};
    const std::size_t zlibBest = JoinedStream(chunks, kLastZlibLevel).size();
    std::size_t previous = zlibBest;
    for (int level = kLastZlibLevel + 1; level <= kMaxLevel; ++level) {
        const std::string stream = JoinedStream(chunks, level);
        EXPECT_EQ(Inflated(stream, 500000), chunks[0] + chunks[1]);
        EXPECT_LE(stream.size(), previous) << "level " << level;
        previous = stream.size();
    }
    EXPECT_LT(previous, zlibBest);
}

// At the highest level zopfli continues the stream from the 32 KiB ahead of a chunk: chunks that
// repeat what came before them cost next to nothing, wherever their blocks end, and the whole
// inflates exactly.
TEST(DeflateChunkTest, HighestLevelRefersBackAcrossChunkBoundaries) {
    const std::string earlier = testsupport::PatternedData(4000, 6);
    const std::size_t earlierAlone = JoinedStream({earlier}, kMaxLevel).size();
    for (std::size_t extra = 0; extra < 8; ++extra) {
        SCOPED_TRACE("repeats longer by " + std::to_string(extra) + " bytes");
        const std::vector<std::string> chunks = {
            earlier, earlier.substr(500 + 13 * extra, 1000 + 41 * extra),
            earlier.substr(100 * extra, 1000 + 7 * extra)};
        const std::string stream = JoinedStream(chunks, kMaxLevel);
        EXPECT_EQ(Inflated(stream, 8000), chunks[0] + chunks[1] + chunks[2]);
        EXPECT_LT(stream.size(), earlierAlone + 100);
    }
}

} // namespace

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>

// Files are read, copied and hashed in pieces of one size: large enough to keep pace with the
// disk, small enough that a cancel is seen and progress moves between them.
constexpr std::size_t kPieceSize = 1 << 20;

// kPieceSize bytes, or null when the memory cannot be had.
std::unique_ptr<unsigned char[]> NewPieceBuffer();

enum class PieceRun {
    Done,
    Stopped, // stopped() said so before a piece
    NotRead, // the file ended early or could not be read
    NotUsed, // use() gave up on a piece; for a copy, a write failed
};

// Asked before each piece; an empty one never stops.
using StopCheck = std::function<bool()>;
// Takes one piece; false gives up.
using PieceUse = std::function<bool(unsigned char* bytes, std::size_t size)>;

// Reads exactly count bytes of file from where it stands, a piece at a time into buffer (of
// kPieceSize bytes), and hands each piece to use.
[[nodiscard]] PieceRun ReadPieces(std::FILE* file, std::uint64_t count, unsigned char* buffer,
                                  const StopCheck& stopped, const PieceUse& use);
// Likewise up to the file's end, whatever its length: the last piece may be short.
[[nodiscard]] PieceRun ReadPiecesToEnd(std::FILE* file, unsigned char* buffer,
                                       const StopCheck& stopped, const PieceUse& use);
// Copies exactly count bytes from where from stands to where to stands.
[[nodiscard]] PieceRun CopyPieces(std::FILE* from, std::uint64_t count, std::FILE* to,
                                  unsigned char* buffer, const StopCheck& stopped);

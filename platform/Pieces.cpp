#include "platform/Pieces.h"

#include <algorithm>
#include <limits>
#include <new>

namespace {

// No file holds as many bytes: a run of this count ends where the file does.
constexpr std::uint64_t kToTheEnd = std::numeric_limits<std::uint64_t>::max();

} // namespace

std::unique_ptr<unsigned char[]> NewPieceBuffer() {
    return std::unique_ptr<unsigned char[]>(new (std::nothrow) unsigned char[kPieceSize]);
}

PieceRun ReadPieces(std::FILE* file, std::uint64_t count, unsigned char* buffer,
                    const StopCheck& stopped, const PieceUse& use) {
    const bool exact = count != kToTheEnd;
    for (std::uint64_t left = count; left != 0;) {
        if (stopped && stopped()) {
            return PieceRun::Stopped;
        }
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, kPieceSize));
        const std::size_t read = std::fread(buffer, 1, piece, file);
        if (exact && read != piece) {
            return PieceRun::NotRead;
        }
        if (read != 0 && !use(buffer, read)) {
            return PieceRun::NotUsed;
        }
        if (read != piece) {
            return std::ferror(file) ? PieceRun::NotRead : PieceRun::Done;
        }
        left -= piece;
    }
    return PieceRun::Done;
}

PieceRun ReadPiecesToEnd(std::FILE* file, unsigned char* buffer, const StopCheck& stopped,
                         const PieceUse& use) {
    return ReadPieces(file, kToTheEnd, buffer, stopped, use);
}

PieceRun CopyPieces(std::FILE* from, std::uint64_t count, std::FILE* to, unsigned char* buffer,
                    const StopCheck& stopped) {
    return ReadPieces(from, count, buffer, stopped, [to](unsigned char* bytes, std::size_t size) {
        return std::fwrite(bytes, 1, size, to) == size;
    });
}

#include "release/FileComparison.h"

#include "base/TextConversion.h"
#include "platform/FileSystem.h"
#include "platform/Pieces.h"

#include <algorithm>
#include <cstring>

namespace {

// The bytes two pieces share from their start; memcmp tells equal pieces apart fastest.
std::size_t CommonLength(const unsigned char* a, const unsigned char* b, std::size_t size) {
    if (std::memcmp(a, b, size) == 0) {
        return size;
    }
    return static_cast<std::size_t>(std::mismatch(a, a + size, b).first - a);
}

} // namespace

FileComparer::FileComparer(ProgressCallback progress, const std::atomic<bool>* stop)
    : m_progress(std::move(progress)), m_stop(stop) {}

bool FileComparer::HaveBuffers() {
    if (!m_first) {
        m_first = NewPieceBuffer();
        m_second = NewPieceBuffer();
        if (!m_first || !m_second) {
            m_first.reset();
            return false;
        }
    }
    return true;
}

bool FileComparer::FirstDifference(const std::filesystem::path& a, const std::filesystem::path& b,
                                   std::uint64_t count, std::uint64_t& difference,
                                   std::string& error) {
    if (!HaveBuffers()) {
        error = "not enough memory to compare files";
        return false;
    }
    FileHandle first = OpenFile(a, "rb");
    FileHandle second = OpenFile(b, "rb");
    if (!first || !second) {
        error = DisplayPath(first ? b : a) + ": cannot be opened";
        return false;
    }
    difference = 0;
    bool differs = false;
    // Each piece of a is matched by the same bytes of b.
    const PieceRun run = ReadPieces(
        first.get(), count, m_first.get(), [this] { return Stopped(); },
        [&](const unsigned char* piece, std::size_t size) {
            if (std::fread(m_second.get(), 1, size, second.get()) != size) {
                error = DisplayPath(b) + ": cannot be read";
                return false;
            }
            CountCompared(size);
            const std::size_t same = CommonLength(piece, m_second.get(), size);
            difference += same;
            differs = same != size;
            return !differs;
        });
    if (run == PieceRun::Stopped) {
        error = "interrupted";
    } else if (run == PieceRun::NotRead) {
        error = DisplayPath(a) + ": cannot be read";
    }
    return run == PieceRun::Done || differs;
}

void FileComparer::CountCompared(std::uint64_t bytes) {
    m_done += bytes;
    if (m_progress) {
        m_progress(m_done, std::max(m_done, m_total));
    }
}

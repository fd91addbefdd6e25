#include "release/FileComparison.h"

#include "base/TextConversion.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// Large reads keep the comparison at the disk's pace; two of them are all the memory it takes.
constexpr std::size_t kComparisonBufferSize = 1 << 20;

} // namespace

FileComparer::FileComparer(ProgressCallback progress, const std::atomic<bool>* stop)
    : m_progress(std::move(progress)), m_stop(stop) {}

bool FileComparer::FirstDifference(const std::filesystem::path& a, const std::filesystem::path& b,
                                   std::uint64_t count, std::uint64_t& difference,
                                   std::string& error) {
    if (!m_first) {
        m_first.reset(new (std::nothrow) unsigned char[kComparisonBufferSize]);
        m_second.reset(new (std::nothrow) unsigned char[kComparisonBufferSize]);
        if (!m_first || !m_second) {
            m_first.reset();
            error = "not enough memory to compare files";
            return false;
        }
    }
    FileHandle first = OpenFile(a, "rb");
    FileHandle second = OpenFile(b, "rb");
    if (!first || !second) {
        error = DisplayPath(first ? b : a) + ": cannot be opened";
        return false;
    }
    for (difference = 0; difference < count;) {
        if (Stopped()) {
            error = "interrupted";
            return false;
        }
        const auto piece = static_cast<std::size_t>(
            std::min<std::uint64_t>(count - difference, kComparisonBufferSize));
        if (std::fread(m_first.get(), 1, piece, first.get()) != piece) {
            error = DisplayPath(a) + ": cannot be read";
            return false;
        }
        if (std::fread(m_second.get(), 1, piece, second.get()) != piece) {
            error = DisplayPath(b) + ": cannot be read";
            return false;
        }
        m_done += piece;
        if (m_progress) {
            m_progress(m_done, std::max(m_done, m_total));
        }
        if (std::memcmp(m_first.get(), m_second.get(), piece) != 0) {
            const auto mismatch =
                std::mismatch(m_first.get(), m_first.get() + piece, m_second.get());
            difference += static_cast<std::uint64_t>(mismatch.first - m_first.get());
            return true;
        }
        difference += piece;
    }
    return true;
}

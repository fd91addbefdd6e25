#include "package/LocalState.h"

#include "platform/FileReplacement.h"
#include "platform/FileSystem.h"

#include <cinttypes>
#include <filesystem>
#include <string>

namespace {

constexpr const char* kLocalStateTemporaryName = "version.ini.new";

enum class Scan { Number, NotANumber, OutOfRange };

struct ScannedInteger {
    bool negative = false;
    std::uint64_t magnitude = 0;
};

bool IsFormattedInputSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// What a formatted integer conversion accepts: white space, an optional sign, decimal digits.
// Magnitudes beyond 2^63 are out of range for every value of the file.
Scan ScanInteger(const std::string& text, std::size_t& position, ScannedInteger& integer) {
    constexpr std::uint64_t kMagnitudeLimit = std::uint64_t{1} << 63;
    while (position < text.size() && IsFormattedInputSpace(text[position])) {
        ++position;
    }
    integer = ScannedInteger{};
    if (position < text.size() && (text[position] == '-' || text[position] == '+')) {
        integer.negative = text[position] == '-';
        ++position;
    }
    if (position >= text.size() || !IsDigit(text[position])) {
        return Scan::NotANumber;
    }
    for (; position < text.size() && IsDigit(text[position]); ++position) {
        const auto digit = static_cast<std::uint64_t>(text[position] - '0');
        if (integer.magnitude > (kMagnitudeLimit - digit) / 10) {
            return Scan::OutOfRange;
        }
        integer.magnitude = integer.magnitude * 10 + digit;
    }
    return Scan::Number;
}

// The version is written as a signed 32-bit decimal and used as unsigned: -1 is 4294967295.
bool ToLocalVersion(const ScannedInteger& integer, std::uint32_t& version) {
    constexpr std::uint64_t kSignedLimit = std::uint64_t{1} << 31;
    constexpr std::uint64_t kUnsignedLimit = 0xFFFFFFFFu;
    if (integer.magnitude > (integer.negative ? kSignedLimit : kUnsignedLimit)) {
        return false;
    }
    const auto magnitude = static_cast<std::uint32_t>(integer.magnitude);
    version = integer.negative ? 0u - magnitude : magnitude;
    return true;
}

bool ToPakAppendOffset(const ScannedInteger& integer, std::int64_t& offset) {
    constexpr std::uint64_t kLimit = static_cast<std::uint64_t>(INT64_MAX);
    if ((integer.negative && integer.magnitude != 0) || integer.magnitude > kLimit) {
        return false;
    }
    offset = static_cast<std::int64_t>(integer.magnitude);
    return true;
}

// Two numbers take a few dozen bytes; a file far larger than that is no state to trust, and
// reading it whole would let it take any amount of memory.
constexpr std::size_t kMaximumStateFileSize = 64 * 1024;

bool ReadWholeFile(std::FILE* file, std::string& text) {
    char buffer[4096];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        if (text.size() + count > kMaximumStateFileSize) {
            return false;
        }
        text.append(buffer, count);
    }
    return std::ferror(file) == 0;
}

bool ParseLocalState(const std::string& text, LocalState& state) {
    std::size_t position = 0;
    ScannedInteger integer;
    LocalState parsed;
    if (ScanInteger(text, position, integer) != Scan::Number ||
        !ToLocalVersion(integer, parsed.localVersion) || parsed.localVersion == 0) {
        return false;
    }
    // A missing second value means no offset is recorded; a negative one cannot be trusted.
    const Scan offsetScan = ScanInteger(text, position, integer);
    if (offsetScan == Scan::OutOfRange ||
        (offsetScan == Scan::Number && !ToPakAppendOffset(integer, parsed.pakAppendOffset))) {
        return false;
    }
    state = parsed;
    return true;
}

std::string FormatLocalState(const LocalState& state) {
    // CR LF on every platform: byte for byte what a Windows text-mode write gives.
    char text[64];
    const int length =
        std::snprintf(text, sizeof text, "%" PRId32 "\r\n%" PRId64 "\r\n",
                      static_cast<std::int32_t>(state.localVersion), state.pakAppendOffset);
    return std::string(text, static_cast<std::size_t>(length));
}

FileHandle OpenWaiting(const std::filesystem::path& path, const char* mode, const LockWait& wait) {
    FileHandle file;
    static_cast<void>(OpenFileWaiting(path, mode, wait, file)); // an empty handle tells
    return file;
}

bool WriteTemporaryState(const std::filesystem::path& path, const std::string& text,
                         const LockWait& wait) {
    FileHandle file = OpenWaiting(path, "wb", wait);
    if (!file) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size() &&
                         FlushFileToDisk(file.get());
    return CloseWrittenFile(file) && written;
}

} // namespace

bool ReadLocalState(LocalState& state, const LockWait& wait) {
    return ReadLocalStateFile(kLocalStateFileName, state, wait);
}

bool ReadLocalStateFile(const std::filesystem::path& path, LocalState& state,
                        const LockWait& wait) {
    FileHandle file = OpenWaiting(path, "rb", wait);
    std::string text;
    return file && ReadWholeFile(file.get(), text) && ParseLocalState(text, state);
}

bool WriteLocalState(const LocalState& state, const LockWait& wait) {
    const std::filesystem::path target = kLocalStateFileName;
    const std::filesystem::path temporary = kLocalStateTemporaryName;
    // A version.ini that could not be opened for writing keeps its state on every platform, even
    // where a rename would replace a read-only file.
    if (!OpenWaiting(target, "r+b", wait)) {
        return false;
    }
    // A scanner typically opens the temporary file as soon as it is closed.
    return ReplaceFileThrough(
               temporary, target,
               [&] { return WriteTemporaryState(temporary, FormatLocalState(state), wait); },
               [&] {
                   return wait.Retry([&] { return TryReplaceFileAtomically(temporary, target); });
               }) == Replacement::Done;
}

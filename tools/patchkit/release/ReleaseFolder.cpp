#include "release/ReleaseFolder.h"

#include "base/TextConversion.h"
#include "package/LocalState.h"
#include "platform/FileSystem.h"
#include "platform/TextEncoding.h"
#include "rules/EntryNameRules.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {

constexpr std::size_t kCopyBufferSize = 1 << 20;

} // namespace

std::string KeyOf(const SourceEntry& entry) {
    std::string key = WrittenPath(entry.storedName);
    if (entry.directory && !key.empty()) {
        key.pop_back();
    }
    return key;
}

bool IsLocalStateEntry(const SourceEntry& entry) {
    return !entry.directory && KeyOf(entry) == kLocalStateFileName;
}

bool WrittenPathUnder(const std::filesystem::path& folder, const SourceEntry& entry,
                      std::filesystem::path& path) {
    std::string utf8;
    if (!Cp936ToUtf8(KeyOf(entry), utf8)) {
        return false;
    }
    path = folder / std::filesystem::u8path(utf8);
    return true;
}

bool CopyFileSlice(const std::filesystem::path& from, std::uint64_t offset, std::uint64_t size,
                   const std::filesystem::path& to, std::string& error) {
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kCopyBufferSize]);
    FileHandle source = OpenFile(from, "rb");
    if (!buffer || !source || !SeekFile(source.get(), static_cast<std::int64_t>(offset))) {
        error = DisplayPath(from) + ": cannot be read";
        return false;
    }
    FileHandle target = OpenFile(to, "wb");
    if (!target) {
        error = DisplayPath(to) + ": cannot be created";
        return false;
    }
    for (std::uint64_t remaining = size; remaining != 0;) {
        const auto piece =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, kCopyBufferSize));
        if (std::fread(buffer.get(), 1, piece, source.get()) != piece) {
            error = DisplayPath(from) + ": became shorter while it was read";
            return false;
        }
        if (std::fwrite(buffer.get(), 1, piece, target.get()) != piece) {
            error = DisplayPath(to) + ": cannot be written (is the disk full?)";
            return false;
        }
        remaining -= piece;
    }
    if (!CloseWrittenFile(target)) {
        error = DisplayPath(to) + ": cannot be written (is the disk full?)";
        return false;
    }
    return true;
}

std::filesystem::path UnusedPathBeside(const std::filesystem::path& output, const char* suffix) {
    namespace fs = std::filesystem;
    fs::path base = output.lexically_normal();
    if (!base.has_filename()) {
        base = base.parent_path();
    }
    std::error_code failure;
    if (base.empty() || base.filename() == "." || base.filename() == "..") {
        base = fs::absolute(base, failure).lexically_normal().parent_path();
    }
    base += suffix;
    fs::path candidate = base;
    for (int number = 2; fs::exists(fs::symlink_status(candidate, failure)); ++number) {
        candidate = base;
        candidate += "-" + std::to_string(number);
    }
    return candidate;
}

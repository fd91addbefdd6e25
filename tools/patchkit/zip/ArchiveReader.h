#pragma once

#include "base/TaskQueue.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct ArchiveEntry {
    std::string storedName; // the name bytes as stored: code page 936
    std::uint32_t method = 0;
    std::uint32_t flags = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint16_t madeBy = 0; // "version made by": the high byte names the host
    std::uint32_t externalAttributes = 0;
    std::string dataProblem; // after a verifying read: why the data does not come out right
    bool Encrypted() const { return (flags & 1) != 0; }
    // Made on a Unix host with a link's mode in the upper half of the external attributes, as
    // "zip -y" stores a link.
    bool IsSymbolicLink() const {
        constexpr std::uint16_t kUnixHost = 3;
        constexpr std::uint32_t kFileType = 0170000;
        constexpr std::uint32_t kLinkType = 0120000;
        return madeBy >> 8 == kUnixHost && (externalAttributes >> 16 & kFileType) == kLinkType;
    }
};

// The part of a file that holds a ZIP archive: the embedded archive of a package, or a whole
// archive file. Offsets inside the archive count from start.
struct FileWindow {
    std::FILE* file = nullptr;
    std::int64_t start = 0;
    std::int64_t length = 0;
    std::int64_t position = 0;
    std::mutex* shared = nullptr; // held around each read when several windows share the file
};

// Takes the next piece of the data of the entry at index, as a verifying read inflates it;
// several entries' at once from several threads, each entry's from one. False gives up on the
// entry, which then has a dataProblem.
using EntryDataUse =
    std::function<bool(std::size_t index, const unsigned char* bytes, std::size_t size)>;

// Walks the archive in central-directory order with minizip, the reader the updater uses, so it
// sees what the updater will see. With verify, every entry's data is inflated and its size and
// CRC checked, on work.jobs threads, its bytes counted by work.progress. False, with the reason,
// when the archive cannot be opened or its central directory cannot be walked to the end; entries
// then holds those read before the damage. use, when given, takes the data verify inflates.
[[nodiscard]] bool ReadArchiveEntries(FileWindow window, bool verify,
                                      std::vector<ArchiveEntry>& entries, std::string& error,
                                      const WorkSettings& work = {}, const EntryDataUse& use = {});

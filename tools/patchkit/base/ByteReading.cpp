#include "base/ByteReading.h"

#include "platform/FileSystem.h"

bool ReadAt(std::FILE* file, std::int64_t offset, void* buffer, std::size_t size) {
    return SeekFile(file, offset) && std::fread(buffer, 1, size, file) == size;
}

#include "base/ByteReading.h"

#include "platform/FileSystem.h"

bool ReadAt(std::FILE* file, std::int64_t offset, void* buffer, std::size_t size) {
    return SeekFile(file, offset) && std::fread(buffer, 1, size, file) == size;
}

std::uint32_t ReadLittle32(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::uint16_t ReadLittle16(const unsigned char* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

void WriteLittle32(unsigned char* bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

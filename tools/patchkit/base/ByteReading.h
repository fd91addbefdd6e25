#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Exactly size bytes from offset.
bool ReadAt(std::FILE* file, std::int64_t offset, void* buffer, std::size_t size);

std::uint32_t ReadLittle32(const unsigned char* bytes);
std::uint16_t ReadLittle16(const unsigned char* bytes);
void WriteLittle32(unsigned char* bytes, std::uint32_t value);

#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Exactly size bytes from offset.
[[nodiscard]] bool ReadAt(std::FILE* file, std::int64_t offset, void* buffer, std::size_t size);

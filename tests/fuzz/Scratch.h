#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

// A folder of the fuzzing process's own under the system's temporary folder, removed at exit.
const std::filesystem::path& ScratchFolder();

// Replaces the file with the bytes; aborts when that fails, since the run would prove nothing.
void WriteWholeFile(const std::filesystem::path& path, const std::uint8_t* data, std::size_t size);
std::string ReadWholeFile(const std::filesystem::path& path);

// Ends the process loudly, so that libFuzzer keeps the input as a crash.
[[noreturn]] void PropertyFailed(const char* what);

#include "base/WholeFile.h"

#include "base/TextConversion.h"
#include "platform/FileSystem.h"

bool WriteOutputFile(const std::filesystem::path& path, const std::string& text,
                     std::string& error) {
    std::filesystem::path temporary = path;
    temporary += ".partial";
    FileHandle file = OpenFile(temporary, "wb");
    if (!file) {
        error = DisplayPath(temporary) + ": cannot be created";
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size() &&
                         FlushFileToDisk(file.get()) && CloseWrittenFile(file);
    if (!written || !ReplaceFileAtomically(temporary, path)) {
        file.reset();
        RemoveFile(temporary);
        error = DisplayPath(written ? path : temporary) + ": cannot be written";
        return false;
    }
    return true;
}

bool ReadInputFile(const std::filesystem::path& path, std::uintmax_t maximumSize, std::string& text,
                   std::string& error) {
    text.clear();
    FileHandle file = OpenFile(path, "rb");
    const std::int64_t length = file ? FileLength(file.get()) : -1;
    if (length < 0 || !SeekFile(file.get(), 0)) {
        error = DisplayPath(path) + ": cannot be read";
        return false;
    }
    if (static_cast<std::uintmax_t>(length) > maximumSize) {
        error = DisplayPath(path) + ": larger than " + std::to_string(maximumSize) +
                " bytes, which no such document is";
        return false;
    }
    text.resize(static_cast<std::size_t>(length));
    if (std::fread(&text[0], 1, text.size(), file.get()) != text.size()) {
        error = DisplayPath(path) + ": cannot be read";
        return false;
    }
    return true;
}

#include "base/WholeFile.h"

#include "base/TextConversion.h"
#include "platform/FileReplacement.h"
#include "platform/FileSystem.h"

bool WriteOutputFile(const std::filesystem::path& path, const std::string& text,
                     std::string& error) {
    const std::filesystem::path temporary = PartialPathOf(path);
    const auto writeTemporary = [&] {
        FileHandle file = OpenFile(temporary, "wb");
        return file && std::fwrite(text.data(), 1, text.size(), file.get()) == text.size() &&
               FlushFileToDisk(file.get()) && CloseWrittenFile(file);
    };
    switch (ReplaceFileThrough(temporary, path, writeTemporary)) {
    case Replacement::Done:
        return true;
    case Replacement::NotWritten:
        error = DisplayPath(temporary) + ": cannot be written";
        return false;
    case Replacement::NotReplaced:
        break;
    }
    error = DisplayPath(path) + ": cannot be written";
    return false;
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

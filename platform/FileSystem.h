#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

// The file operations of the engine, with Windows semantics on Windows and POSIX calls elsewhere.
// Host paths are std::filesystem paths (wide on Windows). Narrow paths are code page 936 bytes, as
// entry names are: Windows hands them to the ANSI file API unchanged, elsewhere they are converted
// to UTF-8 first, so a name lands under its real characters.

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
// Closes without looking at the result: for files that were only read, and for ways out after a
// failure. A file that was written is closed with CloseWrittenFile.
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Why an attempt on a file failed.
enum class FileError {
    None,
    Missing, // the file, or a folder on its path, does not exist
    Held,    // another program holds it (a sharing or lock violation): it may be free in a moment
    Refused, // anything else: no rights, read-only, a folder in its place, no room
};

// Modes "rb", "r+b", "wb" and "w+b", with the sharing the C runtime gives them.
[[nodiscard]] FileError TryOpenFile(const std::filesystem::path& path, const char* mode, FileHandle& file);
[[nodiscard]] FileError TryOpenNarrowFile(const std::string& cp936Path, const char* mode, FileHandle& file);
// For writing, creating and truncating nothing: the file is as it was until something is written.
[[nodiscard]] FileError TryOpenExistingNarrowFileForWriting(const std::string& cp936Path, FileHandle& file);

[[nodiscard]] FileHandle OpenFile(const std::filesystem::path& path, const char* mode);
[[nodiscard]] FileHandle OpenNarrowFile(const std::string& cp936Path, const char* mode);

// Cuts the file to nothing; its position must be at the start and nothing written yet.
[[nodiscard]] bool TruncateFile(std::FILE* file);

// False when buffered data could not be written or the file could not be closed.
[[nodiscard]] bool CloseWrittenFile(FileHandle& file);
// Pushes written data through to the disk, so a rename that follows cannot expose an empty file.
[[nodiscard]] bool FlushFileToDisk(std::FILE* file);
// Hands the buffered data to the system and, where the system allows, starts writing it to the
// disk without waiting for it, so that a later flush finds little left to do.
[[nodiscard]] bool StartWriteBack(std::FILE* file);
// Makes the folder's entries (the names of files and folders made in it) durable. Windows keeps
// them in the file system's log, which every file flush and write-through rename commits: there
// it has nothing to do.
[[nodiscard]] bool FlushFolderToDisk(const std::filesystem::path& folder);

// Positions counted from the start of the file, 64-bit on every platform.
[[nodiscard]] bool SeekFile(std::FILE* file, std::int64_t offset);
// -1 on failure.
[[nodiscard]] std::int64_t TellFile(std::FILE* file);
// -1 on failure. Leaves the file positioned at its end.
[[nodiscard]] std::int64_t FileLength(std::FILE* file);

// The host path the file API uses for a narrow name; false when it has no host form.
[[nodiscard]] bool NarrowToHostPath(const std::string& cp936Path, std::filesystem::path& hostPath);

// Creates the directory and its missing parents; true when it exists afterwards.
[[nodiscard]] bool CreateNarrowDirectories(const std::string& cp936Path);
// One directory level (ASCII name); false when it could not be made, also when it already exists.
[[nodiscard]] bool MakeDirectory(const char* path);
[[nodiscard]] bool RemoveFile(const std::filesystem::path& path);
// Replaces target by source in one step: readers see either the old or the new file. The
// replacement itself is durable when it returns: written through on Windows, the folder flushed
// after the rename elsewhere. Flush the source before.
[[nodiscard]] bool ReplaceFileAtomically(const std::filesystem::path& source,
                           const std::filesystem::path& target);
[[nodiscard]] FileError TryReplaceFileAtomically(const std::filesystem::path& source,
                                   const std::filesystem::path& target);
// Bytes the file system of the folder can still take for this user; -1 when it cannot be told.
[[nodiscard]] std::int64_t AvailableSpace(const std::filesystem::path& folder);

#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One write into a regular file by the traced child, in the order the kernel saw them.
struct FileWrite {
    std::string path;
    std::uint64_t bytes = 0;
};

// The child's file operations that decide what survives a power loss, in the order it made them.
struct FileOperation {
    enum class Kind { Write, Flush, Rename };
    Kind kind = Kind::Write;
    std::string path;   // the file or folder written or flushed (absolute), or a rename's source
    std::string target; // a rename's target, as the child named it
};

struct ChildResult {
    bool killed = false;            // stopped by SIGKILL at the byte limit
    int exitCode = -1;              // the body's result when it ran to its end
    std::uint64_t bytesWritten = 0; // into regular files, up to the kill
    std::vector<FileWrite> writes;
    // Writes into regular files; flushes of files and folders (fsync, fdatasync, syncfs); renames.
    std::vector<FileOperation> operations;
};

// True where a child can be traced and its writes cut at a byte (x86-64 Linux, ptrace allowed).
bool CanLimitChildWrites();

// Runs body in a forked, traced child. Once byteLimit bytes have gone into regular files the
// child is killed with SIGKILL; a write that would cross the limit is shortened so that exactly
// byteLimit bytes reach the files. A byteLimit of 0 means no limit. The child ends with _exit, so
// nothing of the parent (buffers, atexit handlers) runs twice.
ChildResult RunWriteLimitedChild(const std::function<int()>& body, std::uint64_t byteLimit);

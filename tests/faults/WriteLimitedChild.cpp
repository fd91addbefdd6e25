#include "WriteLimitedChild.h"

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__x86_64__)
#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/user.h>
#endif

#if defined(__x86_64__)

namespace {

struct WriteCall {
    long number;
    int fdArgument;
    int countArgument; // -1: the amount cannot be shortened (vectored writes)
};

constexpr WriteCall kWriteCalls[] = {
    {SYS_write, 0, 2},   {SYS_pwrite64, 0, 2}, {SYS_sendfile, 0, 3},  {SYS_copy_file_range, 2, 4},
    {SYS_writev, 0, -1}, {SYS_pwritev, 0, -1}, {SYS_pwritev2, 0, -1},
};

const WriteCall* FindWriteCall(unsigned long long number) {
    for (const WriteCall& call : kWriteCalls) {
        if (static_cast<unsigned long long>(call.number) == number) {
            return &call;
        }
    }
    return nullptr;
}

unsigned long long& Argument(user_regs_struct& regs, int index) {
    switch (index) {
    case 0:
        return regs.rdi;
    case 1:
        return regs.rsi;
    case 2:
        return regs.rdx;
    case 3:
        return regs.r10;
    case 4:
        return regs.r8;
    default:
        return regs.r9;
    }
}

// Calls that bring a descriptor's file or folder to the disk, and renames with the arguments
// that hold their two paths.
constexpr long kFlushCalls[] = {SYS_fsync, SYS_fdatasync, SYS_syncfs};
struct RenameCall {
    long number;
    int sourceArgument;
    int targetArgument;
};
constexpr RenameCall kRenameCalls[] = {
    {SYS_rename, 0, 1}, {SYS_renameat, 1, 3}, {SYS_renameat2, 1, 3}};

// The path behind a descriptor of the child, or "" when it is none; regularOnly: only a regular
// file's.
std::string PathBehind(pid_t pid, unsigned long long fd, bool regularOnly) {
    const std::string link = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
    struct stat info {};
    if (stat(link.c_str(), &info) != 0 || (regularOnly && !S_ISREG(info.st_mode))) {
        return {};
    }
    char target[4096];
    const ssize_t length = readlink(link.c_str(), target, sizeof target);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string("?");
}

// A NUL-terminated string in the child's memory.
std::string ChildString(pid_t pid, unsigned long long address) {
    std::string text;
    for (;;) {
        errno = 0;
        const long word = ptrace(PTRACE_PEEKDATA, pid, address + text.size(), nullptr);
        if (errno != 0) {
            return text;
        }
        const auto* bytes = reinterpret_cast<const char*>(&word);
        for (std::size_t i = 0; i < sizeof word; ++i) {
            if (bytes[i] == '\0' || text.size() >= 4096) {
                return text;
            }
            text += bytes[i];
        }
    }
}

class Tracer {
public:
    Tracer(pid_t child, std::uint64_t byteLimit) : m_child(child), m_byteLimit(byteLimit) {}

    ChildResult Run() {
        int status = 0;
        if (waitpid(m_child, &status, 0) != m_child || !WIFSTOPPED(status)) {
            return Finish(status);
        }
        ptrace(PTRACE_SETOPTIONS, m_child, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
        int signalToDeliver = 0;
        for (;;) {
            if (ptrace(PTRACE_SYSCALL, m_child, nullptr, signalToDeliver) != 0) {
                kill(m_child, SIGKILL);
            }
            signalToDeliver = 0;
            if (waitpid(m_child, &status, 0) != m_child || !WIFSTOPPED(status)) {
                return Finish(status);
            }
            if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
                signalToDeliver = WSTOPSIG(status);
                continue;
            }
            if (OnSyscallStop()) {
                kill(m_child, SIGKILL);
                waitpid(m_child, &status, 0);
                m_result.killed = true;
                return m_result;
            }
        }
    }

private:
    // True when the child must die now. At an entry stop the kernel has set rax to -ENOSYS; no
    // write call returns that, so it tells entry from exit.
    bool OnSyscallStop() {
        user_regs_struct regs{};
        ptrace(PTRACE_GETREGS, m_child, nullptr, &regs);
        if (regs.rax == static_cast<unsigned long long>(-ENOSYS)) {
            OnEntry(regs);
            return false;
        }
        return OnExit(regs);
    }

    // Flushes and renames are noted at their entry: a kill does not wait for their result.
    void NoteFlushOrRename(user_regs_struct& regs) {
        for (const long number : kFlushCalls) {
            if (regs.orig_rax == static_cast<unsigned long long>(number)) {
                m_result.operations.push_back(
                    {FileOperation::Kind::Flush, PathBehind(m_child, regs.rdi, false), {}});
            }
        }
        for (const RenameCall& call : kRenameCalls) {
            if (regs.orig_rax == static_cast<unsigned long long>(call.number)) {
                m_result.operations.push_back(
                    {FileOperation::Kind::Rename,
                     ChildString(m_child, Argument(regs, call.sourceArgument)),
                     ChildString(m_child, Argument(regs, call.targetArgument))});
            }
        }
    }

    void OnEntry(user_regs_struct& regs) {
        m_pendingPath.clear();
        const WriteCall* call = FindWriteCall(regs.orig_rax);
        if (call == nullptr) {
            NoteFlushOrRename(regs);
            return;
        }
        m_pendingPath = PathBehind(m_child, Argument(regs, call->fdArgument), true);
        if (m_pendingPath.empty() || m_byteLimit == 0 || call->countArgument < 0) {
            return;
        }
        unsigned long long& count = Argument(regs, call->countArgument);
        const std::uint64_t allowed = m_byteLimit - m_result.bytesWritten;
        if (count > allowed) {
            count = allowed;
            ptrace(PTRACE_SETREGS, m_child, nullptr, &regs);
        }
    }

    bool OnExit(const user_regs_struct& regs) {
        const auto written = static_cast<long long>(regs.rax);
        if (m_pendingPath.empty() || written <= 0) {
            return false;
        }
        m_result.bytesWritten += static_cast<std::uint64_t>(written);
        m_result.writes.push_back({m_pendingPath, static_cast<std::uint64_t>(written)});
        m_result.operations.push_back({FileOperation::Kind::Write, m_pendingPath, {}});
        return m_byteLimit != 0 && m_result.bytesWritten >= m_byteLimit;
    }

    ChildResult Finish(int status) {
        if (WIFEXITED(status)) {
            m_result.exitCode = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            m_result.exitCode = 128 + WTERMSIG(status);
        }
        return m_result;
    }

    pid_t m_child;
    std::uint64_t m_byteLimit;
    std::string m_pendingPath;
    ChildResult m_result;
};

} // namespace

// Containers may forbid ptrace even to root: find out once with a child that does nothing.
bool CanLimitChildWrites() {
    static const bool traceable = RunWriteLimitedChild([] { return 0; }, 0).exitCode == 0;
    return traceable;
}

ChildResult RunWriteLimitedChild(const std::function<int()>& body, std::uint64_t byteLimit) {
    const pid_t child = fork();
    if (child < 0) {
        return {};
    }
    if (child == 0) {
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
            _exit(126);
        }
        raise(SIGSTOP);
        _exit(body());
    }
    return Tracer(child, byteLimit).Run();
}

#else

bool CanLimitChildWrites() {
    return false;
}

ChildResult RunWriteLimitedChild(const std::function<int()>&, std::uint64_t) {
    return {};
}

#endif

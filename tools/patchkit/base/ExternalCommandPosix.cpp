#include "base/ExternalCommand.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// The child starts with the signals it would have from a shell: Ctrl-C must stop the tool too,
// although the interrupt watcher blocks it in this process.
bool PrepareAttributes(posix_spawnattr_t& attributes) {
    sigset_t none;
    sigset_t defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        sigaddset(&defaults, signal);
    }
    return posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) ==
               0 &&
           posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
           posix_spawnattr_setsigdefault(&attributes, &defaults) == 0;
}

// Where a placeholder stands for sh: bare, or inside single or double quotes.
enum class Quoting { None, Single, Double };

// The value as sh reads it back exactly, in that place.
std::string QuotedFor(Quoting quoting, const std::string& value) {
    std::string text;
    for (const char c : value) {
        if (c == '\'' && quoting != Quoting::Double) {
            text += "'\\''"; // ends the quote, an escaped quote, opens it again
            continue;
        }
        if (quoting == Quoting::Double &&
            std::string_view("\\\"$`").find(c) != std::string_view::npos) {
            text += '\\';
        }
        text += c;
    }
    return quoting == Quoting::None ? "'" + text + "'" : text;
}

} // namespace

bool FillCommandLine(const std::string& command, const std::vector<CommandValue>& values,
                     std::string& line, std::string& /*problem: sh can be given any value*/) {
    line.clear();
    Quoting quoting = Quoting::None;
    for (std::size_t at = 0; at < command.size();) {
        if (const CommandValue* value = PlaceholderAt(command, at, values)) {
            line += QuotedFor(quoting, value->value);
            at += value->placeholder.size();
            continue;
        }
        const char c = command[at++];
        line += c;
        if (c == '\\' && quoting != Quoting::Single && at < command.size()) {
            line += command[at++]; // escaped: neither a quote nor the start of a placeholder
        } else if (c == '\'' && quoting != Quoting::Double) {
            quoting = quoting == Quoting::Single ? Quoting::None : Quoting::Single;
        } else if (c == '"' && quoting != Quoting::Single) {
            quoting = quoting == Quoting::Double ? Quoting::None : Quoting::Double;
        }
    }
    return true;
}

bool RunCommandLine(const std::string& line, int& exitCode, std::string& problem) {
    const char* const argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    pid_t child = -1;
    int failure = posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    if (failure == 0) {
        failure = PrepareAttributes(attributes)
                      ? posix_spawn(&child, argv[0], &actions, &attributes,
                                    const_cast<char* const*>(argv), environ)
                      : EINVAL;
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (failure != 0) {
        problem = std::string("/bin/sh cannot be started (") + std::strerror(failure) + ")";
        return false;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            problem = std::string("/bin/sh cannot be waited for (") + std::strerror(errno) + ")";
            return false;
        }
    }
    exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
}

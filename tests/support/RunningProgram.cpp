#include "support/RunningProgram.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace testsupport {

RunningProgram::RunningProgram(const std::filesystem::path& path, double seconds) {
    std::error_code error;
    std::filesystem::copy_file("/bin/sleep", path,
                               std::filesystem::copy_options::overwrite_existing, error);
    if (error) {
        return;
    }
    const std::string duration = std::to_string(seconds);
    m_pid = fork();
    if (m_pid == 0) {
        execl(path.c_str(), path.c_str(), duration.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Running once exec has replaced the child; probing by opening the file could make exec fail.
    const std::filesystem::path executable = "/proc/" + std::to_string(m_pid) + "/exe";
    for (int tries = 0; m_pid > 0 && tries < 400; ++tries) {
        if (std::filesystem::read_symlink(executable, error) == path) {
            const int descriptor = open(path.c_str(), O_WRONLY);
            m_holdsItsFile = descriptor == -1 && errno == ETXTBSY;
            if (descriptor != -1) {
                close(descriptor);
            }
            return;
        }
        usleep(5000);
    }
}

RunningProgram::~RunningProgram() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

} // namespace testsupport

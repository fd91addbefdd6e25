// Times the real updater under Wine, from its start to its exit after the finish button, on a
// fresh copy of its game folder for each run. Prints one line per run: "PACKAGE SECONDS".
// Usage: winebench WORK win32|win64 DRIVER.exe RUNS GAME PACKAGE.exe [GAME PACKAGE.exe]...

#include "WineSession.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

bool CopyGameFolder(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::remove_all(to, error);
    fs::copy(from, to, fs::copy_options::recursive, error);
    if (error) {
        std::fprintf(stderr, "winebench: cannot copy %s: %s\n", from.c_str(),
                     error.message().c_str());
        return false;
    }
    return true;
}

std::string FileText(const fs::path& path) {
    std::ifstream stream(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

// Seconds from the updater's start to its exit, or a negative value when the run failed. Every
// waiting step of the driver has its own time-out, so waiting for the full bar first and then for
// the finish button gives a long run twice the time.
double TimeOneRun(const WineSession& session, const fs::path& game, const fs::path& package) {
    const std::string oldState = FileText(game / "version.ini");
    const auto start = std::chrono::steady_clock::now();
    const WineSession::Result result = session.RunDriver(
        {"reg-path", session.WindowsPath(game), "start", session.WindowsPath(package), "dialog",
         "progress", "100", "finish", "1", "click-finish", "exit", "0"});
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (result.exitCode != 0 || FileText(game / "version.ini") == oldState) {
        std::fprintf(stderr, "winebench: the updater did not complete:\n%s\n",
                     result.output.c_str());
        return -1;
    }
    return elapsed.count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 7 || argc % 2 != 1) {
        std::fprintf(stderr,
                     "usage: winebench WORK win32|win64 DRIVER.exe RUNS GAME PACKAGE.exe...\n");
        return 2;
    }
    const fs::path work = fs::absolute(argv[1]);
    const int runs = std::atoi(argv[4]);
    WineSession session;
    if (const std::string why = session.Start(work, argv[2], fs::absolute(argv[3])); !why.empty()) {
        std::fprintf(stderr, "winebench: no Wine session: %s\n", why.c_str());
        session.Stop();
        return 1;
    }
    // Inside drive C:, so that the registry value holding the path stays short.
    const fs::path game = session.DriveC() / "game";
    int status = 0;
    for (int argument = 5; argument + 1 < argc && status == 0; argument += 2) {
        const fs::path package = fs::absolute(argv[argument + 1]);
        for (int run = 0; run < runs && status == 0; ++run) {
            const double seconds =
                CopyGameFolder(argv[argument], game) ? TimeOneRun(session, game, package) : -1;
            status = seconds < 0 ? 1 : 0;
            std::printf("%s %.2f\n", package.c_str(), seconds);
        }
    }
    session.Stop();
    return status;
}

// A whole update run on any package file, in a game folder nested inside the scratch folder. The
// game folder holds version.ini one version below the trailer's package version (so most inputs
// pass the gate) and a res.pak. Properties: the run ends with exactly one message or a finish,
// nothing appears outside the game folder, the package file is not touched, and version.ini
// changes only on a completed run, to the package version, or, where it recorded no pak offset,
// to the pak's length that a run records before it writes into the pak.

#include "Scratch.h"
#include "engine/RunPatch.h"
#include "package/LocalState.h"
#include "support/RecordingPatchView.h"

#include <cstdio>

namespace fs = std::filesystem;

namespace {

// The game folder sits a few levels down, so that a name climbing out of it lands where the check
// below sees it.
const fs::path& GameFolder() {
    static const fs::path folder = ScratchFolder() / "jail" / "cell" / "game";
    return folder;
}

const fs::path& PackageFile() {
    static const fs::path file = ScratchFolder() / "package.exe";
    return file;
}

std::uint32_t PackageVersionOf(const std::uint8_t* data, std::size_t size) {
    if (size < 8) {
        return 0;
    }
    std::uint32_t version = 0;
    for (std::size_t i = size; i > size - 4; --i) {
        version = version << 8 | data[i - 1];
    }
    return version;
}

constexpr std::size_t kPakLength = 32;

std::string LocalStateText(std::uint32_t version, std::int64_t offset) {
    char text[64];
    std::snprintf(text, sizeof text, "%d\r\n%lld\r\n", static_cast<int>(version),
                  static_cast<long long>(offset));
    return text;
}

void PrepareGameFolder(const std::string& versionText) {
    std::error_code error;
    fs::remove_all(ScratchFolder() / "jail", error);
    fs::create_directories(GameFolder(), error);
    if (error) {
        PropertyFailed("cannot create the game folder");
    }
    const std::string pak(kPakLength, 'p');
    WriteWholeFile(GameFolder() / "res.pak", reinterpret_cast<const std::uint8_t*>(pak.data()),
                   pak.size());
    WriteWholeFile(GameFolder() / kLocalStateFileName,
                   reinterpret_cast<const std::uint8_t*>(versionText.data()), versionText.size());
}

int RunInGameFolder(PatchView& view) {
    int result = -1;
    if (RunPatchInFolder(view, PackageFile(), GameFolder(), result) != FolderMove::Done) {
        PropertyFailed("cannot enter or leave the game folder");
    }
    return result;
}

void CheckNothingOutsideGameFolder() {
    const fs::path expected[] = {ScratchFolder() / "jail", ScratchFolder() / "jail" / "cell",
                                 GameFolder(), PackageFile()};
    std::error_code error;
    fs::recursive_directory_iterator walk(ScratchFolder(), error);
    for (; !error && walk != fs::recursive_directory_iterator(); walk.increment(error)) {
        const fs::path& path = walk->path();
        if (path == GameFolder()) {
            walk.disable_recursion_pending();
            continue;
        }
        bool known = false;
        for (const fs::path& allowed : expected) {
            known = known || path == allowed;
        }
        if (!known) {
            std::fprintf(stderr, "written outside the game folder: %s\n", path.c_str());
            PropertyFailed("a file appeared outside the game folder");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::uint32_t packageVersion = PackageVersionOf(data, size);
    const std::int64_t oldOffset = (packageVersion & 1) != 0 ? 16 : 0;
    const std::string oldState = LocalStateText(packageVersion - 1, oldOffset);
    const std::string pakEndRecorded =
        LocalStateText(packageVersion - 1, static_cast<std::int64_t>(kPakLength));
    PrepareGameFolder(oldState);
    WriteWholeFile(PackageFile(), data, size);

    testsupport::RecordingPatchView view;
    const int result = RunInGameFolder(view);

    CheckNothingOutsideGameFolder();
    if (ReadWholeFile(PackageFile()) != std::string(reinterpret_cast<const char*>(data), size)) {
        PropertyFailed("the package file was changed");
    }
    const std::string state = ReadWholeFile(GameFolder() / kLocalStateFileName);
    if (result == 0) {
        if (view.finishEnabled != 1 || !view.messages.empty()) {
            PropertyFailed("a completed run must enable finish and show no message");
        }
        const std::string versionLine = std::to_string(static_cast<int>(packageVersion)) + "\r\n";
        if (state.compare(0, versionLine.size(), versionLine) != 0) {
            PropertyFailed("a completed run did not record the package version");
        }
    } else if (result == 1) {
        if (view.finishEnabled != 0 || view.messages.size() != 1) {
            PropertyFailed("a failed run must show exactly one message");
        }
        if (state != oldState && (oldOffset != 0 || state != pakEndRecorded)) {
            PropertyFailed("a failed run changed version.ini");
        }
    } else {
        PropertyFailed("the run result is neither 0 nor 1");
    }
    return 0;
}

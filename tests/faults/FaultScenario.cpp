#include "FaultScenario.h"

#include "engine/RunPatch.h"
#include "support/PackageBuilder.h"

#include <algorithm>

FolderSnapshot SnapshotFolder(const fs::path& folder) {
    FolderSnapshot snapshot;
    std::error_code error;
    for (fs::recursive_directory_iterator walk(folder, error), end; !error && walk != end;
         walk.increment(error)) {
        const std::string name = fs::relative(walk->path(), folder, error).generic_string();
        snapshot[name] = walk->is_directory(error) ? std::string("<dir>")
                                                   : testsupport::ReadBinaryFile(walk->path());
    }
    return snapshot;
}

std::string SnapshotDifferences(const FolderSnapshot& expected, const FolderSnapshot& actual) {
    std::string differences;
    for (const auto& [path, contents] : expected) {
        const auto found = actual.find(path);
        if (found == actual.end()) {
            differences += "missing " + path + "\n";
        } else if (found->second != contents) {
            const auto mismatch = std::mismatch(contents.begin(), contents.end(),
                                                found->second.begin(), found->second.end());
            differences += "differs " + path + " from byte " +
                           std::to_string(mismatch.first - contents.begin()) + " (sizes " +
                           std::to_string(contents.size()) + " and " +
                           std::to_string(found->second.size()) + ")\n";
        }
    }
    for (const auto& [path, contents] : actual) {
        if (expected.count(path) == 0) {
            differences += "extra " + path + "\n";
        }
    }
    return differences;
}

int RunEngineIn(const fs::path& game, const fs::path& package,
                testsupport::RecordingPatchView& view) {
    int result = -1;
    return RunPatchInFolder(view, package, game, result) == FolderMove::Done ? result : -1;
}

int MessageNumber(const testsupport::RecordedMessage& shown) {
    for (const MessageText& text : kMessageTexts) {
        if (testsupport::ExpectedMessage(text.message) == shown) {
            return static_cast<int>(text.message);
        }
    }
    return 0;
}

std::string LocalStateText(std::uint32_t version, std::int64_t pakAppendOffset) {
    return std::to_string(static_cast<std::int32_t>(version)) + "\r\n" +
           std::to_string(pakAppendOffset) + "\r\n";
}

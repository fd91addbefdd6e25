#include "release/ReleaseCheck.h"

#include "base/StopRequest.h"
#include "base/TextConversion.h"
#include "engine/PatchView.h"
#include "engine/RunPatch.h"
#include "package/LocalState.h"
#include "platform/ClientMutex.h"
#include "platform/TextEncoding.h"
#include "record/ReleaseFolder.h"

#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The engine's view during the check: no labels, the message kept for the report.
class CheckView : public PatchView {
public:
    explicit CheckView(const std::atomic<bool>* stop) : m_stop(stop) {}

    void SetLatestVersionText(const std::wstring&) override {}
    void SetLocalVersionText(const std::wstring&) override {}
    void SetProgress(int) override {}
    void ReportAndQuit(const std::string& text) override {
        if (!Cp936ToUtf8(text, m_message)) {
            m_message = text;
        }
    }
    void ReportAndQuit(const std::wstring& text) override { m_message = WideText(text); }
    void EnableFinish() override {}
    CClient_Mutex& ClientMutex() override { return m_mutex; }
    bool IsCancelled() override { return StopAsked(m_stop); }

    const std::string& Message() const { return m_message; }

private:
    const std::atomic<bool>* m_stop;
    CClient_Mutex m_mutex;
    std::string m_message;
};

using Tree = std::map<std::string, SourceEntry>; // by key

[[nodiscard]] bool ReadTree(const fs::path& folder, Tree& tree, std::string& error) {
    std::vector<SourceEntry> entries;
    if (!CollectSourceFolder(folder, entries, error)) {
        return false;
    }
    for (SourceEntry& entry : entries) {
        tree.emplace(KeyOf(entry), std::move(entry));
    }
    return true;
}

// OLD under the names the updater would find on a Windows disk: every name in lower case.
[[nodiscard]] bool CopyAsWritten(const fs::path& from, const fs::path& to, std::string& error) {
    std::vector<SourceEntry> entries;
    if (!CollectSourceFolder(from, entries, error)) {
        return false;
    }
    for (const SourceEntry& entry : entries) {
        fs::path target;
        std::error_code failure;
        if (!WrittenPathUnder(to, entry, target)) {
            error = DisplayPath(entry.path) + ": cannot be copied under its written name";
            return false;
        }
        if (entry.directory) {
            fs::create_directories(target, failure);
            if (failure) {
                error = DisplayPath(target) + ": cannot be created";
                return false;
            }
        } else if (!CopyFileSlice(entry.path, 0, entry.size, target, error)) {
            return false;
        }
    }
    return true;
}

// -1 when the engine could not be run in the folder, or the folder not left.
int ApplyInFolder(const fs::path& package, const fs::path& folder, CheckView& view,
                  std::string& error) {
    int result = -1;
    switch (RunPatchInFolder(view, package, folder, result)) {
    case FolderMove::Done:
        return result;
    case FolderMove::NotEntered:
        error = DisplayPath(folder) + ": cannot be entered to apply the update";
        return -1;
    case FolderMove::NotReturned:
        error = DisplayPath(folder) + ": cannot be left after applying the update";
        return -1;
    }
    return -1;
}

class TreeComparison {
public:
    TreeComparison(const CheckRequest& request, FileComparer& comparer,
                   std::vector<std::string>& differences)
        : m_request(request), m_comparer(comparer), m_differences(differences) {}

    [[nodiscard]] bool Compare(const Tree& updated, const Tree& wanted, std::string& error) {
        for (const auto& [key, entry] : wanted) {
            const auto found = updated.find(key);
            if (found == updated.end()) {
                Report(entry.path, "missing after the update");
            } else if (!CompareEntry(found->second, entry, error)) {
                return false;
            }
        }
        for (const auto& [key, entry] : updated) {
            const bool updatersWorkFolder = key == "patch" && entry.directory;
            if (wanted.count(key) == 0 && !(updatersWorkFolder && IsEmptyFolder(entry.path)) &&
                !IsAllowedLeftover(key)) {
                Report(entry.path, "after the update, but NEW lacks it");
            }
        }
        return true;
    }

    std::int64_t PakLength(const Tree& tree) const {
        if (m_request.effectivePakName.empty()) {
            return 0;
        }
        SourceEntry pak;
        pak.storedName = m_request.effectivePakName;
        const auto found = tree.find(KeyOf(pak));
        return found == tree.end() ? -1 : static_cast<std::int64_t>(found->second.size);
    }

    void CompareStates(const Tree& updated, const Tree& wanted) {
        const SourceEntry* updatedState = FindState(updated);
        const SourceEntry* wantedState = FindState(wanted);
        LocalState after;
        LocalState expected;
        if (updatedState == nullptr || !ReadLocalStateFile(updatedState->path, after)) {
            Report(m_request.scratch / kLocalStateFileName,
                   "missing or unreadable after the update");
            return;
        }
        if (wantedState == nullptr || !ReadLocalStateFile(wantedState->path, expected)) {
            Report(m_request.newFolder / kLocalStateFileName, "missing or unreadable");
            return;
        }
        if (after.localVersion != expected.localVersion) {
            Report(wantedState->path, "version " + std::to_string(after.localVersion) +
                                          " after the update, " +
                                          std::to_string(expected.localVersion) + " in NEW");
        }
        const std::int64_t afterOffset =
            after.pakAppendOffset != 0 ? after.pakAppendOffset : PakLength(updated);
        const std::int64_t expectedOffset =
            expected.pakAppendOffset != 0 ? expected.pakAppendOffset : PakLength(wanted);
        if (afterOffset != expectedOffset) {
            Report(wantedState->path, "pak offset " + std::to_string(afterOffset) +
                                          " in effect after the update, " +
                                          std::to_string(expectedOffset) + " in NEW");
        }
    }

private:
    static const SourceEntry* FindState(const Tree& tree) {
        const auto found = tree.find(kLocalStateFileName);
        return found == tree.end() || found->second.directory ? nullptr : &found->second;
    }

    bool IsAllowedLeftover(const std::string& key) const {
        for (const std::string& leftover : m_request.leftoverKeys) {
            if (key == leftover || key.compare(0, leftover.size() + 1, leftover + "/") == 0) {
                return true;
            }
        }
        return false;
    }

    static bool IsEmptyFolder(const fs::path& folder) {
        std::error_code failure;
        return fs::is_empty(folder, failure) && !failure;
    }

    void Report(const fs::path& path, const std::string& text) {
        m_differences.push_back(DisplayPath(path) + ": " + text);
    }

    [[nodiscard]] bool CompareEntry(const SourceEntry& updated, const SourceEntry& wanted,
                                    std::string& error) {
        if (updated.directory != wanted.directory) {
            Report(wanted.path, std::string(wanted.directory ? "a folder" : "a file") +
                                    " in NEW, but a " + (updated.directory ? "folder" : "file") +
                                    " after the update");
            return true;
        }
        if (wanted.directory || IsLocalStateEntry(wanted)) {
            return true; // version.ini is compared by meaning
        }
        if (updated.size != wanted.size) {
            Report(wanted.path, std::to_string(updated.size) + " bytes after the update, " +
                                    std::to_string(wanted.size) + " in NEW");
            return true;
        }
        std::uint64_t difference = 0;
        if (!m_comparer.FirstDifference(updated.path, wanted.path, wanted.size, difference,
                                        error)) {
            return false;
        }
        if (difference < wanted.size) {
            Report(wanted.path, "differs after the update from byte " + std::to_string(difference));
        }
        return true;
    }

    const CheckRequest& m_request;
    FileComparer& m_comparer;
    std::vector<std::string>& m_differences;
};

std::uint64_t BytesOf(const Tree& tree) {
    std::uint64_t bytes = 0;
    for (const auto& item : tree) {
        bytes += item.second.size;
    }
    return bytes;
}

[[nodiscard]] bool CheckCopy(const CheckRequest& request, std::vector<std::string>& differences,
                             std::string& error) {
    if (!CopyAsWritten(request.oldFolder, request.scratch, error)) {
        return false;
    }
    CheckView view(request.stop);
    const int result = ApplyInFolder(request.package, request.scratch, view, error);
    if (result < 0) {
        return false;
    }
    if (result != 0) {
        differences.push_back("the updater's engine stopped: " +
                              (view.Message().empty() ? std::string("cancelled") : view.Message()));
        return true;
    }
    Tree updated;
    Tree wanted;
    if (!ReadTree(request.scratch, updated, error) || !ReadTree(request.newFolder, wanted, error)) {
        return false;
    }
    FileComparer comparer(request.progress, request.stop);
    comparer.ExpectBytes(BytesOf(wanted));
    TreeComparison comparison(request, comparer, differences);
    if (!comparison.Compare(updated, wanted, error)) {
        return false;
    }
    comparison.CompareStates(updated, wanted);
    return true;
}

} // namespace

bool CheckUpdate(const CheckRequest& request, std::vector<std::string>& differences,
                 std::string& error) {
    std::error_code failure;
    if (!fs::create_directory(request.scratch, failure)) {
        error = DisplayPath(request.scratch) + ": the check's scratch folder cannot be made " +
                (failure ? "" : "(it exists already)");
        return false;
    }
    const bool checked = CheckCopy(request, differences, error);
    fs::remove_all(request.scratch, failure);
    return checked;
}

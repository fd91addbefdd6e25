#include "platform/NameCaseSearch.h"

#include "platform/NameCase.h"

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <system_error>

#include <dirent.h>
#include <sys/stat.h>

namespace {

// The names of the folders searched, folded, so that writing many new files into one folder
// does not read the folder again for each. A listing is used while the folder's identity and time
// are those it had when read, or after a file was created here. A change another program makes
// within the same tick of the file times as the listing goes unseen: nothing else writes into a
// game folder while it is updated.
class FolderNames {
public:
    // The one name in folder that Windows would take for name (empty for none); false when
    // several would do.
    bool Find(const std::filesystem::path& folder, const std::string& name, std::string& found) {
        const std::string key = folder.empty() ? "." : folder.native();
        struct stat status {};
        if (stat(key.c_str(), &status) != 0) {
            return true; // nothing there to find
        }
        std::lock_guard<std::mutex> hold(m_lock);
        Listing& listing = m_listings[key];
        if (!listing.Fresh(status)) {
            listing.Read(key, status);
        }
        const std::string folded = FoldedNameCase(name);
        if (listing.ambiguous.count(folded) != 0) {
            return false;
        }
        const auto match = listing.names.find(folded);
        found = match == listing.names.end() ? std::string() : match->second;
        return true;
    }

    // A file this process just created: its folder's listing stays good.
    void Created(const std::filesystem::path& file) {
        const std::filesystem::path folder = file.parent_path();
        const std::string key = folder.empty() ? "." : folder.native();
        struct stat status {};
        std::lock_guard<std::mutex> hold(m_lock);
        const auto listing = m_listings.find(key);
        if (listing != m_listings.end() && stat(key.c_str(), &status) == 0) {
            listing->second.names.emplace(FoldedNameCase(file.filename().native()),
                                          file.filename().native());
            listing->second.Remember(status);
        }
    }

private:
    struct Listing {
        ino_t inode = 0;
        timespec modified{};
        std::map<std::string, std::string> names; // folded -> as on the disk
        std::set<std::string> ambiguous;          // folded names held more than once

        bool Fresh(const struct stat& status) const {
            return inode == status.st_ino && modified.tv_sec == status.st_mtim.tv_sec &&
                   modified.tv_nsec == status.st_mtim.tv_nsec;
        }
        void Remember(const struct stat& status) {
            inode = status.st_ino;
            modified = status.st_mtim;
        }
        void Read(const std::string& folder, const struct stat& status) {
            names.clear();
            ambiguous.clear();
            Remember(status);
            DIR* directory = opendir(folder.c_str());
            while (const dirent* item = directory != nullptr ? readdir(directory) : nullptr) {
                if (!names.emplace(FoldedNameCase(item->d_name), item->d_name).second) {
                    ambiguous.insert(FoldedNameCase(item->d_name));
                }
            }
            if (directory != nullptr) {
                closedir(directory);
            }
        }
    };

    std::mutex m_lock;
    std::map<std::string, Listing> m_listings;
};

FolderNames& SearchedFolders() {
    static FolderNames folders;
    return folders;
}

} // namespace

bool ResolveNameCase(std::filesystem::path& hostPath) {
    std::filesystem::path resolved;
    bool searching = true;
    for (const std::filesystem::path& part : hostPath) {
        std::error_code error;
        if (searching && !part.empty() && part != "." && part != ".." &&
            !std::filesystem::exists(std::filesystem::symlink_status(resolved / part, error))) {
            std::string found;
            if (!SearchedFolders().Find(resolved, part.native(), found)) {
                return false;
            }
            searching = !found.empty();
            resolved /= searching ? std::filesystem::path(found) : part;
            continue;
        }
        resolved /= part;
    }
    hostPath = resolved;
    return true;
}

void NoteCreatedFile(const std::filesystem::path& file) {
    SearchedFolders().Created(file);
}

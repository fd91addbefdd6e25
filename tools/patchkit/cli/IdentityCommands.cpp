#include "cli/IdentityCommands.h"

#include "base/TextConversion.h"
#include "base/WholeFile.h"
#include "cli/Commands.h"
#include "cli/InterruptWatcher.h"
#include "cli/ProgressDisplay.h"
#include "cli/Terminal.h"
#include "identity/GameRepair.h"
#include "identity/GameVerification.h"
#include "identity/ReleaseIndex.h"
#include "record/ReleaseManifest.h"
#include "rules/VersionText.h"

#include <atomic>

namespace fs = std::filesystem;

namespace {

// Exit codes of the identity commands.
constexpr int kExact = 0;
constexpr int kDiffers = 1;
constexpr int kCannotTell = 2;

fs::path PathOf(const std::string& utf8) {
    return fs::u8path(utf8);
}

void AddWork(CLI::App& command, unsigned& jobs, bool& quiet) {
    command.add_option("--jobs", jobs, "Threads that hash (default: one per core)")
        ->check(CLI::Range(1u, 1024u))
        ->type_name("N");
    command.add_flag("--quiet", quiet, "Show no progress (shown only on a terminal anyway)");
}

int RunManifest(const fs::path& release, const fs::path& output, const fs::path& sums,
                unsigned jobs, bool quiet) {
    ProgressDisplay progress(stderr, !quiet && IsTerminal(stderr));
    std::atomic<bool> interrupted{false};
    InterruptWatcher watcher([&interrupted] { interrupted = true; });
    ReleaseManifest manifest;
    std::string error;
    if (!MakeManifest(release, manifest, WorkSettings{jobs, &progress}, &interrupted, error) ||
        !WriteOutputFile(output, ManifestJson(manifest), error) ||
        (!sums.empty() && !WriteOutputFile(sums, Sha256Sums(manifest), error))) {
        PrintError("no manifest written:\n" + error);
        return 1;
    }
    std::size_t files = 0;
    std::uint64_t bytes = 0;
    for (const ManifestEntry& entry : manifest.entries) {
        files += entry.kind != ManifestKind::Folder ? 1 : 0;
        bytes += entry.size;
    }
    std::printf("%s: release %u (%s), %zu entries (%zu files, %llu bytes), pak offset %llu\n",
                DisplayPath(output).c_str(), manifest.version,
                VersionShown(manifest.version).c_str(), manifest.entries.size(), files,
                static_cast<unsigned long long>(bytes),
                static_cast<unsigned long long>(manifest.pakOffset));
    return 0;
}

struct VerifyCommand {
    fs::path game;
    std::vector<fs::path> manifests;
    bool json = false;
    unsigned jobs = 0;
    bool quiet = false;
};

bool ReadManifests(const VerifyCommand& command, Verification& verification, std::string& error) {
    for (const fs::path& path : command.manifests) {
        ReleaseManifest manifest;
        if (!ReadManifestFile(path, manifest, error)) {
            return false;
        }
        verification.sources.push_back(DisplayPath(path));
        verification.manifests.push_back(std::move(manifest));
    }
    return true;
}

int RunVerify(const VerifyCommand& command) {
    Verification verification;
    verification.game = DisplayPath(command.game);
    std::string error;
    if (!ReadManifests(command, verification, error)) {
        PrintError(error);
        return kCannotTell;
    }
    ProgressDisplay progress(stderr, !command.quiet && IsTerminal(stderr));
    std::atomic<bool> interrupted{false};
    InterruptWatcher watcher([&interrupted] { interrupted = true; });
    GameFolder folder;
    if (!ReadGameFolder(command.game, verification.manifests, folder,
                        WorkSettings{command.jobs, &progress}, &interrupted, error)) {
        PrintError("the game folder cannot be verified:\n" + error);
        return kCannotTell;
    }
    for (const ReleaseManifest& manifest : verification.manifests) {
        verification.differences.push_back(CompareWithRelease(folder, manifest));
        const std::size_t index = verification.differences.size() - 1;
        if (verification.differences[index].size() <
            verification.differences[verification.nearest].size()) {
            verification.nearest = index;
        }
    }
    const std::string report =
        command.json ? VerificationJson(verification) : VerificationText(verification);
    std::fputs(report.c_str(), stdout);
    return verification.Exact() ? kExact : kDiffers;
}

int RunRepair(RepairRequest request, bool json, bool quiet) {
    ProgressDisplay progress(stderr, !quiet && IsTerminal(stderr));
    request.work.progress = &progress;
    std::atomic<bool> interrupted{false};
    InterruptWatcher watcher([&interrupted] { interrupted = true; });
    request.stop = &interrupted;
    RepairOutcome outcome;
    std::string error;
    const bool repaired = RepairGame(request, outcome, error);
    if (!repaired) {
        for (const RepairAction& action : outcome.actions) {
            PrintError("done before that: " + action.path);
        }
        PrintError((outcome.actions.empty() ? "nothing changed:\n" : "stopped:\n") + error);
        return 1;
    }
    const std::string report = json ? RepairJson(outcome) : RepairText(outcome);
    std::fputs(report.c_str(), stdout);
    return 0;
}

int RunIndex(IndexRequest request, const fs::path& output, const fs::path& sums, bool quiet) {
    ProgressDisplay progress(stderr, !quiet && IsTerminal(stderr));
    request.work.progress = &progress;
    std::atomic<bool> interrupted{false};
    InterruptWatcher watcher([&interrupted] { interrupted = true; });
    request.stop = &interrupted;
    request.scratch = output;
    request.scratch += ".check";
    ReleaseIndex index;
    std::string error;
    if (!IndexPackages(request, index, error) ||
        !WriteOutputFile(output, IndexJson(index), error) ||
        (!sums.empty() && !WriteOutputFile(sums, IndexSha256Sums(index), error))) {
        PrintError("no index written:\n" + error);
        return 1;
    }
    std::printf("%s: %zu packages, versions %u to %u%s\n", DisplayPath(output).c_str(),
                index.packages.size(), index.packages.front().version - 1,
                index.packages.back().version, index.proven ? ", each proven on its release" : "");
    return 0;
}

} // namespace

IdentityCommands::IdentityCommands(CLI::App& app) {
    AddManifest(app);
    AddVerify(app);
    AddRepair(app);
    AddIndex(app);
}

void IdentityCommands::AddIndex(CLI::App& app) {
    m_index = app.add_subcommand(
        "index", "List a release history's packages for a download page: versions, sizes, "
                 "SHA-256, signatures, the room they take. Refuses gaps, two packages for a step "
                 "and packages inspect --verify does not pass; with --releases or "
                 "--release-manifests, proves every step. Exit 0 when written, 1 when refused.");
    m_index->add_option("packages", m_packages, "The packages, in any order")
        ->required()
        ->check(CLI::ExistingFile)
        ->type_name("PACKAGE.exe...");
    m_index->add_option("-o,--output", m_output, "The index to write")
        ->required()
        ->type_name("releases.json");
    m_index
        ->add_option("--sha256sums", m_sha256sums,
                     "Also write the packages' digests as sha256sum -c reads them beside them")
        ->type_name("FILE");
    m_index
        ->add_option("--releases", m_releases,
                     "Release folders (with version.ini): apply each package to a copy of its "
                     "release and compare with the next")
        ->check(CLI::ExistingDirectory)
        ->type_name("RELEASE_DIR...");
    m_index
        ->add_option("--release-manifests", m_releaseManifests,
                     "Or the releases' manifests: read each package back, apply it to its "
                     "release's manifest and compare with the next one's (a pak's appended bytes "
                     "are proven by length and offset only)")
        ->check(CLI::ExistingFile)
        ->excludes("--releases")
        ->type_name("MANIFEST.json...");
    AddWork(*m_index, m_jobs, m_quiet);
}

void IdentityCommands::AddRepair(CLI::App& app) {
    m_repair = app.add_subcommand(
        "repair", "Bring a game folder to exactly a release: copy what is missing or differs, cut "
                  "back a pak that runs longer, write version.ini last. Run again after an "
                  "interruption, it ends with the release. Exit 0 when done, 1 when refused.");
    m_repair->add_option("--game", m_game, "The game folder")
        ->required()
        ->check(CLI::ExistingDirectory)
        ->type_name("DIR");
    m_repair->add_option("--release", m_release, "The release's game folder, with version.ini")
        ->required()
        ->check(CLI::ExistingDirectory)
        ->type_name("RELEASE_DIR");
    m_repair->add_flag("--dry-run", m_dryRun, "Say what would be done, changing nothing");
    m_repair->add_flag("--remove-extra", m_removeExtra,
                       "Remove what the release does not have (otherwise listed and kept)");
    m_repair->add_flag("--json", m_json, "Give the report as one JSON document");
    AddWork(*m_repair, m_jobs, m_quiet);
}

void IdentityCommands::AddManifest(CLI::App& app) {
    m_manifest = app.add_subcommand(
        "manifest", "Record a release's identity: its version.ini and every folder and file as "
                    "the updater names them, with sizes and SHA-256. The same folder always gives "
                    "the same bytes. Exit 0 when written, 1 when refused.");
    m_manifest->add_option("release", m_release, "The release's game folder, with version.ini")
        ->required()
        ->check(CLI::ExistingDirectory)
        ->type_name("RELEASE_DIR");
    m_manifest->add_option("-o,--output", m_output, "The manifest to write")
        ->required()
        ->type_name("MANIFEST.json");
    m_manifest
        ->add_option("--sha256sums", m_sha256sums,
                     "Also write the files' digests as sha256sum -c reads them in the release")
        ->type_name("FILE");
    AddWork(*m_manifest, m_jobs, m_quiet);
}

void IdentityCommands::AddVerify(CLI::App& app) {
    m_verify = app.add_subcommand(
        "verify", "Compare a game folder with releases' manifests, as Windows compares names; "
                  "writes nothing. Exit 0 when it is exactly a release, 1 when it differs, 2 when "
                  "it cannot be told.");
    m_verify->add_option("--game", m_game, "The game folder")
        ->required()
        ->check(CLI::ExistingDirectory)
        ->type_name("DIR");
    m_verify
        ->add_option("--manifest", m_manifests,
                     "A release's manifest; given several, says which release the folder is")
        ->required()
        ->check(CLI::ExistingFile)
        ->type_name("MANIFEST.json");
    m_verify->add_flag("--json", m_json, "Give the report as one JSON document");
    AddWork(*m_verify, m_jobs, m_quiet);
}

bool IdentityCommands::Knows(const std::string& name) const {
    return m_manifest->check_name(name) || m_verify->check_name(name) ||
           m_repair->check_name(name) || m_index->check_name(name);
}

bool IdentityCommands::Parsed() const {
    return m_manifest->parsed() || m_verify->parsed() || m_repair->parsed() || m_index->parsed();
}

int IdentityCommands::Run() const {
    if (m_manifest->parsed()) {
        return RunManifest(PathOf(m_release), PathOf(m_output),
                           m_sha256sums.empty() ? fs::path() : PathOf(m_sha256sums), m_jobs,
                           m_quiet);
    }
    if (m_index->parsed()) {
        IndexRequest request;
        for (const std::string& package : m_packages) {
            request.packages.push_back(PathOf(package));
        }
        for (const std::string& release : m_releases) {
            request.releases.push_back(PathOf(release));
        }
        for (const std::string& manifest : m_releaseManifests) {
            request.releaseManifests.push_back(PathOf(manifest));
        }
        request.work.jobs = m_jobs;
        return RunIndex(request, PathOf(m_output),
                        m_sha256sums.empty() ? fs::path() : PathOf(m_sha256sums), m_quiet);
    }
    if (m_repair->parsed()) {
        RepairRequest request;
        request.game = PathOf(m_game);
        request.release = PathOf(m_release);
        request.dryRun = m_dryRun;
        request.removeExtra = m_removeExtra;
        request.work.jobs = m_jobs;
        return RunRepair(request, m_json, m_quiet);
    }
    VerifyCommand command;
    command.game = PathOf(m_game);
    for (const std::string& manifest : m_manifests) {
        command.manifests.push_back(PathOf(manifest));
    }
    command.json = m_json;
    command.jobs = m_jobs;
    command.quiet = m_quiet;
    return RunVerify(command);
}

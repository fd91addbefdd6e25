#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

// The commands that name a release: manifest, verify, repair and index. Adds them to the program's
// command line and runs the one given.
class IdentityCommands {
public:
    explicit IdentityCommands(CLI::App& app);

    // Whether name is one of these commands, and whether one of them was given.
    bool Knows(const std::string& name) const;
    bool Parsed() const;
    // The process's exit code.
    int Run() const;

private:
    void AddManifest(CLI::App& app);
    void AddVerify(CLI::App& app);
    void AddRepair(CLI::App& app);
    void AddIndex(CLI::App& app);

    CLI::App* m_manifest = nullptr;
    CLI::App* m_verify = nullptr;
    CLI::App* m_repair = nullptr;
    CLI::App* m_index = nullptr;

    std::string m_release;
    std::string m_output;
    std::string m_sha256sums;
    std::string m_game;
    std::vector<std::string> m_manifests;
    std::vector<std::string> m_packages;
    std::vector<std::string> m_releases;
    std::vector<std::string> m_releaseManifests;
    bool m_json = false;
    bool m_dryRun = false;
    bool m_removeExtra = false;
    unsigned m_jobs = 0;
    bool m_quiet = false;
};

#include "cli/PageCommand.h"

#include "base/TextConversion.h"
#include "base/WholeFile.h"
#include "cli/Commands.h"
#include "identity/ReleaseIndex.h"
#include "publish/DownloadPage.h"
#include "rules/VersionText.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Far above the index of any history; a larger file is no index.
constexpr std::uintmax_t kLargestIndex = std::uintmax_t(1) << 28;

std::string TimeNow() {
    const std::time_t now = std::time(nullptr);
    const std::tm* utc = std::gmtime(&now);
    char text[32];
    if (utc == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", utc) == 0) {
        return std::string();
    }
    return text;
}

// The page, from an index read back and held to what index demands, or nothing.
[[nodiscard]] bool WritePage(const fs::path& indexPath, const fs::path& page,
                             const PageOptions& options, ReleaseIndex& index, std::string& error) {
    std::string text;
    if (!ReadInputFile(indexPath, kLargestIndex, text, error)) {
        return false;
    }
    if (!ParseIndex(text, index, error)) {
        error = DisplayPath(indexPath) + " is no index patchkit index accepts:\n" + error;
        return false;
    }
    std::error_code failure;
    fs::create_directories(page.parent_path(), failure);
    if (failure) {
        error = DisplayPath(page.parent_path()) + ": " + failure.message();
        return false;
    }
    return WriteOutputFile(page, DownloadPageHtml(index, options), error);
}

} // namespace

PageCommand::PageCommand(CLI::App& app) {
    m_page = app.add_subcommand(
        "page", "Write the players' download page from a release index: DIR/index.html, one "
                "self-contained file listing the packages (linked beside it) newest first, and "
                "answering which ones a player several versions behind runs, in order "
                "(index.html?from=3185). Exit 0 when written, 1 when the index is refused.");
    m_page->add_option("index", m_index, "The history's index, as the index command wrote it")
        ->required()
        ->check(CLI::ExistingFile)
        ->type_name("releases.json");
    m_page->add_option("-o,--output", m_output, "The folder to write index.html into")
        ->required()
        ->type_name("DIR");
    m_page->add_option("--lang", m_language, "The players' language: zh (Simplified Chinese) or en")
        ->capture_default_str()
        ->check(CLI::IsMember({"zh", "en"}))
        ->type_name("LANG");
    m_page->add_flag("--no-time", m_noTime,
                     "Leave out when the page was made: the same index gives the same bytes");
}

bool PageCommand::Knows(const std::string& name) const {
    return m_page->check_name(name);
}

bool PageCommand::Parsed() const {
    return m_page->parsed();
}

int PageCommand::Run() const {
    PageOptions options;
    options.language = m_language == "en" ? PageLanguage::English : PageLanguage::SimplifiedChinese;
    options.madeAt = m_noTime ? std::string() : TimeNow();
    const fs::path page = fs::u8path(m_output) / "index.html";
    ReleaseIndex index;
    std::string error;
    if (!WritePage(fs::u8path(m_index), page, options, index, error)) {
        PrintError("no page written:\n" + error);
        return 1;
    }
    std::printf("%s: %zu packages, %s to %s%s\n", DisplayPath(page).c_str(), index.packages.size(),
                VersionShown(index.packages.front().version - 1).c_str(),
                VersionShown(index.packages.back().version).c_str(),
                index.proven ? ", proven on the release folders" : "");
    return 0;
}

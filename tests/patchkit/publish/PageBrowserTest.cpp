#include "PageHistory.h"

#include "pktest/PatchkitTestFiles.h"
#include "publish/HtmlText.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <cstring>

namespace fs = std::filesystem;

namespace {

using pktest::Contains;

// Headless, as root, and asking nothing of the network.
const char* const kChromium =
    "timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
    "--disable-background-networking --disable-component-update --disable-sync "
    "--disable-default-apps --hide-scrollbars";

class PageBrowserTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (pktest::Shell("command -v chromium") != 0) {
            GTEST_SKIP() << "chromium is not installed (script/setup installs it): the page is "
                            "not tried in a browser";
        }
        ASSERT_NO_FATAL_FAILURE(pagetest::MakeProvenHistory());
        for (const char* language : {"zh", "en"}) {
            const pktest::Outcome page =
                pktest::Patchkit(std::string("page releases.json --no-time -o site-") + language +
                                 " --lang " + language);
            ASSERT_EQ(page.exitCode, 0) << page.err;
        }
        fs::create_directories(PAGE_SCREENSHOTS);
    }

    // The page's address with query, as a player's browser opens it from the disk.
    static std::string Address(const std::string& language, const std::string& query) {
        return "'file://" + (fs::current_path() / ("site-" + language) / "index.html").string() +
               query + "'";
    }

    // Chromium's output for the flags, each run with a profile of its own.
    std::string Chromium(const std::string& flags) {
        const std::string profile = "profile-" + std::to_string(++m_runs);
        // In a subshell of its own: the page alone on standard output, chromium's notes apart.
        EXPECT_EQ(pktest::Shell("(" + std::string(kChromium) +
                                " --user-data-dir=" + (fs::current_path() / profile).string() +
                                " " + flags + " >dom.html 2>chromium-err.txt)"),
                  0)
            << testsupport::ReadBinaryFile("chromium-err.txt");
        return testsupport::ReadBinaryFile("dom.html");
    }

    // The document after the script ran; given a name, a screenshot of the page kept under it.
    std::string Open(const std::string& language, const std::string& query,
                     const char* name = nullptr, const char* window = "1100,820") {
        if (name != nullptr) {
            Chromium(std::string("--window-size=") + window + " --screenshot=" + PAGE_SCREENSHOTS +
                     "/" + name + " " + Address(language, query));
            EXPECT_TRUE(fs::is_regular_file(fs::path(PAGE_SCREENSHOTS) / name)) << name;
        }
        return Chromium("--dump-dom " + Address(language, query));
    }

    static std::string Answer(const std::string& dom) {
        const std::size_t start = dom.find("id=\"answer\"");
        const std::size_t end = dom.find("</div>", start);
        return start == std::string::npos || end == std::string::npos
                   ? std::string()
                   : dom.substr(start, end - start);
    }

    int m_runs = 0;
    testsupport::ScratchGameDirectory m_folder;
};

TEST_F(PageBrowserTest, APlayerTwoVersionsBehindIsGivenBothPackagesInOrder) {
    const std::uint64_t bytes =
        fs::file_size(pagetest::PackageName(3186)) + fs::file_size(pagetest::PackageName(3187));
    // As the messages print it, as the label shows it, and typed with a Chinese input method.
    for (const char* query : {"?from=3185", "?from=31.85", "?from=%EF%BC%93%EF%BC%91.85"}) {
        const std::string answer = Answer(Open(
            "zh", query, std::string(query) == "?from=3185" ? "page-zh-from-3185.png" : nullptr));
        const std::size_t first = answer.find("31.85 → 31.86");
        const std::size_t second = answer.find("31.86 → 31.87");
        EXPECT_TRUE(first != std::string::npos && second != std::string::npos && first < second)
            << query << answer;
        EXPECT_FALSE(Contains(answer, "31.84 → 31.85")) << answer;
        EXPECT_TRUE(Contains(answer, "href=\"./QRTManualPatch-31.86.exe\"")) << answer;
        EXPECT_TRUE(Contains(answer, "共 " + MegabytesText(bytes) + "（" + GroupedDigits(bytes) +
                                         " 字节）"))
            << answer;
    }
    const std::string english = Answer(Open("en", "?from=3185", "page-en-from-3185.png"));
    EXPECT_TRUE(Contains(english, "run these 2 packages in this order, " + MegabytesText(bytes)))
        << english;
}

TEST_F(PageBrowserTest, SaysWhenTheClientIsCurrentOrTheHistoryDoesNotReachIt) {
    std::string answer = Answer(Open("zh", "?from=3187", "page-zh-from-3187.png"));
    EXPECT_TRUE(Contains(answer, "您的本地版本已经是 31.87，不需要更新。")) << answer;
    EXPECT_FALSE(Contains(answer, "<li>")) << answer;
    answer = Answer(Open("zh", "?from=3100", "page-zh-from-3100.png"));
    EXPECT_TRUE(Contains(answer, "本页的更新包从 31.84 开始，无法从 31.00 升级")) << answer;
    answer = Answer(Open("zh", "?from=3190"));
    EXPECT_TRUE(Contains(answer, "31.90 比本页最新的版本 31.87 还新")) << answer;
    answer = Answer(Open("zh", "?from=abc"));
    EXPECT_TRUE(Contains(answer, "请输入更新程序显示的本地版本")) << answer;
}

// Chromium's --dump-dom and --screenshot need script; without-script.py disables it through the
// DevTools protocol, as a player's browser with script off loads the page.
TEST_F(PageBrowserTest, WithoutScriptTheTableHoldsEveryPackage) {
    const std::string profile = (fs::current_path() / "profile-without-script").string();
    ASSERT_EQ(pktest::Shell(std::string("timeout 120 python3 ") + WITHOUT_SCRIPT_DRIVER + " '" +
                            std::string(kChromium).substr(std::strlen("timeout 120 ")) +
                            " --user-data-dir=" + profile + "' " + Address("zh", "?from=3185") +
                            " 400 dom.html " + PAGE_SCREENSHOTS + "/page-zh-no-script-narrow.png"),
              0)
        << testsupport::ReadBinaryFile("tool-out.txt");
    const std::string dom = testsupport::ReadBinaryFile("dom.html");
    for (std::uint32_t version = 3185; version <= 3187; ++version) {
        EXPECT_TRUE(Contains(dom, "href=\"./" + pagetest::PackageName(version) + "\"")) << version;
    }
    EXPECT_TRUE(Contains(dom, "<noscript><p class=\"note\">")) << dom;
    EXPECT_TRUE(Contains(dom, "aria-labelledby=\"which-title\" hidden")) << dom;
    EXPECT_TRUE(Contains(dom, "aria-live=\"polite\"></div>")) << dom;
}

TEST_F(PageBrowserTest, TheWholePageAsPublishersSeeIt) {
    Open("zh", "", "page-zh.png", "1100,900");
    Open("en", "", "page-en.png", "1100,900");
}

} // namespace

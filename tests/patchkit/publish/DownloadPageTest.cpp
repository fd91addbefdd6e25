#include "publish/DownloadPage.h"
#include "publish/HtmlText.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos;
         at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

IndexedPackage Package(std::uint32_t version, const std::string& file) {
    IndexedPackage package;
    package.fileName = file;
    package.version = version;
    package.size = 3000000 + version;
    package.sha256 = std::string(32, '\xab');
    return package;
}

ReleaseIndex History() {
    ReleaseIndex index;
    for (std::uint32_t version = 3185; version <= 3187; ++version) {
        index.packages.push_back(Package(version, "p" + std::to_string(version) + ".exe"));
    }
    return index;
}

// An index is read from files: names and certificate texts built to break out of the page.
ReleaseIndex HostileHistory() {
    ReleaseIndex index = History();
    index.packages[0].fileName = "javascript:alert(1)//\"'><img src=x onerror=alert(2)>.exe";
    SignatureReport& signature = index.packages[1].signature;
    signature.present = true;
    signature.sealed = true;
    signature.signer.certificateFound = true;
    signature.signer.certificate.subject = "CN=</script><script>alert(3)</script><!--";
    signature.signer.timestamped = true;
    signature.signer.timestamp.time = "<b>now</b>";
    signature.signer.timestamp.authoritySubject = "CN=\"&amp;\"";
    index.packages[2].fileName = "</script>\xe6\x9b\xb4\xe6\x96\xb0 #1?.exe";
    return index;
}

TEST(DownloadPageTest, TextFromTheIndexCannotBecomeMarkupOrScript) {
    const std::string page = DownloadPageHtml(HostileHistory(), PageOptions());
    EXPECT_EQ(Count(page, "<script"), 2u);
    EXPECT_EQ(Count(page, "</script>"), 2u);
    EXPECT_EQ(Count(page, "<img"), 0u);
    EXPECT_EQ(Count(page, "<!--"), 0u);
    EXPECT_EQ(Count(page, "<b>"), 0u);
    EXPECT_EQ(Count(page, "href=\"javascript"), 0u);
    EXPECT_NE(page.find("href=\"./javascript%3Aalert%281%29%2F%2F%22%27%3E%3Cimg"),
              std::string::npos);
    EXPECT_NE(page.find("CN=&lt;/script&gt;&lt;script&gt;alert(3)"), std::string::npos);
    EXPECT_NE(page.find("CN=&quot;&amp;amp;&quot;"), std::string::npos);
    EXPECT_NE(page.find("\"./%3C%2Fscript%3E%E6%9B%B4%E6%96%B0%20%231%3F.exe\""),
              std::string::npos);
    EXPECT_NE(page.find("\\u003c/script\\u003e\xe6\x9b\xb4\xe6\x96\xb0 #1?.exe"),
              std::string::npos);
}

TEST(DownloadPageTest, ListsNewestFirstAndRequestsNothingElsewhere) {
    for (const PageLanguage language : {PageLanguage::SimplifiedChinese, PageLanguage::English}) {
        ReleaseIndex index = History();
        index.proven = true;
        const std::string page = DownloadPageHtml(index, PageOptions{language, ""});
        const std::size_t newest = page.find("<tr id=\"v3187\">");
        const std::size_t oldest = page.find("<tr id=\"v3185\">");
        EXPECT_TRUE(newest != std::string::npos && oldest != std::string::npos && newest < oldest);
        EXPECT_NE(page.find(">31.86 → 31.87<"), std::string::npos);
        EXPECT_NE(page.find(">2.86 MB<"), std::string::npos); // 3,003,187 bytes
        EXPECT_NE(page.find("3,003,187"), std::string::npos);
        std::string digest;
        for (int i = 0; i < 32; ++i) {
            digest += "ab";
        }
        EXPECT_EQ(Count(page, "<code class=\"digest\" tabindex=\"0\">" + digest + "</code>"), 3u);
        std::string lower = page;
        for (char& character : lower) {
            character = static_cast<char>(std::tolower(static_cast<unsigned char>(character)));
        }
        for (const char* request : {"http", "src=", "url(", "@import", "fetch(", "<link"}) {
            EXPECT_EQ(Count(lower, request), 0u) << request;
        }
        EXPECT_EQ(page, DownloadPageHtml(index, PageOptions{language, ""}));
    }
}

TEST(DownloadPageTest, SpeaksThePlayersLanguageAndSaysWhatWasProven) {
    ReleaseIndex index = History();
    const std::string chinese = DownloadPageHtml(index, PageOptions());
    EXPECT_NE(chinese.find("<html lang=\"zh-CN\">"), std::string::npos);
    EXPECT_NE(chinese.find("未签名"), std::string::npos);
    EXPECT_NE(chinese.find("未用发布目录验证"), std::string::npos);
    EXPECT_EQ(chinese.find("生成时间"), std::string::npos);
    index.proven = true;
    const std::string english =
        DownloadPageHtml(index, PageOptions{PageLanguage::English, "2026-12-09 15:30 UTC"});
    EXPECT_NE(english.find("<html lang=\"en\">"), std::string::npos);
    EXPECT_NE(english.find("proven against the release folders"), std::string::npos);
    EXPECT_NE(english.find("Made 2026-12-09 15:30 UTC."), std::string::npos);
}

TEST(DownloadPageTest, SizesRoundAsTheScriptRoundsThem) {
    EXPECT_EQ(MegabytesText(0), "0.00 MB");
    EXPECT_EQ(MegabytesText(131072), "0.13 MB"); // exactly 0.125: half up, not to even
    EXPECT_EQ(MegabytesText(1048576), "1.00 MB");
    EXPECT_EQ(MegabytesText(1048575), "1.00 MB");
    EXPECT_EQ(MegabytesText(5000000000), "4768.37 MB");
    EXPECT_EQ(GroupedDigits(0), "0");
    EXPECT_EQ(GroupedDigits(999), "999");
    EXPECT_EQ(GroupedDigits(1000), "1,000");
    EXPECT_EQ(GroupedDigits(12939428), "12,939,428");
}

} // namespace

#include "PageHistory.h"

#include "identity/ReleaseIndex.h"
#include "pktest/PatchkitTestFiles.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

using pktest::Contains;
using pktest::Patchkit;

class PageCommandTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(pagetest::MakeProvenHistory()); }

    testsupport::ScratchGameDirectory m_folder;
};

TEST_F(PageCommandTest, WritesTheSameValidPageFromTheSameIndex) {
    const pktest::Outcome written = Patchkit("page releases.json -o site --no-time");
    ASSERT_EQ(written.exitCode, 0) << written.err;
    EXPECT_TRUE(Contains(written.out, "3 packages, 31.84 to 31.87, proven")) << written.out;
    const std::string page = testsupport::ReadBinaryFile("site/index.html");
    ASSERT_EQ(Patchkit("page releases.json -o again --no-time").exitCode, 0);
    EXPECT_EQ(testsupport::ReadBinaryFile("again/index.html"), page);
    EXPECT_FALSE(Contains(page, "http"));
    EXPECT_TRUE(Contains(page, "href=\"./QRTManualPatch-31.85.exe\""));
    // Each signature as inspect names it.
    EXPECT_TRUE(Contains(page, "签名者：CN=QRT Games Publisher, O=QRT Games, C=CN</span><span "
                               "class=\"second\">时间戳：20"));
    EXPECT_TRUE(Contains(page, "(CN=QRT Test TSA)"));
    EXPECT_TRUE(Contains(page, "无时间戳：证书过期后签名即失效"));
    EXPECT_TRUE(Contains(page, "未签名"));
    std::size_t filesWritten = 0;
    for ([[maybe_unused]] const auto& file : fs::directory_iterator("site")) {
        ++filesWritten;
    }
    EXPECT_EQ(filesWritten, 1u); // no partial file left beside it

    ASSERT_EQ(Patchkit("page releases.json -o timed --lang en").exitCode, 0);
    const std::string timed = testsupport::ReadBinaryFile("timed/index.html");
    EXPECT_TRUE(Contains(timed, " UTC.</p></footer>"));
    EXPECT_TRUE(Contains(timed, "<html lang=\"en\">"));

    if (pktest::Shell("command -v tidy") != 0) {
        GTEST_SKIP() << "tidy is not installed (script/setup installs it): HTML not validated";
    }
    // tidy exits 0 when clean, 1 for warnings, 2 for errors; either page must be clean.
    EXPECT_EQ(pktest::Shell("tidy -q -e site/index.html"), 0)
        << testsupport::ReadBinaryFile("tool-out.txt");
    EXPECT_EQ(pktest::Shell("tidy -q -e timed/index.html"), 0)
        << testsupport::ReadBinaryFile("tool-out.txt");
}

TEST_F(PageCommandTest, AnIndexThatIndexWouldRefuseGivesNoPage) {
    ASSERT_EQ(Patchkit("page releases.json -o site --no-time").exitCode, 0);
    const std::string published = testsupport::ReadBinaryFile("site/index.html");
    ReleaseIndex index;
    std::string error;
    ASSERT_TRUE(ParseIndex(testsupport::ReadBinaryFile("releases.json"), index, error)) << error;
    index.packages.erase(index.packages.begin() + 1);
    ASSERT_TRUE(pktest::PutFile("gap.json", IndexJson(index)));

    pktest::Outcome refused = Patchkit("page gap.json -o site");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.err, "no page written")) << refused.err;
    EXPECT_TRUE(Contains(refused.err, "a gap: no package brings 3185 to 3186")) << refused.err;
    EXPECT_EQ(testsupport::ReadBinaryFile("site/index.html"), published);

    ASSERT_TRUE(pktest::PutFile("damaged.json", "{\"proven\": true, \"packages\": [{}]}"));
    refused = Patchkit("page damaged.json -o other");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.err, "package 1 is incomplete or invalid")) << refused.err;
    EXPECT_FALSE(fs::exists("other/index.html"));
    EXPECT_EQ(Patchkit("page releases.json -o site --lang fr").exitCode, 2);
}

} // namespace

#include "package/LocalState.h"

#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>

namespace {

class LocalStateTest : public ::testing::Test {
protected:
    void WriteVersionIni(const std::string& text) {
        ASSERT_TRUE(testsupport::WriteBinaryFile("version.ini", text));
    }
    static std::string VersionIni() { return testsupport::ReadBinaryFile("version.ini"); }

    testsupport::ScratchGameDirectory directory;
};

TEST_F(LocalStateTest, ReadsWhatFormattedInputAccepts) {
    const struct {
        const char* text;
        std::uint32_t version;
        std::int64_t offset;
    } cases[] = {
        {"3186\r\n0\r\n", 3186, 0},
        {"3186\n1478644\n", 3186, 1478644},
        {"3186", 3186, 0},
        {"3186 1000", 3186, 1000},
        {" \t\r\n 3186\r\n\r\n  +77", 3186, 77},
        {"3186\r\nabc", 3186, 0},
        {"3186x55", 3186, 0},
        {"-1\r\n", 4294967295u, 0},
        {"-2147483648", 2147483648u, 0},
        {"4294967295", 4294967295u, 0},
        {"3186\r\n9223372036854775807", 3186, INT64_MAX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        WriteVersionIni(c.text);
        LocalState state;
        ASSERT_TRUE(ReadLocalState(state));
        EXPECT_EQ(state.localVersion, c.version);
        EXPECT_EQ(state.pakAppendOffset, c.offset);
    }
}

TEST_F(LocalStateTest, RefusesStatesThatCannotBeTrusted) {
    LocalState state;
    EXPECT_FALSE(ReadLocalState(state)); // no file
    for (const char* text :
         {"", "0\r\n5\r\n", "-0", "abc",
          "\xEF\xBB\xBF"
          "3186",
          "- 5", "3186\r\n-1", "4294967296", "-2147483649", "3186\r\n9223372036854775808"}) {
        SCOPED_TRACE(text);
        WriteVersionIni(text);
        EXPECT_FALSE(ReadLocalState(state));
    }
    // Sound values behind more padding than any real file holds.
    WriteVersionIni(std::string(70000, ' ') + "3186\r\n0\r\n");
    EXPECT_FALSE(ReadLocalState(state));
}

TEST_F(LocalStateTest, WritesTwoLinesEndingInCrLf) {
    WriteVersionIni("3186\r\n0\r\n");
    ASSERT_TRUE(WriteLocalState(LocalState{3187, 1480644}));
    EXPECT_EQ(VersionIni(), "3187\r\n1480644\r\n");
    ASSERT_TRUE(WriteLocalState(LocalState{4294967295u, 0}));
    EXPECT_EQ(VersionIni(), "-1\r\n0\r\n");
    EXPECT_FALSE(std::filesystem::exists("version.ini.new"));
}

TEST_F(LocalStateTest, FailedRewriteLeavesTheOldFileWhole) {
    WriteVersionIni("3186\r\n0\r\n");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit tiny = previous;
    tiny.rlim_cur = 4;
    setrlimit(RLIMIT_FSIZE, &tiny);
    const bool written = WriteLocalState(LocalState{3187, 1480644});
    setrlimit(RLIMIT_FSIZE, &previous);
    EXPECT_FALSE(written);
    EXPECT_EQ(VersionIni(), "3186\r\n0\r\n");
    EXPECT_FALSE(std::filesystem::exists("version.ini.new"));

    // Never created from nothing.
    std::filesystem::remove("version.ini");
    EXPECT_FALSE(WriteLocalState(LocalState{3187, 0}));
    EXPECT_FALSE(std::filesystem::exists("version.ini"));
}

} // namespace

#include "base/ExternalCommand.h"

#include <gtest/gtest.h>

namespace {

// Quotes group, and a Windows path keeps its backslashes.
TEST(ExternalCommandTest, CommandLinesSplitIntoWords) {
    std::vector<std::string> words;
    ASSERT_TRUE(SplitCommandLine(" signtool sign /f \"C:\\My Keys\\k.pfx\" 'a b'{file}  ", words));
    EXPECT_EQ(words, (std::vector<std::string>{"signtool", "sign", "/f", "C:\\My Keys\\k.pfx",
                                               "a b{file}"}));
    ASSERT_TRUE(SplitCommandLine("tool \"\" 'it''s'", words));
    EXPECT_EQ(words, (std::vector<std::string>{"tool", "", "its"}));
    EXPECT_FALSE(SplitCommandLine("  ", words));
    EXPECT_FALSE(SplitCommandLine("tool 'open", words));
}

// The program's exit code comes back, also one a signal gave; a missing program is no exit code.
TEST(ExternalCommandTest, RunsAProgramAndGivesItsExitCode) {
    int exitCode = -1;
    std::string problem;
    ASSERT_TRUE(RunCommand({"sh", "-c", "exit 3"}, exitCode, problem)) << problem;
    EXPECT_EQ(exitCode, 3);
    ASSERT_TRUE(RunCommand({"sh", "-c", "kill -TERM $$"}, exitCode, problem)) << problem;
    EXPECT_EQ(exitCode, 128 + 15);
    EXPECT_FALSE(RunCommand({"no-such-program-here"}, exitCode, problem));
    EXPECT_NE(problem.find("no-such-program-here: cannot be started"), std::string::npos);
}

} // namespace

#include "base/ExternalCommand.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The value reaches the program exactly, standing bare, inside either kind of quotes or joined to
// other text, whatever the shell would otherwise make of its characters.
TEST(ExternalCommandTest, APlaceholderReachesTheProgramExactlyWhereverItStands) {
    const std::string out = ::testing::TempDir() + "placeholder out 'q' $x.txt";
    const std::string awkward = "it's \"a\" $HOME `id` \\n & ; * ~ (1) | > %PATH% ^ !";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"printf %s {v} >{out}", awkward},
        {"printf %s '{v}' >\"{out}\"", awkward},
        {"printf %s \"{v}\" >'{out}'", awkward},
        {"printf %s \"<{v}>\"'[{v}]'{v}.x >{out}",
         "<" + awkward + ">[" + awkward + "]" + awkward + ".x"},
        {"printf %s '\"{v}' \"'\" >{out}", "\"" + awkward + "'"},
    };
    for (const auto& [command, expected] : cases) {
        SCOPED_TRACE(command);
        std::remove(out.c_str());
        std::string line;
        std::string problem;
        ASSERT_TRUE(FillCommandLine(command, {{"{v}", awkward}, {"{out}", out}}, line, problem))
            << problem;
        int exitCode = -1;
        ASSERT_TRUE(RunCommandLine(line, exitCode, problem)) << problem;
        EXPECT_EQ(exitCode, 0) << line;
        EXPECT_EQ(ReadText(out), expected) << line;
    }
    std::remove(out.c_str());
}

// A pipeline's command line: &&, ||, redirections, variables; the exit code of the whole line, also
// one a signal gave.
TEST(ExternalCommandTest, TheLineRunsAsTheShellRunsItAndGivesItsExitCode) {
    const std::string out = ::testing::TempDir() + "command-line.txt";
    const std::vector<std::pair<std::string, int>> cases = {
        {"exit 3", 3},
        {"true && exit 4", 4},
        {"false || exit 5", 5},
        {"kill -TERM $$", 128 + 15},
        {"no-such-program-here", 127},
        {"KEY='a b'; printf %s \"$KEY\" >'" + out + "' && test \"$(cat '" + out + "')\" = 'a b'",
         0},
    };
    for (const auto& [line, expected] : cases) {
        SCOPED_TRACE(line);
        int exitCode = -1;
        std::string problem;
        ASSERT_TRUE(RunCommandLine(line, exitCode, problem)) << problem;
        EXPECT_EQ(exitCode, expected);
    }
    std::remove(out.c_str());
}

} // namespace

#include "pktest/PatchkitTestFiles.h"
#include "support/PackageBuilder.h"
#include "support/ScratchGameDirectory.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <pty.h>
#include <set>
#include <sstream>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using namespace pktest;

// Runs the real program with a terminal for its output; returns what the terminal showed.
std::string PatchkitOnTerminal(const std::vector<std::string>& arguments) {
    std::vector<char*> argv = {const_cast<char*>(PATCHKIT_PROGRAM)};
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    int terminal = -1;
    const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string shown;
    char buffer[4096];
    ssize_t count = 0;
    // The terminal reports an error rather than an end once the program has exited.
    while (child > 0 && (count = read(terminal, buffer, sizeof buffer)) > 0) {
        shown.append(buffer, static_cast<std::size_t>(count));
    }
    int status = 0;
    if (child > 0) {
        close(terminal);
        waitpid(child, &status, 0);
    }
    EXPECT_TRUE(child > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
    return shown;
}

class CommandLineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(PutFile("stub.exe", pktest::MinimalPeImage()));
        ASSERT_TRUE(fs::create_directory("game"));
        ASSERT_TRUE(PutFile("game/version.ini", "3186\r\n0\r\n"));
        ASSERT_TRUE(PutFile("game/res.pak", std::string(100, 'P')));
    }

    testsupport::ScratchGameDirectory m_folder;
};

TEST_F(CommandLineTest, BuildInspectAndApplyAFolder) {
    const std::string text = testsupport::PatternedData(50000);
    const std::string pak = testsupport::NoiseData(3000) + testsupport::PatternedData(3000);
    ASSERT_TRUE(PutFile(Utf8Path("source/Data/Sub/深层/说明.txt"), "hello"));
    ASSERT_TRUE(PutFile("source/Data/empty.txt", ""));
    ASSERT_TRUE(PutFile(Utf8Path("source/Data/中文名.dat"), text));
    ASSERT_TRUE(PutFile("source/Readme.TXT", "read me"));
    ASSERT_TRUE(PutFile("source/res.pak", pak));

    const Outcome built = Patchkit("build --stub stub.exe --version 3187 --from source -o p.exe");
    ASSERT_EQ(built.exitCode, 0) << built.err;
    EXPECT_TRUE(Contains(built.out, "p.exe: package for version 3187 (31.87)")) << built.out;
    EXPECT_TRUE(Contains(built.err, "note: source/Data: written as data/\n")) << built.err;
    EXPECT_TRUE(Contains(built.err, "note: 2 more names with upper-case letters")) << built.err;

    const Outcome inspected = Patchkit("inspect p.exe --verify --json");
    ASSERT_EQ(inspected.exitCode, 0) << inspected.out;
    std::size_t at = 0;
    for (const char* name : {"Data/", "Data/Sub/", "Data/Sub/深层/", "Data/Sub/深层/说明.txt",
                             "Data/empty.txt", "Data/中文名.dat", "Readme.TXT", "res.pak"}) {
        at = inspected.out.find("\"storedName\": \"" + std::string(name) + "\"", at);
        EXPECT_NE(at, std::string::npos) << name << " missing or out of order";
    }
    EXPECT_TRUE(Contains(inspected.out, "\"writtenPath\": \"data/sub/深层/说明.txt\""));

    const Outcome applied = Patchkit("apply p.exe --game game");
    ASSERT_EQ(applied.exitCode, 0) << applied.err;
    EXPECT_EQ(applied.out.substr(0, applied.out.find("0%")),
              "最新版本： 31.87\n本地版本： 31.86\n");
    EXPECT_TRUE(Contains(applied.out, "100%\n本地版本： 31.87\n")) << applied.out;
    const std::map<std::string, std::string> expected = {
        {"data", "<folder>"},
        {"data/sub", "<folder>"},
        {"data/sub/深层", "<folder>"},
        {"data/sub/深层/说明.txt", "hello"},
        {"data/empty.txt", ""},
        {"data/中文名.dat", text},
        {"readme.txt", "read me"},
        {"res.pak", std::string(100, 'P') + pak},
        {"patch", "<folder>"},
        {"version.ini", "3187\r\n" + std::to_string(100 + pak.size()) + "\r\n"},
    };
    EXPECT_EQ(TreeOf("game"), expected);

    const Outcome again = Patchkit("apply p.exe --game game");
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_EQ(again.err, "您的本地版本已经是3187，不需要进行升级！\n");
}

// Standard output on a full disk: the command fails, and says why on the error stream.
TEST_F(CommandLineTest, EveryCommandExitsOneWhenItsOutputCannotBeWritten) {
    ASSERT_TRUE(PutFile("source/a.txt", "a"));
    auto onFullDisk = [](const std::string& arguments) {
        const std::string command = std::string("'") + PATCHKIT_PROGRAM + "' " + arguments +
                                    " >/dev/full 2>patchkit-err.txt";
        const int status = std::system(command.c_str());
        EXPECT_TRUE(Contains(testsupport::ReadBinaryFile("patchkit-err.txt"),
                             "patchkit: the output cannot be written"))
            << arguments;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(onFullDisk("build --stub stub.exe --version 3187 --from source -o p.exe"), 1);
    ASSERT_TRUE(fs::exists("p.exe"));
    EXPECT_EQ(onFullDisk("inspect p.exe --json"), 1);
    EXPECT_EQ(onFullDisk("inspect p.exe"), 1);
    EXPECT_EQ(onFullDisk("apply p.exe --game game"), 1);
    EXPECT_EQ(onFullDisk("--version"), 1);
    EXPECT_EQ(onFullDisk("--help"), 1);
}

// A Linux copy of a Windows game folder keeps its folders' case; the updater writes lower case.
TEST_F(CommandLineTest, ApplyFindsFoldersWhateverTheirCaseAndRefusesTwoThatDifferOnlyInCase) {
    ASSERT_TRUE(PutFile("source/maps/field.dat", "new field"));
    ASSERT_TRUE(PutFile("source/maps/added.dat", "added"));
    ASSERT_TRUE(Patchkit("build --stub stub.exe --version 3187 --from source -o p.exe").exitCode ==
                0);
    ASSERT_TRUE(PutFile("game/Maps/Field.dat", "old field"));

    const Outcome applied = Patchkit("apply p.exe --game game");
    ASSERT_EQ(applied.exitCode, 0) << applied.out << applied.err;
    EXPECT_EQ(testsupport::ReadBinaryFile("game/Maps/Field.dat"), "new field");
    EXPECT_EQ(testsupport::ReadBinaryFile("game/Maps/added.dat"), "added");
    EXPECT_FALSE(fs::exists("game/maps"));

    ASSERT_TRUE(PutFile("game/version.ini", "3186\r\n0\r\n"));
    ASSERT_TRUE(fs::create_directory("game/MAPS"));
    const auto before = TreeOf("game");
    const Outcome refused = Patchkit("apply p.exe --game game");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.err, "differ only in case")) << refused.err;
    EXPECT_TRUE(TreeOf("game") == before);
}

TEST_F(CommandLineTest, HelpVersionAndUsageErrors) {
    const Outcome help = Patchkit("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(Contains(help.out, "build")) << help.out;
    EXPECT_EQ(Patchkit("build --help").exitCode, 0);
    const Outcome version = Patchkit("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(Contains(version.out, "patchkit 1.0.0.1")) << version.out;

    const std::vector<std::pair<std::string, std::string>> usageErrors = {
        {"", "A subcommand is required"},
        {"frob", "unknown command 'frob'"},
        {"inspect stub.exe --frob", "--frob"},
        {"inspect", "package is required"},
        {"seal", "package is required"},
        {"seal stub.exe --frob", "--frob"},
        {"build --stub stub.exe --version 3187 -o out.exe", "[--from,--zip] is required"},
        {"build --stub stub.exe --version 3187 --from . --zip stub.exe -o out.exe", "2 were given"},
        {"build --stub stub.exe --version 3187 --from . -o out.exe --level 13", "--level"},
        {"build --stub stub.exe --version 4294967296 --from . -o out.exe", "--version"},
        {"apply stub.exe --game missing", "--game"},
        {"diff --old . --new .", "[--folder,--stub] is required"},
        {"diff --old . --new . --folder out --stub stub.exe -o p.exe", "excludes --folder"},
        {"diff --old . --new . --folder out --replace", "--replace requires --stub"},
        {"diff --old . --new . --stub stub.exe", "--stub requires --output"},
        {"diff --old . --new missing --folder out", "--new"},
    };
    for (const auto& [arguments, says] : usageErrors) {
        SCOPED_TRACE(arguments);
        const Outcome outcome = Patchkit(arguments);
        EXPECT_EQ(outcome.exitCode, 2);
        EXPECT_TRUE(Contains(outcome.err, says)) << outcome.err;
        // The usage of the command given; of every command when none was.
        const std::string command = arguments.substr(0, arguments.find(' '));
        const bool known = !command.empty() && command != "frob";
        EXPECT_TRUE(Contains(outcome.err, "usage: patchkit " + (known ? command : "build")))
            << outcome.err;
        EXPECT_EQ(Contains(outcome.err, "patchkit seal"), command == "seal" || !known);
    }
    EXPECT_FALSE(fs::exists("out.exe"));
}

// The words of a help text, without the brackets and bars of its usage lines.
std::set<std::string> WordsOf(std::string text) {
    for (char& c : text) {
        c = std::string_view("[]()|,").find(c) == std::string_view::npos ? c : ' ';
    }
    std::istringstream words(text);
    return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
}

// The names of the options a help text lists, one set per option ("-o,--output").
std::vector<std::set<std::string>> OptionsListed(const std::string& help) {
    std::vector<std::set<std::string>> options;
    std::istringstream lines(help);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t start = line.find_first_not_of(' ');
        const bool listsOption = (start == 2 || start == 4) && line[start] == '-'; // 4: in a group
        if (listsOption && line.find("--help") == std::string::npos) {
            options.push_back(WordsOf(line.substr(0, line.find(' ', start))));
        }
    }
    return options;
}

// From "usage: " to the first blank line.
std::string UsageOf(const std::string& help) {
    const std::size_t start = help.find("usage: ");
    return start == std::string::npos ? "" : help.substr(start, help.find("\n\n", start) - start);
}

// Every option CLI11 holds for a command shows in that command's help, in its usage there and in
// the program's list of commands; no other command's options or usage show in it.
TEST_F(CommandLineTest, EachCommandsHelpShowsItsOwnOptionsFromOneSource) {
    const Outcome program = Patchkit("--help");
    ASSERT_EQ(program.exitCode, 0);
    std::vector<std::string> commands;
    std::istringstream listed(program.out.substr(program.out.find("\nSubcommands:\n") + 1));
    for (std::string line; std::getline(listed, line) && !line.empty();) {
        if (line.rfind("  ", 0) == 0) {
            commands.push_back(line.substr(2, line.find(' ', 2) - 2));
        }
    }
    ASSERT_GE(commands.size(), 9u) << program.out;
    std::map<std::string, std::set<std::string>> optionsOf;
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        const Outcome help = Patchkit(command + " --help");
        ASSERT_EQ(help.exitCode, 0);
        const std::string usage = UsageOf(help.out);
        ASSERT_TRUE(Contains(usage, "usage: patchkit " + command)) << help.out;
        EXPECT_TRUE(Contains(program.out, usage.substr(7))) << "not in the program's help";
        for (const std::set<std::string>& names : OptionsListed(help.out)) {
            bool inUsage = false;
            for (const std::string& name : names) {
                inUsage = inUsage || WordsOf(usage).count(name) > 0;
                optionsOf[command].insert(name);
            }
            EXPECT_TRUE(inUsage) << *names.begin() << " missing from the usage:\n" << usage;
        }
        for (const std::string& other : commands) {
            EXPECT_EQ(Contains(help.out, "patchkit " + other + " "), other == command) << other;
        }
    }
    for (const auto& [command, options] : optionsOf) {
        const std::set<std::string> words = WordsOf(UsageOf(Patchkit(command + " --help").out));
        for (const auto& [other, otherOptions] : optionsOf) {
            for (const std::string& name : otherOptions) {
                EXPECT_TRUE(options.count(name) > 0 || words.count(name) == 0)
                    << command << " --help gives " << name << " of " << other << " in its usage";
            }
        }
    }
}

TEST_F(CommandLineTest, RefusalsAndFindingsExitWithOne) {
    ASSERT_TRUE(PutFile("source/a.txt", "a"));
    const Outcome refused = Patchkit("build --stub stub.exe --version 0 --from source -o p.exe");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(Contains(refused.err, "patchkit: nothing written:\nversion 0")) << refused.err;
    EXPECT_FALSE(fs::exists("p.exe"));

    std::string archive =
        testsupport::BuildZipArchive({{"a.txt", "a"}, {"b.pak", "b"}, {"c.pak", "c"}});
    ASSERT_TRUE(
        PutFile("bad.exe", testsupport::BuildPackage(archive, 3187, pktest::MinimalPeImage())));
    const Outcome inspected = Patchkit("inspect bad.exe");
    EXPECT_EQ(inspected.exitCode, 1);
    EXPECT_TRUE(Contains(inspected.out, "error    entry 3: a second pak entry")) << inspected.out;
    EXPECT_TRUE(Contains(inspected.out, "would not apply this package cleanly: 1 error"))
        << inspected.out;

    const Outcome applied = Patchkit("apply bad.exe --game game");
    EXPECT_EQ(applied.exitCode, 1);
    EXPECT_EQ(applied.err, "读取补丁文件失败！\n");
    EXPECT_EQ(testsupport::ReadBinaryFile("game/version.ini"), "3186\r\n0\r\n");
}

// A publisher's release: build, sign with a standard tool (Debian's osslsigncode, a throw-away
// certificate), seal, inspect, apply. The sealed package applies exactly as the unsigned one.
TEST_F(CommandLineTest, SignedAndSealedPackageVerifiesAndAppliesLikeTheUnsignedOne) {
    ASSERT_EQ(Shell("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                    "-keyout key.pem -out cert.pem -days 2 -subj /CN=Publisher "
                    "-addext extendedKeyUsage=codeSigning"),
              0)
        << testsupport::ReadBinaryFile("tool-out.txt");
    ASSERT_TRUE(PutFile("source/data/notice.txt", "notice"));
    ASSERT_TRUE(PutFile("source/res.pak", testsupport::NoiseData(20000)));
    ASSERT_EQ(Patchkit("build --stub stub.exe --version 3187 --from source -o p.exe").exitCode, 0);
    fs::copy("game", "unsigned-game", fs::copy_options::recursive);
    ASSERT_EQ(Patchkit("apply p.exe --game unsigned-game").exitCode, 0);

    for (const std::string options : {"-h sha1", "-h sha256 -addUnauthenticatedBlob"}) {
        SCOPED_TRACE(options);
        fs::remove("s.exe");
        ASSERT_EQ(Shell("osslsigncode sign -certs cert.pem -key key.pem " + options +
                        " -in p.exe -out s.exe"),
                  0)
            << testsupport::ReadBinaryFile("tool-out.txt");
        const Outcome unsealed = Patchkit("inspect s.exe");
        EXPECT_EQ(unsealed.exitCode, 1);
        EXPECT_TRUE(Contains(unsealed.out, "run patchkit seal on it [not-sealed]")) << unsealed.out;

        const Outcome sealed = Patchkit("seal s.exe");
        ASSERT_EQ(sealed.exitCode, 0) << sealed.err;
        EXPECT_EQ(Shell("osslsigncode verify -CAfile cert.pem -in s.exe"), 0)
            << testsupport::ReadBinaryFile("tool-out.txt");
        EXPECT_FALSE(Contains(testsupport::ReadBinaryFile("tool-out.txt"), "invalid PE checksum"));
        const Outcome inspected = Patchkit("inspect s.exe --verify --json");
        EXPECT_EQ(inspected.exitCode, 0) << inspected.out;
        const std::string algorithm = options.substr(3, options.find(' ', 3) - 3);
        EXPECT_TRUE(Contains(inspected.out, "\"signature\": {\n    \"present\": true,\n    "
                                            "\"sealed\": true,\n    \"digestAlgorithm\": \"" +
                                                algorithm + "\",\n    \"digestMatches\": true"))
            << inspected.out;
        const Outcome again = Patchkit("seal s.exe");
        EXPECT_EQ(again.exitCode, 1);
        EXPECT_TRUE(Contains(again.err, "is already sealed")) << again.err;
    }

    ASSERT_EQ(Patchkit("apply s.exe --game game").exitCode, 0);
    EXPECT_EQ(TreeOf("game"), TreeOf("unsigned-game"));

    std::string changed = testsupport::ReadBinaryFile("s.exe");
    changed[0x400 + 100] ^= 1; // a byte of the archive
    ASSERT_TRUE(PutFile("s.exe", changed));
    const Outcome inspected = Patchkit("inspect s.exe");
    EXPECT_EQ(inspected.exitCode, 1);
    EXPECT_TRUE(
        Contains(inspected.out, "Signature  sha256, sealed, digest does not match the file"))
        << inspected.out;
    EXPECT_TRUE(Contains(inspected.out, "[digest-mismatch]")) << inspected.out;
}

} // namespace

namespace {

TEST_F(CommandLineTest, AnyJobCountGivesTheSameBytesAndEachPackageAppliesAlike) {
    const std::size_t block = 1 << 20;
    const std::map<std::string, std::string> files = {
        {"res.pak", testsupport::PatternedData(3 * block + 12345)},
        {"data/one-block.dat", testsupport::PatternedData(block, 2)},
        {"data/empty.txt", ""},
        {"data/noise.bin", testsupport::NoiseData(2 * block + 100)},
        {"data/small-noise.bin", testsupport::NoiseData(1000)},
    };
    for (const auto& [name, data] : files) {
        ASSERT_TRUE(PutFile("source/" + name, data));
    }
    std::map<std::string, std::string> expected = files;
    expected["data"] = "<folder>";
    expected["patch"] = "<folder>";
    expected["res.pak"] = std::string(100, 'P') + files.at("res.pak");
    expected["version.ini"] = "3187\r\n" + std::to_string(expected["res.pak"].size()) + "\r\n";

    std::string firstPackage;
    for (const char* jobs : {"1", "2", "7"}) {
        SCOPED_TRACE(std::string("--jobs ") + jobs);
        const std::string package = std::string("p") + jobs + ".exe";
        const Outcome built = Patchkit("build --stub stub.exe --version 3187 --from source -o " +
                                       package + " --jobs " + jobs);
        ASSERT_EQ(built.exitCode, 0) << built.err;
        const std::string bytes = testsupport::ReadBinaryFile(package);
        if (firstPackage.empty()) {
            firstPackage = bytes;
        }
        EXPECT_TRUE(bytes == firstPackage) << "the bytes depend on the number of threads";

        const Outcome inspected =
            Patchkit("inspect --verify --jobs " + std::string(jobs) + " " + package);
        EXPECT_EQ(inspected.exitCode, 0) << inspected.out;
        const std::string game = std::string("game") + jobs;
        fs::copy("game", game, fs::copy_options::recursive);
        const Outcome applied = Patchkit("apply " + package + " --game " + game);
        ASSERT_EQ(applied.exitCode, 0) << applied.err;
        EXPECT_TRUE(TreeOf(game) == expected) << "the applied files differ";
    }
    // The compressible entries were deflated, the noise stored.
    EXPECT_LT(firstPackage.size(), 6 * block);
    EXPECT_GT(firstPackage.size(), 2 * block + 1100);
}

TEST_F(CommandLineTest, ProgressShowsOnATerminalOnlyAndQuietSilencesIt) {
    ASSERT_TRUE(PutFile("source/res.pak", testsupport::PatternedData(3 << 20)));
    const std::vector<std::string> build = {"build",  "--stub", "stub.exe", "--version", "3187",
                                            "--from", "source", "-o",       "p.exe"};

    const std::string shown = PatchkitOnTerminal(build);
    EXPECT_TRUE(Contains(shown, "\rpacking: 3.0 MiB of 3.0 MiB (100%)")) << shown;
    const std::string verified = PatchkitOnTerminal({"inspect", "p.exe", "--verify"});
    EXPECT_TRUE(Contains(verified, "\rverifying: 3.0 MiB of 3.0 MiB (100%)")) << verified;
    ASSERT_TRUE(PutFile("old/version.ini", "3186\r\n0\r\n"));
    ASSERT_TRUE(PutFile("old/res.pak", "old"));
    ASSERT_TRUE(PutFile("new/version.ini", "3187\r\n0\r\n"));
    ASSERT_TRUE(PutFile("new/res.pak", "old" + testsupport::PatternedData(2 << 20)));
    const std::string diffed = PatchkitOnTerminal(
        {"diff", "--old", "old", "--new", "new", "--stub", "stub.exe", "-o", "d.exe"});
    EXPECT_TRUE(Contains(diffed, "\rcomparing: ")) << diffed;
    EXPECT_TRUE(Contains(diffed, "\rpacking: 2.0 MiB of 2.0 MiB (100%)")) << diffed;

    std::vector<std::string> quiet = build;
    quiet.push_back("--quiet");
    EXPECT_FALSE(Contains(PatchkitOnTerminal(quiet), "packing")) << "--quiet";
    const Outcome piped = Patchkit("build --stub stub.exe --version 3187 --from source -o q.exe");
    EXPECT_EQ(piped.err, "");
    const Outcome inspected = Patchkit("inspect q.exe --verify");
    EXPECT_FALSE(Contains(inspected.err + inspected.out, "verifying:"));
}

} // namespace

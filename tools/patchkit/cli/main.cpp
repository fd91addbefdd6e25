#include "cli/CommandHelp.h"
#include "cli/Commands.h"
#include "cli/FailureGuard.h"
#include "cli/IdentityCommands.h"
#include "cli/PageCommand.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include "base/TextConversion.h"

// The console API (wincon.h) does not stand alone; this is the tool, not the engine.
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

// Paths arrive as UTF-8 on every host.
fs::path PathFromArgument(const std::string& utf8) {
    return fs::u8path(utf8);
}

CLI::Option* AddSignOption(CLI::App& command, std::string& signCommand) {
    return command
        .add_option("--sign", signCommand,
                    "Sign the package with this command line, run as the platform runs one "
                    "(/bin/sh -c; on Windows cmd.exe), so &&, redirections, quotes and variables "
                    "work. {file} stands for the package's path, {signed} for where a tool that "
                    "writes the signed copy elsewhere writes it; both are quoted for the shell, "
                    "whether bare or inside quotes. The package is then sealed and its signature "
                    "checked; the output appears only when all of it succeeded")
        ->type_name("COMMAND");
}

void AddWorkOptions(CLI::App& command, unsigned& jobs, bool& quiet) {
    command
        .add_option("--jobs", jobs,
                    "Threads to work on (default: one per core); the result is the same for any")
        ->check(CLI::Range(1u, 1024u))
        ->type_name("N");
    command.add_flag("--quiet", quiet, "Show no progress (shown only on a terminal anyway)");
}

void AddPackageArgument(CLI::App& command, std::string& package, const char* description) {
    command.add_option("package", package, description)
        ->required()
        ->check(CLI::ExistingFile)
        ->type_name("PACKAGE.exe");
}

void AddLevelOption(CLI::App& command, int& level) {
    command
        .add_option("--level", level,
                    "0 stores every file; 1 to 9 are zlib's deflate levels, fast to thorough (6: "
                    "as pigz -6); 10 to 12 search for the cheapest matches, each slower and "
                    "smaller than the one before (11, the default: the smallest packages at a "
                    "speed fit for a release build; 12 also runs zopfli on every block and keeps "
                    "the smaller: no larger than advzip -z -4, for about 50 times the time of "
                    "11). "
                    "Every level is read by the updater")
        ->capture_default_str()
        ->check(CLI::Range(kStoreLevel, kMaxLevel))
        ->type_name("LEVEL");
}

fs::path OptionalPath(const std::string& utf8) {
    return utf8.empty() ? fs::path() : PathFromArgument(utf8);
}

// A command's options, and what runs once they are parsed.
struct Command {
    CLI::App* options = nullptr;
    std::function<int()> run;
};

Command AddBuildCommand(CLI::App& app) {
    struct Options {
        BuildRequest request;
        std::string stub, folder, archive, output;
        bool quiet = false;
    };
    auto given = std::make_shared<Options>();
    CLI::App* build = app.add_subcommand(
        "build",
        "Append an archive of the folder's files (or the given archive) and the trailer to "
        "a copy of the stub program. The output appears only when it is complete.");
    build->add_option("--stub", given->stub, "The updater program the package is appended to")
        ->required()
        ->check(CLI::ExistingFile)
        ->type_name("STUB.exe");
    build
        ->add_option("--version", given->request.version,
                     "Package version: the client's version once applied (3187 is 31.87)")
        ->required()
        ->type_name("N");
    CLI::Option_group* source = build->add_option_group("source", "Where the entries come from");
    source->add_option("--from", given->folder, "Pack this folder's files and folders")
        ->check(CLI::ExistingDirectory)
        ->type_name("DIR");
    source->add_option("--zip", given->archive, "Use this ZIP archive as it is, after checking it")
        ->check(CLI::ExistingFile)
        ->type_name("ARCHIVE.zip");
    source->require_option(1);
    build->add_option("-o,--output", given->output, "The package to write")
        ->required()
        ->type_name("OUT.exe");
    AddLevelOption(*build, given->request.level);
    build->add_flag("--replace", given->request.replace,
                    "Swap the package the stub already carries for the new one");
    AddSignOption(*build, given->request.signCommand);
    AddWorkOptions(*build, given->request.work.jobs, given->quiet);
    return {build, [given] {
                BuildRequest request = given->request;
                request.stub = PathFromArgument(given->stub);
                request.fromFolder = OptionalPath(given->folder);
                request.fromArchive = OptionalPath(given->archive);
                request.output = PathFromArgument(given->output);
                return RunBuild(request, given->quiet);
            }};
}

Command AddSealCommand(CLI::App& app) {
    auto package = std::make_shared<std::string>();
    CLI::App* seal = app.add_subcommand(
        "seal", "Make the trailer of a package signed after build the file's last bytes again, "
                "inside the signature, which stays valid. The package is replaced in one step. "
                "Exit 0 when sealed, 1 when refused.");
    AddPackageArgument(*seal, *package, "The signed package (program file) to seal");
    return {seal, [package] { return RunSeal(PathFromArgument(*package)); }};
}

Command AddInspectCommand(CLI::App& app) {
    struct Options {
        std::string package;
        bool verify = false;
        bool json = false;
        unsigned jobs = 0;
        bool quiet = false;
        InspectRequirements requirements;
    };
    auto given = std::make_shared<Options>();
    CLI::App* inspect = app.add_subcommand(
        "inspect", "Show a package's trailer and entries and what the updater would make of them. "
                   "Exit 0 when it would apply cleanly, 1 otherwise.");
    AddPackageArgument(*inspect, given->package, "The package (program file) to inspect");
    inspect->add_flag("--verify", given->verify, "Inflate every entry and check its CRC");
    inspect->add_flag("--json", given->json, "Give the report as one JSON document");
    inspect->add_flag("--require-signed", given->requirements.signature,
                      "Exit 1 when the package is not signed");
    inspect->add_flag("--require-timestamp", given->requirements.timestamp,
                      "Exit 1 when the signature carries no timestamp");
    AddWorkOptions(*inspect, given->jobs, given->quiet);
    return {inspect, [given] {
                return RunInspect(PathFromArgument(given->package), given->verify, given->json,
                                  given->jobs, given->quiet, given->requirements);
            }};
}

Command AddApplyCommand(CLI::App& app) {
    struct Options {
        std::string package, game;
    };
    auto given = std::make_shared<Options>();
    CLI::App* apply = app.add_subcommand(
        "apply", "Run the updater's engine on a game folder. Ctrl-C cancels between writes. Exit "
                 "0 when applied, 1 after a message or a cancel.");
    AddPackageArgument(*apply, given->package, "The package (program file) to apply");
    apply->add_option("--game", given->game, "The game folder holding version.ini")
        ->required()
        ->check(CLI::ExistingDirectory)
        ->type_name("DIR");
    return {apply, [given] {
                return RunApply(PathFromArgument(given->package), PathFromArgument(given->game));
            }};
}

// What diff writes: the update folder, or the package and how it is built.
void AddDiffOutputOptions(CLI::App& diff, DiffCommand& command, std::string& folder,
                          std::string& stub, std::string& output) {
    CLI::Option_group* target = diff.add_option_group("output", "What is written");
    CLI::Option* folderOption =
        target->add_option("--folder", folder, "Write the update folder, for build --from")
            ->type_name("OUT_DIR");
    CLI::Option* stubOption =
        target->add_option("--stub", stub, "Write the package, appended to this updater program")
            ->check(CLI::ExistingFile)
            ->type_name("STUB.exe");
    target->require_option(1);
    CLI::Option* outputOption =
        diff.add_option("-o,--output", output, "The package to write")->type_name("OUT.exe");
    AddLevelOption(diff, command.build.level);
    CLI::Option* levelOption = diff.get_option("--level");
    CLI::Option* replaceOption = diff.add_flag("--replace", command.build.replace,
                                               "Swap the package the stub already carries");
    CLI::Option* signOption = AddSignOption(diff, command.build.signCommand);
    for (CLI::Option* packageOnly : {outputOption, levelOption, replaceOption, signOption}) {
        packageOnly->needs(stubOption)->excludes(folderOption);
    }
    stubOption->needs(outputOption);
}

Command AddDiffCommand(CLI::App& app) {
    struct Options {
        DiffCommand command;
        std::string oldFolder, oldManifest, newFolder, folder, stub, output;
    };
    auto given = std::make_shared<Options>();
    DiffCommand& command = given->command;
    CLI::App* diff = app.add_subcommand(
        "diff", "Make the update from the previous release's game folder to the new one's: an "
                "update folder or the package. Refuses what the updater cannot express. Exit 0 "
                "when written (and checked), 1 when refused or the check finds a difference.");
    CLI::Option_group* previous = diff->add_option_group("old", "The previous release");
    previous
        ->add_option("--old", given->oldFolder,
                     "The previous release's game folder, with version.ini")
        ->check(CLI::ExistingDirectory)
        ->type_name("DIR");
    previous
        ->add_option("--old-manifest", given->oldManifest,
                     "Or its manifest (patchkit manifest): files are compared by size and "
                     "SHA-256, the pak's start by the digest of its bytes before the offset")
        ->check(CLI::ExistingFile)
        ->type_name("OLD.json");
    previous->require_option(1);
    diff->add_option("--new", given->newFolder, "The new release's game folder, with version.ini")
        ->required()
        ->check(CLI::ExistingDirectory)
        ->type_name("DIR");
    AddDiffOutputOptions(*diff, command, given->folder, given->stub, given->output);
    diff->add_flag("--check", command.check,
                   "With --old: apply the update with the updater's engine to a copy of OLD and "
                   "compare the result with NEW, file by file. With --old-manifest: read every "
                   "entry back, apply it to OLD's manifest as the updater would, and compare that "
                   "with NEW's manifest (sizes, SHA-256, version, pak offset); this proves the "
                   "package's contents, not the engine's run on a real folder. Exit 1 on any "
                   "difference, the update removed");
    diff->add_flag("--allow-leftovers", command.diff.allowLeftovers,
                   "Build although OLD has files or folders NEW lacks (they stay on the disks)");
    diff->add_flag("--json", command.json, "Give the summary as one JSON document");
    AddWorkOptions(*diff, command.build.work.jobs, command.quiet);
    return {diff, [given] {
                DiffCommand parsed = given->command;
                parsed.diff.oldFolder = OptionalPath(given->oldFolder);
                parsed.diff.oldRecordPath = OptionalPath(given->oldManifest);
                parsed.diff.newFolder = PathFromArgument(given->newFolder);
                parsed.folder = OptionalPath(given->folder);
                parsed.build.stub = OptionalPath(given->stub);
                parsed.build.output = OptionalPath(given->output);
                return RunDiff(parsed);
            }};
}

bool IsCommandName(const std::vector<Command>& commands, const char* argument) {
    for (const Command& command : commands) {
        if (command.options->check_name(argument)) {
            return true;
        }
    }
    return false;
}

int Run(int argc, const char* const* argv) {
    CLI::App app("Builds, inspects and applies update packages for QRTManualPatch.exe.",
                 "patchkit");
    app.set_version_flag("--version", "patchkit " PATCHKIT_VERSION);
    app.require_subcommand(1);
    app.formatter(std::make_shared<CommandHelp>()); // before the commands, which inherit it
    const std::vector<Command> commands = {AddBuildCommand(app), AddSealCommand(app),
                                           AddInspectCommand(app), AddApplyCommand(app),
                                           AddDiffCommand(app)};
    const IdentityCommands identity(app);
    const PageCommand page(app);
    app.footer("'patchkit COMMAND --help' tells what a command's options do.");
    if (argc > 1 && argv[1][0] != '-' && !IsCommandName(commands, argv[1]) &&
        !identity.Knows(argv[1]) && !page.Knows(argv[1])) {
        std::fprintf(stderr, "patchkit: unknown command '%s'\n%s", argv[1],
                     UsageAfterError(app).c_str());
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& success) {
        return app.exit(success);
    } catch (const CLI::Error& failure) {
        std::fprintf(stderr, "patchkit: %s\n%s", failure.what(), UsageAfterError(app).c_str());
        return 2;
    }
    if (identity.Parsed()) {
        return identity.Run();
    }
    if (page.Parsed()) {
        return page.Run();
    }
    for (const Command& command : commands) {
        if (command.options->parsed()) {
            return command.run();
        }
    }
    return 2; // require_subcommand(1) lets no other case through
}

// A command whose output did not all arrive (a full disk, a closed file) failed, whatever it did.
int WithOutputChecked(int result) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "patchkit: the output cannot be written\n");
        return 1;
    }
    return result;
}

} // namespace

#ifdef _WIN32

// Arguments as UTF-8, and a console that shows UTF-8 output, whatever the ANSI code page.
int wmain(int argc, wchar_t** wideArguments) {
    const UINT previousCodePage = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    const int result = WithOutputChecked(RunGuardingFailures(
        [argc, wideArguments] {
            std::vector<std::string> arguments(static_cast<std::size_t>(argc));
            std::vector<const char*> argv;
            for (std::size_t i = 0; i < arguments.size(); ++i) {
                arguments[i] = WideText(wideArguments[i]); // what is no character: U+FFFD
                argv.push_back(arguments[i].c_str());
            }
            return Run(argc, argv.data());
        },
        stderr));
    std::fflush(stderr);
    SetConsoleOutputCP(previousCodePage);
    return result;
}

#else

int main(int argc, char** argv) {
    return WithOutputChecked(RunGuardingFailures([argc, argv] { return Run(argc, argv); }, stderr));
}

#endif

#include "cli/Commands.h"
#include "cli/IdentityCommands.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#include "base/TextConversion.h"

// The console API (wincon.h) does not stand alone; this is the tool, not the engine.
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

const char* const kUsage =
    "usage: patchkit build --stub STUB.exe --version N (--from DIR | --zip ARCHIVE.zip)\n"
    "                      -o OUT.exe [--level 0-9] [--replace] [--jobs N] [--quiet]\n"
    "       patchkit seal PACKAGE.exe\n"
    "       patchkit inspect PACKAGE.exe [--verify] [--json] [--jobs N] [--quiet]\n"
    "       patchkit apply PACKAGE.exe --game DIR\n"
    "       patchkit diff --old DIR --new DIR (--folder OUT_DIR | --stub STUB.exe -o OUT.exe\n"
    "                     [--level 0-9] [--replace]) [--check] [--allow-leftovers] [--json]\n"
    "                     [--jobs N] [--quiet]\n"
    "       patchkit manifest RELEASE_DIR -o MANIFEST.json [--sha256sums FILE] [--jobs N]\n"
    "       patchkit verify --game DIR --manifest MANIFEST.json... [--json] [--jobs N]\n"
    "       patchkit repair --game DIR --release RELEASE_DIR [--dry-run] [--remove-extra] "
    "[--json]\n"
    "       patchkit index PACKAGE... -o releases.json [--sha256sums FILE] [--releases DIR...]\n"
    "       patchkit [COMMAND] --help | --version\n";

// Paths arrive as UTF-8 on every host.
fs::path PathFromArgument(const std::string& utf8) {
    return fs::u8path(utf8);
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

int Run(int argc, const char* const* argv) {
    CLI::App app("Builds, inspects and applies update packages for QRTManualPatch.exe.",
                 "patchkit");
    app.set_version_flag("--version", "patchkit " PATCHKIT_VERSION);
    app.require_subcommand(1);
    app.footer(kUsage);

    BuildRequest request;
    std::string stub, folder, archive, output;
    CLI::App* build = app.add_subcommand(
        "build",
        "Append an archive of the folder's files (or the given archive) and the trailer to "
        "a copy of the stub program. The output appears only when it is complete.");
    build->add_option("--stub", stub, "The updater program the package is appended to")
        ->required()
        ->check(CLI::ExistingFile)
        ->type_name("STUB.exe");
    build
        ->add_option("--version", request.version,
                     "Package version: the client's version once applied (3187 is 31.87)")
        ->required()
        ->type_name("N");
    CLI::Option_group* source = build->add_option_group("source", "Where the entries come from");
    source->add_option("--from", folder, "Pack this folder's files and folders")
        ->check(CLI::ExistingDirectory)
        ->type_name("DIR");
    source->add_option("--zip", archive, "Use this ZIP archive as it is, after checking it")
        ->check(CLI::ExistingFile)
        ->type_name("ARCHIVE.zip");
    source->require_option(1);
    build->add_option("-o,--output", output, "The package to write")
        ->required()
        ->type_name("OUT.exe");
    build->add_option("--level", request.level, "Deflate level, 0 (store only) to 9")
        ->capture_default_str()
        ->check(CLI::Range(0, 9))
        ->type_name("LEVEL");
    build->add_flag("--replace", request.replace,
                    "Swap the package the stub already carries for the new one");
    unsigned jobs = 0;
    bool quiet = false;
    AddWorkOptions(*build, jobs, quiet);

    std::string package;
    CLI::App* seal = app.add_subcommand(
        "seal", "Make the trailer of a package signed after build the file's last bytes again, "
                "inside the signature, which stays valid. The package is replaced in one step. "
                "Exit 0 when sealed, 1 when refused.");
    AddPackageArgument(*seal, package, "The signed package (program file) to seal");

    bool verify = false;
    bool json = false;
    CLI::App* inspect = app.add_subcommand(
        "inspect", "Show a package's trailer and entries and what the updater would make of them. "
                   "Exit 0 when it would apply cleanly, 1 otherwise.");
    AddPackageArgument(*inspect, package, "The package (program file) to inspect");
    inspect->add_flag("--verify", verify, "Inflate every entry and check its CRC");
    inspect->add_flag("--json", json, "Give the report as one JSON document");
    AddWorkOptions(*inspect, jobs, quiet);

    std::string game;
    CLI::App* apply = app.add_subcommand(
        "apply", "Run the updater's engine on a game folder. Ctrl-C cancels between writes. Exit "
                 "0 when applied, 1 after a message or a cancel.");
    AddPackageArgument(*apply, package, "The package (program file) to apply");
    apply->add_option("--game", game, "The game folder holding version.ini")
        ->required()
        ->check(CLI::ExistingDirectory)
        ->type_name("DIR");

    DiffCommand diffCommand;
    std::string oldFolder, newFolder, updateFolder;
    CLI::App* diff = app.add_subcommand(
        "diff", "Make the update from the previous release's game folder to the new one's: an "
                "update folder or the package. Refuses what the updater cannot express. Exit 0 "
                "when written (and checked), 1 when refused or the check finds a difference.");
    diff->add_option("--old", oldFolder, "The previous release's game folder, with version.ini")
        ->required()
        ->check(CLI::ExistingDirectory)
        ->type_name("DIR");
    diff->add_option("--new", newFolder, "The new release's game folder, with version.ini")
        ->required()
        ->check(CLI::ExistingDirectory)
        ->type_name("DIR");
    CLI::Option_group* target = diff->add_option_group("output", "What is written");
    CLI::Option* folderOption =
        target->add_option("--folder", updateFolder, "Write the update folder, for build --from")
            ->type_name("OUT_DIR");
    CLI::Option* stubOption =
        target->add_option("--stub", stub, "Write the package, appended to this updater program")
            ->check(CLI::ExistingFile)
            ->type_name("STUB.exe");
    target->require_option(1);
    CLI::Option* outputOption =
        diff->add_option("-o,--output", output, "The package to write")->type_name("OUT.exe");
    CLI::Option* levelOption =
        diff->add_option("--level", diffCommand.build.level, "Deflate level, 0 (store only) to 9")
            ->capture_default_str()
            ->check(CLI::Range(0, 9))
            ->type_name("LEVEL");
    CLI::Option* replaceOption = diff->add_flag("--replace", diffCommand.build.replace,
                                                "Swap the package the stub already carries");
    diff->add_flag("--check", diffCommand.check,
                   "Apply the update with the updater's engine to a copy of OLD and compare the "
                   "result with NEW; exit 1 on any difference, the update removed");
    for (CLI::Option* packageOnly : {outputOption, levelOption, replaceOption}) {
        packageOnly->needs(stubOption)->excludes(folderOption);
    }
    stubOption->needs(outputOption);
    diff->add_flag("--allow-leftovers", diffCommand.diff.allowLeftovers,
                   "Build although OLD has files or folders NEW lacks (they stay on the disks)");
    diff->add_flag("--json", diffCommand.json, "Give the summary as one JSON document");
    AddWorkOptions(*diff, diffCommand.build.work.jobs, diffCommand.quiet);

    IdentityCommands identity(app);

    const bool knownCommand =
        argc > 1 &&
        (build->check_name(argv[1]) || seal->check_name(argv[1]) || inspect->check_name(argv[1]) ||
         apply->check_name(argv[1]) || diff->check_name(argv[1]) || identity.Knows(argv[1]));
    if (argc > 1 && argv[1][0] != '-' && !knownCommand) {
        std::fprintf(stderr, "patchkit: unknown command '%s'\n%s", argv[1], kUsage);
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& success) {
        return app.exit(success);
    } catch (const CLI::Error& failure) {
        std::fprintf(stderr, "patchkit: %s\n%s", failure.what(), kUsage);
        return 2;
    }

    if (identity.Parsed()) {
        return identity.Run();
    }
    if (build->parsed()) {
        request.stub = PathFromArgument(stub);
        request.fromFolder = folder.empty() ? fs::path() : PathFromArgument(folder);
        request.fromArchive = archive.empty() ? fs::path() : PathFromArgument(archive);
        request.output = PathFromArgument(output);
        request.work.jobs = jobs;
        return RunBuild(request, quiet);
    }
    if (seal->parsed()) {
        return RunSeal(PathFromArgument(package));
    }
    if (inspect->parsed()) {
        return RunInspect(PathFromArgument(package), verify, json, jobs, quiet);
    }
    if (diff->parsed()) {
        diffCommand.diff.oldFolder = PathFromArgument(oldFolder);
        diffCommand.diff.newFolder = PathFromArgument(newFolder);
        diffCommand.folder = updateFolder.empty() ? fs::path() : PathFromArgument(updateFolder);
        diffCommand.build.stub = stub.empty() ? fs::path() : PathFromArgument(stub);
        diffCommand.build.output = output.empty() ? fs::path() : PathFromArgument(output);
        return RunDiff(diffCommand);
    }
    return RunApply(PathFromArgument(package), PathFromArgument(game));
}

} // namespace

#ifdef _WIN32

// Arguments as UTF-8, and a console that shows UTF-8 output, whatever the ANSI code page.
int wmain(int argc, wchar_t** wideArguments) {
    std::vector<std::string> arguments(static_cast<std::size_t>(argc));
    std::vector<const char*> argv;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        WideToUtf8(wideArguments[i], arguments[i]);
        argv.push_back(arguments[i].c_str());
    }
    const UINT previousCodePage = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    const int result = Run(argc, argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    SetConsoleOutputCP(previousCodePage);
    return result;
}

#else

int main(int argc, char** argv) {
    return Run(argc, argv);
}

#endif

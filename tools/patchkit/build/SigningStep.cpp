#include "build/SigningStep.h"

#include "base/ExternalCommand.h"
#include "base/TextConversion.h"
#include "platform/FileSystem.h"
#include "signing/PackageSignature.h"
#include "signing/SealPackage.h"

#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kFilePlaceholder = "{file}";
const std::string kSignedPlaceholder = "{signed}";

bool Exists(const fs::path& path) {
    std::error_code failure;
    return fs::exists(fs::symlink_status(path, failure));
}

// The command line that signs the package: {file} and {signed} replaced by their paths.
bool SigningCommandLine(const fs::path& package, const std::string& command, std::string& line,
                        std::string& error) {
    std::vector<CommandValue> values = {{kFilePlaceholder, ""}, {kSignedPlaceholder, ""}};
    if (!PathToUtf8(package, values[0].value) ||
        !PathToUtf8(SigningPath(package, ".signed"), values[1].value)) {
        error = DisplayPath(package) + " has no UTF-8 form for the command";
        return false;
    }
    return FillCommandLine(command, values, line, error);
}

// Runs the command through the platform's interpreter; with {signed}, its output replaces the
// package.
bool RunSigningCommand(const fs::path& package, const std::string& command, std::string& error) {
    const fs::path signedCopy = SigningPath(package, ".signed");
    std::string line;
    std::string problem;
    if (!SigningCommandLine(package, command, line, problem)) {
        error = "signing failed: " + problem;
        return false;
    }
    if (!RemoveFile(signedCopy) && Exists(signedCopy)) {
        error =
            "signing failed: " + DisplayPath(signedCopy) + " is in the way and cannot be removed";
        return false;
    }
    const bool writesCopy = command.find(kSignedPlaceholder) != std::string::npos;
    int exitCode = 0;
    if (!RunCommandLine(line, exitCode, problem)) {
        error = "signing failed: " + problem;
    } else if (exitCode != 0) {
        error = "signing failed: the command exited with " + std::to_string(exitCode);
    } else if (writesCopy && !Exists(signedCopy)) {
        error = "signing failed: the command wrote nothing to " + DisplayPath(signedCopy);
    } else if (writesCopy && !ReplaceFileAtomically(signedCopy, package)) {
        error = "signing failed: " + DisplayPath(signedCopy) + " cannot replace the package";
    } else {
        return true;
    }
    static_cast<void>(RemoveFile(signedCopy)); // missing when the tool wrote nothing
    return false;
}

// The checks inspect makes of a signature.
bool CheckSignature(const fs::path& package, std::string& error) {
    FileHandle file = OpenFile(package, "rb");
    const std::int64_t length = file ? FileLength(file.get()) : -1;
    if (length < 0) {
        error = "the signature check failed: " + DisplayPath(package) + " cannot be read";
        return false;
    }
    const SignatureReport signature = ExamineSignature(file.get(), length);
    if (!signature.problem.empty()) {
        error = "the signature check failed: " + signature.problem;
    } else if (!signature.sealed) {
        error = "the signature check failed: the package is not sealed";
    } else if (signature.digest == SignatureReport::Digest::Differs) {
        error = "the signature check failed: the signature's digest differs from the file's";
    } else {
        return true;
    }
    return false;
}

bool IsSigned(const fs::path& package) {
    FileHandle file = OpenFile(package, "rb");
    const std::int64_t length = file ? FileLength(file.get()) : -1;
    return length >= 0 && ExamineSignature(file.get(), length).present;
}

} // namespace

bool CheckSigningCommand(const std::string& command, const fs::path& output, std::string& error) {
    std::string line;
    if (command.find_first_not_of(" \t\r\n") == std::string::npos) {
        error = "--sign: the command is empty";
    } else if (command.find(kFilePlaceholder) == std::string::npos) {
        error = "--sign: the command must name the package as " + kFilePlaceholder;
    } else if (!SigningCommandLine(SigningPath(output, ".partial"), command, line, error)) {
        error = "--sign: " + error;
    } else {
        return true;
    }
    return false;
}

fs::path SigningPath(const fs::path& output, const char* stage) {
    fs::path path = output;
    return path.replace_filename(output.stem().native() + fs::path(stage).native() +
                                 output.extension().native());
}

bool SignAndSealPackage(const fs::path& package, const std::string& command,
                        const std::atomic<bool>* stop, std::string& error) {
    if (!RunSigningCommand(package, command, error)) {
        return false;
    }
    if (!IsSigned(package)) {
        error = "signing failed: the command ended without signing " + DisplayPath(package);
        return false;
    }
    SealResult sealed;
    std::string problem;
    if (!SealPackage(package, sealed, problem, stop)) {
        error = "sealing failed: " + problem;
        return false;
    }
    return CheckSignature(package, error);
}

#pragma once

#include <atomic>
#include <filesystem>
#include <string>

// Signing in the release step: a command of the publisher's (osslsigncode, signtool, a signing
// service's client) signs the package, which is then sealed and its signature checked.
//
// The command is a command line as the platform runs one (/bin/sh -c, or cmd.exe on Windows), so
// &&, redirections, quotes and environment variables work as in a pipeline's script. It names the
// package as {file}, which is replaced by the path quoted for the interpreter. A tool that signs
// in place needs nothing more; one that writes the signed copy elsewhere writes it to {signed},
// which then replaces the package.

// False, saying what is wrong, when the command cannot sign the package written as output: it is
// empty, does not name {file}, or the interpreter cannot be given the paths (on Windows, one
// holding %).
[[nodiscard]] bool CheckSigningCommand(const std::string& command,
                                       const std::filesystem::path& output, std::string& error);

// The name a package is written under while it is signed: beside the output, with the output's
// extension kept (some tools go by it).
std::filesystem::path SigningPath(const std::filesystem::path& output, const char* stage);

// Runs the command on the complete package, seals it and checks its signature as inspect does:
// there is one, it is sealed and it signs the file's bytes. False, with error naming the step that
// failed; whatever the step left beside the package is removed, the package is the caller's.
bool SignAndSealPackage(const std::filesystem::path& package, const std::string& command,
                        const std::atomic<bool>* stop, std::string& error);

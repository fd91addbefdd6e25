#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

// Inputs for the patchkit tests.
namespace pktest {

// The smallest program file patchkit accepts as a stub: DOS header, PE headers, one section.
std::string MinimalPeImage();

// What a signing tool makes of a file: zeros up to a multiple of 8 bytes, then a certificate table
// with one entry holding signature (padded to 8 bytes), named by the security directory.
std::string AttachSignature(const std::string& file, const std::string& signature);

// A DER PKCS#7 SignedData shaped like an Authenticode signature but signing nothing: its
// certificates field holds filler bytes, its signer optionally an unauthenticated attribute.
std::string ShapedSignature(const std::string& filler, bool unauthenticatedAttribute = false);

// Creates the file with its parent folders; false on failure.
bool PutFile(const std::filesystem::path& path, const std::string& bytes);

// A path from UTF-8 text, as the host spells it.
inline std::filesystem::path Utf8Path(const std::string& utf8) {
    return std::filesystem::u8path(utf8);
}

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the real program in the current folder; arguments are passed through the shell.
Outcome Patchkit(const std::string& arguments);

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Runs a tool through the shell in the current folder; its exit code, its output in tool-out.txt.
int Shell(const std::string& command);

// Every file and folder below root, by UTF-8 relative path: contents, "<folder>" or "<special>".
std::map<std::string, std::string> TreeOf(const std::filesystem::path& root);

using Files = std::map<std::string, std::string>; // UTF-8 path: contents; "x/" is a folder

// A release's game folder: version.ini and the files.
void MakeRelease(const std::string& folder, std::uint32_t version, std::int64_t pakOffset,
                 const Files& files);

} // namespace pktest

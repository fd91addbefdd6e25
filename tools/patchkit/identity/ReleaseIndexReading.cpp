#include "identity/ReleaseIndex.h"

#include "base/JsonReader.h"
#include "base/TextConversion.h"
#include "identity/IndexHistory.h"
#include "inspect/ReportPrinter.h"
#include "rules/VersionText.h"

#include <cstdint>

namespace {

constexpr std::size_t kSha256Size = 32;

// A name that links to a file beside the page, and nothing else.
bool IsPlainFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    for (const char character : name) {
        const auto byte = static_cast<unsigned char>(character);
        if (byte < 0x20 || byte == 0x7f || character == '/' || character == '\\') {
            return false;
        }
    }
    return true;
}

bool ReadVersions(const JsonValue& value, IndexedPackage& package) {
    std::uint64_t from = 0;
    std::uint64_t to = 0;
    std::string shown;
    if (!value["fromVersion"].GetNumber(from) || !value["toVersion"].GetNumber(to) || to == 0 ||
        to > UINT32_MAX || from + 1 != to || !value["versionShown"].GetString(shown)) {
        return false;
    }
    package.version = static_cast<std::uint32_t>(to);
    return shown == VersionShown(package.version);
}

bool ReadPackage(const JsonValue& value, IndexedPackage& package) {
    std::string sha256;
    return value.IsObject() && ReadVersions(value, package) &&
           value["file"].GetString(package.fileName) && IsPlainFileName(package.fileName) &&
           value["size"].GetNumber(package.size) && value["sha256"].GetString(sha256) &&
           BytesOfHexText(sha256, package.sha256) && package.sha256.size() == kSha256Size &&
           ParseSignatureJson(value["signature"], package.signature) &&
           value["bytesWritten"].GetNumber(package.bytesWritten) &&
           value["temporaryArchiveSize"].GetNumber(package.temporaryArchive);
}

} // namespace

bool ParseIndex(const std::string& json, ReleaseIndex& index, std::string& error) {
    index = ReleaseIndex();
    JsonValue document;
    if (!ParseJson(json, document, error)) {
        return false;
    }
    if (!document["proven"].GetBool(index.proven) || !document["packages"].IsArray()) {
        error = "not a release index: \"proven\" or \"packages\" is missing";
        return false;
    }
    Refusals refusals;
    for (const JsonValue& value : document["packages"].Elements()) {
        IndexedPackage package;
        if (!ReadPackage(value, package)) {
            refusals.Add("package " + std::to_string(index.packages.size() + 1) +
                         " is incomplete or invalid");
        }
        package.path = std::filesystem::u8path(package.fileName);
        index.packages.push_back(package);
    }
    if (index.packages.empty()) {
        refusals.Add("the index holds no package");
    }
    for (std::size_t i = 1; !refusals.Any() && i < index.packages.size(); ++i) {
        if (index.packages[i].version < index.packages[i - 1].version) {
            refusals.Add(index.packages[i].path, "out of order: the index lists by version");
        }
    }
    if (!refusals.Any()) {
        CheckHistory(index.packages, refusals);
    }
    error = refusals.Text();
    return !refusals.Any();
}

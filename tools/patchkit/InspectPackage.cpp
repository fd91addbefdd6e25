#include "InspectPackage.h"

#include "EntryNameRules.h"
#include "FileSystem.h"
#include "StubImage.h"
#include "TextConversion.h"
#include "TextEncoding.h"
#include "VersionLabels.h"

#include <cstdio>
#include <map>
#include <set>

namespace {

constexpr std::uint32_t kStored = 0;
constexpr std::uint32_t kDeflated = 8;

const char* NameProblemCode(NameProblem problem) {
    switch (problem) {
    case NameProblem::None:
        break;
    case NameProblem::NotCodePage936:
        return "name-not-cp936";
    case NameProblem::Unsafe:
        return "unsafe-name";
    case NameProblem::ForbiddenOnWindows:
        return "name-forbidden-on-windows";
    case NameProblem::RenamedByLowerCasing:
        return "renamed-by-lower-casing";
    }
    return "";
}

// Bytes that are no code page 936 text, shown so that they can be recognised.
std::string EscapedBytes(const std::string& bytes) {
    std::string shown;
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        if (value >= 0x20 && value < 0x7F && value != '\\') {
            shown += byte;
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", value);
            shown += escape;
        }
    }
    return shown;
}

std::string ReadableText(const std::string& cp936) {
    std::string utf8;
    return Cp936ToUtf8(cp936, utf8) ? utf8 : EscapedBytes(cp936);
}

void Add(std::vector<Finding>& findings, Severity severity, const char* code, std::size_t entry,
         std::string text) {
    findings.push_back(Finding{severity, code, entry, std::move(text)});
}

void CheckMethod(const ArchiveEntry& entry, std::size_t number, std::vector<Finding>& findings) {
    if (entry.Encrypted()) {
        Add(findings, Severity::Error, "encrypted", number,
            "it is encrypted, which the updater cannot read");
    } else if (entry.method != kStored && entry.method != kDeflated) {
        Add(findings, Severity::Error, "unsupported-method", number,
            "it uses compression method " + std::to_string(entry.method) +
                "; the updater reads only stored (0) and deflated (8) entries");
    } else if (!entry.dataProblem.empty()) {
        Add(findings, Severity::Error, "bad-data", number, entry.dataProblem);
    }
}

// Judges the signature; a signed package that is not sealed has its trailer in front of the
// certificate table, which is where trailerEnd is then moved.
void ExamineSignatureOf(std::FILE* file, PackageReport& report, std::int64_t& trailerEnd) {
    report.signature = ExamineSignature(file, report.fileLength);
    const SignatureReport& signature = report.signature;
    if (!signature.present) {
        return;
    }
    PeImage image;
    PackageTrailer trailer;
    if (!signature.sealed) {
        const bool trailerFound = ReadPeImage(file, report.fileLength, image) &&
                                  FindTrailerBeforeSignature(file, image, trailer, trailerEnd);
        Add(report.findings, Severity::Error, "not-sealed", 0,
            trailerFound ? "the package is signed but not sealed: its last 8 bytes belong to the "
                           "signature, not to the trailer, so the updater refuses it; run "
                           "patchkit seal on it"
                         : "the package is signed, but no trailer precedes its signature and "
                           "none is sealed in it");
    }
    if (!signature.problem.empty()) {
        Add(report.findings, Severity::Error, "bad-signature", 0, signature.problem);
    } else if (signature.digest == SignatureReport::Digest::Differs) {
        Add(report.findings, Severity::Error, "digest-mismatch", 0,
            "the file was changed after it was signed: its image hash differs from the "
            "signature's digest; sign it again, then seal it");
    } else if (signature.digest == SignatureReport::Digest::NotChecked) {
        Add(report.findings, Severity::Warning, "digest-not-checked", 0,
            "this build cannot compute the signature's digest algorithm " +
                signature.digestAlgorithm + ", so the digest is not checked");
    }
}

// Reads the trailer that ends at trailerEnd and locates the archive; adds a finding for whatever
// stands in the way.
bool LocateArchive(std::FILE* file, std::int64_t trailerEnd, PackageReport& report) {
    unsigned char bytes[kPackageTrailerSize];
    if (trailerEnd < kPackageTrailerSize) {
        Add(report.findings, Severity::Error, "bad-trailer", 0,
            "the file is shorter than the 8-byte trailer");
        return false;
    }
    if (!SeekFile(file, trailerEnd - kPackageTrailerSize) ||
        std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes) {
        Add(report.findings, Severity::Error, "unreadable", 0, "the trailer cannot be read");
        return false;
    }
    report.trailerRead = true;
    report.trailer = DecodePackageTrailer(bytes);
    if (report.trailer.packageVersion == 0) {
        Add(report.findings, Severity::Error, "bad-trailer", 0,
            "the package version is 0, which no client can be updated to");
    }
    const std::int64_t archiveEnd = trailerEnd - kPackageTrailerSize;
    if (report.trailer.archiveOffset > archiveEnd) {
        Add(report.findings, Severity::Error, "bad-trailer", 0,
            "the archive offset " + std::to_string(report.trailer.archiveOffset) +
                " lies beyond the end of the file (no package is appended?)");
        return false;
    }
    report.archiveLength = archiveEnd - report.trailer.archiveOffset;
    if (!IsProgramImage(file, report.trailer.archiveOffset)) {
        Add(report.findings, Severity::Error, "not-a-program", 0,
            "the bytes ahead of the archive are not a Windows program (PE image), so there is no "
            "updater to run");
    }
    return true;
}

} // namespace

const char* SeverityName(Severity severity) {
    switch (severity) {
    case Severity::Note:
        return "note";
    case Severity::Warning:
        return "warning";
    case Severity::Error:
        break;
    }
    return "error";
}

bool PackageReport::AppliesCleanly() const {
    for (const Finding& finding : findings) {
        if (finding.severity == Severity::Error) {
            return false;
        }
    }
    return true;
}

std::string VersionShown(std::uint32_t version) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(VersionAsShown(version)));
    return text;
}

void ExamineEntries(const std::vector<ArchiveEntry>& archived, std::vector<EntryReport>& entries,
                    std::vector<Finding>& findings) {
    std::set<std::string> createdDirectories;
    std::map<std::string, std::size_t> writtenBy;
    std::size_t firstPak = 0;
    for (std::size_t index = 0; index < archived.size(); ++index) {
        const std::size_t number = index + 1;
        EntryReport entry;
        entry.archived = archived[index];
        const std::string& name = entry.archived.storedName;
        const std::string written = WrittenPath(name);
        entry.kind = EntryKindOf(LowerCaseEntryName(name));
        entry.nameDecodes = Cp936ToUtf8(name, entry.storedName);
        entry.writtenPath = ReadableText(written);
        if (!entry.nameDecodes) {
            entry.storedName = EscapedBytes(name);
        }

        const NameProblem problem = CheckEntryName(name);
        if (problem != NameProblem::None) {
            Add(findings, Severity::Error, NameProblemCode(problem), number,
                DescribeNameProblem(problem));
        } else if (HasUpperCaseLetters(name)) {
            Add(findings, Severity::Note, "lower-cased", number, "written as " + entry.writtenPath);
        }
        CheckMethod(entry.archived, number, findings);

        if (entry.kind == EntryKind::Pak) {
            if (firstPak != 0) {
                Add(findings, Severity::Error, "several-paks", number,
                    "a second pak entry (the first is entry " + std::to_string(firstPak) +
                        "); version.ini records one pak append offset only");
            } else {
                firstPak = number;
            }
        }
        if (entry.kind == EntryKind::Directory) {
            for (const std::string& directory : DirectoriesCreatedBy(name)) {
                createdDirectories.insert(directory);
            }
        } else {
            const auto [earlier, isFirst] = writtenBy.emplace(written, number);
            if (!isFirst) {
                Add(findings, Severity::Error, "duplicate-path", number,
                    "it writes the same file as entry " + std::to_string(earlier->second) +
                        ", whose data it replaces");
            }
        }
        const std::string directory = DirectoryOfEntry(name);
        if (problem == NameProblem::None && entry.kind == EntryKind::File && !directory.empty() &&
            createdDirectories.count(directory) == 0) {
            Add(findings, Severity::Warning, "missing-directory", number,
                "no earlier entry creates its folder " + ReadableText(directory) +
                    ", so the updater fails unless the folder exists in the game");
        }
        entries.push_back(entry);
    }
}

PackageReport InspectPackage(const std::filesystem::path& package, bool verify,
                             const WorkSettings& work) {
    PackageReport report;
    report.package = DisplayPath(package);
    report.verified = verify;
    FileHandle file = OpenFile(package, "rb");
    if (!file) {
        Add(report.findings, Severity::Error, "unreadable", 0, "the file cannot be opened");
        return report;
    }
    report.fileLength = FileLength(file.get());
    if (report.fileLength < 0) {
        Add(report.findings, Severity::Error, "unreadable", 0, "the file cannot be read");
        return report;
    }
    std::int64_t trailerEnd = report.fileLength;
    ExamineSignatureOf(file.get(), report, trailerEnd);
    if (!LocateArchive(file.get(), trailerEnd, report)) {
        return report;
    }
    if (report.archiveLength == 0) {
        Add(report.findings, Severity::Error, "damaged-archive", 0, "the archive is empty");
        return report;
    }
    FileWindow window;
    window.file = file.get();
    window.start = report.trailer.archiveOffset;
    window.length = report.archiveLength;
    std::vector<ArchiveEntry> archived;
    std::string damage;
    const bool complete = ReadArchiveEntries(window, verify, archived, damage, work);
    ExamineEntries(archived, report.entries, report.findings);
    if (!complete) {
        Add(report.findings, Severity::Error, "damaged-archive", 0,
            "the archive is damaged: " + damage);
    }
    return report;
}

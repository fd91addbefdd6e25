#include "inspect/InspectPackage.h"

#include "base/TextConversion.h"
#include "platform/FileSystem.h"
#include "platform/TextEncoding.h"
#include "signing/StubImage.h"

#include <cstdio>
#include <map>
#include <set>

namespace {

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
        AddFinding(report.findings, Severity::Error, "not-sealed", 0,
                   trailerFound
                       ? "the package is signed but not sealed: its last 8 bytes belong to the "
                         "signature, not to the trailer, so the updater refuses it; run "
                         "patchkit seal on it"
                       : "the package is signed, but no trailer precedes its signature and "
                         "none is sealed in it");
    }
    if (!signature.problem.empty()) {
        AddFinding(report.findings, Severity::Error, "bad-signature", 0, signature.problem);
    } else if (signature.digest == SignatureReport::Digest::Differs) {
        AddFinding(report.findings, Severity::Error, "digest-mismatch", 0,
                   "the file was changed after it was signed: its image hash differs from the "
                   "signature's digest; sign it again, then seal it");
    } else if (signature.digest == SignatureReport::Digest::NotChecked) {
        AddFinding(report.findings, Severity::Warning, "digest-not-checked", 0,
                   "this build cannot compute the signature's digest algorithm " +
                       signature.digestAlgorithm + ", so the digest is not checked");
    }
}

// Reads the trailer that ends at trailerEnd and locates the archive; adds a finding for whatever
// stands in the way.
bool LocateArchive(std::FILE* file, std::int64_t trailerEnd, PackageReport& report) {
    unsigned char bytes[kPackageTrailerSize];
    if (trailerEnd < kPackageTrailerSize) {
        AddFinding(report.findings, Severity::Error, "bad-trailer", 0,
                   "the file is shorter than the 8-byte trailer");
        return false;
    }
    if (!SeekFile(file, trailerEnd - kPackageTrailerSize) ||
        std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes) {
        AddFinding(report.findings, Severity::Error, "unreadable", 0, "the trailer cannot be read");
        return false;
    }
    report.trailerRead = true;
    report.trailer = DecodePackageTrailer(bytes);
    if (report.trailer.packageVersion == 0) {
        AddFinding(report.findings, Severity::Error, "bad-trailer", 0,
                   "the package version is 0, which no client can be updated to");
    }
    const std::int64_t archiveEnd = trailerEnd - kPackageTrailerSize;
    if (report.trailer.archiveOffset > archiveEnd) {
        AddFinding(report.findings, Severity::Error, "bad-trailer", 0,
                   "the archive offset " + std::to_string(report.trailer.archiveOffset) +
                       " lies beyond the end of the file (no package is appended?)");
        return false;
    }
    report.archiveLength = archiveEnd - report.trailer.archiveOffset;
    if (!IsProgramImage(file, report.trailer.archiveOffset)) {
        AddFinding(
            report.findings, Severity::Error, "not-a-program", 0,
            "the bytes ahead of the archive are not a Windows program (PE image), so there is no "
            "updater to run");
    }
    return true;
}

} // namespace

bool PackageReport::AppliesCleanly() const {
    for (const Finding& finding : findings) {
        if (finding.severity == Severity::Error) {
            return false;
        }
    }
    return true;
}

PackageReport InspectPackage(const std::filesystem::path& package, bool verify,
                             const WorkSettings& work) {
    PackageReport report;
    report.package = DisplayPath(package);
    report.verified = verify;
    FileHandle file = OpenFile(package, "rb");
    if (!file) {
        AddFinding(report.findings, Severity::Error, "unreadable", 0, "the file cannot be opened");
        return report;
    }
    report.fileLength = FileLength(file.get());
    if (report.fileLength < 0) {
        AddFinding(report.findings, Severity::Error, "unreadable", 0, "the file cannot be read");
        return report;
    }
    std::int64_t trailerEnd = report.fileLength;
    ExamineSignatureOf(file.get(), report, trailerEnd);
    if (!LocateArchive(file.get(), trailerEnd, report)) {
        return report;
    }
    if (report.archiveLength == 0) {
        AddFinding(report.findings, Severity::Error, "damaged-archive", 0, "the archive is empty");
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
        AddFinding(report.findings, Severity::Error, "damaged-archive", 0,
                   "the archive is damaged: " + damage);
    }
    return report;
}

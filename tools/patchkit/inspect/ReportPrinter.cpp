#include "inspect/ReportPrinter.h"

#include "rules/VersionText.h"

#include "base/JsonWriter.h"
#include "base/TextConversion.h"

#include <cstdio>

namespace {

// Where the name column of the entry table starts.
constexpr std::size_t kNameColumn = 6 + 2 + 9 + 2 + 8 + 2 + 12 + 2 + 12 + 2 + 8 + 2;

const char* KindName(EntryKind kind) {
    switch (kind) {
    case EntryKind::Pak:
        return "pak";
    case EntryKind::Directory:
        return "directory";
    case EntryKind::File:
        break;
    }
    return "file";
}

std::string MethodName(std::uint32_t method) {
    switch (method) {
    case 0:
        return "stored";
    case 8:
        return "deflated";
    default:
        return "method " + std::to_string(method);
    }
}

std::string Hex32(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

// Table cells: text padded with spaces to width, on the left for numbers.
std::string Left(const std::string& text, std::size_t width) {
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

std::string Right(const std::string& text, std::size_t width) {
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

// Sizes the report could not learn are negative.
void SizeOrNull(JsonWriter& json, std::int64_t size) {
    if (size >= 0) {
        json.Number(static_cast<std::uint64_t>(size));
    } else {
        json.Null();
    }
}

std::string VersionWithShown(std::uint32_t version) {
    return std::to_string(version) + " (" + VersionShown(version) + ")";
}

std::string FindingLine(const Finding& finding) {
    std::string line = "  " + Left(SeverityName(finding.severity), 8) + ' ';
    if (finding.entry != 0) {
        line += "entry " + std::to_string(finding.entry) + ": ";
    }
    return line + finding.text + " [" + finding.code + "]\n";
}

std::string Verdict(const PackageReport& report) {
    std::size_t errors = 0;
    std::size_t warnings = 0;
    for (const Finding& finding : report.findings) {
        errors += finding.severity == Severity::Error;
        warnings += finding.severity == Severity::Warning;
    }
    if (errors == 0) {
        return warnings == 0 ? "The updater would apply this package cleanly.\n"
                             : "The updater would apply this package cleanly, if the warnings "
                               "above hold no surprise.\n";
    }
    return "The updater would not apply this package cleanly: " + std::to_string(errors) +
           (errors == 1 ? " error.\n" : " errors.\n");
}

} // namespace

std::string SignatureLine(const SignatureReport& signature) {
    if (!signature.present) {
        return "none";
    }
    std::string line = signature.digestAlgorithm.empty() ? "unreadable" : signature.digestAlgorithm;
    line += signature.sealed ? ", sealed" : ", not sealed";
    switch (signature.digest) {
    case SignatureReport::Digest::Matches:
        return line + ", digest matches the file";
    case SignatureReport::Digest::Differs:
        return line + ", digest does not match the file";
    case SignatureReport::Digest::NotChecked:
        break;
    }
    return line + ", digest not checked";
}

std::string ReportAsText(const PackageReport& report) {
    std::string text = "Package  " + report.package;
    if (report.fileLength >= 0) {
        text += ", " + std::to_string(report.fileLength) + " bytes";
    }
    text += '\n';
    if (report.trailerRead) {
        const PackageTrailer& trailer = report.trailer;
        text += "Trailer  archive at byte " + std::to_string(trailer.archiveOffset) + ", version " +
                VersionWithShown(trailer.packageVersion) + ", applies to local version " +
                VersionWithShown(trailer.packageVersion - 1) + '\n';
    }
    if (report.fileLength >= 0) {
        text += "Signature  " + SignatureLine(report.signature) + '\n';
    }
    if (report.archiveLength >= 0) {
        text += "Archive  " + std::to_string(report.archiveLength) + " bytes, " +
                std::to_string(report.entries.size()) + " entries" +
                (report.verified ? ", every entry inflated and its CRC checked" : "") + '\n';
    }
    if (!report.entries.empty()) {
        const std::string indent(kNameColumn, ' ');
        text += "\n" + Right("#", 6) + "  " + Left("kind", 9) + "  " + Left("method", 8) + "  " +
                Right("compressed", 12) + "  " + Right("size", 12) + "  " + Left("crc", 8) +
                "  name\n";
        for (std::size_t index = 0; index < report.entries.size(); ++index) {
            const EntryReport& entry = report.entries[index];
            const ArchiveEntry& archived = entry.archived;
            text += Right(std::to_string(index + 1), 6) + "  " + Left(KindName(entry.kind), 9) +
                    "  " + Left(MethodName(archived.method), 8) + "  " +
                    Right(std::to_string(archived.compressedSize), 12) + "  " +
                    Right(std::to_string(archived.size), 12) + "  " + Hex32(archived.crc) + "  " +
                    entry.storedName + '\n';
            if (entry.writtenPath != entry.storedName) {
                text += indent + "written as " + entry.writtenPath + '\n';
            }
        }
    }
    // Notes only repeat what the table shows.
    std::string findings;
    for (const Finding& finding : report.findings) {
        if (finding.severity != Severity::Note) {
            findings += FindingLine(finding);
        }
    }
    if (!findings.empty()) {
        text += "\nFindings\n" + findings;
    }
    return text + '\n' + Verdict(report);
}

void SignatureJson(JsonWriter& json, const SignatureReport& signature) {
    json.BeginObject();
    json.Key("present");
    json.Bool(signature.present);
    json.Key("sealed");
    json.Bool(signature.sealed);
    json.Key("digest_algorithm");
    if (signature.digestAlgorithm.empty()) {
        json.Null();
    } else {
        json.String(signature.digestAlgorithm);
    }
    json.Key("digest_matches");
    if (signature.digest == SignatureReport::Digest::NotChecked) {
        json.Null();
    } else {
        json.Bool(signature.digest == SignatureReport::Digest::Matches);
    }
    json.EndObject();
}

std::string ReportAsJson(const PackageReport& report) {
    JsonWriter json;
    json.BeginObject();
    json.Key("package");
    json.String(report.package);
    json.Key("fileSize");
    SizeOrNull(json, report.fileLength);
    json.Key("trailer");
    if (report.trailerRead) {
        const PackageTrailer& trailer = report.trailer;
        json.BeginObject();
        json.Key("archiveOffset");
        json.Number(trailer.archiveOffset);
        json.Key("packageVersion");
        json.Number(trailer.packageVersion);
        json.Key("packageVersionShown");
        json.String(VersionShown(trailer.packageVersion));
        json.Key("appliesToLocalVersion");
        json.Number(static_cast<std::uint32_t>(trailer.packageVersion - 1));
        json.Key("appliesToLocalVersionShown");
        json.String(VersionShown(trailer.packageVersion - 1));
        json.EndObject();
    } else {
        json.Null();
    }
    json.Key("signature");
    SignatureJson(json, report.signature);
    json.Key("archiveSize");
    SizeOrNull(json, report.archiveLength);
    json.Key("verified");
    json.Bool(report.verified);
    json.Key("entries");
    json.BeginArray();
    for (std::size_t index = 0; index < report.entries.size(); ++index) {
        const EntryReport& entry = report.entries[index];
        const ArchiveEntry& archived = entry.archived;
        json.BeginObject();
        json.Key("number");
        json.Number(index + 1);
        json.Key("kind");
        json.String(KindName(entry.kind));
        json.Key("storedName");
        if (entry.nameDecodes) {
            json.String(entry.storedName);
        } else {
            json.Null();
        }
        json.Key("storedNameBytes");
        json.String(HexText(archived.storedName));
        json.Key("writtenPath");
        json.String(entry.writtenPath);
        json.Key("method");
        json.Number(archived.method);
        json.Key("compressedSize");
        json.Number(archived.compressedSize);
        json.Key("size");
        json.Number(archived.size);
        json.Key("crc");
        json.String(Hex32(archived.crc));
        json.EndObject();
    }
    json.EndArray();
    json.Key("findings");
    json.BeginArray();
    for (const Finding& finding : report.findings) {
        json.BeginObject();
        json.Key("severity");
        json.String(SeverityName(finding.severity));
        json.Key("code");
        json.String(finding.code);
        json.Key("entry");
        if (finding.entry != 0) {
            json.Number(finding.entry);
        } else {
            json.Null();
        }
        json.Key("message");
        json.String(finding.text);
        json.EndObject();
    }
    json.EndArray();
    json.Key("appliesCleanly");
    json.Bool(report.AppliesCleanly());
    json.EndObject();
    return json.Text();
}

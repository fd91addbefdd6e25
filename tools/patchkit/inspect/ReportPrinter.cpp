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
// A size, or null where it is unknown (-1).
void SizeField(JsonWriter& json, const char* key, std::int64_t size) {
    if (size >= 0) {
        json.NumberField(key, static_cast<std::uint64_t>(size));
    } else {
        json.NullField(key);
    }
}

std::string VersionWithShown(std::uint32_t version) {
    return std::to_string(version) + " (" + VersionShown(version) + ")";
}

// Who signed and until when, and whether a timestamp keeps the signature valid after that.
std::string SignerLines(const SignatureReport& signature) {
    if (!signature.present || !signature.problem.empty()) {
        return "";
    }
    const SignerDetails& signer = signature.signer;
    const CertificateDetails& certificate = signer.certificate;
    std::string lines = signer.certificateFound
                            ? "Signer  " + certificate.subject + "\nIssuer  " + certificate.issuer +
                                  ", serial number " + certificate.serialNumber + "\nValidity  " +
                                  certificate.notBefore + " to " + certificate.notAfter + '\n'
                            : "Signer  unknown: the signer's certificate is not in the signature\n";
    if (!signer.timestamped) {
        return lines + "Timestamp  none: the signature counts as invalid once the certificate "
                       "expires\n";
    }
    const TimestampDetails& timestamp = signer.timestamp;
    return lines + "Timestamp  " + timestamp.time + " by " +
           (timestamp.authoritySubject.empty() ? "an authority whose certificate is not included"
                                               : timestamp.authoritySubject) +
           '\n';
}

void SignerFields(JsonWriter& json, const SignerDetails& signer) {
    if (signer.certificateFound) {
        const CertificateDetails& certificate = signer.certificate;
        json.Key("signer");
        json.BeginObject();
        json.StringField("subject", certificate.subject);
        json.StringField("issuer", certificate.issuer);
        json.StringField("serialNumber", certificate.serialNumber);
        json.StringField("notBefore", certificate.notBefore);
        json.StringField("notAfter", certificate.notAfter);
        json.EndObject();
    } else {
        json.NullField("signer");
    }
    if (!signer.timestamped) {
        json.NullField("timestamp");
        return;
    }
    json.Key("timestamp");
    json.BeginObject();
    json.StringField("time", signer.timestamp.time);
    if (signer.timestamp.authoritySubject.empty()) {
        json.NullField("authoritySubject");
    } else {
        json.StringField("authoritySubject", signer.timestamp.authoritySubject);
    }
    json.EndObject();
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

void TrailerField(JsonWriter& json, const PackageReport& report) {
    if (!report.trailerRead) {
        json.NullField("trailer");
        return;
    }
    const PackageTrailer& trailer = report.trailer;
    json.Key("trailer");
    json.BeginObject();
    json.NumberField("archiveOffset", trailer.archiveOffset);
    json.NumberField("packageVersion", trailer.packageVersion);
    json.StringField("packageVersionShown", VersionShown(trailer.packageVersion));
    json.NumberField("appliesToLocalVersion",
                     static_cast<std::uint32_t>(trailer.packageVersion - 1));
    json.StringField("appliesToLocalVersionShown", VersionShown(trailer.packageVersion - 1));
    json.EndObject();
}

void SignatureField(JsonWriter& json, const SignatureReport& signature) {
    json.Key("signature");
    SignatureJson(json, signature);
}

void WriteEntry(JsonWriter& json, const EntryReport& entry, std::size_t number) {
    const ArchiveEntry& archived = entry.archived;
    json.BeginObject();
    json.NumberField("number", number);
    json.StringField("kind", KindName(entry.kind));
    if (entry.nameDecodes) {
        json.StringField("storedName", entry.storedName);
    } else {
        json.NullField("storedName");
    }
    json.StringField("storedNameBytes", HexText(archived.storedName));
    json.StringField("writtenPath", entry.writtenPath);
    json.NumberField("method", archived.method);
    json.NumberField("compressedSize", archived.compressedSize);
    json.NumberField("size", archived.size);
    json.StringField("crc", Hex32(archived.crc));
    json.EndObject();
}

void WriteFinding(JsonWriter& json, const Finding& finding) {
    json.BeginObject();
    json.StringField("severity", SeverityName(finding.severity));
    json.StringField("code", finding.code);
    if (finding.entry != 0) {
        json.NumberField("entry", finding.entry);
    } else {
        json.NullField("entry");
    }
    json.StringField("message", finding.text);
    json.EndObject();
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
        text +=
            "Signature  " + SignatureLine(report.signature) + '\n' + SignerLines(report.signature);
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
    json.BoolField("present", signature.present);
    json.BoolField("sealed", signature.sealed);
    if (signature.digestAlgorithm.empty()) {
        json.NullField("digestAlgorithm");
    } else {
        json.StringField("digestAlgorithm", signature.digestAlgorithm);
    }
    if (signature.digest == SignatureReport::Digest::NotChecked) {
        json.NullField("digestMatches");
    } else {
        json.BoolField("digestMatches", signature.digest == SignatureReport::Digest::Matches);
    }
    SignerFields(json, signature.signer);
    json.EndObject();
}

std::string ReportAsJson(const PackageReport& report) {
    JsonWriter json;
    json.BeginObject();
    json.StringField("package", report.package);
    SizeField(json, "fileSize", report.fileLength);
    TrailerField(json, report);
    SignatureField(json, report.signature);
    SizeField(json, "archiveSize", report.archiveLength);
    json.BoolField("verified", report.verified);
    json.Key("entries");
    json.BeginArray();
    for (std::size_t index = 0; index < report.entries.size(); ++index) {
        WriteEntry(json, report.entries[index], index + 1);
    }
    json.EndArray();
    json.Key("findings");
    json.BeginArray();
    for (const Finding& finding : report.findings) {
        WriteFinding(json, finding);
    }
    json.EndArray();
    json.BoolField("appliesCleanly", report.AppliesCleanly());
    json.EndObject();
    return json.Text();
}

namespace {

// A string member that may be null; false when it is neither.
bool OptionalString(const JsonValue& value, std::string& text) {
    return value.kind() == JsonValue::Kind::Null || value.GetString(text);
}

bool ParseSignerFields(const JsonValue& value, SignerDetails& signer) {
    const JsonValue& certificate = value["signer"];
    signer.certificateFound = certificate.IsObject();
    CertificateDetails& details = signer.certificate;
    if (signer.certificateFound && !(certificate["subject"].GetString(details.subject) &&
                                     certificate["issuer"].GetString(details.issuer) &&
                                     certificate["serialNumber"].GetString(details.serialNumber) &&
                                     certificate["notBefore"].GetString(details.notBefore) &&
                                     certificate["notAfter"].GetString(details.notAfter))) {
        return false;
    }
    const JsonValue& timestamp = value["timestamp"];
    signer.timestamped = timestamp.IsObject();
    return (signer.certificateFound || certificate.kind() == JsonValue::Kind::Null) &&
           (!signer.timestamped ||
            (timestamp["time"].GetString(signer.timestamp.time) &&
             OptionalString(timestamp["authoritySubject"], signer.timestamp.authoritySubject))) &&
           (signer.timestamped || timestamp.kind() == JsonValue::Kind::Null);
}

} // namespace

bool ParseSignatureJson(const JsonValue& value, SignatureReport& signature) {
    signature = SignatureReport();
    const JsonValue& matches = value["digestMatches"];
    bool digestMatches = false;
    if (!value.IsObject() || !value["present"].GetBool(signature.present) ||
        !value["sealed"].GetBool(signature.sealed) ||
        !OptionalString(value["digestAlgorithm"], signature.digestAlgorithm) ||
        !(matches.kind() == JsonValue::Kind::Null || matches.GetBool(digestMatches)) ||
        !ParseSignerFields(value, signature.signer)) {
        return false;
    }
    if (matches.kind() != JsonValue::Kind::Null) {
        signature.digest =
            digestMatches ? SignatureReport::Digest::Matches : SignatureReport::Digest::Differs;
    }
    // A digest this build could not check is only a warning of inspect.
    return signature.present
               ? signature.sealed && signature.digest != SignatureReport::Digest::Differs
               : !signature.sealed && signature.digest == SignatureReport::Digest::NotChecked &&
                     !signature.signer.certificateFound && !signature.signer.timestamped;
}

#include "signing/SignerDetails.h"

#include <cstdio>
#include <utility>

namespace {

// The short names Windows shows; other attributes appear by their dotted identifiers.
const char* AttributeName(const std::string& oid) {
    static const std::pair<const char*, const char*> kNames[] = {
        {"2.5.4.3", "CN"},
        {"2.5.4.4", "SN"},
        {"2.5.4.5", "SERIALNUMBER"},
        {"2.5.4.6", "C"},
        {"2.5.4.7", "L"},
        {"2.5.4.8", "S"},
        {"2.5.4.9", "STREET"},
        {"2.5.4.10", "O"},
        {"2.5.4.11", "OU"},
        {"2.5.4.12", "T"},
        {"2.5.4.42", "G"},
        {"0.9.2342.19200300.100.1.25", "DC"},
        {"1.2.840.113549.1.9.1", "E"},
    };
    for (const auto& [known, name] : kNames) {
        if (oid == known) {
            return name;
        }
    }
    return nullptr;
}

// RFC 4514's escapes, so that a comma inside a value cannot pass for a separator.
std::string EscapedValue(const std::string& value) {
    std::string escaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const bool special =
            c == ',' || c == '+' || c == '"' || c == '\\' || c == '<' || c == '>' || c == ';';
        const bool edge = (i == 0 && (c == ' ' || c == '#')) || (i + 1 == value.size() && c == ' ');
        if (special || edge) {
            escaped += '\\';
        }
        escaped += c;
    }
    return escaped;
}

} // namespace

std::string DistinguishedName(const std::vector<RelativeName>& names) {
    std::string text;
    for (auto name = names.rbegin(); name != names.rend(); ++name) {
        if (!text.empty()) {
            text += ", ";
        }
        for (std::size_t i = 0; i < name->size(); ++i) {
            const NameAttribute& attribute = (*name)[i];
            const char* shortName = AttributeName(attribute.oid);
            text += (i == 0 ? "" : "+") +
                    std::string(shortName ? shortName : attribute.oid.c_str()) + '=' +
                    EscapedValue(attribute.value);
        }
    }
    return text;
}

std::string TimeText(const UtcTime& time) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    return text;
}

std::string SerialNumberText(const std::string& bigEndian) {
    std::size_t first = 0;
    while (first + 1 < bigEndian.size() && bigEndian[first] == '\0') {
        ++first;
    }
    std::string text;
    for (std::size_t i = first; i < bigEndian.size(); ++i) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(bigEndian[i]));
        text += pair;
    }
    return text;
}

TimestampKind TimestampKindOf(const std::string& attributeOid) {
    if (attributeOid == "1.3.6.1.4.1.311.3.3.1") {
        return TimestampKind::Token;
    }
    if (attributeOid == "1.2.840.113549.1.9.6") {
        return TimestampKind::Countersignature;
    }
    return TimestampKind::None;
}

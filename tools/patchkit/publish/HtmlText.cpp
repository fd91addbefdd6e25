#include "publish/HtmlText.h"

#include <cstdio>

std::string HtmlEscaped(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char character : text) {
        switch (character) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&#39;";
            break;
        default:
            escaped += character;
        }
    }
    return escaped;
}

std::string LinkBesidePage(const std::string& fileName) {
    std::string link = "./";
    for (const char character : fileName) {
        const auto byte = static_cast<unsigned char>(character);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
            byte == '~') {
            link += character;
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", byte);
            link += escape;
        }
    }
    return link;
}

std::string JsonForScript(const std::string& json) {
    std::string safe;
    safe.reserve(json.size());
    for (const char character : json) {
        switch (character) {
        case '<':
            safe += "\\u003c";
            break;
        case '>':
            safe += "\\u003e";
            break;
        case '&':
            safe += "\\u0026";
            break;
        default:
            safe += character;
        }
    }
    return safe;
}

std::string MegabytesText(std::uint64_t bytes) {
    // Hundredths rounded half up in whole numbers, as the script computes them: a binary
    // fraction printed with %.2f would round some halves the other way.
    constexpr std::uint64_t kMegabyte = 1048576;
    const std::uint64_t hundredths =
        (bytes / kMegabyte) * 100 + ((bytes % kMegabyte) * 100 + kMegabyte / 2) / kMegabyte;
    char text[48];
    std::snprintf(text, sizeof text, "%llu.%02llu MB",
                  static_cast<unsigned long long>(hundredths / 100),
                  static_cast<unsigned long long>(hundredths % 100));
    return text;
}

std::string GroupedDigits(std::uint64_t number) {
    const std::string digits = std::to_string(number);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) {
            grouped += ',';
        }
        grouped += digits[i];
    }
    return grouped;
}

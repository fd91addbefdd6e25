#include "publish/HtmlText.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>

namespace {

struct Escape {
    char character;
    const char* replacement;
};

// text with each of the characters replaced by its escape.
std::string WithEscapes(const std::string& text, std::initializer_list<Escape> escapes) {
    std::string escaped;
    escaped.reserve(text.size());
    for (const char character : text) {
        const Escape* found =
            std::find_if(escapes.begin(), escapes.end(),
                         [character](const Escape& e) { return e.character == character; });
        if (found != escapes.end()) {
            escaped += found->replacement;
        } else {
            escaped += character;
        }
    }
    return escaped;
}

} // namespace

std::string HtmlEscaped(const std::string& text) {
    return WithEscapes(
        text, {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&#39;"}});
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
    return WithEscapes(json, {{'<', "\\u003c"}, {'>', "\\u003e"}, {'&', "\\u0026"}});
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

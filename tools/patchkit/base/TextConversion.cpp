#include "base/TextConversion.h"

#include <cstdint>

namespace {

constexpr std::uint32_t kReplacementCharacter = 0xFFFD;

bool IsSurrogate(std::uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}
bool IsHighSurrogate(std::uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(std::uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void AppendUtf8(std::uint32_t character, std::string& utf8) {
    auto append = [&utf8](std::uint32_t byte) { utf8 += static_cast<char>(byte); };
    if (character < 0x80) {
        append(character);
    } else if (character < 0x800) {
        append(0xC0 | character >> 6);
        append(0x80 | (character & 0x3F));
    } else if (character < 0x10000) {
        append(0xE0 | character >> 12);
        append(0x80 | (character >> 6 & 0x3F));
        append(0x80 | (character & 0x3F));
    } else {
        append(0xF0 | character >> 18);
        append(0x80 | (character >> 12 & 0x3F));
        append(0x80 | (character >> 6 & 0x3F));
        append(0x80 | (character & 0x3F));
    }
}

} // namespace

bool WideToUtf8(const std::wstring& wide, std::string& utf8) {
    utf8.clear();
    bool complete = true;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        std::uint32_t character = static_cast<std::uint32_t>(wide[i]);
        if (sizeof(wchar_t) == 2 && IsHighSurrogate(character) && i + 1 < wide.size() &&
            IsLowSurrogate(static_cast<std::uint32_t>(wide[i + 1]))) {
            const auto low = static_cast<std::uint32_t>(wide[++i]);
            character = 0x10000 + ((character - 0xD800) << 10) + (low - 0xDC00);
        } else if (IsSurrogate(character) || character > 0x10FFFF) {
            character = kReplacementCharacter;
            complete = false;
        }
        AppendUtf8(character, utf8);
    }
    return complete;
}

std::string WideText(const std::wstring& wide) {
    std::string utf8;
    static_cast<void>(WideToUtf8(wide, utf8)); // the units at fault are U+FFFD already
    return utf8;
}

bool PathToUtf8(const std::filesystem::path& path, std::string& utf8) {
#ifdef _WIN32
    return WideToUtf8(path.native(), utf8);
#else
    utf8 = path.native();
    return true;
#endif
}

std::string DisplayPath(const std::filesystem::path& path) {
    std::string utf8;
    static_cast<void>(PathToUtf8(path, utf8)); // the units at fault are U+FFFD already
    return utf8;
}

std::string HexText(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const char byte : bytes) {
        text += kDigits[static_cast<unsigned char>(byte) >> 4];
        text += kDigits[static_cast<unsigned char>(byte) & 0xF];
    }
    return text;
}

bool BytesOfHexText(const std::string& hex, std::string& bytes) {
    const auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    bytes.clear();
    if (hex.size() % 2 != 0) {
        return false;
    }
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]);
        const int low = digit(hex[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes += static_cast<char>(high << 4 | low);
    }
    return true;
}

#include "platform/NameCase.h"

#include <cstdint>

namespace {

struct CaseRange {
    std::uint32_t first; // upper case
    std::uint32_t last;
    std::uint32_t toLower;
};

// The upper-case letters whose lower-case form Windows takes for the same name.
constexpr CaseRange kCaseRanges[] = {
    {0x0041, 0x005A, 0x20},                         // Latin
    {0x00C0, 0x00D6, 0x20},                         // Latin-1, without the multiplication sign
    {0x00D8, 0x00DE, 0x20}, {0x0391, 0x03A1, 0x20}, // Greek, without the unassigned U+03A2
    {0x03A3, 0x03A9, 0x20}, {0x0400, 0x040F, 0x50}, // Cyrillic
    {0x0410, 0x042F, 0x20}, {0x2160, 0x216F, 0x10}, // Roman numerals
    {0xFF21, 0xFF3A, 0x20},                         // full-width Latin
};

std::uint32_t LowerCase(std::uint32_t character) {
    for (const CaseRange& range : kCaseRanges) {
        if (character >= range.first && character <= range.last) {
            return character + range.toLower;
        }
    }
    return character;
}

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The character of the sequence of two or three bytes at index, or 0 when there is none there
// (the cased letters all lie below U+10000).
std::uint32_t DecodeAt(const std::string& text, std::size_t index, std::size_t& length) {
    const auto byte = [&text, index](std::size_t offset) {
        return static_cast<unsigned char>(text[index + offset]);
    };
    if ((byte(0) & 0xE0) == 0xC0 && index + 1 < text.size() && IsContinuation(byte(1))) {
        length = 2;
        return (byte(0) & 0x1Fu) << 6 | (byte(1) & 0x3Fu);
    }
    if ((byte(0) & 0xF0) == 0xE0 && index + 2 < text.size() && IsContinuation(byte(1)) &&
        IsContinuation(byte(2))) {
        length = 3;
        return (byte(0) & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);
    }
    length = 1;
    return 0;
}

void AppendUtf8(std::uint32_t character, std::string& text) {
    if (character < 0x800) {
        text += static_cast<char>(0xC0 | character >> 6);
    } else {
        text += static_cast<char>(0xE0 | character >> 12);
        text += static_cast<char>(0x80 | (character >> 6 & 0x3F));
    }
    text += static_cast<char>(0x80 | (character & 0x3F));
}

} // namespace

std::string FoldedNameCase(const std::string& utf8) {
    std::string folded;
    folded.reserve(utf8.size());
    for (std::size_t index = 0; index < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[index]);
        if (byte < 0x80) {
            folded += static_cast<char>(LowerCase(byte));
            ++index;
            continue;
        }
        std::size_t length = 1;
        const std::uint32_t character = DecodeAt(utf8, index, length);
        const std::uint32_t lower = character == 0 ? 0 : LowerCase(character);
        if (lower != character) {
            AppendUtf8(lower, folded); // the lower-case forms keep the sequence's length
        } else {
            folded.append(utf8, index, length);
        }
        index += length;
    }
    return folded;
}

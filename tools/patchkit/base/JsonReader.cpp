#include "base/JsonReader.h"

#include <limits>

namespace {

// Manifests nest three levels; anything near this is no document of ours.
constexpr int kDeepestNesting = 64;

const JsonValue& NullValue() {
    static const JsonValue null;
    return null;
}

void AppendUtf8(std::uint32_t character, std::string& text) {
    if (character < 0x80) {
        text += static_cast<char>(character);
    } else if (character < 0x800) {
        text += static_cast<char>(0xC0 | character >> 6);
        text += static_cast<char>(0x80 | (character & 0x3F));
    } else if (character < 0x10000) {
        text += static_cast<char>(0xE0 | character >> 12);
        text += static_cast<char>(0x80 | (character >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (character & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | character >> 18);
        text += static_cast<char>(0x80 | (character >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (character >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (character & 0x3F));
    }
}

} // namespace

const JsonValue& JsonValue::operator[](const std::string& key) const {
    const auto found = m_members.find(key);
    return found == m_members.end() ? NullValue() : found->second;
}

bool JsonValue::GetString(std::string& value) const {
    value = m_string;
    return m_kind == Kind::String;
}

bool JsonValue::GetNumber(std::uint64_t& value) const {
    value = m_number;
    return m_kind == Kind::Number;
}

bool JsonValue::GetBool(bool& value) const {
    value = m_bool;
    return m_kind == Kind::Bool;
}

class JsonParser {
public:
    explicit JsonParser(const std::string& text) : m_text(text) {}

    bool Document(JsonValue& value, std::string& error) {
        if (!Value(value, 0) || (SkipSpace(), m_at != m_text.size())) {
            error = "not valid JSON at byte " + std::to_string(m_at);
            return false;
        }
        return true;
    }

private:
    void SkipSpace() {
        while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\n' ||
                                        m_text[m_at] == '\r' || m_text[m_at] == '\t')) {
            ++m_at;
        }
    }

    bool Take(char expected) {
        SkipSpace();
        if (m_at < m_text.size() && m_text[m_at] == expected) {
            ++m_at;
            return true;
        }
        return false;
    }

    bool Word(const char* word) {
        const std::string expected(word);
        if (m_text.compare(m_at, expected.size(), expected) != 0) {
            return false;
        }
        m_at += expected.size();
        return true;
    }

    bool Value(JsonValue& value, int depth) {
        SkipSpace();
        if (m_at >= m_text.size() || depth > kDeepestNesting) {
            return false;
        }
        const char first = m_text[m_at];
        if (first == '{') {
            value.m_kind = JsonValue::Kind::Object;
            return Object(value, depth);
        }
        if (first == '[') {
            value.m_kind = JsonValue::Kind::Array;
            return Array(value, depth);
        }
        if (first == '"') {
            value.m_kind = JsonValue::Kind::String;
            return String(value.m_string);
        }
        if (first >= '0' && first <= '9') {
            value.m_kind = JsonValue::Kind::Number;
            return Number(value.m_number);
        }
        value.m_kind = first == 'n' ? JsonValue::Kind::Null : JsonValue::Kind::Bool;
        value.m_bool = first == 't';
        return Word(first == 'n' ? "null" : first == 't' ? "true" : "false");
    }

    bool Object(JsonValue& value, int depth) {
        ++m_at;
        if (Take('}')) {
            return true;
        }
        do {
            std::string key;
            JsonValue member;
            SkipSpace();
            if (m_at >= m_text.size() || m_text[m_at] != '"' || !String(key) || !Take(':') ||
                !Value(member, depth + 1) ||
                !value.m_members.emplace(std::move(key), std::move(member)).second) {
                return false;
            }
        } while (Take(','));
        return Take('}');
    }

    bool Array(JsonValue& value, int depth) {
        ++m_at;
        if (Take(']')) {
            return true;
        }
        do {
            value.m_elements.emplace_back();
            if (!Value(value.m_elements.back(), depth + 1)) {
                return false;
            }
        } while (Take(','));
        return Take(']');
    }

    bool Number(std::uint64_t& number) {
        number = 0;
        const std::size_t start = m_at;
        for (; m_at < m_text.size() && m_text[m_at] >= '0' && m_text[m_at] <= '9'; ++m_at) {
            const auto digit = static_cast<std::uint64_t>(m_text[m_at] - '0');
            if (number > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
                return false;
            }
            number = number * 10 + digit;
        }
        const bool leadingZero = m_text[start] == '0' && m_at - start > 1;
        const bool fraction = m_at < m_text.size() &&
                              (m_text[m_at] == '.' || m_text[m_at] == 'e' || m_text[m_at] == 'E');
        return !leadingZero && !fraction;
    }

    bool HexUnit(std::uint32_t& unit) {
        unit = 0;
        for (int i = 0; i < 4; ++i, ++m_at) {
            if (m_at >= m_text.size()) {
                return false;
            }
            const char digit = m_text[m_at];
            const int value = digit >= '0' && digit <= '9'   ? digit - '0'
                              : digit >= 'a' && digit <= 'f' ? digit - 'a' + 10
                              : digit >= 'A' && digit <= 'F' ? digit - 'A' + 10
                                                             : -1;
            if (value < 0) {
                return false;
            }
            unit = unit << 4 | static_cast<std::uint32_t>(value);
        }
        return true;
    }

    // \uXXXX, with a surrogate pair taken as one character; a lone surrogate is no text.
    bool UnicodeEscape(std::string& text) {
        std::uint32_t unit = 0;
        if (!HexUnit(unit) || (unit >= 0xDC00 && unit <= 0xDFFF)) {
            return false;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            std::uint32_t low = 0;
            if (!Word("\\u") || !HexUnit(low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(unit, text);
        return true;
    }

    bool Escape(std::string& text) {
        if (m_at >= m_text.size()) {
            return false;
        }
        const char escaped = m_text[m_at++];
        switch (escaped) {
        case '"':
        case '\\':
        case '/':
            text += escaped;
            return true;
        case 'b':
            text += '\b';
            return true;
        case 'f':
            text += '\f';
            return true;
        case 'n':
            text += '\n';
            return true;
        case 'r':
            text += '\r';
            return true;
        case 't':
            text += '\t';
            return true;
        case 'u':
            return UnicodeEscape(text);
        default:
            return false;
        }
    }

    bool String(std::string& text) {
        ++m_at;
        while (m_at < m_text.size()) {
            const char character = m_text[m_at++];
            if (character == '"') {
                return true;
            }
            if (static_cast<unsigned char>(character) < 0x20) {
                return false;
            }
            if (character != '\\') {
                text += character;
            } else if (!Escape(text)) {
                return false;
            }
        }
        return false;
    }

    const std::string& m_text;
    std::size_t m_at = 0;
};

bool ParseJson(const std::string& text, JsonValue& document, std::string& error) {
    document = JsonValue();
    return JsonParser(text).Document(document, error);
}

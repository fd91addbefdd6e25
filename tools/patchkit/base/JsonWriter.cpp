#include "base/JsonWriter.h"

#include <cstdio>

namespace {

bool IsContinuation(const std::string& text, std::size_t index) {
    return index < text.size() && (static_cast<unsigned char>(text[index]) & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence that starts at index, or 0 when none does:
// no overlong forms, no surrogates, nothing beyond U+10FFFF.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t index) {
    const auto lead = static_cast<unsigned char>(text[index]);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char secondLow = 0x80;
    unsigned char secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        secondLow = lead == 0xE0 ? 0xA0 : 0x80;
        secondHigh = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        secondLow = lead == 0xF0 ? 0x90 : 0x80;
        secondHigh = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (index + 1 >= text.size()) {
        return 0;
    }
    const auto second = static_cast<unsigned char>(text[index + 1]);
    if (second < secondLow || second > secondHigh) {
        return 0;
    }
    for (std::size_t next = 2; next < length; ++next) {
        if (!IsContinuation(text, index + next)) {
            return 0;
        }
    }
    return length;
}

} // namespace

void JsonWriter::NewLine() {
    m_text += '\n';
    m_text.append(2 * m_hasElements.size(), ' ');
}

void JsonWriter::BeforeValue() {
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_hasElements.empty()) {
        if (m_hasElements.back()) {
            m_text += ',';
        }
        m_hasElements.back() = true;
        NewLine();
    }
}

void JsonWriter::Open(char bracket) {
    BeforeValue();
    m_text += bracket;
    m_hasElements.push_back(false);
}

void JsonWriter::Close(char bracket) {
    const bool hadElements = m_hasElements.back();
    m_hasElements.pop_back();
    if (hadElements) {
        NewLine();
    }
    m_text += bracket;
    if (m_hasElements.empty()) {
        m_text += '\n';
    }
}

void JsonWriter::Key(const std::string& key) {
    String(key);
    m_text += ": ";
    m_afterKey = true;
}

void JsonWriter::String(const std::string& value) {
    BeforeValue();
    m_text += '"';
    for (std::size_t index = 0; index < value.size();) {
        const std::size_t length = Utf8SequenceLength(value, index);
        if (length == 0) {
            m_text += "\\ufffd";
            ++index;
        } else if (length > 1) {
            m_text.append(value, index, length);
            index += length;
        } else {
            AppendEscaped(value[index++]);
        }
    }
    m_text += '"';
}

void JsonWriter::AppendEscaped(char character) {
    switch (character) {
    case '"':
        m_text += "\\\"";
        break;
    case '\\':
        m_text += "\\\\";
        break;
    case '\n':
        m_text += "\\n";
        break;
    case '\t':
        m_text += "\\t";
        break;
    default:
        if (static_cast<unsigned char>(character) < 0x20) {
            char escape[7];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(character));
            m_text += escape;
        } else {
            m_text += character;
        }
    }
}

void JsonWriter::Number(std::uint64_t value) {
    BeforeValue();
    m_text += std::to_string(value);
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    m_text += value ? "true" : "false";
}

void JsonWriter::Null() {
    BeforeValue();
    m_text += "null";
}

void JsonWriter::StringField(const std::string& key, const std::string& value) {
    Key(key);
    String(value);
}

void JsonWriter::NumberField(const std::string& key, std::uint64_t value) {
    Key(key);
    Number(value);
}

void JsonWriter::BoolField(const std::string& key, bool value) {
    Key(key);
    Bool(value);
}

void JsonWriter::NullField(const std::string& key) {
    Key(key);
    Null();
}

void JsonWriter::StringArrayField(const std::string& key, const std::vector<std::string>& values) {
    Key(key);
    BeginArray();
    for (const std::string& value : values) {
        String(value);
    }
    EndArray();
}

#include "base/JsonWriter.h"

#include <cstdio>

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
    for (const char character : value) {
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
    m_text += '"';
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

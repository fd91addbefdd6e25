#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Builds one indented JSON document. Strings are given as UTF-8 and escaped as JSON requires; a
// byte that is no part of well-formed UTF-8 (a host file name can hold one) becomes U+FFFD, so
// the document always parses.
class JsonWriter {
public:
    void BeginObject() { Open('{'); }
    void EndObject() { Close('}'); }
    void BeginArray() { Open('['); }
    void EndArray() { Close(']'); }
    // Inside an object: the key of the value that follows.
    void Key(const std::string& key);

    void String(const std::string& value);
    void Number(std::uint64_t value);
    void Bool(bool value);
    void Null();

    // Inside an object: a key and its value.
    void StringField(const std::string& key, const std::string& value);
    void NumberField(const std::string& key, std::uint64_t value);
    void BoolField(const std::string& key, bool value);
    void NullField(const std::string& key);
    void StringArrayField(const std::string& key, const std::vector<std::string>& values);

    const std::string& Text() const { return m_text; }

private:
    void Open(char bracket);
    void Close(char bracket);
    // Separator and indentation ahead of a value; nothing after a key.
    void BeforeValue();
    void NewLine();
    void AppendEscaped(char character);

    std::string m_text;
    std::vector<bool> m_hasElements; // one level per open bracket
    bool m_afterKey = false;
};

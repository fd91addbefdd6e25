#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Builds one indented JSON document. Strings are given as UTF-8 and escaped as JSON requires.
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

    const std::string& Text() const { return m_text; }

private:
    void Open(char bracket);
    void Close(char bracket);
    // Separator and indentation ahead of a value; nothing after a key.
    void BeforeValue();
    void NewLine();

    std::string m_text;
    std::vector<bool> m_hasElements; // one level per open bracket
    bool m_afterKey = false;
};

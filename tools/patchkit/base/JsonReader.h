#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A parsed JSON document, for the documents patchkit writes itself and reads back (manifests).
// Numbers are whole and non-negative, the only ones those documents hold.
class JsonValue {
public:
    enum class Kind { Null, Bool, Number, String, Array, Object };

    Kind kind() const { return m_kind; }
    bool IsObject() const { return m_kind == Kind::Object; }
    bool IsArray() const { return m_kind == Kind::Array; }

    // The member of an object, or a null value when there is none (or this is no object).
    const JsonValue& operator[](const std::string& key) const;
    const std::vector<JsonValue>& Elements() const { return m_elements; }

    // False when the value is of another kind.
    [[nodiscard]] bool GetString(std::string& value) const;
    [[nodiscard]] bool GetNumber(std::uint64_t& value) const;
    [[nodiscard]] bool GetBool(bool& value) const;

private:
    friend class JsonParser;

    Kind m_kind = Kind::Null;
    bool m_bool = false;
    std::uint64_t m_number = 0;
    std::string m_string; // UTF-8
    std::vector<JsonValue> m_elements;
    std::map<std::string, JsonValue> m_members;
};

// False, with where and why, when text is not one JSON document (or nests deeper than sensible,
// holds a number that is not a whole one within 64 bits, or an escape that is no character).
[[nodiscard]] bool ParseJson(const std::string& text, JsonValue& document, std::string& error);

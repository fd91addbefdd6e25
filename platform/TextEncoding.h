#pragma once

#include <string>

// Conversions between code page 936 (the narrow encoding of entry names and messages) and UTF-8.
// Strict: false when the input is malformed or a character has no form in the target encoding.
bool Cp936ToUtf8(const std::string& cp936, std::string& utf8);
bool Utf8ToCp936(const std::string& utf8, std::string& cp936);

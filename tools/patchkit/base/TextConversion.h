#pragma once

#include <filesystem>
#include <string>

// UTF-8 from host text: wchar_t holds UTF-16 on Windows and UTF-32 elsewhere. Units that form no
// character become U+FFFD; the result is false when that happened.
[[nodiscard]] bool WideToUtf8(const std::wstring& wide, std::string& utf8);

// For messages: the text as well as it can be shown, U+FFFD for what is no character.
std::string WideText(const std::wstring& wide);

// A path as UTF-8, the encoding of everything patchkit prints. False when the host name holds
// something that is no character (unpaired surrogates on Windows; on other hosts the bytes are
// passed on and judged by whoever converts them further).
[[nodiscard]] bool PathToUtf8(const std::filesystem::path& path, std::string& utf8);
// For messages: the path as well as it can be shown.
std::string DisplayPath(const std::filesystem::path& path);

// Bytes as lower-case hexadecimal digits (digests as sha256sum prints them), and back; false for
// text that is not an even number of hexadecimal digits.
std::string HexText(const std::string& bytes);
[[nodiscard]] bool BytesOfHexText(const std::string& hex, std::string& bytes);

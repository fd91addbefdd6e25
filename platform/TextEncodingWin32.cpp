#include "platform/TextEncoding.h"

// windef.h first; only kernel headers, never the UI ones.
#include <windef.h>

#include <winbase.h>
#include <winnls.h>

namespace {

constexpr UINT kCodePage936 = 936;

[[nodiscard]] bool ToWide(UINT codePage, const std::string& text, std::wstring& wide) {
    wide.clear();
    if (text.empty()) {
        return true;
    }
    const int inputLength = static_cast<int>(text.size());
    const int length =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), inputLength, nullptr, 0);
    if (length <= 0) {
        return false;
    }
    wide.resize(static_cast<size_t>(length));
    return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), inputLength, &wide[0],
                               length) == length;
}

// usedDefault is only supported (and only needed) for code page 936, not for UTF-8.
[[nodiscard]] bool FromWide(UINT codePage, const std::wstring& wide, std::string& text) {
    text.clear();
    if (wide.empty()) {
        return true;
    }
    const bool strictFlags = codePage != CP_UTF8;
    const DWORD flags = strictFlags ? WC_NO_BEST_FIT_CHARS : WC_ERR_INVALID_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* usedDefaultOut = strictFlags ? &usedDefault : nullptr;
    const int inputLength = static_cast<int>(wide.size());
    const int length = WideCharToMultiByte(codePage, flags, wide.data(), inputLength, nullptr, 0,
                                           nullptr, usedDefaultOut);
    if (length <= 0 || usedDefault) {
        return false;
    }
    text.resize(static_cast<size_t>(length));
    return WideCharToMultiByte(codePage, flags, wide.data(), inputLength, &text[0], length, nullptr,
                               usedDefaultOut) == length &&
           !usedDefault;
}

[[nodiscard]] bool Convert(UINT fromCodePage, UINT toCodePage, const std::string& input,
                           std::string& output) {
    std::wstring wide;
    return ToWide(fromCodePage, input, wide) && FromWide(toCodePage, wide, output);
}

} // namespace

bool Cp936ToUtf8(const std::string& cp936, std::string& utf8) {
    return Convert(kCodePage936, CP_UTF8, cp936, utf8);
}

bool Utf8ToCp936(const std::string& utf8, std::string& cp936) {
    return Convert(CP_UTF8, kCodePage936, utf8, cp936);
}

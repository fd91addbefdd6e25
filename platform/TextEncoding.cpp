#include "platform/TextEncoding.h"

#ifdef _WIN32

// windef.h first; only kernel headers, never the UI ones.
#include <windef.h>

#include <winbase.h>
#include <winnls.h>

namespace {

constexpr UINT kCodePage936 = 936;

bool ToWide(UINT codePage, const std::string& text, std::wstring& wide) {
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
bool FromWide(UINT codePage, const std::wstring& wide, std::string& text) {
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

bool Convert(UINT fromCodePage, UINT toCodePage, const std::string& input, std::string& output) {
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

#else

#include <iconv.h>
#include <utility>

namespace {

bool Convert(const char* from, const char* to, const std::string& input, std::string& output) {
    output.clear();
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        return false;
    }
    // Every character of either encoding takes at most four bytes in the other.
    std::string buffer(input.size() * 4 + 4, '\0');
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char* out = &buffer[0];
    size_t outLeft = buffer.size();
    const bool converted =
        iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1) && inLeft == 0 &&
        iconv(converter, nullptr, nullptr, &out, &outLeft) != static_cast<size_t>(-1);
    iconv_close(converter);
    if (!converted) {
        return false;
    }
    buffer.resize(buffer.size() - outLeft);
    output = std::move(buffer);
    return true;
}

} // namespace

bool Cp936ToUtf8(const std::string& cp936, std::string& utf8) {
    return Convert("CP936", "UTF-8", cp936, utf8);
}

bool Utf8ToCp936(const std::string& utf8, std::string& cp936) {
    return Convert("UTF-8", "CP936", utf8, cp936);
}

#endif

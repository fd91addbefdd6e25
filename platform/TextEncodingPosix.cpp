#include "platform/TextEncoding.h"

#include <iconv.h>
#include <utility>

namespace {

[[nodiscard]] bool Convert(const char* from, const char* to, const std::string& input,
                           std::string& output) {
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

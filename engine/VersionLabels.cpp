#include "engine/VersionLabels.h"

#include <boost/format.hpp>

namespace {

std::wstring FormatVersionLabel(const wchar_t* formatText, std::uint32_t version) {
    boost::wformat format(formatText);
    format.exceptions(boost::io::no_error_bits);
    return boost::str(format % VersionAsShown(version));
}

} // namespace

float VersionAsShown(std::uint32_t version) {
    return static_cast<float>(static_cast<double>(version) / 100.0);
}

std::wstring LatestVersionLabel(std::uint32_t version) {
    return FormatVersionLabel(L"最新版本： %.02f", version);
}

std::wstring LocalVersionLabel(std::uint32_t version) {
    return FormatVersionLabel(L"本地版本： %.02f", version);
}

#include "engine/Messages.h"

#include <boost/format.hpp>

namespace {

boost::wformat MessageFormat(Message message) {
    boost::wformat format(TextOf(message).wide);
    format.exceptions(boost::io::no_error_bits);
    return format;
}

} // namespace

std::wstring AlreadyUpToDateText(std::uint32_t localVersion) {
    return boost::str(MessageFormat(Message::AlreadyUpToDate) % localVersion);
}

std::wstring VersionSkippedText(std::uint32_t localVersion, std::uint32_t packageVersion) {
    return boost::str(MessageFormat(Message::VersionSkipped) % localVersion % packageVersion);
}

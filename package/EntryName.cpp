#include "package/EntryName.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/predicate.hpp>

#include <locale>

namespace {

bool IsLeadByte(unsigned char byte) {
    return byte >= 0x81 && byte <= 0xFE;
}

bool IsTrailByte(unsigned char byte) {
    return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFE);
}

// "..", also with dots or spaces after it, which Windows drops from a name.
bool IsUnsafeComponent(const std::string& component) {
    return component.find_first_not_of(". ") == std::string::npos &&
           component.find("..") != std::string::npos;
}

} // namespace

std::string LowerCaseEntryName(std::string name) {
    boost::algorithm::to_lower(name, std::locale());
    return name;
}

EntryKind EntryKindOf(const std::string& lowerCaseName) {
    if (boost::algorithm::iends_with(lowerCaseName, ".pak", std::locale())) {
        return EntryKind::Pak;
    }
    if (!lowerCaseName.empty() && lowerCaseName.back() == '/') {
        return EntryKind::Directory;
    }
    return EntryKind::File;
}

std::size_t CharacterLengthAt(const std::string& name, std::size_t index) {
    const bool pair = index + 1 < name.size() &&
                      IsLeadByte(static_cast<unsigned char>(name[index])) &&
                      IsTrailByte(static_cast<unsigned char>(name[index + 1]));
    return pair ? 2 : 1;
}

bool IsSafeEntryName(const std::string& name) {
    if (name.empty()) {
        return false;
    }
    std::string component;
    for (std::size_t i = 0; i < name.size();) {
        const std::size_t length = CharacterLengthAt(name, i);
        const char byte = name[i];
        if (length == 1 && (byte == ':' || byte == '\0')) {
            return false;
        }
        if (length == 1 && (byte == '/' || byte == '\\')) {
            if (i == 0 || IsUnsafeComponent(component)) {
                return false;
            }
            component.clear();
        } else {
            // The second byte of a character, a backslash among them, is no separator.
            component.append(name, i, length);
        }
        i += length;
    }
    return !IsUnsafeComponent(component);
}

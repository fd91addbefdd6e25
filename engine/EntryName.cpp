#include "EntryName.h"

#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/predicate.hpp>

#include <locale>

namespace {

// A lead byte of a double-byte character of code page 936; the byte after it belongs to the
// character, even when it is a backslash.
bool IsLeadByte(unsigned char byte) {
    return byte >= 0x81 && byte <= 0xFE;
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

bool IsSafeEntryName(const std::string& name) {
    if (name.empty()) {
        return false;
    }
    std::string component;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char byte = name[i];
        if (IsLeadByte(static_cast<unsigned char>(byte)) && i + 1 < name.size()) {
            component += byte;
            component += name[++i];
            continue;
        }
        if (byte == ':' || byte == '\0') {
            return false;
        }
        if (byte == '/' || byte == '\\') {
            if (i == 0 || IsUnsafeComponent(component)) {
                return false;
            }
            component.clear();
            continue;
        }
        component += byte;
    }
    return !IsUnsafeComponent(component);
}

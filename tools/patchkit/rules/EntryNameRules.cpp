#include "rules/EntryNameRules.h"

#include "package/EntryName.h"
#include "platform/TextEncoding.h"

#include <cstring>

namespace {

bool IsUpperCaseLetter(unsigned char byte) {
    return byte >= 'A' && byte <= 'Z';
}

bool IsForbiddenOnWindows(unsigned char byte) {
    return (byte >= 0x01 && byte <= 0x1F) || std::strchr("<>\"|?*", byte) != nullptr;
}

// Calls visit(byte) for every byte that stands as a character of its own and
// visitPair(lead, trail) for every double-byte character.
template <typename Single, typename Pair>
void ForEachCharacter(const std::string& name, Single visit, Pair visitPair) {
    for (std::size_t i = 0; i < name.size(); i += CharacterLengthAt(name, i)) {
        if (CharacterLengthAt(name, i) == 2) {
            visitPair(i, static_cast<unsigned char>(name[i + 1]));
        } else {
            visit(i, static_cast<unsigned char>(name[i]));
        }
    }
}

} // namespace

NameProblem CheckEntryName(const std::string& storedName) {
    std::string utf8;
    if (!Cp936ToUtf8(storedName, utf8)) {
        return NameProblem::NotCodePage936;
    }
    if (!IsSafeEntryName(storedName)) {
        return NameProblem::Unsafe;
    }
    bool forbidden = false;
    bool renamed = false;
    ForEachCharacter(
        storedName,
        [&forbidden](std::size_t, unsigned char byte) { forbidden |= IsForbiddenOnWindows(byte); },
        [&renamed](std::size_t, unsigned char trail) { renamed |= IsUpperCaseLetter(trail); });
    if (forbidden) {
        return NameProblem::ForbiddenOnWindows;
    }
    return renamed ? NameProblem::RenamedByLowerCasing : NameProblem::None;
}

const NameProblemText& TextOf(NameProblem problem) {
    static const NameProblemText kTexts[] = {
        {NameProblem::None, "", ""},
        {NameProblem::NotCodePage936, "name-not-cp936",
         "the name cannot be represented in code page 936"},
        {NameProblem::Unsafe, "unsafe-name",
         "the name could reach outside the game folder (empty, absolute, with a colon or a "
         "\"..\" component)"},
        {NameProblem::ForbiddenOnWindows, "name-forbidden-on-windows",
         "the name holds a character Windows does not allow in file names"},
        {NameProblem::RenamedByLowerCasing, "renamed-by-lower-casing",
         "a Chinese character's second byte is an upper-case letter, which the updater "
         "lower-cases: it would write the file under another name"},
    };
    for (const NameProblemText& row : kTexts) {
        if (row.problem == problem) {
            return row;
        }
    }
    return kTexts[0];
}

bool HasUpperCaseLetters(const std::string& name) {
    bool found = false;
    ForEachCharacter(
        name, [&found](std::size_t, unsigned char byte) { found |= IsUpperCaseLetter(byte); },
        [](std::size_t, unsigned char) {});
    return found;
}

std::string WrittenPath(const std::string& storedName) {
    const std::string lowerCase = LowerCaseEntryName(storedName);
    std::string path = lowerCase;
    ForEachCharacter(
        lowerCase,
        [&path](std::size_t at, unsigned char byte) {
            if (byte == '\\') {
                path[at] = '/';
            }
        },
        [](std::size_t, unsigned char) {});
    return path;
}

std::string DirectoryOfEntry(const std::string& storedName) {
    const std::string path = WrittenPath(storedName);
    // "/" (0x2F) is never the second byte of a double-byte character.
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<std::string> DirectoriesCreatedBy(const std::string& directoryEntryName) {
    const std::string path = WrittenPath(directoryEntryName);
    std::vector<std::string> directories;
    for (std::size_t slash = path.find('/'); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        directories.push_back(path.substr(0, slash + 1));
    }
    return directories;
}

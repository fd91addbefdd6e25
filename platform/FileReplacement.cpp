#include "platform/FileReplacement.h"

Replacement ReplaceFileThrough(const std::filesystem::path& temporary,
                               const std::filesystem::path& target,
                               const std::function<bool()>& writeTemporary,
                               const std::function<FileError()>& replace) {
    Replacement result = Replacement::Done;
    if (!writeTemporary()) {
        result = Replacement::NotWritten;
    } else if (replace ? replace() != FileError::None : !ReplaceFileAtomically(temporary, target)) {
        result = Replacement::NotReplaced;
    }
    if (result != Replacement::Done) {
        static_cast<void>(RemoveFile(temporary)); // may be missing: nothing was written
    }
    return result;
}

std::filesystem::path PartialPathOf(const std::filesystem::path& target) {
    std::filesystem::path temporary = target;
    temporary += ".partial";
    return temporary;
}

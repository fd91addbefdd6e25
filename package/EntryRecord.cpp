#include "package/EntryRecord.h"

bool ReadEntryRecord(unzFile archive, unz_file_info64& info, std::string& storedName) {
    if (unzGetCurrentFileInfo64(archive, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
        return false;
    }
    storedName.assign(info.size_filename, '\0');
    return storedName.empty() ||
           unzGetCurrentFileInfo64(archive, &info, &storedName[0], info.size_filename, nullptr, 0,
                                   nullptr, 0) == UNZ_OK;
}

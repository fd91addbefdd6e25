#include "platform/ExclusiveFile.h"

#include "platform/HeldFolder.h"

FileError ExclusiveFile::Create(const char* folder, const char* name) {
    Close();
    FileError error = HoldPlainFolder(folder, m_folder);
    if (error == FileError::None) {
        error = FreeName(*m_folder, name);
    }
    if (error == FileError::None) {
        error = CreateNewFile(*m_folder, name, m_stream);
    }
    if (error == FileError::None) {
        m_name = name;
    }
    return error;
}

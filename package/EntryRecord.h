#pragma once

#include <unzip.h>

#include <string>

// The current entry's record and its stored name bytes, exactly as long as the record says and
// without terminator. False when either cannot be read.
bool ReadEntryRecord(unzFile archive, unz_file_info64& info, std::string& storedName);

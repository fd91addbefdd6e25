#pragma once

#include <string>

// A UTF-8 file name with its letters in one case, as Windows compares names: two names that
// Windows takes for the same file give the same result. Covers the cased letters of code page 936
// (Latin, Greek, Cyrillic, Roman numerals, full-width Latin) and Latin-1; bytes that are no UTF-8
// stay as they are.
std::string FoldedNameCase(const std::string& utf8);

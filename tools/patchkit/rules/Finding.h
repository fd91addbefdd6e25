#pragma once

#include <cstddef>
#include <string>
#include <vector>

enum class Severity { Note, Warning, Error };

// "note", "warning" or "error".
const char* SeverityName(Severity severity);

// What a check found about a package or one of its entries.
struct Finding {
    Severity severity = Severity::Error;
    std::string code;      // stable identifier for scripts, e.g. "unsafe-name"
    std::size_t entry = 0; // 1-based entry number, 0 for the package as a whole
    std::string text;      // UTF-8
};

void AddFinding(std::vector<Finding>& findings, Severity severity, const char* code,
                std::size_t entry, std::string text);

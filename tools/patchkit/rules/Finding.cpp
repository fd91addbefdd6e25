#include "rules/Finding.h"

#include <utility>

const char* SeverityName(Severity severity) {
    switch (severity) {
    case Severity::Note:
        return "note";
    case Severity::Warning:
        return "warning";
    case Severity::Error:
        break;
    }
    return "error";
}

void AddFinding(std::vector<Finding>& findings, Severity severity, const char* code,
                std::size_t entry, std::string text) {
    findings.push_back(Finding{severity, code, entry, std::move(text)});
}

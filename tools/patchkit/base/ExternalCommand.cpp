#include "base/ExternalCommand.h"

bool SplitCommandLine(const std::string& line, std::vector<std::string>& words) {
    words.clear();
    char quote = '\0';
    bool inWord = false;
    for (const char c : line) {
        if (quote != '\0') {
            if (c == quote) {
                quote = '\0';
            } else {
                words.back() += c;
            }
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            inWord = false;
        } else {
            if (!inWord) {
                words.emplace_back();
                inWord = true;
            }
            if (c == '"' || c == '\'') {
                quote = c;
            } else {
                words.back() += c;
            }
        }
    }
    return quote == '\0' && !words.empty();
}

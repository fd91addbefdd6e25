#include "base/ExternalCommand.h"

const CommandValue* PlaceholderAt(const std::string& line, std::size_t at,
                                  const std::vector<CommandValue>& values) {
    for (const CommandValue& value : values) {
        if (line.compare(at, value.placeholder.size(), value.placeholder) == 0) {
            return &value;
        }
    }
    return nullptr;
}

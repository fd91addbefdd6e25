#pragma once

#include <atomic>

// Long work stops between its steps once the flag is set (by Ctrl-C, from another thread); no flag
// means nothing stops it.
inline bool StopAsked(const std::atomic<bool>* stop) {
    return stop != nullptr && *stop;
}

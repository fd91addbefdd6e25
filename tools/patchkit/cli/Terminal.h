#pragma once

#include <cstdio>

// Whether the stream is a terminal: progress is drawn only there.
bool IsTerminal(std::FILE* stream);

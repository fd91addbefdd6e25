#pragma once

#include <cstdio>
#include <functional>

// A command that meets an exception of the C++ library (memory that cannot be had, above all)
// ends with an error line on the stream and exit code 1, never silently: thrown on the calling
// thread it is caught here; thrown on another thread of the program, the terminate handler this
// installs reports it and ends the program at once.
int RunGuardingFailures(const std::function<int()>& command, std::FILE* errors);

#pragma once

#include "engine/Messages.h"

#include <string>

class PatchView;

// Results of a run: the thread's exit code.
constexpr int kRunCompleted = 0;
constexpr int kRunStopped = 1; // after a message or a cancel

// Shows the message through the variant of ReportAndQuit that its encoding needs, unless the run
// has been cancelled.
void ReportMessage(PatchView& view, Message message);

#pragma once

// The updater's process exit codes.
enum class ExitCode : int {
    Completed = 0, // the package was applied and the finish button pressed
    Stopped = 1,   // the update run ended with a message, or the player cancelled
    Refused = 2,   // start-up gave up: another updater runs, or no game directory was chosen
};

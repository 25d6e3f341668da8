#pragma once

#include "app/startup_checks.h"

namespace app {

// Runs the program on an existing QApplication: the single-instance guard,
// the hidden main window with the splash sequence, the message loop and the
// exit clean-up. 1 when another instance runs, otherwise 0.
int RunKestrevane(const StartupEnvironment& environment);

// The program's entry point: creates the application object and runs the
// program with the platform's folders. No argument is read.
int KestrevaneMain(int argc, char** argv);

}  // namespace app

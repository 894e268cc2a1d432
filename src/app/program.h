// The program block: options, the application object, the main form, the message loop.
#pragma once

namespace tovi::app {

// Runs the program until the main form closes; returns the process exit code.
int RunProgram(int argc, const char* const* argv);

}  // namespace tovi::app

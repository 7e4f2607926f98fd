#pragma once
// The GUI program: the application core's start-up and exit with the real windows.

namespace vantrel::ui {

// Runs the client; the process's exit code.
int runGuiApp(int argc, char** argv);

}  // namespace vantrel::ui

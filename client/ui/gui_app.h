#pragma once
// The GUI program: the application core's start-up and exit with the real windows.

class QApplication;

namespace vantrel::ui {

// Loads Qt's own Chinese texts into `app`; false when the translation is not installed.
bool installQtTranslations(QApplication& app);

// Runs the client; the process's exit code.
int runGuiApp(int argc, char** argv);

}  // namespace vantrel::ui

#pragma once
// The GUI program: the application core's start-up and exit with the real windows.

class QApplication;

namespace vantrel::ui {

// Qt's own texts and formats in Chinese (client/ui/qt_chinese.h); false when the shipped
// translation is not installed.
bool installQtTranslations(QApplication& app);

// Runs the client; the process's exit code.
int runGuiApp(int argc, char** argv);

}  // namespace vantrel::ui

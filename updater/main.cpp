// travex [--headless] SETTINGS PRODUCT VERSION ADDRESS PORT TIMEOUT
// travex --help
// The updater: fetches the newer program from the update server, installs it and records
// its version in the client's settings. With --headless it runs at once and reports on
// standard output (scripts, tests); otherwise it shows its window.

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "client/ui/qt_chinese.h"
#include "updater/travex_dialog.h"
#include "updater/travex_run.h"

namespace {

class ConsoleReporter final : public vantrel::updater::Reporter {
  public:
    void caption(const std::string& text) override { std::printf("[%s]\n", text.c_str()); }
    void text(const std::string&) override {}
    void status(const std::string& text) override { std::printf("%s\n", text.c_str()); }
    void progress(std::int64_t done, std::int64_t total) override {
        if (done == total)
            std::printf("%lld/%lld\n", static_cast<long long>(done), static_cast<long long>(total));
    }
};

constexpr const char* kUsage =
    "usage: travex [--headless] SETTINGS PRODUCT VERSION ADDRESS PORT TIMEOUT\n"
    "  SETTINGS  the client's Client.ini      PRODUCT  product id\n"
    "  VERSION   the client's version         ADDRESS  update server (IPv4)\n"
    "  PORT      update server port           TIMEOUT  receive time-out in seconds\n"
    "  --headless  run at once and report on standard output, without a window\n";

// A window can only be shown where Qt has a platform to show it on.
bool displayAvailable() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const bool help =
        !arguments.empty() && (arguments.front() == "--help" || arguments.front() == "-h");
    const bool headless = !arguments.empty() && arguments.front() == "--headless";
    if (headless) arguments.erase(arguments.begin());
    auto parsed = vantrel::updater::parseArguments(arguments);
    // Decided before any QApplication exists: without a display, Qt would end the program
    // in its platform plug-in before the usage could be said.
    if (help) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    if (!parsed) {
        std::fprintf(stderr, "%s\n%s", vantrel::updater::kArgumentError, kUsage);
        if (headless || !displayAvailable()) return 1;
    }
    if (headless) {
        ConsoleReporter reporter;
        vantrel::updater::UpdateRun run(parsed.value(), reporter);
        if (run.run() != 0) {
            std::fprintf(stderr, "%s\n", run.errorText().c_str());
            return 1;
        }
        return 0;
    }
    QApplication app(argc, argv);
    vantrel::ui::installChineseQt(app);
    if (!parsed) {
        QMessageBox::critical(nullptr, QString::fromUtf8("系统更新"),
                              QString::fromUtf8(vantrel::updater::kArgumentError));
        return 1;
    }
    vantrel::updater::TravexDialog dialog(parsed.value());
    dialog.show();
    return app.exec();
}

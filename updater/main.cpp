// travex [--headless] SETTINGS PRODUCT VERSION ADDRESS PORT TIMEOUT
// The updater: fetches the newer program from the update server, installs it and records
// its version in the client's settings. With --headless it runs at once and reports on
// standard output (scripts, tests); otherwise it shows its window.

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <string>
#include <vector>

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

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const bool headless = !arguments.empty() && arguments.front() == "--headless";
    if (headless) arguments.erase(arguments.begin());
    auto parsed = vantrel::updater::parseArguments(arguments);
    if (headless) {
        if (!parsed) {
            std::fprintf(stderr, "%s\n", vantrel::updater::kArgumentError);
            return 1;
        }
        ConsoleReporter reporter;
        vantrel::updater::UpdateRun run(parsed.value(), reporter);
        if (run.run() != 0) {
            std::fprintf(stderr, "%s\n", run.errorText().c_str());
            return 1;
        }
        return 0;
    }
    QApplication app(argc, argv);
    if (!parsed) {
        QMessageBox::critical(nullptr, QString::fromUtf8("系统更新"),
                              QString::fromUtf8(vantrel::updater::kArgumentError));
        return 1;
    }
    vantrel::updater::TravexDialog dialog(parsed.value());
    dialog.show();
    return app.exec();
}

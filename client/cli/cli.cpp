#include "client/cli/cli.h"

#include <cstdio>

namespace vantrel::cli {

bool ConsolePrompt::askYesNo(const std::string& caption, const std::string& text, Icon) {
    std::fprintf(stderr, "%s: %s [answered: no]\n", caption.c_str(), text.c_str());
    return false;
}

void ConsolePrompt::show(const std::string& caption, const std::string& text, Icon) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
}

Environment::Environment(Installation installation)
    : installation_(std::move(installation)),
      logs_(installation_, platform::RealClock::instance(), notifier_) {}

Context Environment::context() {
    Context c;
    c.installation = installation_;
    c.clock = &platform::RealClock::instance();
    c.notifier = &notifier_;
    c.prompt = &prompt_;
    c.logs = &logs_;
    return c;
}

}  // namespace vantrel::cli

// A second process for the cross-process log tests:
//   log_writer ROOT RUNTIME_DIR COUNT TAG
// writes COUNT system-log lines "TAG-<i>" and exits 0 when every write succeeded.

#include <cstdlib>
#include <string>

#include "client/base/logs.h"
#include "client/base/notifier.h"
#include "platform/clock.h"

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    const vantrel::Installation installation(argv[1], argv[2]);
    vantrel::NullNotifier notifier;
    vantrel::Logs logs(installation, vantrel::platform::RealClock::instance(), notifier);
    const int count = std::atoi(argv[3]);
    int failures = 0;
    for (int i = 0; i < count; ++i)
        failures += logs.writeSysLog(std::string(argv[4]) + "-" + std::to_string(i)) != 0;
    return failures == 0 ? 0 : 1;
}

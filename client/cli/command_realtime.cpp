// vantrel-cli realtime status
// vantrel-cli realtime on|off
// vantrel-cli realtime receive FROM TO [--dir DIR] [--operator CODE] [--password-file FILE]
// The real-time report service's switch and the manual receive. The switch is the start-up
// state in Client.ini; a running client (serve or the GUI) is told as well and switches at
// once. receive lists the reports of the days FROM to TO (YYYYMMDD) and fetches all of them
// into DIR (default: Client.ini's handrevpath).
//
// Exit codes: 0 done, 1 failed, 2 usage.

#include <cstdio>

#include "client/cli/cli.h"
#include "client/config/config.h"
#include "client/execution/realtime/realtime_manual.h"
#include "client/execution/realtime/realtime_service.h"
#include "client/execution/session/mailbox_session.h"
#include "client/execution/tasks/command_inbox.h"
#include "client/gateway/interactive_gateway.h"

namespace vantrel::cli {
namespace {

int status(Environment& environment) {
    const RealtimeReportSettings s =
        CConfig(environment.installation()).readRealtimeReportSettings();
    std::printf("%s\n", RealtimeService::statusText(!s.stopped).c_str());
    std::printf("revpath %s%s\nhandrevpath %s\n", s.receivePath.c_str(),
                s.addDate ? "YYYYMMDD" : "", s.manualReceivePath.c_str());
    return 0;
}

int setSwitch(Environment& environment, bool on) {
    CConfig config(environment.installation());
    RealtimeReportSettings s = config.readRealtimeReportSettings();
    s.stopped = !on;
    if (Status saved = config.writeRealtimeReportSettings(s); !saved) {
        std::fprintf(stderr, "%s\n", saved.text().c_str());
        return 1;
    }
    if (clientRunning(environment)) {
        const Status posted =
            CommandInbox(environment.installation()).post({"realtime", on ? "on" : "off"});
        if (!posted) {
            std::fprintf(stderr, "%s\n", posted.text().c_str());
            return 1;
        }
        std::fprintf(stderr, "vantrel-cli realtime: handed to the running client\n");
    }
    std::printf("%s\n", RealtimeService::statusText(on).c_str());
    return 0;
}

int receive(Environment& environment, const std::vector<std::string>& arguments) {
    std::vector<std::string> days;
    LoginOptions login;
    std::string directory;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (takeLoginOption(arguments, i, login)) continue;
        if (arguments[i] == "--dir" && i + 1 < arguments.size()) {
            directory = arguments[++i];
        } else if (arguments[i].rfind("--", 0) == 0) {
            std::fprintf(stderr, "vantrel-cli realtime: unknown argument '%s'\n",
                         arguments[i].c_str());
            return 2;
        } else {
            days.push_back(arguments[i]);
        }
    }
    if (days.size() != 2) {
        std::fprintf(stderr, "vantrel-cli realtime receive: FROM and TO (YYYYMMDD) expected\n");
        return 2;
    }
    if (directory.empty())
        directory =
            CConfig(environment.installation()).readRealtimeReportSettings().manualReceivePath;

    InteractiveGateway gateway(environment.context());
    MailboxSession session(gateway);
    if (!logIn("realtime", environment, login, session)) return 1;
    return session.withHandle([&](CVornFtp& handle) {
        RealtimeManualReceive manual(environment.context(), handle);
        std::printf("正在查询实时回报文件...\n");
        std::vector<ManualReport> listed;
        if (manual.query(days[0], days[1], listed) < 0) {
            std::fprintf(stderr, "%s\n", manual.errorText().c_str());
            return 1;
        }
        if (Status ready = manual.prepareDirectory(directory); !ready) {
            std::fprintf(stderr, "%s\n", ready.text().c_str());
            return 1;
        }
        std::vector<std::size_t> chosen(listed.size());
        for (std::size_t i = 0; i < chosen.size(); ++i) chosen[i] = i;
        std::printf("正在下载文件...\n");
        auto results = manual.fetch(chosen, listed, directory);
        if (!results) {
            std::fprintf(stderr, "%s\n", results.status().text().c_str());
            return 1;
        }
        int failures = 0;
        for (const ManualFetchResult& r : *results) {
            std::printf("%s %s %s%s%s\n", listed[r.position].day.c_str(), r.name.c_str(),
                        r.result.c_str(), r.error.empty() ? "" : " ", r.error.c_str());
            failures += r.result != "下载成功";
        }
        return failures == 0 ? 0 : 1;
    });
}

int realtimeCommand(Environment& environment, const std::vector<std::string>& arguments) {
    const std::string verb = arguments.empty() ? "" : arguments[0];
    if (verb == "status" && arguments.size() == 1) return status(environment);
    if ((verb == "on" || verb == "off") && arguments.size() == 1)
        return setSwitch(environment, verb == "on");
    if (verb == "receive") return receive(environment, arguments);
    std::fprintf(stderr, "vantrel-cli realtime: status, on, off or receive FROM TO expected\n");
    return 2;
}

}  // namespace

std::vector<Command> realtimeCommands() {
    return {{"realtime", "status | on | off | receive FROM TO [--dir DIR]",
             "the real-time report service's switch; fetch the reports of days FROM..TO by hand",
             realtimeCommand}};
}

}  // namespace vantrel::cli

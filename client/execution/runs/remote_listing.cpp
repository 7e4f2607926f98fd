#include "client/execution/runs/remote_listing.h"

#include <cstdio>

#include "client/base/logs.h"
#include "platform/thread_id.h"

namespace vantrel::execution {

bool LogInToList(const Context& context, CVornFtp& session, std::string& error) {
    if (session.LoginToGateway() || session.LoginToGateway()) return true;
    char prefix[128];
    std::snprintf(prefix, sizeof prefix,
                  "管理线程[0x%08x]登陆失败！失败原因:", platform::currentThreadId());
    error = prefix + session.LastError();
    if (context.logs) (void)context.logs->writeSysLog(error);
    return false;
}

bool ListAndLogOut(CVornFtp& session, const ListCall& list,
                   std::vector<catalogue::RemoteFileEntry>& files, std::string& error) {
    VornFileService service(session);
    std::vector<filesvc::ListEntry> listed;
    const GatewayOutcome outcome = list(service, listed);
    if (outcome != GatewayOutcome::Ok) error = session.LastError();
    // The listing is all this session is for.
    session.DropIfLoggedIn();
    if (outcome != GatewayOutcome::Ok) return false;
    files.clear();
    for (const filesvc::ListEntry& e : listed) {
        if (!e.isDirectory()) files.push_back({e.name, e.size, e.date, e.time});
    }
    return true;
}

}  // namespace vantrel::execution

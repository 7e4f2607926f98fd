#pragma once
// How a run's management session lists a mailbox: the login (tried twice), the listing and
// the logout once it is done, and the listed files without the directories. Used by every
// model that begins a download run, so a listing is made in one layer.

#include <functional>
#include <string>
#include <vector>

#include "client/base/context.h"
#include "client/catalogue/download_list.h"
#include "client/transfer/file_services.h"

namespace vantrel::execution {

// Logs `session` in, a second time when the first login fails; false with `error` set to
// the management thread's login failure, which also goes into the system log.
bool LogInToList(const Context& context, CVornFtp& session, std::string& error);

// One listing on the logged-in `session` (routed by the caller): `list` fills the entries
// and returns what the service's list came to. The session is logged out afterwards either
// way. False with `error` set to the session's last error when the list failed.
using ListCall = std::function<GatewayOutcome(VornFileService&, std::vector<filesvc::ListEntry>&)>;
bool ListAndLogOut(CVornFtp& session, const ListCall& list,
                   std::vector<catalogue::RemoteFileEntry>& files, std::string& error);

}  // namespace vantrel::execution

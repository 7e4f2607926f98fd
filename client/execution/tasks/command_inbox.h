#pragma once
// How a second vantrel-cli reaches a running `vantrel-cli serve`: each command is one small
// file in the installation's "data/commands/", written whole under a temporary name and
// renamed into place, so the server never reads half a command. The server takes them in
// the order they were posted.

#include <string>
#include <vector>

#include "client/base/installation.h"
#include "platform/status.h"

namespace vantrel {

struct InboxCommand {
    std::string verb;    // run, stop, again, reload, realtime
    std::string taskId;  // empty for reload; "on" or "off" for realtime
};

class CommandInbox {
  public:
    explicit CommandInbox(Installation installation) : installation_(std::move(installation)) {}

    Status post(const InboxCommand& command) const;
    // Every waiting command, oldest first; each is removed once read. Unreadable or
    // malformed files are removed and skipped.
    std::vector<InboxCommand> take() const;
    // Where the commands wait: "data/commands".
    std::filesystem::path directory() const;

  private:
    Installation installation_;
};

}  // namespace vantrel

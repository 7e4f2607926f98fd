#pragma once
// The typed events that the core sends to the user interface, one per window message of
// the original design. Events carry copies (or task ids and names), never pointers into
// records that another thread may free.
//
// To add an event: declare its struct here and append it to NotifierEvent.

#include <cstdint>
#include <string>
#include <variant>

namespace vantrel {

// 1128: the interactive gateway handle's logged-in state changed.
struct LoginStateChanged {
    bool loggedIn = false;
};

// 1325: a real-time log record for the real-time message list. `time` is
// "YYYY-MM-DD HH:MM:SS"; `message` holds at most 255 characters.
struct RealtimeLogRecord {
    std::string time;
    std::string message;
    int level = 0;
};

using NotifierEvent = std::variant<LoginStateChanged, RealtimeLogRecord>;

}  // namespace vantrel

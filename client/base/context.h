#pragma once
// One context, no hidden globals: what every component needs from its surroundings
// reaches it through this object. The owner (main(), a test fixture) keeps every pointee
// alive for as long as the context is used.

#include "client/base/installation.h"
#include "client/base/notifier.h"
#include "client/base/user_prompt.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace vantrel {

class Logs;

struct Context {
    Installation installation;
    const platform::Clock* clock = nullptr;
    Notifier* notifier = nullptr;
    UserPrompt* prompt = nullptr;
    Logs* logs = nullptr;
    // What the catalogue and the transfers write through; null is the machine's.
    platform::FileSystem* files = nullptr;

    platform::FileSystem& fileSystem() const {
        return files ? *files : platform::FileSystem::real();
    }
};

}  // namespace vantrel

#pragma once
// CPlanDir: the local directories of every loaded task, so that the dialogs can refuse or
// warn about a directory another task already uses. One per process, owned by the
// application and reached through the catalogue. Thread-safe; its lock is always taken
// after a catalogue lock, never before one.

#include <map>
#include <mutex>
#include <string>

namespace vantrel::catalogue {

struct PlanDirectories {
    std::string receive;  // download and auto-sync tasks
    std::string send;     // upload tasks
    std::string sent;     // upload tasks
};

class CPlanDir {
  public:
    enum class Kind { Send, Sent, Receive };

    void Register(const std::string& taskId, const PlanDirectories& directories);
    void Unregister(const std::string& taskId);
    // Replaces the directories of a registered task (registers it when unknown).
    void Replace(const std::string& taskId, const PlanDirectories& directories);
    std::map<std::string, PlanDirectories> Snapshot() const;

    // Whether `candidate` is already used, for the dialog editing task `editedTaskId`
    // (empty for a new task). Compared ignoring case, one trailing separator dropped.
    //  - Sent: used when it equals any task's send or receive directory.
    //  - Send, Receive: the first task (in id order) with an equal directory decides; it
    //    is free only when that task is the one being edited.
    bool IsDirectoryInUse(Kind kind, const std::string& candidate,
                          const std::string& editedTaskId) const;

  private:
    mutable std::mutex mutex_;
    std::map<std::string, PlanDirectories> entries_;
};

}  // namespace vantrel::catalogue

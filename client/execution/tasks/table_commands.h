#pragma once
// The table edits the task dialogs and vantrel-cli post to a task model; the plan monitor
// carries them out on its own thread, one at a time, in the order they came.

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client/catalogue/task_catalogue.h"
#include "platform/event.h"

namespace vantrel {

enum class TableCommand { Add = 1, Delete = 2, Modify = 3, Load = 4 };

template <class Task>
class TableCommandQueue {
  public:
    struct Command {
        TableCommand command;
        Task task;
    };

    void push(TableCommand command, const Task& task) {
        {
            std::lock_guard lock(mutex_);
            commands_.push_back(Command{command, task});
        }
        pending_.set();
    }
    // The oldest command, empty when none waits.
    std::optional<Command> take() {
        std::lock_guard lock(mutex_);
        if (commands_.empty()) return std::nullopt;
        Command command = std::move(commands_.front());
        commands_.pop_front();
        return command;
    }
    // Set by each push; the plan monitor waits on it.
    platform::Event& pending() { return pending_; }

  private:
    std::mutex mutex_;
    std::deque<Command> commands_;
    platform::Event pending_{platform::Event::Reset::Auto};
};

// One task kind's operations in the catalogue: the table's edits, and the in-memory map the
// catalogue keeps of it.
template <class Task>
struct CatalogueTable {
    void (catalogue::CModule::*load)();
    int (catalogue::CModule::*add)(const Task&, std::string&);
    int (catalogue::CModule::*modify)(const Task&, std::string&);
    int (catalogue::CModule::*remove)(const Task&, std::string&);
    void (catalogue::CModule::*forget)(const std::string&);
    void (catalogue::CModule::*put)(const Task&);
    std::vector<Task> (catalogue::CModule::*all)() const;
    std::optional<Task> (catalogue::CModule::*find)(const std::string&) const;
    int (catalogue::CModule::*updateRow)(const std::string&, const std::string&,
                                         const std::string&, const std::string&, int);
    std::string (catalogue::CModule::*record)(const std::string&, const std::string&,
                                              const std::string&, const std::string&, bool);
};

// Carries out one table command on the catalogue; an edit it refuses gives its message to
// `log`. The catalogue's map follows each edit of the table, as the model reads the map:
// a deleted task leaves it, an added or changed one takes its new record.
template <class Task, class Log>
void applyTableCommand(catalogue::CModule& catalogue, const CatalogueTable<Task>& table,
                       const typename TableCommandQueue<Task>::Command& command, Log&& log) {
    if (command.command == TableCommand::Load) {
        (catalogue.*table.load)();
        return;
    }
    const auto edit = command.command == TableCommand::Add      ? table.add
                      : command.command == TableCommand::Modify ? table.modify
                                                                : table.remove;
    std::string message;
    const int done = (catalogue.*edit)(command.task, message);
    if (done != 1) {
        log(message);
        return;
    }
    if (command.command == TableCommand::Delete) {
        (catalogue.*table.forget)(command.task.planid);
    } else {
        (catalogue.*table.put)(command.task);
    }
}

}  // namespace vantrel

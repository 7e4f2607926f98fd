#pragma once
// What the task models share about their task maps: a model keeps, per task, a copy of
// the catalogue's record beside the run state it owns.

#include <map>
#include <string>
#include <vector>

#include <string_view>

#include "client/catalogue/catalogue_text.h"
#include "client/catalogue/task_records.h"

namespace vantrel {

// Takes the catalogue's records `fresh` into the model's map. Run state is kept; a task
// that runs keeps its cleared next run until its run ends; a deleted task that still runs
// stays, marked stopping, until its run is released. `Entry` has `task`, `running`,
// `stopping` and `run`.
// Requires: the model's lock held.
template <class Entry, class Task>
void MergeCatalogueTasks(std::map<std::string, Entry>& tasks, const std::vector<Task>& fresh) {
    std::map<std::string, Entry> next;
    for (const Task& task : fresh) {
        Entry entry;
        if (auto it = tasks.find(task.planid); it != tasks.end()) entry = std::move(it->second);
        const catalogue::NextRunTime cleared = entry.task.nextRun;
        const bool running = entry.running;
        entry.task = task;
        if (running) entry.task.nextRun = cleared;
        entry.task.running = entry.running;
        next.emplace(task.planid, std::move(entry));
    }
    for (auto& [id, entry] : tasks) {
        if (next.count(id) == 0 && entry.run) {
            entry.stopping = true;
            next.emplace(id, std::move(entry));
        }
    }
    tasks = std::move(next);
}

// The entry of `taskId`, compared ignoring case as block owners name their task; null
// when absent. Requires: the model's lock held.
template <class Entry>
const Entry* FindTaskIgnoringCase(const std::map<std::string, Entry>& tasks,
                                  std::string_view taskId) {
    for (const auto& [id, entry] : tasks) {
        if (catalogue::EqualsIgnoreCase(id, taskId)) return &entry;
    }
    return nullptr;
}

// Requires: the model's lock held.
template <class Entry>
bool AnyTaskRunning(const std::map<std::string, Entry>& tasks) {
    for (const auto& [id, entry] : tasks) {
        if (entry.running) return true;
    }
    return false;
}

}  // namespace vantrel

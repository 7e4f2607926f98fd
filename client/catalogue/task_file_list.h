#pragma once
// What the download and the upload file lists share: the day's list table, created from
// its template when missing, the work items by list row, the list and task-log paths and
// the last error, all under one lock. Each list adds its own rows and rules.

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "client/base/context.h"
#include "client/catalogue/dbf_table.h"

namespace vantrel::catalogue {

// Opens the list table `listPath`, first copying the template `templateName` from the
// installation's localconfig when it cannot be opened. The open table, or null with
// `error` set.
std::unique_ptr<CDbfImpl> OpenListFromTemplate(const Context& context,
                                               const std::filesystem::path& listPath,
                                               const char* templateName, std::string& error);

template <class WorkItem>
class TaskFileList {
  public:
    TaskFileList(const TaskFileList&) = delete;
    TaskFileList& operator=(const TaskFileList&) = delete;

    std::filesystem::path ListPath() const {
        std::lock_guard lock(mutex_);
        return listPath_;
    }
    std::filesystem::path TaskLogPath() const {
        std::lock_guard lock(mutex_);
        return taskLogPath_;
    }
    std::string LastError() const {
        std::lock_guard lock(mutex_);
        return lastError_;
    }
    // Copies of the work items, in list order.
    std::vector<WorkItem> Items() const {
        std::lock_guard lock(mutex_);
        std::vector<WorkItem> out;
        out.reserve(items_.size());
        for (const auto& item : items_) out.push_back(*item);
        return out;
    }
    std::optional<WorkItem> Item(int row) const {
        std::lock_guard lock(mutex_);
        auto it = itemsByRow_.find(row);
        if (it == itemsByRow_.end()) return std::nullopt;
        return *it->second;
    }

  protected:
    TaskFileList() = default;
    ~TaskFileList() = default;

    // Requires: mutex_ held (so do the members below).
    WorkItem* itemLocked(int row) {
        auto it = itemsByRow_.find(row);
        return it == itemsByRow_.end() ? nullptr : it->second;
    }
    // Checks the row index and the open list; false with the operation's text set.
    bool checkLocked(int row, const char* badArgument, const char* notOpen) {
        if (row < 0 || (list_ && itemLocked(row) == nullptr)) {
            lastError_ = badArgument;
            return false;
        }
        if (!list_) {
            lastError_ = notOpen;
            return false;
        }
        return true;
    }
    void clearItemsLocked() {
        items_.clear();
        itemsByRow_.clear();
    }
    void addItemLocked(std::unique_ptr<WorkItem> item, int row) {
        itemsByRow_[row] = item.get();
        items_.push_back(std::move(item));
    }

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<WorkItem>> items_;
    std::unique_ptr<CDbfImpl> list_;
    std::filesystem::path listPath_;
    std::filesystem::path taskLogPath_;
    std::string lastError_;

  private:
    std::map<int, WorkItem*> itemsByRow_;
};

}  // namespace vantrel::catalogue

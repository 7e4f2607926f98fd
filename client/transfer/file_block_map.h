#pragma once
// FileBlockMap: the registry of the files being transferred, keyed by a text that ends
// with the owning task's identifier, so a task's stop request reaches all of its files.
// Thread-safe; its lock is taken before a file's state lock.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "client/transfer/file_block_info.h"

namespace vantrel {

class FileBlockMap {
  public:
    explicit FileBlockMap(FileBlockInfo::Options options) : options_(std::move(options)) {}

    // The registry key of an item: its block state file and its task identifier.
    static std::string keyFor(const TransferItem& item, bool isUpload);

    // Opens the item's block state and registers it (an open file of the same key is
    // returned as it is). Null with `error` set on failure.
    FileBlockInfo* create(const TransferItem& item, bool isUpload, std::string_view orgCode,
                          std::string_view mailbox, std::string_view ftpType, std::string& error);
    // Null with `error` set when absent.
    FileBlockInfo* find(std::string_view key, std::string& error) const;
    // Sets or clears the stop request of every file whose key ends with `taskId`, ignoring case.
    void requestStop(std::string_view taskId);
    void clearStop(std::string_view taskId);
    // Closes and frees each named file.
    void remove(const std::vector<std::string>& keys);
    std::size_t size() const;

    // What a file's block state said when it left the registry (done, stopped or failed).
    struct Closed {
        std::string taskId;
        std::string remoteName;
        bool isUpload = false;
        std::int64_t bytesDone = 0;
        std::int64_t fileSize = -1;
        bool resumed = false;
        bool complete() const { return fileSize >= 0 && bytesDone >= fileSize; }
    };
    // Called on the thread that removes a file, without the registry's lock; set before
    // the transfers start.
    void setCloseObserver(std::function<void(const Closed&)> observer) {
        closeObserver_ = std::move(observer);
    }
    // The files open now, as the status and its rates see them.
    std::vector<Closed> openFiles() const;

  private:
    static Closed describe(const FileBlockInfo& file);
    void setStop(std::string_view taskId, bool stop);

    FileBlockInfo::Options options_;
    mutable std::mutex mutex_;
    std::map<std::string, std::unique_ptr<FileBlockInfo>, std::less<>> files_;
    std::function<void(const Closed&)> closeObserver_;
};

}  // namespace vantrel

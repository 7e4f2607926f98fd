#include "client/transfer/file_block_map.h"

#include <cctype>

namespace vantrel {

namespace {

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix) {
    if (suffix.size() > text.size()) return false;
    text.remove_prefix(text.size() - suffix.size());
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(suffix[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string FileBlockMap::keyFor(const TransferItem& item, bool isUpload) {
    const std::filesystem::path base = isUpload ? item.localDirectory : receiveDirectory(item);
    return (isUpload ? "U|" : "D|") + (base / item.localName).string() + "|" + item.taskId;
}

FileBlockInfo* FileBlockMap::create(const TransferItem& item, bool isUpload,
                                    std::string_view orgCode, std::string_view mailbox,
                                    std::string_view ftpType, std::string& error) {
    const std::string key = keyFor(item, isUpload);
    std::lock_guard lock(mutex_);
    if (auto it = files_.find(key); it != files_.end()) return it->second.get();
    auto file = std::make_unique<FileBlockInfo>(options_);
    if (!file->open(item, isUpload, orgCode, mailbox, ftpType)) {
        error = file->errorText();
        return nullptr;
    }
    FileBlockInfo* raw = file.get();
    files_.emplace(key, std::move(file));
    return raw;
}

FileBlockInfo* FileBlockMap::find(std::string_view key, std::string& error) const {
    if (key.empty()) {
        error = "函数参数名称为空！";
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    auto it = files_.find(key);
    if (it == files_.end()) {
        error = "没有找到相应文件块信息！";
        return nullptr;
    }
    return it->second.get();
}

void FileBlockMap::setStop(std::string_view taskId, bool stop) {
    std::lock_guard lock(mutex_);
    for (auto& [key, file] : files_) {
        if (endsWithIgnoringCase(key, taskId)) file->setStopRequest(stop);
    }
}

void FileBlockMap::requestStop(std::string_view taskId) {
    setStop(taskId, true);
}
void FileBlockMap::clearStop(std::string_view taskId) {
    setStop(taskId, false);
}

void FileBlockMap::remove(const std::vector<std::string>& keys) {
    std::vector<std::unique_ptr<FileBlockInfo>> closing;
    {
        std::lock_guard lock(mutex_);
        for (const auto& key : keys) {
            auto it = files_.find(key);
            if (it == files_.end()) continue;
            closing.push_back(std::move(it->second));
            files_.erase(it);
        }
    }
    // Closing waits for workers to let go of their blocks; the registry stays usable meanwhile.
    for (auto& file : closing) {
        const Closed facts = describe(*file);
        file->close();
        if (closeObserver_) closeObserver_(facts);
    }
}

FileBlockMap::Closed FileBlockMap::describe(const FileBlockInfo& file) {
    Closed facts;
    facts.taskId = file.taskId();
    facts.remoteName = file.remoteName();
    facts.isUpload = file.isUpload();
    facts.bytesDone = file.bytesDone();
    facts.fileSize = file.fileSize();
    facts.resumed = file.resumed();
    return facts;
}

std::vector<FileBlockMap::Closed> FileBlockMap::openFiles() const {
    std::lock_guard lock(mutex_);
    std::vector<Closed> open;
    open.reserve(files_.size());
    for (const auto& [key, file] : files_) open.push_back(describe(*file));
    return open;
}

std::size_t FileBlockMap::size() const {
    std::lock_guard lock(mutex_);
    return files_.size();
}

}  // namespace vantrel

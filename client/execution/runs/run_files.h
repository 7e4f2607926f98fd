#pragma once
// What a download run and an upload run share about their files: when the run has ended,
// its result, and whether a worker still holds a block. `Files` maps a list row to a file
// with `phase`, `name`, `error` and `info`; `done` is the phase of a file that made it.
// Requires: the run's lock held.

#include <algorithm>
#include <string>

namespace vantrel {

// Every file made it, failed for good or was stopped.
template <class Files, class Phase>
bool AllFilesEnded(const Files& files, Phase done) {
    return std::all_of(files.begin(), files.end(), [done](const auto& entry) {
        const Phase p = entry.second.phase;
        return p == done || p == Phase::Failed || p == Phase::Stopped;
    });
}

// "成功" when every file made it, else "失败" with the first file's reason in
// `description` ("文件[name]<failedWhat>：error", or the user's stop).
template <class Files, class Phase>
std::string RunResult(const Files& files, Phase done, const char* failedWhat,
                      std::string& description) {
    for (const auto& [row, file] : files) {
        if (file.phase != done) {
            description = file.phase == Phase::Stopped
                              ? std::string("用户停止任务!")
                              : "文件[" + file.name + "]" + failedWhat + "：" + file.error;
            return "失败";
        }
    }
    description.clear();
    return "成功";
}

template <class Files>
bool AnyBlockTaken(const Files& files) {
    return std::any_of(files.begin(), files.end(), [](const auto& entry) {
        return entry.second.info && entry.second.info->isTaken();
    });
}

}  // namespace vantrel

#include "client/execution/tasks/download_run_model.h"

#include <cstdio>
#include <system_error>

#include "client/catalogue/download_list.h"

namespace vantrel {

namespace fs = std::filesystem;

DownloadRunSetup RunSetupOf(const DownloadModelOptions& options) {
    DownloadRunSetup setup;
    setup.blocks = options.blocks;
    setup.flags = options.flags;
    setup.transferClock = options.transferClock;
    setup.unzipProgram = options.unzipProgram;
    setup.noUnzipFileTypes = options.noUnzipFileTypes;
    return setup;
}

bool ForgetDownloadDay(const Context& context, const std::string& taskId,
                       std::chrono::seconds shift, const fs::path& receiveDirectory,
                       std::string& line) {
    catalogue::CDownLoadFile list(context, nullptr, nullptr);
    list.Init(taskId, catalogue::CDownLoadFile::TaskKind::Download, shift);
    const fs::path listPath = list.ListPath();
    list.SetReceiveDirectory(receiveDirectory);
    if (list.LoadWorkItems()) {
        for (const auto& item : list.Items()) {
            std::error_code ec;
            fs::remove(item.partialFile(), ec);
            fs::remove(item.partialFile().string() + ".~block", ec);
        }
    }
    char text[1024];
    const bool deleted = list.DeleteList() == 1;
    if (deleted) {
        std::snprintf(text, sizeof text, "删除[%s]任务清单成功,清单文件为:%s", taskId.c_str(),
                      listPath.string().c_str());
    } else {
        std::snprintf(text, sizeof text, "重新下载[%s]任务失败,失败原因为:%s", taskId.c_str(),
                      list.LastError().c_str());
    }
    line = text;
    return deleted;
}

}  // namespace vantrel

#include "client/execution/tasks/plan_model.h"

#include <cstdio>

namespace vantrel {

std::string blockLine(std::string_view prefix, const std::string& action, const BlockTask& block) {
    char buffer[1024];
    std::snprintf(buffer, sizeof buffer, "%.*s%s;开始偏移量-[%lld],结束偏移量-[%lld]",
                  static_cast<int>(prefix.size()), prefix.data(), action.c_str(),
                  static_cast<long long>(block.start()), static_cast<long long>(block.end()));
    return buffer;
}

void applyRetryRule(BlockTask& block, const std::string& action, const std::string& error,
                    bool upload, int finalState,
                    const std::function<void(const std::string&, int)>& taskLog) {
    const int repeat = block.repeatCount();
    char buffer[2048];
    if (repeat < 3) {
        std::snprintf(buffer, sizeof buffer,
                      "%s出现错误,错误信息：%s;开始偏移量-[%lld],结束偏移量-[%lld]", action.c_str(),
                      error.c_str(), static_cast<long long>(block.start()),
                      static_cast<long long>(block.end()));
        taskLog(buffer, 1);
    } else {
        std::snprintf(buffer, sizeof buffer, "%s出现错误,错误信息：%s;%s", action.c_str(),
                      error.c_str(), upload ? "上传文件失败！" : "下载文件失败！");
        taskLog(buffer, 2);
    }
    block.incrementRepeat();
    block.setState(block.repeatCount() < 4 ? kBlockIdle : finalState);
}

}  // namespace vantrel

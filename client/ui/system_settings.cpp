#include "client/ui/system_settings.h"

#include "platform/text_codec.h"

namespace vantrel::ui {

namespace {
constexpr const char* kSuffixRule = "单标志文件后缀只能由以\".\"开头的含[1-9]个英文字符组成。";
constexpr std::size_t kPathLimit = 256;  // a save path must stay below this many bytes

bool letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
}  // namespace

std::string checkFlagFileExtend(const std::string& suffix) {
    if (suffix.empty()) return "单标志文件后缀不能为空！";
    if (suffix.size() == 1) return std::string("单标志文件后缀字符个数少于两位！") + kSuffixRule;
    if (suffix[0] != '.') return std::string("单标志文件后缀格式错误！") + kSuffixRule;
    for (std::size_t i = 1; i < suffix.size(); ++i) {
        if (!letter(suffix[i]))
            return std::string("单标志文件后缀中不能包含除\".\"以外的非英文字母！") + kSuffixRule;
    }
    // More than nine letters is outside the rule the messages state.
    if (suffix.size() > 10) return std::string("单标志文件后缀格式错误！") + kSuffixRule;
    return {};
}

std::string checkSystemSettings(const SystemSettings& settings) {
    if (std::string refusal = checkFlagFileExtend(settings.flagFileExtend); !refusal.empty())
        return refusal;
    if (platform::gbkLength(settings.realtime.receivePath) >= kPathLimit)
        return "该路径[" + settings.realtime.receivePath + "]过长，请重新选择文件保存路径！";
    return checkHistoryDays(settings.historyDays);
}

std::string checkHistoryDays(int days) {
    if (days < kHistoryDaysMin || days > kHistoryDaysMax)
        return "历史文件保留天数必须在7~60天之间！";
    return {};
}

std::string checkDiskSpace(std::int64_t megabytes) {
    if (megabytes < kDiskSpaceMinMb || megabytes > kDiskSpaceMaxMb)
        return "磁盘空间设置必须在100MB~100,000,000MB之间！";
    return {};
}

}  // namespace vantrel::ui

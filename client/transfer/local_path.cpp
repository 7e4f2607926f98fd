#include "client/transfer/local_path.h"

#include <string>

namespace vantrel {

namespace {

Status refused(std::string_view name, std::string_view why) {
    return Status::error(ErrorKind::InvalidArgument,
                         "文件名[" + std::string(name) + "]" + std::string(why) + "，拒绝写入本地目录！");
}

bool isSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

Result<std::filesystem::path> localPathInside(const std::filesystem::path& directory, std::string_view name) {
    if (name.empty()) return refused(name, "为空");
    if (isSeparator(name.front())) return refused(name, "是绝对路径");
    if (name.size() >= 2 && name[1] == ':') return refused(name, "带有盘符");
    if (isSeparator(name.back())) return refused(name, "不是文件名");
    std::filesystem::path result = directory;
    std::size_t begin = 0;
    while (begin <= name.size()) {
        std::size_t end = begin;
        while (end < name.size() && !isSeparator(name[end])) ++end;
        const std::string_view part = name.substr(begin, end - begin);
        if (part == "..") return refused(name, "包含上级目录(..)");
        if (part.find('\0') != std::string_view::npos) return refused(name, "含有非法字符");
        if (!part.empty() && part != ".") result /= std::string(part);
        begin = end + 1;
    }
    if (result == directory) return refused(name, "不是文件名");
    return result;
}

std::string_view remoteBaseName(std::string_view name) {
    const std::size_t cut = name.find_last_of("/\\");
    return cut == std::string_view::npos ? name : name.substr(cut + 1);
}

}  // namespace vantrel

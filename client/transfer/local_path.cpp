#include "client/transfer/local_path.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "client/gateway/text_format.h"

namespace vantrel {

namespace {

// The name is shown escaped: the refusal of a hostile name must not carry its bytes on.
Status refused(std::string_view name, std::string_view why) {
    return Status::error(ErrorKind::InvalidArgument, "文件名[" + escapeControlCharacters(name) +
                                                         "]" + std::string(why) +
                                                         "，拒绝写入本地目录！");
}

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}

}  // namespace

Result<std::filesystem::path> localPathInside(const std::filesystem::path& directory,
                                              std::string_view name) {
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
        if (hasControlCharacter(part)) return refused(name, "含有控制字符");
        if (part.size() > kLocalNameLimit) {
            return refused(name, "长" + std::to_string(part.size()) + "字节，超过本地文件名上限" +
                                     std::to_string(kLocalNameLimit) + "字节");
        }
        if (!part.empty() && part != ".") result /= std::string(part);
        begin = end + 1;
    }
    if (result == directory) return refused(name, "不是文件名");
    return result;
}

std::filesystem::path partialPathFor(const std::filesystem::path& target) {
    static constexpr std::string_view kData = ".tmp";
    static constexpr std::string_view kState = ".tmp.~block";
    const std::string name = target.filename().string();
    if (name.size() + kState.size() <= kLocalNameLimit)
        return target.parent_path() / (name + std::string(kData));
    // FNV-1a over the whole name: names that share the kept prefix still differ.
    std::uint64_t digest = 14695981039346656037ull;
    for (unsigned char c : name) digest = (digest ^ c) * 1099511628211ull;
    char tail[18];
    std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(digest));
    std::size_t keep = kLocalNameLimit - kState.size() - (sizeof tail - 1);
    // Cut between characters, never inside a UTF-8 sequence.
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return target.parent_path() / (name.substr(0, keep) + tail + std::string(kData));
}

std::string_view remoteBaseName(std::string_view name) {
    const std::size_t cut = name.find_last_of("/\\");
    return cut == std::string_view::npos ? name : name.substr(cut + 1);
}

}  // namespace vantrel

#include "client/catalogue/task_file_list.h"

#include "platform/file_system.h"

namespace vantrel::catalogue {
namespace {

// The template copied to `to` unless a file is there already; a half copy is removed, so
// it never passes for the list.
bool copyTemplate(platform::FileSystem& files, const std::filesystem::path& from,
                  const std::filesystem::path& to) {
    std::error_code ec;
    if (std::filesystem::exists(to, ec)) return true;
    if (platform::copyFile(files, from, to)) return true;
    (void)files.remove(to);
    return false;
}

}  // namespace

std::unique_ptr<CDbfImpl> OpenListFromTemplate(const Context& context,
                                               const std::filesystem::path& listPath,
                                               const char* templateName, std::string& error) {
    platform::FileSystem& files = context.fileSystem();
    auto list = std::make_unique<CDbfImpl>(*context.clock, files);
    if (list->Open(listPath, 2) == 1) return list;
    if (!copyTemplate(files, context.installation.localconfig() / templateName, listPath)) {
        error = "拷贝上传数据模板文件失败!";
        return nullptr;
    }
    if (list->Open(listPath, 2) != 1) {
        error = "打开发送文件列表DBF文件失败！";
        return nullptr;
    }
    return list;
}

}  // namespace vantrel::catalogue

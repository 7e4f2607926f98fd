#include "client/catalogue/task_file_list.h"

#include "client/catalogue/catalogue_text.h"

namespace vantrel::catalogue {

std::unique_ptr<CDbfImpl> OpenListFromTemplate(const Context& context,
                                               const std::filesystem::path& listPath,
                                               const char* templateName, std::string& error) {
    auto list = std::make_unique<CDbfImpl>(*context.clock);
    if (list->Open(listPath, 2) == 1) return list;
    if (!CopyTemplate(context.installation.localconfig() / templateName, listPath)) {
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

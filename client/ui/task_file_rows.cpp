#include "client/ui/task_file_rows.h"

#include "client/catalogue/dbf_table.h"
#include "client/catalogue/download_list.h"
#include "client/catalogue/upload_list.h"

namespace vantrel::ui {

namespace {

// The state words of the lists' flag values.
std::string downloadState(const std::string& flag) {
    switch (catalogue::FlagState(flag)) {
        case catalogue::kDelivered:
            return "下载完成";
        case catalogue::kTransferring:
            return "正在下载";
        default:
            return "未下载";
    }
}

std::string uploadState(const std::string& flag) {
    return catalogue::IsSentFlag(flag) ? "已上传" : "未上传";
}

}  // namespace

std::optional<FileListKind> fileListKindOf(const std::filesystem::path& table) {
    std::error_code ec;
    if (!std::filesystem::exists(table, ec)) return std::nullopt;
    catalogue::CDbfImpl list;
    if (list.Open(table, 1) != 1) return std::nullopt;
    const bool upload = list.FieldIndex("LOCALSIZE") >= 0;
    list.Close();
    return upload ? FileListKind::Upload : FileListKind::Download;
}

std::vector<std::string> fileListTitles(FileListKind kind) {
    if (kind == FileListKind::Download)
        return {"文件名", "远程大小(B)", "已下载大小(B)", "更新时间", "下载时间", "状态",
                "错误描述"};
    return {"文件名", "本地大小(B)", "已上传大小(B)", "本地时间", "上传时间", "状态",
            "错误描述", "MD5"};
}

std::vector<std::vector<std::string>> readFileListRows(const std::filesystem::path& table,
                                                       FileListKind kind) {
    std::vector<std::vector<std::string>> rows;
    std::error_code ec;
    if (!std::filesystem::exists(table, ec)) return rows;
    catalogue::CDbfImpl list;
    if (list.Open(table, 1) != 1) return rows;
    catalogue::DbfCursor cursor(list);
    catalogue::DbfRow row;
    int index = 0;
    while (cursor.Next(index, row)) {
        if (row.deleted()) continue;
        if (kind == FileListKind::Download) {
            rows.push_back({row.trimmed("FILENAME"), row.trimmed("SIZE"), row.trimmed("DownSize"),
                            row.trimmed("UPDATETIME"), row.trimmed("LOADTIME"),
                            downloadState(row.trimmed("FLAG")), row.trimmed("DISCRIPT")});
        } else {
            rows.push_back({row.trimmed("FILENAME"), row.trimmed("LOCALSIZE"),
                            row.trimmed("Uploadsize"), row.trimmed("MODIFYTIME"),
                            row.trimmed("ENDTIME"), uploadState(row.trimmed("FLAG")),
                            row.trimmed("DISCRIPT"), row.trimmed("md5")});
        }
    }
    list.Close();
    return rows;
}

}  // namespace vantrel::ui

#pragma once
// The rows of a task's daily file list (the list table "<data>/<task id>-YYYYMMDD.dat"), read
// only, for the file-list view under the task list. Toolkit-free.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::ui {

enum class FileListKind { Download, Upload };

// The kind of list `table` holds (an upload list has LOCALSIZE); none when it cannot be
// opened.
std::optional<FileListKind> fileListKindOf(const std::filesystem::path& table);
// The column titles of the list of `kind`.
std::vector<std::string> fileListTitles(FileListKind kind);
// One row of texts per live record, in the titles' order; empty when the table cannot be
// opened (the task row stays as it is).
std::vector<std::vector<std::string>> readFileListRows(const std::filesystem::path& table,
                                                       FileListKind kind);

}  // namespace vantrel::ui

#pragma once
// Writes the mailbox browser's remote file list as a new table: the one place where a
// table is made from nothing rather than copied from a template.

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace vantrel::catalogue {

using MailboxListRow = std::array<std::string, 4>;

// Creates (or truncates) `path` and writes the four columns (widths 125, 20, 20, 8) with
// `titles` as field names and one record per row of `rows` except the first, which is the
// list's own parent-folder row. Texts are UTF-8, stored as GBK and cut to the width.
// On success `message` is the report for the operator ("导出记录：%i条\n导出文件：%s")
// and the result is 1; on failure `message` says why and the result is 0.
int ExportMailboxList(const std::filesystem::path& path, const std::array<std::string, 4>& titles,
                      const std::vector<MailboxListRow>& rows, const platform::Clock& clock,
                      std::string& message);

}  // namespace vantrel::catalogue

#pragma once
// Writes the mailbox browser's remote file list as a new table: the one place where a
// table is made from nothing rather than copied from a template.

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/status.h"

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

// Rows one worksheet of a workbook holds besides its title row (1,048,576 rows a sheet).
inline constexpr std::size_t kWorkbookRowsPerSheet = 1048575;

// Writes `rows` (entries only, no parent-folder row) as an Office Open XML workbook
// (.xlsx) at `path`, replacing a file there only once the workbook is whole. Each sheet
// starts with `titles`; a cell of digits only is a number, every other one a string. A list
// longer than one sheet holds goes on in further sheets ("Sheet2", ...) of the same file.
Status ExportMailboxListWorkbook(const std::filesystem::path& path,
                                 const std::array<std::string, 4>& titles,
                                 const std::vector<MailboxListRow>& rows,
                                 std::size_t rowsPerSheet = kWorkbookRowsPerSheet);

}  // namespace vantrel::catalogue

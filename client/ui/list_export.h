#pragma once
// The text and spreadsheet forms of the remote list export (the table form is the
// catalogue's). Toolkit-free.
//  - Text: GBK, one line per row, columns separated by a tab, lines ended by CR LF, the
//    column titles first.
//  - Spreadsheet: XML Spreadsheet 2003 (UTF-8), which Excel and LibreOffice open as .xls;
//    one worksheet per file with the titles in the first row. A list longer than one
//    sheet holds is written into several files "<stem>_1.xls", "<stem>_2.xls", ...

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/status.h"

namespace vantrel::ui {

using ListRow = std::array<std::string, 4>;

// Rows a single spreadsheet file may hold besides its title row.
inline constexpr std::size_t kSpreadsheetRowsPerFile = 65534;

Status writeTextList(const std::filesystem::path& file, const ListRow& titles,
                     const std::vector<ListRow>& rows);

// True when `rowCount` rows need more than one file.
inline bool spreadsheetNeedsSplit(std::size_t rowCount) {
    return rowCount > kSpreadsheetRowsPerFile;
}

// Writes the rows into `file`, or into numbered files beside it when they do not fit one;
// the files written, in order.
Result<std::vector<std::filesystem::path>> writeSpreadsheetList(
    const std::filesystem::path& file, const ListRow& titles, const std::vector<ListRow>& rows,
    std::size_t rowsPerFile = kSpreadsheetRowsPerFile);

}  // namespace vantrel::ui

#include "client/catalogue/mailbox_list_export.h"

#include <cstdint>
#include <cstdio>

#include <xlsxwriter.h>

#include <algorithm>

#include "platform/file_system.h"
#include "platform/text_codec.h"

namespace vantrel::catalogue {
namespace {

constexpr std::array<int, 4> kWidths = {125, 20, 20, 8};
constexpr int kHeaderLength = 32 + 4 * 32 + 1;        // 161
constexpr int kRecordLength = 1 + 125 + 20 + 20 + 8;  // 174

void putLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// `text` as GBK, left-justified in `width` blanks; cut at a character boundary.
std::string fixedWidth(const std::string& text, int width) {
    const std::string gbk = platform::utf8ToGbkLossy(text);
    std::string field =
        gbk.substr(0, platform::gbkPrefixLength(gbk, static_cast<std::size_t>(width)));
    field.resize(static_cast<std::size_t>(width), ' ');
    return field;
}

bool allDigits(const std::string& text) {
    return !text.empty() && text.size() <= 15 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// One sheet's titles and rows [first, end) → LXW_NO_ERROR or the first failure.
lxw_error writeSheet(lxw_worksheet* sheet, const std::array<std::string, 4>& titles,
                     const std::vector<MailboxListRow>& rows, std::size_t first, std::size_t end) {
    auto writeRow = [sheet](lxw_row_t row, const MailboxListRow& cells) {
        for (lxw_col_t column = 0; column < cells.size(); ++column) {
            const std::string& cell = cells[column];
            const lxw_error written =
                allDigits(cell)
                    ? worksheet_write_number(sheet, row, column, std::stod(cell), nullptr)
                    : worksheet_write_string(sheet, row, column, cell.c_str(), nullptr);
            if (written != LXW_NO_ERROR) return written;
        }
        return LXW_NO_ERROR;
    };
    if (lxw_error e = writeRow(0, titles); e != LXW_NO_ERROR) return e;
    for (std::size_t i = first; i < end; ++i) {
        if (lxw_error e = writeRow(static_cast<lxw_row_t>(i - first + 1), rows[i]);
            e != LXW_NO_ERROR) {
            return e;
        }
    }
    return LXW_NO_ERROR;
}

}  // namespace

Status ExportMailboxListWorkbook(const std::filesystem::path& path,
                                 const std::array<std::string, 4>& titles,
                                 const std::vector<MailboxListRow>& rows,
                                 std::size_t rowsPerSheet) {
    rowsPerSheet = std::clamp<std::size_t>(rowsPerSheet, 1, kWorkbookRowsPerSheet);
    const std::filesystem::path partial = path.string() + ".tmp";
    platform::FileSystem& files = platform::FileSystem::real();
    auto failed = [&](const std::string& why) {
        (void)files.remove(partial);
        return Status::error(ErrorKind::IoError, "导出文件[" + path.string() + "]失败！" + why);
    };
    // Constant memory: rows go to the file as they are written, so a sheet of a million
    // rows takes no more memory than one of ten; large files need the ZIP64 format.
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.use_zip64 = LXW_TRUE;
    lxw_workbook* workbook = workbook_new_opt(partial.c_str(), &options);
    if (!workbook) return failed("无法创建目标文件");
    lxw_error written = LXW_NO_ERROR;
    std::size_t first = 0;
    int number = 1;
    do {
        const std::string name = "Sheet" + std::to_string(number++);
        lxw_worksheet* sheet = workbook_add_worksheet(workbook, name.c_str());
        if (!sheet) {
            written = LXW_ERROR_MEMORY_MALLOC_FAILED;
            break;
        }
        const std::size_t end = std::min(rows.size(), first + rowsPerSheet);
        written = writeSheet(sheet, titles, rows, first, end);
        first = end;
    } while (written == LXW_NO_ERROR && first < rows.size());
    const lxw_error closed = workbook_close(workbook);
    if (written != LXW_NO_ERROR) return failed(lxw_strerror(written));
    if (closed != LXW_NO_ERROR) return failed(lxw_strerror(closed));
    if (Status moved = files.rename(partial, path); !moved) return failed(moved.text());
    return Status::ok();
}

int ExportMailboxList(const std::filesystem::path& path, const std::array<std::string, 4>& titles,
                      const std::vector<MailboxListRow>& rows, const platform::Clock& clock,
                      std::string& message) {
    const std::size_t exported = rows.empty() ? 0 : rows.size() - 1;
    const platform::LocalTime today = clock.localNow();

    std::string table;
    table.reserve(kHeaderLength + exported * kRecordLength);
    table.push_back(0x03);
    table.push_back(static_cast<char>(today.year - 1900));
    table.push_back(static_cast<char>(today.month));
    table.push_back(static_cast<char>(today.day));
    putLe(table, static_cast<std::uint32_t>(exported), 4);
    putLe(table, kHeaderLength, 2);
    putLe(table, kRecordLength, 2);
    table.append(20, '\0');
    for (std::size_t c = 0; c < titles.size(); ++c) {
        std::string name = platform::utf8ToGbkLossy(titles[c]);
        name = name.substr(0, platform::gbkPrefixLength(name, 11));
        name.resize(11, '\0');
        table += name;
        table.push_back('C');
        table.append(4, '\0');
        table.push_back(static_cast<char>(kWidths[c]));
        table.append(15, '\0');
    }
    table.push_back(0x0D);
    for (std::size_t r = 1; r < rows.size(); ++r) {
        table.push_back(' ');
        for (std::size_t c = 0; c < kWidths.size(); ++c)
            table += fixedWidth(rows[r][c], kWidths[c]);
    }

    if (!platform::writeWholeFile(platform::FileSystem::real(), path, table)) {
        message = "导出文件[" + path.string() + "]失败！";
        return 0;
    }
    char text[1024];
    std::snprintf(text, sizeof text, "导出记录：%i条\n导出文件：%s", static_cast<int>(exported),
                  path.string().c_str());
    message = text;
    return 1;
}

}  // namespace vantrel::catalogue

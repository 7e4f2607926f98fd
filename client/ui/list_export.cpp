#include "client/ui/list_export.h"

#include <algorithm>

#include "platform/file_system.h"
#include "platform/text_codec.h"

namespace vantrel::ui {

namespace {

Status writeWhole(const std::filesystem::path& file, const std::string& bytes) {
    if (!platform::writeWholeFile(platform::FileSystem::real(), file, bytes))
        return Status::error(ErrorKind::IoError, "无法创建目标文件");
    return Status::ok();
}

std::string xmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                // Control characters other than tab are not allowed in XML 1.0.
                if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out += c;
        }
    }
    return out;
}

bool allDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void appendRow(std::string& xml, const ListRow& row) {
    xml += "<Row>";
    for (const std::string& cell : row) {
        xml +=
            allDigits(cell) ? "<Cell><Data ss:Type=\"Number\">" : "<Cell><Data ss:Type=\"String\">";
        xml += xmlEscaped(cell);
        xml += "</Data></Cell>";
    }
    xml += "</Row>\n";
}

std::string sheet(const ListRow& titles, const std::vector<ListRow>& rows, std::size_t first,
                  std::size_t end) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<?mso-application progid=\"Excel.Sheet\"?>\n"
        "<Workbook xmlns=\"urn:schemas-microsoft-com:office:spreadsheet\""
        " xmlns:o=\"urn:schemas-microsoft-com:office:office\""
        " xmlns:x=\"urn:schemas-microsoft-com:office:excel\""
        " xmlns:ss=\"urn:schemas-microsoft-com:office:spreadsheet\">\n"
        "<Worksheet ss:Name=\"Sheet1\">\n<Table>\n";
    appendRow(xml, titles);
    for (std::size_t i = first; i < end; ++i) appendRow(xml, rows[i]);
    xml += "</Table>\n</Worksheet>\n</Workbook>\n";
    return xml;
}

}  // namespace

Status writeTextList(const std::filesystem::path& file, const ListRow& titles,
                     const std::vector<ListRow>& rows) {
    std::string text;
    auto appendLine = [&text](const ListRow& row) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i) text += '\t';
            text += platform::utf8ToGbkLossy(row[i]);
        }
        text += "\r\n";
    };
    appendLine(titles);
    for (const ListRow& row : rows) appendLine(row);
    return writeWhole(file, text);
}

Result<std::vector<std::filesystem::path>> writeSpreadsheetList(const std::filesystem::path& file,
                                                                const ListRow& titles,
                                                                const std::vector<ListRow>& rows,
                                                                std::size_t rowsPerFile) {
    rowsPerFile = std::max<std::size_t>(rowsPerFile, 1);
    std::vector<std::filesystem::path> written;
    if (rows.size() <= rowsPerFile) {
        if (Status s = writeWhole(file, sheet(titles, rows, 0, rows.size())); !s) return s;
        written.push_back(file);
        return written;
    }
    for (std::size_t first = 0, part = 1; first < rows.size(); first += rowsPerFile, ++part) {
        std::filesystem::path partFile = file;
        partFile.replace_filename(file.stem().string() + "_" + std::to_string(part) +
                                  file.extension().string());
        const std::size_t end = std::min(rows.size(), first + rowsPerFile);
        if (Status s = writeWhole(partFile, sheet(titles, rows, first, end)); !s) return s;
        written.push_back(partFile);
    }
    return written;
}

}  // namespace vantrel::ui

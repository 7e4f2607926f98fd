#include "client/catalogue/mailbox_list_export.h"

#include <cstdint>
#include <cstdio>
#include <fstream>

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

}  // namespace

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

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(table.data(), static_cast<std::streamsize>(table.size()));
    out.close();
    if (!out) {
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

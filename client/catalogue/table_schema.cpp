#include "client/catalogue/table_schema.h"

#include <cstdint>
#include <cstring>

#include "platform/text_codec.h"

namespace vantrel::catalogue {
namespace {

constexpr int kPathWidth = 255;

void putLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

const TableSpec& UploadTaskTableSpec() {
    static const TableSpec spec{
        kUploadTaskTable,
        {{"PLANDES", 40},   {"PLANID", 20},           {"RIGHT", 21},     {"OPERTYPE", 16},
         {"MAILNAME", 8},   {"LOADTYPE", 1},          {"BEGINDATE", 10}, {"BEGINTIME", 5},
         {"ENDTIME", 5},    {"SENDPATH", kPathWidth}, {"HASSENDDIR", 1}, {"SENTPATH", kPathWidth},
         {"HASSENTDIR", 1}, {"HASTRANS", 1},          {"CURWEEK", 7},    {"TMPWEEK", 7},
         {"WEEKTYPE", 1},   {"TIMESPACE", 2},         {"LASTRESULT", 4}, {"LASTDES", 200},
         {"LARUNTIME", 19}, {"PLANSTATE", 2}},
        {}};
    return spec;
}

const TableSpec& DownloadTaskTableSpec() {
    static const TableSpec spec{
        kDownloadTaskTable,
        {{"PLANTYPE", 1},   {"PLANDES", 40},  {"PLANID", 20},    {"RIGHT", 25},
         {"OPERTYPE", 16},  {"MAILNAME", 8},  {"FILENAME", 40},  {"RECVPATH", kPathWidth},
         {"HASRECVDIR", 1}, {"HASTRANS", 1},  {"BEGINDATE", 10}, {"BEGINTIME", 5},
         {"ENDTIME", 6},    {"NEXTDAY", 1},   {"CURWEEK", 7},    {"TMPWEEK", 7},
         {"WEEKTYPE", 1},   {"TIMESPACE", 2}, {"LASTRESULT", 4}, {"LASTDES", 200},
         {"LARUNTIME", 19}, {"PLANSTATE", 2}},
        {}};
    return spec;
}

const TableSpec& AutoSyncTaskTableSpec() {
    static const TableSpec spec{kAutoSyncTaskTable,
                                {{"PLANTYPE", 1},
                                 {"PLANDES", 40},
                                 {"PLANID", 20},
                                 {"RIGHT", 25},
                                 {"OPERTYPE", 16},
                                 {"MAILNAME", 8},
                                 {"RECVPATH", kPathWidth},
                                 {"HASRECVDIR", 1},
                                 {"HASTRANS", 1},
                                 {"BEGINDATE", 10},
                                 {"BEGINTIME", 5},
                                 {"ENDTIME", 6},
                                 {"TIMESPACE", 2},
                                 {"LASTRESULT", 4},
                                 {"LASTDES", 200},
                                 {"LARUNTIME", 19},
                                 {"PLANSTATE", 2}},
                                {}};
    return spec;
}

const TableSpec& DownloadListSpec() {
    static const TableSpec spec{kDownloadListTemplate,
                                {{"FILENAME", kPathWidth},
                                 {"SIZE", 20},
                                 {"DOWNSIZE", 20},
                                 {"UPDATETIME", 19},
                                 {"LOADTIME", 19},
                                 {"FLAG", 1},
                                 {"RETRY", 10},
                                 {"DISCRIPT", 200},
                                 {"MODIFYTIME", 8}},
                                {}};
    return spec;
}

const TableSpec& UploadListSpec() {
    static const TableSpec spec{kUploadListTemplate,
                                {{"FLAG", 1},
                                 {"FILENAME", kPathWidth},
                                 {"LOCALSIZE", 20},
                                 {"UPLOADSIZE", 20},
                                 {"MODIFYTIME", 19},
                                 {"BEGINTIME", 19},
                                 {"ENDTIME", 19},
                                 {"MD5", 48},
                                 {"RETRY", 10},
                                 {"DISCRIPT", 200}},
                                {}};
    return spec;
}

const TableSpec& FlagModelSpec() {
    // Example flag names; the configuration update replaces the model with the gateway's.
    static const TableSpec spec{kFlagTemplate,
                                {{"FLAGNAME", 64}, {"UPDATETIME", 19}},
                                {{{"FLAGNAME", "VORNQS"}},
                                 {{"FLAGNAME", "VORNJS"}},
                                 {{"FLAGNAME", "VORNHQ"}},
                                 {{"FLAGNAME", "VORNGG"}}}};
    return spec;
}

std::vector<const TableSpec*> ShippedTemplates() {
    return {&UploadTaskTableSpec(), &DownloadTaskTableSpec(), &AutoSyncTaskTableSpec(),
            &DownloadListSpec(),    &UploadListSpec(),        &FlagModelSpec()};
}

std::string BuildTableBytes(const TableSpec& spec, const platform::LocalTime& date) {
    int recordLength = 1;
    for (const FieldSpec& f : spec.fields) recordLength += f.width;
    const int headerLength = 32 + 32 * static_cast<int>(spec.fields.size()) + 1;

    std::string table;
    table.push_back(0x03);
    table.push_back(static_cast<char>(date.year % 100));
    table.push_back(static_cast<char>(date.month));
    table.push_back(static_cast<char>(date.day));
    putLe(table, static_cast<std::uint32_t>(spec.rows.size()), 4);
    putLe(table, static_cast<std::uint32_t>(headerLength), 2);
    putLe(table, static_cast<std::uint32_t>(recordLength), 2);
    table.append(20, '\0');
    int offset = 1;
    for (const FieldSpec& f : spec.fields) {
        char name[11] = {};
        std::strncpy(name, f.name, sizeof name - 1);
        table.append(name, sizeof name);
        table.push_back('C');
        putLe(table, static_cast<std::uint32_t>(offset), 4);
        table.push_back(static_cast<char>(f.width));
        table.append(15, '\0');
        offset += f.width;
    }
    table.push_back(0x0D);
    for (const auto& row : spec.rows) {
        std::string record(static_cast<std::size_t>(recordLength), ' ');
        for (const auto& [fieldName, text] : row) {
            int at = 1;
            for (const FieldSpec& f : spec.fields) {
                if (std::strcmp(f.name, fieldName) == 0) {
                    const std::string gbk = platform::utf8ToGbkLossy(text);
                    record.replace(static_cast<std::size_t>(at),
                                   std::min<std::size_t>(gbk.size(), f.width),
                                   gbk.substr(0, static_cast<std::size_t>(f.width)));
                }
                at += f.width;
            }
        }
        table += record;
    }
    table.push_back(0x1A);
    return table;
}

}  // namespace vantrel::catalogue

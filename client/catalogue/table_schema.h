#pragma once
// The one definition of the tables that ship as templates in localconfig/: their file
// names, fields and widths. The tablegen tool writes the templates from it at build time;
// the client itself only ever copies them. Every field is a character field; widths hold
// the longest value the client writes, and path fields are 255 bytes wide.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clock.h"

namespace vantrel::catalogue {

inline constexpr const char* kUploadTaskTable = "sendplanVORN12000.conf";
inline constexpr const char* kDownloadTaskTable = "recvplanVORN12000.conf";
inline constexpr const char* kAutoSyncTaskTable = "autosyncVORN12000.conf";
inline constexpr const char* kOldUploadTaskTable = "sendplan.conf";
inline constexpr const char* kOldDownloadTaskTable = "recvplan.conf";
inline constexpr const char* kDownloadListTemplate = "recvmodel.conf";
inline constexpr const char* kUploadListTemplate = "sendmodel.conf";
inline constexpr const char* kFlagTemplate = "flagmodel.conf";

struct FieldSpec {
    const char* name;
    int width;
};

struct TableSpec {
    const char* fileName;
    std::vector<FieldSpec> fields;
    // Rows the template carries (field name, text); only the flag model has any.
    std::vector<std::vector<std::pair<const char*, const char*>>> rows;
};

const TableSpec& UploadTaskTableSpec();
const TableSpec& DownloadTaskTableSpec();
const TableSpec& AutoSyncTaskTableSpec();
const TableSpec& DownloadListSpec();
const TableSpec& UploadListSpec();
const TableSpec& FlagModelSpec();
// The six templates in a fixed order.
std::vector<const TableSpec*> ShippedTemplates();

// The bytes of a table with `spec`'s fields and rows, dated `date`. Byte-identical for the
// same inputs, so builds are reproducible.
std::string BuildTableBytes(const TableSpec& spec, const platform::LocalTime& date);

}  // namespace vantrel::catalogue

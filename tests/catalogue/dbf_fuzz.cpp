// libFuzzer target for the table reader: any bytes as a table file must open or be refused
// cleanly, and an opened table must read, append, set and pack without touching memory
// outside its records.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "client/catalogue/dbf_table.h"

namespace {

std::filesystem::path scratchPath() {
    static const std::filesystem::path path = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vantrel-dbf-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) abort();
        return std::filesystem::path(pattern) / "t.dbf";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vantrel::catalogue;
    const std::filesystem::path path = scratchPath();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    {
        CDbfImpl table;
        if (table.Open(path, 1) != 1) return 0;
        std::string text;
        const int records = std::min(table.GetRecordCount(), 200);
        for (int r = 0; r < records; ++r) {
            for (int f = 0; f < table.GetFieldCount(); ++f) table.GetFieldValue(r, f, text);
        }
    }
    {
        CDbfImpl table;
        if (table.Open(path, 2) == 1) {
            const int r = table.AppendBlank();
            if (r >= 0 && table.GetFieldCount() > 0) table.SetFieldValue(0, r, "中文name");
            MarkRecordDeleted(0, table);
            FindRecordByPlanId("id", table);
        }
    }
    PackTable(path);
    return 0;
}

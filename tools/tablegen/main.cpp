// Writes the table templates that ship in localconfig/ into the directory given as the
// only argument. The header date is fixed so that every build produces the same bytes.

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "client/catalogue/table_schema.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <localconfig directory>\n", argv[0]);
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    vantrel::platform::LocalTime date;
    date.year = 2026;
    date.month = 1;
    date.day = 1;
    for (const vantrel::catalogue::TableSpec* spec : vantrel::catalogue::ShippedTemplates()) {
        const std::filesystem::path path = dir / spec->fileName;
        const std::filesystem::path tmp = path.string() + ".tmp";
        const std::string bytes = vantrel::catalogue::BuildTableBytes(*spec, date);
        {
            std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            if (!out) {
                std::fprintf(stderr, "tablegen: cannot write %s\n", tmp.c_str());
                return 1;
            }
        }
        std::filesystem::rename(tmp, path, ec);
        if (ec) {
            std::fprintf(stderr, "tablegen: cannot replace %s: %s\n", path.c_str(),
                         ec.message().c_str());
            return 1;
        }
    }
    return 0;
}

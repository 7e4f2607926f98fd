#pragma once
// Hand-assembled table files for the format and corruption tests, laid out field by field
// as doc/formats/dbf.md describes, independently of the code under test.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vantrel::testing {

struct HandField {
    std::string name;
    std::uint8_t length;
    char type = 'C';
};

inline void putLe(std::string& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// Version 0x03, date 2026-12-08, `storedCount` in the header (defaults to the number of
// records), header length 32 + 32n + 1, descriptors, 0x0D, records as given (each must
// already be the record length), then 0x1A.
inline std::string handTable(const std::vector<HandField>& fields,
                             const std::vector<std::string>& records, long storedCount = -1) {
    int recordLength = 1;
    for (const auto& f : fields) recordLength += f.length;
    std::string t;
    t.push_back(0x03);
    t.push_back(126);
    t.push_back(12);
    t.push_back(8);
    putLe(t, static_cast<std::uint32_t>(storedCount < 0 ? records.size() : storedCount), 4);
    putLe(t, static_cast<std::uint32_t>(32 + 32 * fields.size() + 1), 2);
    putLe(t, static_cast<std::uint32_t>(recordLength), 2);
    t.append(20, '\0');
    for (const auto& f : fields) {
        std::string name = f.name;
        name.resize(11, '\0');
        t += name;
        t.push_back(f.type);
        t.append(4, '\0');
        t.push_back(static_cast<char>(f.length));
        t.append(15, '\0');
    }
    t.push_back(0x0D);
    for (const auto& r : records) t += r;
    t.push_back(0x1A);
    return t;
}

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace vantrel::testing

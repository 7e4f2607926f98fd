#pragma once
// What a fault-injection test keeps of a good run: copies of the directories the run
// writes, to put back before each faulty run, and the day list's rows, to hold against
// what the faulty run left.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "client/catalogue/dbf_table.h"

namespace vantrel::testing {

inline void keepCopies(const std::vector<std::filesystem::path>& directories,
                       const std::filesystem::path& saved) {
    std::filesystem::create_directories(saved);
    for (const std::filesystem::path& dir : directories)
        std::filesystem::copy(dir, saved / dir.filename(),
                              std::filesystem::copy_options::recursive);
}

inline void putCopiesBack(const std::vector<std::filesystem::path>& directories,
                          const std::filesystem::path& saved) {
    for (const std::filesystem::path& dir : directories) {
        std::filesystem::remove_all(dir);
        std::filesystem::copy(saved / dir.filename(), dir,
                              std::filesystem::copy_options::recursive);
    }
}

// The list's flag by file name; fails the test when the table cannot be read.
inline std::map<std::string, std::string> readRowFlags(const std::filesystem::path& list) {
    std::map<std::string, std::string> flags;
    catalogue::CDbfImpl table;
    EXPECT_EQ(table.Open(list, 1), 1) << "the day's list cannot be read";
    catalogue::DbfRow row;
    for (int r = 0; r < table.GetRecordCount(); ++r) {
        if (table.ReadRow(r, row) && !row.deleted())
            flags[row.trimmed("filename")] = row.trimmed("flag");
    }
    return flags;
}

// Every row of `before` is still there with its flag.
inline void expectRowsKept(const std::map<std::string, std::string>& before,
                           const std::map<std::string, std::string>& now) {
    for (const auto& [file, flag] : before) {
        ASSERT_TRUE(now.count(file)) << "the row of " << file << " was lost";
        EXPECT_EQ(now.at(file), flag) << "the row of " << file << " was rolled back";
    }
}

}  // namespace vantrel::testing

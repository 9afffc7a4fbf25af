#pragma once
// Shared pieces of the store tests: a fresh folder per test and small readers of table files
// through a handle of their own.

#include "engine/table.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace kelvara::testing {

// A folder of its own for the running test, emptied at the start.
inline std::filesystem::path FreshTestFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    auto folder = std::filesystem::path(KELVARA_TEST_BINARY_DIR) / "store" / "work" /
                  (std::string(info->test_suite_name()) + "." + info->name());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

// Every record of the table at path as raw texts, in the order a fresh handle shows them.
inline std::vector<std::vector<std::string>> ReadAllRecords(const std::string& path) {
    TTable table;
    table.SetTableName(path);
    table.SetTableType(TTableType::ttParadox);
    table.Open();
    std::vector<std::vector<std::string>> records;
    for (int row = 0; row < table.RecordCount(); ++row) {
        std::vector<std::string> record;
        for (int field = 0; field < table.FieldCount(); ++field) {
            record.push_back(table.TextAt(row, field));
        }
        records.push_back(std::move(record));
    }
    return records;
}

// The column names of the table at path, through a fresh handle.
inline std::vector<std::string> ReadColumnNames(const std::string& path) {
    TTable table;
    table.SetTableName(path);
    table.Open();
    return table.FieldDefNames();
}

} // namespace kelvara::testing

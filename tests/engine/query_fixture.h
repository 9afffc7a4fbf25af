#pragma once
// Test helper for the query tests: small language tables written through the storage, in a
// folder of their own that is removed afterwards.

#include "engine/paradox_table.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace kelvara::testing {

// One record: Form_Name, Component_Name, Property_Name, Native, then one value per language, in
// the order the table was made with; nothing (or "") leaves a value null.
using QueryRow = std::vector<std::optional<std::string>>;

class QueryTableFolder : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::filesystem::temp_directory_path() /
                  ("kelvara-query-" + std::to_string(::getpid()) + "-" + info->test_suite_name() +
                   "-" + info->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string PathOf(const std::string& fileName) const { return (folder_ / fileName).string(); }

    // A language table with Index_No, the three key columns, Native and the given languages.
    std::string MakeTable(const std::string& fileName, const std::vector<std::string>& languages,
                          const std::vector<QueryRow>& rows) const {
        paradox::TableSchema schema;
        schema.fields.push_back({"Index_No", paradox::FieldType::AutoInc, 0});
        for (const char* key : {"Form_Name", "Component_Name", "Property_Name"}) {
            schema.fields.push_back({key, paradox::FieldType::Alpha, 60});
        }
        schema.fields.push_back({"Native", paradox::FieldType::Blob, 10});
        for (const std::string& language : languages) {
            schema.fields.push_back({language, paradox::FieldType::Blob, 10});
        }
        paradox::IndexDef primary;
        primary.fields = {"Index_No"};
        primary.primary = true;
        primary.unique = true;
        schema.indexes.push_back(primary);
        const std::string path = PathOf(fileName);
        paradox::ParadoxTable::Create(path, schema);
        AppendRows(path, rows);
        return path;
    }

    static void AppendRows(const std::string& path, const std::vector<QueryRow>& rows) {
        const auto table = paradox::ParadoxTable::Open(path);
        paradox::Transaction transaction(*table);
        for (const QueryRow& row : rows) {
            paradox::RecordBuffer record = table->NewRecord();
            for (std::size_t i = 0; i < row.size(); ++i) {
                if (row[i] && !row[i]->empty()) {
                    record.Set(static_cast<int>(i) + 1, paradox::FieldValue::FromBytes(*row[i]));
                }
            }
            transaction.Append(std::move(record));
        }
        transaction.Commit();
    }

private:
    std::filesystem::path folder_;
};

} // namespace kelvara::testing

#pragma once
// Small language-like tables in a fresh folder for the table handle tests, and a recorder of
// what a data set tells its observers.

#include "engine/table.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace kelvara::testing {

struct TRowText {
    std::string form, component, property, native, english;
};

// A folder removed with everything in it when the fixture ends.
class TableFolder : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::filesystem::temp_directory_path() /
                  ("kelvara-table-" + std::string(info->test_suite_name()) + "-" + info->name() +
                   "-" + std::to_string(::getpid()));
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }

    // Index_No (autoincrement, primary key), Form_Name, Component_Name, Property_Name (alpha 60),
    // Native, English, German (binary BLOB, 10 bytes in the record).
    static void DefineLanguageColumns(TTable& table) {
        table.FieldDefs() = {
            {"Index_No", TFieldType::ftAutoInc, 0},
            {"Form_Name", TFieldType::ftString, 60},
            {"Component_Name", TFieldType::ftString, 60},
            {"Property_Name", TFieldType::ftString, 60},
            {"Native", TFieldType::ftBlob, 10},
            {"English", TFieldType::ftBlob, 10},
            {"German", TFieldType::ftBlob, 10},
        };
        table.IndexDefs() = {
            {"", "Index_No", ixPrimary | ixUnique},
            {"FormIndex", "Form_Name;Component_Name;Property_Name", ixCaseInsensitive}};
    }

    // Creates the table `name` holding rows (Index_No 1..n) and returns its path.
    std::string MakeTable(const std::string& name, const std::vector<TRowText>& rows) {
        TTable table;
        table.SetTableName(PathOf(name));
        DefineLanguageColumns(table);
        table.CreateTable();
        table.Open();
        for (const TRowText& row : rows) {
            table.Append();
            table.FieldByName("Form_Name").SetAsString(row.form);
            table.FieldByName("Component_Name").SetAsString(row.component);
            table.FieldByName("Property_Name").SetAsString(row.property);
            table.FieldByName("Native").SetAsString(row.native);
            table.FieldByName("English").SetAsString(row.english);
            table.Post();
        }
        table.Close();
        return PathOf(name);
    }

    // Rows "F1".."Fn" with Native "native i" and English "english i".
    std::string MakeNumberedTable(const std::string& name, int count) {
        std::vector<TRowText> rows;
        for (int i = 1; i <= count; ++i) {
            const std::string n = std::to_string(i);
            rows.push_back({"F" + n, "C" + n, "Caption", "native " + n, "english " + n});
        }
        return MakeTable(name, rows);
    }

    // Column `field` of every record as a fresh handle reads it from the file.
    static std::vector<std::string> ColumnInFile(const std::string& path,
                                                 const std::string& field) {
        TTable table;
        table.SetTableName(path);
        table.Open();
        std::vector<std::string> values;
        for (table.First(); !table.Eof(); table.Next()) {
            values.push_back(table.FieldByName(field).AsString());
        }
        return values;
    }

    std::filesystem::path folder_;
};

// Everything a data set told, one line per call, e.g. "inserted 3 1".
class RecordingObserver : public TDataSetObserver {
public:
    void CurrentRecordChanged(TDataSet&) override { events.push_back("current"); }
    void RecordChanged(TDataSet&, int row) override {
        events.push_back("changed " + std::to_string(row));
    }
    void RowsInserted(TDataSet&, int first, int count) override {
        events.push_back("inserted " + std::to_string(first) + " " + std::to_string(count));
    }
    void RowsRemoved(TDataSet&, int first, int count) override {
        events.push_back("removed " + std::to_string(first) + " " + std::to_string(count));
    }
    void DataReloaded(TDataSet&) override { events.push_back("reloaded"); }
    void StateChanged(TDataSet& dataSet) override {
        static const char* const names[] = {"inactive", "browse", "edit", "insert"};
        events.push_back(std::string("state ") + names[static_cast<int>(dataSet.State())]);
    }
    void DisplaySuspended(TDataSet&) override { events.push_back("suspended"); }
    void DisplayResumed(TDataSet&) override { events.push_back("resumed"); }

    std::vector<std::string> events;
};

} // namespace kelvara::testing

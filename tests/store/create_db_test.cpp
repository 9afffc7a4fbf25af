#include "store/create_db.h"

#include <gtest/gtest.h>

extern "C" {
#include <paradox.h>
}

#include "engine/table.h"
#include "pxlib_table_writer.h"
#include "store/language_catalogue.h"
#include "store_test_support.h"

#include <fstream>

namespace kelvara {
namespace {

using testing::FreshTestFolder;
using testing::ReadAllRecords;
using testing::ReadColumnNames;

void AppendRow(TTable& table, const std::string& form, const std::string& component,
               const std::string& property) {
    table.Append();
    table.FieldByName("Form_Name").SetAsString(form);
    table.FieldByName("Component_Name").SetAsString(component);
    table.FieldByName("Property_Name").SetAsString(property);
    table.Post();
}

TEST(CreateLanguageTable, MakesTheStandardColumnsInOrderAndNoRows) {
    const std::string path = (FreshTestFolder() / "new.db").string();
    CreateLanguageTable("", path);

    TTable table;
    table.SetTableName(path);
    table.Open();
    EXPECT_EQ(table.RecordCount(), 0);
    const auto defs = table.FieldDefList();
    ASSERT_EQ(defs.size(), 43u);
    for (std::size_t i = 0; i < defs.size(); ++i) {
        EXPECT_EQ(defs[i].Name, kStandardColumns[i]) << "column " << i + 1;
        const TFieldType expected = i == 0  ? TFieldType::ftAutoInc
                                    : i < 4 ? TFieldType::ftString
                                            : TFieldType::ftBlob;
        EXPECT_EQ(defs[i].DataType, expected) << defs[i].Name;
        EXPECT_EQ(defs[i].Size, i == 0 ? 0 : i < 4 ? 60 : 10) << defs[i].Name;
        EXPECT_FALSE(defs[i].Required) << defs[i].Name;
    }
}

// The independent reader sees the same layout in the file itself.
TEST(CreateLanguageTable, FileLayoutAsPxlibReadsIt) {
    const std::string path = (FreshTestFolder() / "new.db").string();
    CreateLanguageTable("", path);

    pxdoc_t* doc = PX_new();
    ASSERT_EQ(PX_open_file(doc, path.c_str()), 0);
    EXPECT_EQ(PX_get_num_records(doc), 0);
    ASSERT_EQ(PX_get_num_fields(doc), 43);
    for (int i = 0; i < 43; ++i) {
        const pxfield_t* field = PX_get_field(doc, i);
        EXPECT_EQ(std::string(field->px_fname), kStandardColumns[static_cast<std::size_t>(i)]);
        const int type = i == 0 ? pxfAutoInc : i < 4 ? pxfAlpha : pxfBLOb;
        const int size = i == 0 ? 4 : i < 4 ? 60 : 20; // a BLOB field holds 10 bytes + descriptor
        EXPECT_EQ(field->px_ftype, type) << field->px_fname;
        EXPECT_EQ(field->px_flen, size) << field->px_fname;
    }
    float keys = 0;
    ASSERT_EQ(PX_get_value(doc, "numprimkeys", &keys), 0);
    EXPECT_EQ(keys, 1.0f);
    PX_close(doc);
    PX_delete(doc);
}

TEST(CreateLanguageTable, NumbersRowsFromOneInOrderOfInsertion) {
    const std::string path = (FreshTestFolder() / "new.db").string();
    CreateLanguageTable("", path);
    {
        TTable table;
        table.SetTableName(path);
        table.SetCachedUpdates(true);
        table.Open();
        AppendRow(table, "Version", "", "");
        AppendRow(table, "MainForm", "", "");
        AppendRow(table, "MainForm", "OkButton", "Caption");
        table.ApplyUpdates();
        table.CommitUpdates();
    }
    const auto records = ReadAllRecords(path);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0][0], "1");
    EXPECT_EQ(records[0][1], "Version");
    EXPECT_EQ(records[1][0], "2");
    EXPECT_EQ(records[2][0], "3");
    EXPECT_EQ(records[2][2], "OkButton");
}

TEST(CreateLanguageTable, AcceptsRowsDifferingOnlyInCase) {
    const std::string path = (FreshTestFolder() / "new.db").string();
    CreateLanguageTable("", path);
    {
        TTable table;
        table.SetTableName(path);
        table.Open();
        AppendRow(table, "MainForm", "OkButton", "Caption");
        AppendRow(table, "MAINFORM", "okbutton", "caption");
        AppendRow(table, "MainForm", "OkButton", "Caption"); // the very same triple again
    }
    const auto records = ReadAllRecords(path);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1][1], "MAINFORM");
    EXPECT_EQ(records[1][2], "okbutton");
}

TEST(CreateLanguageTable, ReplacesWhateverTableWasThere) {
    const std::string path = (FreshTestFolder() / "old.db").string();
    auto columns = testing::LanguageTableColumns({"English", "Maori"});
    columns.push_back({"Notes", 'A', 20});
    testing::WritePxlibTable(path, columns,
                             {{"1", "A", "B", "C", "x", "y", "z", "n"},
                              {"2", "D", "E", "F", std::string(5000, 'l'), "y", "z", "n"}});

    CreateLanguageTable("", path);

    EXPECT_TRUE(ReadAllRecords(path).empty());
    const auto names = ReadColumnNames(path);
    EXPECT_EQ(names, std::vector<std::string>(kStandardColumns.begin(), kStandardColumns.end()));
}

TEST(CreateLanguageTable, FailuresReachTheCaller) {
    const auto folder = FreshTestFolder();
    // A folder that does not exist.
    EXPECT_THROW(CreateLanguageTable("", (folder / "missing" / "x.db").string()), std::exception);

    // A table that is open cannot be replaced; it keeps its rows.
    const std::string path = (folder / "open.db").string();
    CreateLanguageTable("", path);
    TTable open;
    open.SetTableName(path);
    open.Open();
    AppendRow(open, "MainForm", "", "");
    EXPECT_THROW(CreateLanguageTable("", path), std::exception);
    open.Close();
    EXPECT_EQ(ReadAllRecords(path).size(), 1u);
}

TEST(CreateLanguageTable, ExtraColumnsFollowTheStandardOnes) {
    const std::string path = (FreshTestFolder() / "wide.db").string();
    CreateLanguageTable(
        "", path,
        {{"French", TFieldType::ftBlob, 10, false}, {"Notes", TFieldType::ftString, 25, false}});
    const auto names = ReadColumnNames(path);
    ASSERT_EQ(names.size(), 45u);
    EXPECT_EQ(names[42], "Welsh");
    EXPECT_EQ(names[43], "French");
    EXPECT_EQ(names[44], "Notes");
}

} // namespace
} // namespace kelvara

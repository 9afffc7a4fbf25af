// A backup is faithful to the record numbers: Index_No values are copied, gaps included, and the
// copy numbers further records after the highest copied one.

#include "pxlib_table_writer.h"
#include "scripted_user.h"
#include "store/data_module.h"
#include "store_test_support.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

TEST(BackupNumbers, CopyKeepsIndexNumbersAndCountsOnFromTheHighest) {
    const auto folder = testing::FreshTestFolder();
    const std::string source = (folder / "source.db").string();
    const std::string copy = (folder / "copy.db").string();
    const auto columns = testing::LanguageTableColumns(testing::CreationLanguagesWithout({}));
    std::vector<testing::PxRecord> records;
    for (const auto& [number, form] : {std::pair{"3", "A"}, {"7", "B"}, {"20", "C"}}) {
        testing::PxRecord record(columns.size());
        record[0] = number;
        record[1] = form;
        records.push_back(record);
    }
    testing::WritePxlibTable(source, columns, records);

    testing::TScriptedUser user;
    TDMLanguage dm(user);
    TTable table;
    ASSERT_TRUE(dm.OpenLanguageTable(&table, source, ""));
    dm.CopyTable(table, copy);

    TTable copied;
    copied.SetTableName(copy);
    copied.Open();
    copied.Append();
    copied.FieldByName("Form_Name").SetAsString("D");
    copied.Post();
    copied.Close();

    const auto copiedRecords = testing::ReadAllRecords(copy);
    ASSERT_EQ(copiedRecords.size(), 4u);
    const char* expected[][2] = {{"3", "A"}, {"7", "B"}, {"20", "C"}, {"21", "D"}};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(copiedRecords[i][0], expected[i][0]) << "record " << i + 1;
        EXPECT_EQ(copiedRecords[i][1], expected[i][1]) << "record " << i + 1;
    }
}

} // namespace
} // namespace kelvara

// Batch append as backup uses it: every record of an open table copied into a fresh table, with
// its record numbers, columns matched by name.

#include "engine/batch_move.h"
#include "engine/table.h"
#include "table_test_support.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

using testing::TableFolder;

class BatchMove : public TableFolder {
protected:
    void SetUp() override {
        TableFolder::SetUp();
        sourcePath_ = MakeNumberedTable("source.db", 5);
        source_.SetTableName(sourcePath_);
        source_.SetCachedUpdates(true);
        source_.Open();
    }
    // A new empty destination with the language columns, open.
    void OpenDestination(TTable& destination, const std::string& name) {
        destination.SetTableName(PathOf(name));
        DefineLanguageColumns(destination);
        destination.CreateTable();
        destination.Open();
    }

    std::string sourcePath_;
    TTable source_;
};

TEST_F(BatchMove, CopiesEveryRecordWithItsNumbers) {
    {
        TTable direct;
        direct.SetTableName(sourcePath_);
        direct.Open();
        direct.SetRecNo(2);
        direct.Delete(); // a gap in the numbers: 1 3 4 5
        direct.Last();
        direct.Delete(); // and the counter stands above the highest number left
    }
    source_.Refresh();
    source_.SetRecNo(3);
    TTable destination;
    OpenDestination(destination, "backup.db");
    TBatchMove mover(&source_, &destination);
    mover.Execute();
    EXPECT_EQ(mover.MovedCount(), 3);
    EXPECT_EQ(source_.RecNo(), 3) << "the source does not move";
    destination.Close();

    EXPECT_EQ(ColumnInFile(PathOf("backup.db"), "Index_No"),
              (std::vector<std::string>{"1", "3", "4"}));
    EXPECT_EQ(ColumnInFile(PathOf("backup.db"), "Native"), ColumnInFile(sourcePath_, "Native"));
    EXPECT_EQ(ColumnInFile(PathOf("backup.db"), "English"), ColumnInFile(sourcePath_, "English"));

    // The copy's counter continues after the highest copied number.
    destination.Open();
    destination.Append();
    destination.FieldByName("Form_Name").SetAsString("Next");
    destination.Post();
    EXPECT_EQ(destination.FieldByName("Index_No").AsInteger(), 5);

    // Copying into a table that holds those numbers already fails as one unit.
    EXPECT_THROW(TBatchMove(&source_, &destination).Execute(), EDatabaseError);
    destination.Close();
    EXPECT_EQ(ColumnInFile(PathOf("backup.db"), "Index_No"),
              (std::vector<std::string>{"1", "3", "4", "5"}));
}

TEST_F(BatchMove, CopyOfAGaplessTableIntoANewOneKeepsItsNumbers) {
    TTable destination;
    OpenDestination(destination, "backup.db");
    TBatchMove mover(&source_, &destination);
    mover.Execute();
    EXPECT_EQ(mover.MovedCount(), 5);
    EXPECT_EQ(destination.RecordCount(), 5) << "the destination shows what was appended";
    destination.Append();
    destination.FieldByName("Form_Name").SetAsString("Next");
    destination.Post();
    destination.Close();
    EXPECT_EQ(ColumnInFile(PathOf("backup.db"), "Index_No"),
              (std::vector<std::string>{"1", "2", "3", "4", "5", "6"}));
    EXPECT_EQ(
        ColumnInFile(PathOf("backup.db"), "Native"),
        (std::vector<std::string>{"native 1", "native 2", "native 3", "native 4", "native 5", ""}));
}

TEST_F(BatchMove, IncludesPostedCachedChangesNotTheUnpostedEdit) {
    source_.SetRecNo(1);
    source_.Edit();
    source_.FieldByName("English").SetAsString("cached");
    source_.Post();
    source_.SetRecNo(2);
    source_.Delete();
    source_.Append();
    source_.FieldByName("Form_Name").SetAsString("New");
    source_.Post();
    source_.SetRecNo(2);
    source_.Edit();
    source_.FieldByName("English").SetAsString("still typing");

    TTable destination;
    OpenDestination(destination, "backup.db");
    TBatchMove(&source_, &destination).Execute();
    EXPECT_EQ(source_.State(), TDataSetState::dsEdit) << "the source is left as it was";
    EXPECT_TRUE(source_.UpdatesPending());
    destination.Close();
    EXPECT_EQ(ColumnInFile(PathOf("backup.db"), "English"),
              (std::vector<std::string>{"cached", "english 3", "english 4", "english 5", ""}));
    EXPECT_EQ(ColumnInFile(PathOf("backup.db"), "Form_Name").back(), "New");
    EXPECT_EQ(ColumnInFile(PathOf("backup.db"), "Index_No"),
              (std::vector<std::string>{"1", "3", "4", "5", "6"}))
        << "the cached insert is numbered after the highest copied number";
    EXPECT_EQ(ColumnInFile(sourcePath_, "English").at(0), "english 1") << "source file untouched";
}

TEST_F(BatchMove, MatchesColumnsByName) {
    TTable destination;
    destination.SetTableName(PathOf("other.db"));
    destination.FieldDefs() = {{"Index_No", TFieldType::ftAutoInc, 0},
                               {"English", TFieldType::ftBlob, 10},
                               {"Form_Name", TFieldType::ftString, 3},
                               {"Extra", TFieldType::ftString, 10}};
    destination.IndexDefs() = {{"", "Index_No", ixPrimary | ixUnique}};
    destination.CreateTable();
    destination.Open();
    TBatchMove(&source_, &destination).Execute();
    EXPECT_EQ(destination.RecordCount(), 5);
    destination.First();
    EXPECT_EQ(destination.FieldByName("English").AsString(), "english 1");
    EXPECT_EQ(destination.FieldByName("Form_Name").AsString(), "F1");
    EXPECT_TRUE(destination.FieldByName("Extra").IsNull());
}

TEST_F(BatchMove, FailuresChangeNothing) {
    TTable destination;
    EXPECT_THROW(TBatchMove(nullptr, &destination).Execute(), EDatabaseError);
    EXPECT_THROW(TBatchMove(&source_, nullptr).Execute(), EDatabaseError);
    EXPECT_THROW(TBatchMove(&source_, &destination).Execute(), EDatabaseError) << "closed";

    // A value that does not fit the destination's column half way through: nothing is copied.
    for (int recNo = 1; recNo <= 5; ++recNo) {
        source_.SetRecNo(recNo);
        source_.Edit();
        source_.FieldByName("English").SetAsString(recNo == 4 ? "four" : std::to_string(recNo));
        source_.Post();
    }
    destination.SetTableName(PathOf("numbers.db"));
    destination.FieldDefs() = {{"Form_Name", TFieldType::ftString, 10},
                               {"English", TFieldType::ftInteger, 0}};
    destination.CreateTable();
    destination.Open();
    try {
        TBatchMove(&source_, &destination).Execute();
        FAIL() << "no error";
    } catch (const EDatabaseError& error) {
        EXPECT_STREQ(error.what(), "'four' is not a valid integer value");
    }
    EXPECT_EQ(destination.RecordCount(), 0);
    destination.Close();
    EXPECT_TRUE(ColumnInFile(PathOf("numbers.db"), "English").empty());
}

} // namespace
} // namespace kelvara

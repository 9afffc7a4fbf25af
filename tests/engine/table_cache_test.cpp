// The change cache of a table handle and several handles on one file: edit, post, apply, reopen;
// cancel; revert record; refresh after another handle wrote; where-changed conflicts; writes with
// the cache off. Driven as the data module, the editing commands and merge use the handles.

#include "engine/table.h"
#include "table_test_support.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

using testing::TableFolder;

class TableCache : public TableFolder {
protected:
    void SetUp() override {
        TableFolder::SetUp();
        path_ = MakeNumberedTable("lang.db", 4);
        master_.SetTableName(path_);
        master_.SetCachedUpdates(true);
        master_.SetUpdateMode(TUpdateMode::upWhereChanged);
        master_.Open();
    }
    // Copy Default Text on record recNo: the source text into English, through the cache.
    void SetEnglish(TTable& table, int recNo, const std::string& text) {
        table.SetRecNo(recNo);
        table.Edit();
        table.FieldByName("English").SetAsString(text);
        table.Post();
    }
    std::vector<std::string> Shown(TTable& table, const std::string& field) {
        std::vector<std::string> values;
        for (int row = 0; row < table.RecordCount(); ++row) {
            values.push_back(table.TextAt(row, table.FieldByName(field).Index()));
        }
        return values;
    }
    // A handle writing straight to the file, as merge's target handle does.
    void WriteDirectly(const std::string& field, int recNo, const std::string& text) {
        TTable direct;
        direct.SetTableName(path_);
        direct.Open();
        SetEnglishLike(direct, field, recNo, text);
        direct.Close();
    }
    static void SetEnglishLike(TTable& table, const std::string& field, int recNo,
                               const std::string& text) {
        table.SetRecNo(recNo);
        table.Edit();
        table.FieldByName(field).SetAsString(text);
        table.Post();
    }

    std::string path_;
    TTable master_;
};

TEST_F(TableCache, EditPostApplyReopen) {
    SetEnglish(master_, 2, "Two");
    EXPECT_TRUE(master_.UpdatesPending());
    EXPECT_EQ(master_.FieldByName("English").AsString(), "Two");
    EXPECT_EQ(ColumnInFile(path_, "English").at(1), "english 2") << "posted is not saved";
    master_.Append();
    master_.FieldByName("Form_Name").SetAsString("Added");
    master_.Post();
    EXPECT_TRUE(master_.FieldByName("Index_No").IsNull()) << "numbered when first stored";
    master_.SetRecNo(1);
    master_.Delete();

    master_.ApplyUpdates();
    master_.CommitUpdates();
    EXPECT_FALSE(master_.UpdatesPending());
    EXPECT_EQ(master_.FieldByName("Form_Name").AsString(), "F2");
    master_.Close();

    EXPECT_EQ(ColumnInFile(path_, "Form_Name"),
              (std::vector<std::string>{"F2", "F3", "F4", "Added"}));
    EXPECT_EQ(ColumnInFile(path_, "English"),
              (std::vector<std::string>{"Two", "english 3", "english 4", ""}));
    EXPECT_EQ(ColumnInFile(path_, "Index_No"), (std::vector<std::string>{"2", "3", "4", "5"}));
}

TEST_F(TableCache, ApplyKeepsTheCurrentRecordAndNumbersNewOnes) {
    master_.SetRecNo(2);
    master_.Insert();
    master_.FieldByName("Form_Name").SetAsString("Inserted");
    master_.Post();
    EXPECT_EQ(Shown(master_, "Form_Name"),
              (std::vector<std::string>{"F1", "Inserted", "F2", "F3", "F4"}));
    master_.ApplyUpdates();
    EXPECT_EQ(master_.FieldByName("Form_Name").AsString(), "Inserted");
    EXPECT_EQ(master_.FieldByName("Index_No").AsInteger(), 5);
    EXPECT_EQ(master_.RecNo(), 5) << "after saving, new records stand in key order";
}

TEST_F(TableCache, CancelUpdatesShowsSavedValuesAgain) {
    SetEnglish(master_, 1, "One");
    SetEnglish(master_, 3, "Three");
    master_.Append();
    master_.FieldByName("Form_Name").SetAsString("Added");
    master_.Post();
    master_.SetRecNo(2);
    master_.Delete();
    master_.SetRecNo(1);
    master_.Edit();
    master_.FieldByName("German").SetAsString("unposted");
    master_.CancelUpdates();
    EXPECT_FALSE(master_.UpdatesPending());
    EXPECT_EQ(master_.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(Shown(master_, "English"),
              (std::vector<std::string>{"english 1", "english 2", "english 3", "english 4"}));
    EXPECT_EQ(Shown(master_, "German"), (std::vector<std::string>{"", "", "", ""}));
    master_.ApplyUpdates(); // nothing to write
    EXPECT_EQ(ColumnInFile(path_, "English").at(0), "english 1");
}

// Restore String: cancel the edit, then revert the current record if anything is cached.
TEST_F(TableCache, RevertRecordAfterEditsOfTwoRecords) {
    SetEnglish(master_, 1, "One");
    SetEnglish(master_, 3, "Three");
    master_.Edit();
    master_.FieldByName("Native").SetAsString("native three, changed");
    master_.Post();
    master_.Cancel();
    ASSERT_TRUE(master_.UpdatesPending());
    master_.RevertRecord();
    EXPECT_EQ(master_.FieldByName("English").AsString(), "english 3");
    EXPECT_EQ(master_.FieldByName("Native").AsString(), "native 3") << "every field comes back";
    EXPECT_TRUE(master_.UpdatesPending());
    EXPECT_EQ(Shown(master_, "English").at(0), "One");
    master_.ApplyUpdates();
    EXPECT_EQ(ColumnInFile(path_, "English"),
              (std::vector<std::string>{"One", "english 2", "english 3", "english 4"}));
    // After saving there is nothing to revert.
    master_.SetRecNo(1);
    master_.RevertRecord();
    EXPECT_EQ(master_.FieldByName("English").AsString(), "One");

    // A cached insert reverted disappears.
    master_.Append();
    master_.FieldByName("Form_Name").SetAsString("Added");
    master_.Post();
    master_.RevertRecord();
    EXPECT_EQ(master_.RecordCount(), 4);
    EXPECT_FALSE(master_.UpdatesPending());
}

TEST_F(TableCache, PostingBackTheSavedValueLeavesNothingPending) {
    SetEnglish(master_, 2, "Two");
    SetEnglish(master_, 2, "english 2");
    EXPECT_FALSE(master_.UpdatesPending());
}

TEST_F(TableCache, CloseDropsCachedChanges) {
    SetEnglish(master_, 1, "One");
    master_.Close();
    master_.Open();
    EXPECT_FALSE(master_.UpdatesPending());
    EXPECT_EQ(master_.FieldByName("English").AsString(), "english 1");
}

// Select Language posts the edit and refreshes; merge writes directly and refreshes.
TEST_F(TableCache, RefreshKeepsTheCacheAndShowsOtherHandlesWrites) {
    SetEnglish(master_, 1, "One");
    master_.Append();
    master_.FieldByName("Form_Name").SetAsString("Added");
    master_.Post();
    master_.SetRecNo(2);
    master_.Delete();
    master_.SetRecNo(3); // F4
    WriteDirectly("German", 1, "Eins");
    WriteDirectly("English", 4, "Four");
    EXPECT_EQ(Shown(master_, "German").at(0), "") << "not before its refresh";

    master_.Refresh();
    EXPECT_EQ(master_.FieldByName("Form_Name").AsString(), "F4") << "position kept";
    EXPECT_EQ(Shown(master_, "Form_Name"), (std::vector<std::string>{"F1", "F3", "F4", "Added"}));
    EXPECT_EQ(Shown(master_, "English"),
              (std::vector<std::string>{"One", "english 3", "Four", ""}));
    EXPECT_EQ(Shown(master_, "German"), (std::vector<std::string>{"Eins", "", "", ""}));
    EXPECT_TRUE(master_.UpdatesPending());

    master_.ApplyUpdates();
    EXPECT_EQ(ColumnInFile(path_, "English"),
              (std::vector<std::string>{"One", "english 3", "Four", ""}));
    EXPECT_EQ(ColumnInFile(path_, "German").at(0), "Eins");
}

TEST_F(TableCache, RefreshInEditAndInsertState) {
    master_.SetRecNo(2);
    master_.Edit();
    master_.FieldByName("English").SetAsString("Two");
    master_.Refresh();
    EXPECT_EQ(master_.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(master_.FieldByName("English").AsString(), "Two") << "a changed record is posted";
    master_.Append();
    master_.Refresh();
    EXPECT_EQ(master_.RecordCount(), 4) << "an untouched new record is dropped";
    master_.Append();
    master_.FieldByName("Form_Name").SetAsString("Typed");
    master_.Refresh();
    EXPECT_EQ(master_.RecordCount(), 5);
    EXPECT_EQ(master_.FieldByName("Form_Name").AsString(), "Typed");
}

TEST_F(TableCache, ConflictsWithAnotherHandleLeaveFileAndCacheAsTheyWere) {
    SetEnglish(master_, 1, "Mine");
    SetEnglish(master_, 3, "Mine too");
    WriteDirectly("English", 3, "Theirs");
    try {
        master_.ApplyUpdates();
        FAIL() << "no conflict reported";
    } catch (const EDatabaseError& error) {
        EXPECT_NE(std::string(error.what()).find("Index_No 3"), std::string::npos) << error.what();
    }
    EXPECT_EQ(ColumnInFile(path_, "English"),
              (std::vector<std::string>{"english 1", "english 2", "Theirs", "english 4"}))
        << "nothing of the failed apply reached the file";
    EXPECT_TRUE(master_.UpdatesPending());
    EXPECT_EQ(Shown(master_, "English").at(0), "Mine");
    EXPECT_EQ(Shown(master_, "English").at(2), "Mine too");

    // The user drops the conflicting record's change; the rest saves.
    master_.SetRecNo(3);
    master_.RevertRecord();
    master_.ApplyUpdates();
    EXPECT_EQ(ColumnInFile(path_, "English").at(0), "Mine");
    EXPECT_EQ(ColumnInFile(path_, "English").at(2), "Theirs");
}

TEST_F(TableCache, WhereChangedIgnoresOtherColumnsAndDeletedRecordsConflict) {
    SetEnglish(master_, 2, "Mine");
    WriteDirectly("German", 2, "Theirs");
    master_.ApplyUpdates();
    master_.Refresh();
    EXPECT_EQ(Shown(master_, "English").at(1), "Mine");
    EXPECT_EQ(Shown(master_, "German").at(1), "Theirs");

    SetEnglish(master_, 4, "Gone?");
    {
        TTable other;
        other.SetTableName(path_);
        other.Open();
        other.Last();
        other.Delete();
    }
    EXPECT_THROW(master_.ApplyUpdates(), EDatabaseError);
    EXPECT_TRUE(master_.UpdatesPending());

    master_.CancelUpdates();
    master_.SetUpdateMode(TUpdateMode::upWhereAll);
    master_.Refresh();
    SetEnglish(master_, 1, "Mine");
    WriteDirectly("German", 1, "Theirs");
    EXPECT_THROW(master_.ApplyUpdates(), EDatabaseError) << "where-all protects every column";
}

TEST_F(TableCache, WithTheCacheOffEveryPostGoesToTheFile) {
    TTable direct;
    direct.SetTableName(path_);
    direct.Open();
    SetEnglishLike(direct, "English", 2, "Two");
    EXPECT_FALSE(direct.UpdatesPending());
    EXPECT_EQ(ColumnInFile(path_, "English").at(1), "Two");
    direct.Append();
    direct.FieldByName("Form_Name").SetAsString("Added");
    direct.Post();
    EXPECT_EQ(direct.FieldByName("Index_No").AsInteger(), 5) << "numbered at once";
    direct.First();
    direct.Delete();
    EXPECT_EQ(direct.FieldByName("Form_Name").AsString(), "F2");
    EXPECT_EQ(ColumnInFile(path_, "Form_Name"),
              (std::vector<std::string>{"F2", "F3", "F4", "Added"}));

    // A direct write after another handle wrote shows that handle's records too.
    WriteDirectly("English", 2, "by another handle");
    {
        TTable other;
        other.SetTableName(path_);
        other.Open();
        other.Append();
        other.FieldByName("Form_Name").SetAsString("Theirs");
        other.Post();
    }
    SetEnglishLike(direct, "German", 1, "Zwei");
    EXPECT_EQ(direct.FieldByName("Form_Name").AsString(), "F2");
    EXPECT_EQ(direct.RecordCount(), 5);
    EXPECT_EQ(Shown(direct, "English").at(1), "by another handle");
    EXPECT_EQ(ColumnInFile(path_, "German").at(0), "Zwei");
    direct.Last();
    EXPECT_EQ(direct.FieldByName("Form_Name").AsString(), "Theirs");

    // Append Messages switches master's cache off once nothing is pending, and on again.
    EXPECT_NO_THROW(master_.SetCachedUpdates(false));
    master_.SetCachedUpdates(true);
    SetEnglish(master_, 1, "pending");
    EXPECT_THROW(master_.SetCachedUpdates(false), EDatabaseError);
    EXPECT_TRUE(master_.CachedUpdates());
}

TEST_F(TableCache, ExclusiveOpenKeepsOthersOut) {
    master_.Close();
    TTable exclusive;
    exclusive.SetTableName(path_);
    exclusive.SetExclusive(true);
    exclusive.Open();
    EXPECT_THROW(master_.Open(), EDatabaseError);
    EXPECT_FALSE(master_.IsOpen());
    exclusive.Close();
    master_.Open();
    EXPECT_TRUE(master_.IsOpen());
}

TEST_F(TableCache, CreateReplacesAnExistingTable) {
    master_.Close();
    TTable table;
    table.SetTableName(path_);
    table.FieldDefs() = {{"Index_No", TFieldType::ftAutoInc, 0},
                         {"Name", TFieldType::ftString, 10}};
    table.IndexDefs() = {{"", "Index_No", ixPrimary | ixUnique}};
    table.CreateTable();
    EXPECT_FALSE(table.IsOpen());
    table.Open();
    EXPECT_EQ(table.RecordCount(), 0);
    EXPECT_EQ(table.FieldDefNames(), (std::vector<std::string>{"Index_No", "Name"}));
    // A table open here cannot be replaced.
    TTable again;
    again.SetTableName(path_);
    again.FieldDefs() = table.FieldDefs();
    EXPECT_THROW(again.CreateTable(), EDatabaseError);
}

} // namespace
} // namespace kelvara

namespace kelvara {
namespace {

// Records of tables keyed otherwise, or not at all, are followed through the cache as well.
class OtherKeys : public testing::TableFolder, public ::testing::WithParamInterface<bool> {};

TEST_P(OtherKeys, EditDeleteRefreshApply) {
    const bool keyed = GetParam();
    const std::string path = PathOf("names.db");
    {
        TTable create;
        create.SetTableName(path);
        create.FieldDefs() = {{"Name", TFieldType::ftString, 20},
                              {"Count", TFieldType::ftInteger, 0}};
        if (keyed) {
            create.IndexDefs() = {{"", "Name", ixPrimary | ixUnique}};
        }
        create.CreateTable();
        create.Open();
        for (const char* name : {"delta", "alpha", "charlie", "bravo"}) {
            create.Append();
            create.FieldByName("Name").SetAsString(name);
            create.FieldByName("Count").SetAsInteger(1);
            create.Post();
        }
    }
    TTable table;
    table.SetTableName(path);
    table.SetCachedUpdates(true);
    table.SetUpdateMode(TUpdateMode::upWhereChanged);
    table.Open();
    const std::vector<std::string> order =
        keyed ? std::vector<std::string>{"alpha", "bravo", "charlie", "delta"}
              : std::vector<std::string>{"delta", "alpha", "charlie", "bravo"};
    EXPECT_EQ(ColumnInFile(path, "Name"), order);
    table.SetRecNo(2);
    const std::string second = table.FieldByName("Name").AsString();
    TBookmark mark = table.GetBookmark();
    table.Edit();
    table.FieldByName("Count").SetAsInteger(2);
    table.Post();
    table.SetRecNo(3);
    const std::string third = table.FieldByName("Name").AsString();
    table.Delete();
    table.Refresh();
    table.GotoBookmark(mark);
    EXPECT_EQ(table.FieldByName("Name").AsString(), second);
    EXPECT_EQ(table.FieldByName("Count").AsInteger(), 2);
    table.ApplyUpdates();
    table.Close();

    std::vector<std::string> expected = order;
    std::erase(expected, third);
    EXPECT_EQ(ColumnInFile(path, "Name"), expected);
    const std::vector<std::string> counts = ColumnInFile(path, "Count");
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(counts[i], expected[i] == second ? "2" : "1") << expected[i];
    }
}

INSTANTIATE_TEST_SUITE_P(KeyedByTextOrNot, OtherKeys, ::testing::Bool());

} // namespace
} // namespace kelvara

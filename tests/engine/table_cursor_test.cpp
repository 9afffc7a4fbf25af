// The cursor of a table handle: walking, record numbers, states, bookmarks, the after-scroll
// notification and what observers hear, driven as export, find and replace and the grid use them.

#include "engine/table.h"
#include "table_test_support.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

using testing::RecordingObserver;
using testing::TableFolder;

class TableCursor : public TableFolder {
protected:
    void OpenNumbered(int count, bool cached = true) {
        path_ = MakeNumberedTable("lang.db", count);
        table_.SetTableName(path_);
        table_.SetCachedUpdates(cached);
        table_.AfterScroll = [this](TDataSet& sender) {
            EXPECT_EQ(&sender, &table_);
            ++scrolls_;
        };
        table_.Open();
        scrolls_ = 0;
    }
    std::string Form() const { return table_.FieldByName("Form_Name").AsString(); }

    std::string path_;
    TTable table_;
    int scrolls_ = 0;
};

TEST_F(TableCursor, WalkRaisesAfterScrollOncePerRecord) {
    OpenNumbered(5);
    std::vector<int> numbers;
    for (table_.First(); !table_.Eof(); table_.Next()) {
        numbers.push_back(table_.RecNo());
    }
    EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(scrolls_, 5);
    EXPECT_EQ(table_.RecNo(), 5) << "at the end the last record stays current";
    EXPECT_EQ(Form(), "F5");
    table_.Next();
    EXPECT_TRUE(table_.Eof());
    EXPECT_EQ(scrolls_, 5);
    table_.Prior();
    EXPECT_FALSE(table_.Eof());
    EXPECT_EQ(table_.RecNo(), 4);
    table_.SetRecNo(2);
    EXPECT_EQ(Form(), "F2");
    table_.SetRecNo(2);
    EXPECT_EQ(scrolls_, 7) << "SetRecNo on the current record does not scroll";
    table_.SetRecNo(99);
    EXPECT_EQ(table_.RecNo(), 5);
    table_.First();
    table_.Prior();
    EXPECT_TRUE(table_.Bof());
    EXPECT_EQ(table_.RecNo(), 1);
    EXPECT_EQ(table_.RecordCount(), 5);
}

TEST_F(TableCursor, EmptyTable) {
    OpenNumbered(0);
    EXPECT_TRUE(table_.Eof());
    EXPECT_TRUE(table_.IsEmpty());
    EXPECT_EQ(table_.RecNo(), 0);
    table_.First();
    table_.Next();
    EXPECT_EQ(scrolls_, 0);
    EXPECT_TRUE(table_.FieldByName("Form_Name").IsNull());
    EXPECT_THROW(table_.Edit(), EDatabaseError);
    EXPECT_THROW(table_.Delete(), EDatabaseError);
    TBookmark mark = table_.GetBookmark();
    EXPECT_FALSE(mark.Valid());
    table_.GotoBookmark(mark); // does nothing, as Backup relies on for an empty table
    table_.Append();
    EXPECT_EQ(table_.RecordCount(), 1);
    EXPECT_EQ(table_.RecNo(), 1);
    EXPECT_FALSE(table_.Eof());
}

TEST_F(TableCursor, ClosedHandle) {
    TTable closed;
    EXPECT_FALSE(closed.IsOpen());
    EXPECT_EQ(closed.RecordCount(), 0);
    EXPECT_EQ(closed.FieldCount(), 0);
    EXPECT_THROW(closed.First(), EDatabaseError);
    EXPECT_THROW(closed.Edit(), EDatabaseError);
    closed.Close();
    closed.SetTableName(PathOf("missing.db"));
    EXPECT_THROW(closed.Open(), EDatabaseError);
    EXPECT_FALSE(closed.IsOpen());
    OpenNumbered(1);
    EXPECT_THROW(table_.SetTableName("other.db"), EDatabaseError);
}

TEST_F(TableCursor, StatesOfAppendInsertEditPostCancel) {
    OpenNumbered(3);
    table_.SetRecNo(2);
    RecordingObserver observer;
    table_.AddObserver(observer);
    table_.Insert();
    EXPECT_EQ(table_.State(), TDataSetState::dsInsert);
    EXPECT_EQ(table_.RecNo(), 2);
    EXPECT_EQ(table_.RecordCount(), 4);
    EXPECT_TRUE(table_.FieldByName("Index_No").IsNull());
    table_.Cancel();
    EXPECT_EQ(table_.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(table_.RecordCount(), 3);
    EXPECT_EQ(Form(), "F2") << "cancel returns to the record current before";
    EXPECT_EQ(observer.events,
              (std::vector<std::string>{"state insert", "inserted 1 1", "current", "state browse",
                                        "removed 1 1", "current"}));
    observer.events.clear();

    table_.Edit();
    table_.FieldByName("English").SetAsString("typed");
    table_.Post();
    EXPECT_EQ(observer.events,
              (std::vector<std::string>{"state edit", "changed 1", "state browse", "changed 1"}));
    table_.RemoveObserver(observer);

    // Moving posts a changed record and drops an untouched new one.
    table_.Append();
    table_.FieldByName("Form_Name").SetAsString("New");
    table_.First();
    EXPECT_EQ(table_.RecordCount(), 4);
    table_.Append();
    table_.First();
    EXPECT_EQ(table_.RecordCount(), 4);
    table_.Last();
    EXPECT_EQ(Form(), "New");
    // Delete while inserting drops the new record only.
    table_.Insert();
    table_.Delete();
    EXPECT_EQ(table_.RecordCount(), 4);
}

TEST_F(TableCursor, BookmarksAfterDeletesAndRefresh) {
    OpenNumbered(6);
    table_.SetRecNo(4);
    TBookmark fourth = table_.GetBookmark();
    table_.SetRecNo(6);
    TBookmark sixth = table_.GetBookmark();
    table_.First();
    table_.Delete();
    table_.Delete();
    EXPECT_EQ(table_.RecordCount(), 4);
    table_.GotoBookmark(fourth);
    EXPECT_EQ(Form(), "F4");
    EXPECT_EQ(table_.RecNo(), 2);
    table_.Delete();
    EXPECT_EQ(Form(), "F5") << "delete makes the next record current";
    EXPECT_FALSE(table_.BookmarkValid(fourth));
    EXPECT_THROW(table_.GotoBookmark(fourth), EDatabaseError);
    table_.Refresh();
    table_.GotoBookmark(sixth);
    EXPECT_EQ(Form(), "F6");
    table_.Last();
    table_.Delete();
    EXPECT_EQ(Form(), "F5") << "deleting the last record makes the new last one current";
    // A bookmark of a new record keeps naming it after the record is saved.
    table_.Append();
    table_.FieldByName("Form_Name").SetAsString("New");
    table_.Post();
    TBookmark added = table_.GetBookmark();
    table_.ApplyUpdates();
    table_.First();
    table_.GotoBookmark(added);
    EXPECT_EQ(Form(), "New");
    table_.FreeBookmark(added);
    EXPECT_FALSE(added.Valid());
}

// Find and replace: remember the record, suspend the display, scan, write, return.
TEST_F(TableCursor, ReplaceAllWithSuspendedDisplay) {
    OpenNumbered(4);
    table_.SetRecNo(3);
    RecordingObserver observer;
    table_.AddObserver(observer);
    TBookmark start = table_.GetBookmark();
    table_.DisableControls();
    table_.DisableControls();
    for (table_.First(); !table_.Eof(); table_.Next()) {
        TField& english = table_.FieldByName("English");
        const std::string text = english.AsString();
        if (text.find("english") == 0) {
            table_.Edit();
            english.SetAsString("English" + text.substr(7));
            table_.Post();
        }
    }
    table_.GotoBookmark(start);
    table_.FreeBookmark(start);
    table_.EnableControls();
    EXPECT_EQ(observer.events, (std::vector<std::string>{"suspended"}));
    table_.EnableControls();
    table_.EnableControls(); // unmatched: ignored
    EXPECT_EQ(observer.events, (std::vector<std::string>{"suspended", "resumed"}));
    EXPECT_EQ(scrolls_, 4 + 1 + 1) << "after-scroll is not suspended";
    EXPECT_EQ(Form(), "F3");
    EXPECT_EQ(table_.FieldByName("English").AsString(), "English 3");
    EXPECT_TRUE(table_.UpdatesPending());
    table_.RemoveObserver(observer);
}

TEST_F(TableCursor, ObserverMayRemoveItselfWhileTold) {
    OpenNumbered(2);
    struct Leaving : TDataSetObserver {
        int told = 0;
        void CurrentRecordChanged(TDataSet& dataSet) override {
            ++told;
            dataSet.RemoveObserver(*this);
        }
    } leaving;
    RecordingObserver staying;
    table_.AddObserver(leaving);
    table_.AddObserver(staying);
    table_.Next();
    table_.Prior();
    EXPECT_EQ(leaving.told, 1);
    EXPECT_EQ(staying.events, (std::vector<std::string>{"current", "current"}));
    table_.RemoveObserver(staying);
}

} // namespace
} // namespace kelvara

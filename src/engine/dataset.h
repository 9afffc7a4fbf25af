#pragma once
// TDataSet: what every table handle (TTable) and query result reads like. A data set has columns
// (TField), rows in a fixed order, one current record moved by a cursor, and states. It tells a
// bound grid about every change through TDataSetObserver, so the grid never polls, and it tells
// one subscriber after every change of the current record (AfterScroll).
//
// Rows and records. Rows are numbered from 0 in the order the data set shows them ("row");
// RecNo() is the current row + 1. Everything runs on one thread; nothing here is locked.
//
// Ownership. A data set owns its fields. Observers and the AfterScroll target are not owned; an
// observer must be removed (RemoveObserver) before it is destroyed or before the data set is.

#include "engine/dataset_error.h"
#include "engine/field.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara {

enum class TDataSetState {
    dsInactive, // closed
    dsBrowse,   // open, current record shown as stored (or as cached)
    dsEdit,     // the current record is being changed (Edit)
    dsInsert,   // a new record is being filled (Append or Insert); it is already a row
};

// A remembered record. Copyable; empty (Valid() false) when default-made or freed.
class TBookmark {
public:
    TBookmark() = default;
    bool Valid() const { return valid_; }

private:
    friend class TDataSet;
    TBookmark(std::int64_t identity) : identity_(identity), valid_(true) {}
    std::int64_t identity_ = 0;
    bool valid_ = false;
};

// What a bound grid hears. Every callback has an empty default; `row` counts from 0. While the
// display is suspended (DisableControls) observers hear nothing but DisplaySuspended and, when the
// last EnableControls comes, one DisplayResumed, after which everything (row count, every row,
// the current record, the state) must be taken as changed.
class TDataSetObserver {
public:
    virtual ~TDataSetObserver() = default;
    // Another row became current (the same moments as AfterScroll).
    virtual void CurrentRecordChanged(TDataSet&) {}
    // The values shown for `row` changed (typed into, posted, reverted, re-read).
    virtual void RecordChanged(TDataSet&, int /*row*/) {}
    // Rows [first, first + count) are new; rows from first on moved down by count.
    virtual void RowsInserted(TDataSet&, int /*first*/, int /*count*/) {}
    // Rows [first, first + count) are gone; rows after them moved up by count.
    virtual void RowsRemoved(TDataSet&, int /*first*/, int /*count*/) {}
    // Anything may have changed: open, close, refresh, apply, cancel of the cached updates.
    virtual void DataReloaded(TDataSet&) {}
    // State() changed (browse, edit, insert, inactive).
    virtual void StateChanged(TDataSet&) {}
    virtual void DisplaySuspended(TDataSet&) {}
    virtual void DisplayResumed(TDataSet&) {}
};

class TDataSet {
public:
    TDataSet(const TDataSet&) = delete;
    TDataSet& operator=(const TDataSet&) = delete;
    virtual ~TDataSet();

    // --- Open and close. Close drops the current edit and everything the data set holds that is
    // not in its file (a table's unapplied cached changes); it destroys the fields.
    virtual void Open() = 0;
    virtual void Close() = 0;
    bool Active() const { return state_ != TDataSetState::dsInactive; }
    bool IsOpen() const { return Active(); }
    TDataSetState State() const { return state_; }

    // --- Fields, in table order. These need an open data set, except FieldCount (0 when closed).
    int FieldCount() const { return static_cast<int>(fields_.size()); }
    // Throws EDatabaseError "Field index out of range" unless 0 <= index < FieldCount().
    TField& FieldAt(int index) const;
    // Exact name comparison. Throws EDatabaseError "Field '<name>' not found".
    TField& FieldByName(std::string_view name) const;
    // nullptr when there is no such field.
    TField* FindField(std::string_view name) const;
    std::vector<std::string> FieldDefNames() const;
    std::vector<TFieldDef> FieldDefList() const;

    // --- Cursor. Moving first leaves the edit or insert state the way the data set does that
    // (a table posts the record). An operation on a closed data set throws EDatabaseError
    // "Cannot perform this operation on a closed dataset".
    void First();
    void Last();
    // Next on the last row sets Eof and stays; Prior on the first row sets Bof and stays.
    void Next();
    void Prior();
    // Eof: true after Next found no further row, and on an empty data set. Any other move clears
    // it.
    bool Eof() const { return eof_; }
    bool Bof() const { return bof_; }
    // 1 .. RecordCount(); 0 when empty. Stays on the last row's number while Eof.
    int RecNo() const { return currentRow_ + 1; }
    // Makes record recNo current (clamped to the rows there are).
    void SetRecNo(int recNo);
    // Rows shown, including a record being inserted and a table's cached inserts, without its
    // cached deletions. 0 when closed.
    int RecordCount() const;
    bool IsEmpty() const { return RecordCount() == 0; }

    // --- Editing. A data set that cannot be modified (query result, table opened read-only)
    // throws EDatabaseError "Cannot modify a read-only dataset" from Edit, Append, Insert and
    // Delete. Post and Cancel do nothing in the browse state. See TTable for the rules.
    virtual bool CanModify() const { return false; }
    virtual void Edit();
    virtual void Append();
    virtual void Insert();
    virtual void Post();
    virtual void Cancel();
    virtual void Delete();
    // True when a field was written since Edit, Append or Insert.
    bool Modified() const { return modified_; }

    // --- Bookmarks. GetBookmark on an empty data set gives an empty bookmark, and GotoBookmark
    // of an empty bookmark does nothing. GotoBookmark throws EDatabaseError "Record not found"
    // when the record is no longer a row (deleted). Bookmarks stay good across edits, inserts and
    // deletes of other rows and across Refresh.
    TBookmark GetBookmark() const;
    void GotoBookmark(const TBookmark& bookmark);
    void FreeBookmark(TBookmark& bookmark) { bookmark = TBookmark(); }
    bool BookmarkValid(const TBookmark& bookmark) const;

    // --- Display. Calls nest; observers hear DisplaySuspended at the first DisableControls and
    // DisplayResumed at the matching last EnableControls. An EnableControls without a matching
    // DisableControls is ignored. AfterScroll is not suspended.
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return disableCount_ > 0; }

    void AddObserver(TDataSetObserver& observer);
    void RemoveObserver(TDataSetObserver& observer);

    // Raised after every change of the current record: Open (when a row is current), First, Last,
    // GotoBookmark, a SetRecNo, Next or Prior that moved, Append and Insert, Cancel of an insert,
    // Delete, Refresh, and a cached change undone (RevertRecord, CancelUpdates). Not raised by a
    // Next at the end or a Prior at the start, nor by Post or Edit. So a walk First, Next, Next...
    // until Eof raises it once per record.
    std::function<void(TDataSet&)> AfterScroll;

    // --- Painting. Any field of any row, without moving the current record and without any
    // notification. The row being edited shows its typed values. DisplayTextAt runs the field's
    // get-text hook (display) with every field reading `row` meanwhile. Throws EDatabaseError
    // "Record number out of range" unless 0 <= row < RecordCount().
    TFieldValue ValueAt(int row, int fieldIndex) const;
    std::string TextAt(int row, int fieldIndex) const;
    std::string DisplayTextAt(int row, int fieldIndex) const;

    // --- For TField: the value of a field in the record it reads (current or painted row).
    TFieldValue FieldValue(int fieldIndex) const;
    // Stores a converted value into the current record; TField has checked access already.
    void StoreFieldValue(int fieldIndex, TFieldValue value);

protected:
    TDataSet() = default;

    // Rows in display order, from 0. RowValue of the current row in the edit or insert state
    // gives the value being typed.
    virtual int RowCount() const = 0;
    virtual TFieldValue RowValue(int row, int fieldIndex) const = 0;
    // A number naming the record of `row`, stable while other rows change. Default: the row.
    virtual std::int64_t RowIdentity(int row) const { return row; }
    // The row of a record named by RowIdentity, or -1 when it is no longer a row.
    virtual int FindRowByIdentity(std::int64_t identity) const;
    // Called before the cursor moves; leaves the edit or insert state. Default: nothing.
    virtual void CheckBrowseMode() {}
    // Writes a value into the current record; only called in the edit or insert state.
    virtual void WriteFieldValue(int fieldIndex, TFieldValue value);

    // --- Helpers for derived classes.
    void CheckActive() const;
    // Replaces the fields by fresh ones made from defs.
    void BindFields(const std::vector<TFieldDef>& defs);
    void DestroyFields() { fields_.clear(); }
    void SetState(TDataSetState state);
    int CurrentRow() const { return currentRow_; }
    // Makes `row` current (-1 for none), sets Eof and Bof as for an empty data set when there is
    // no row; with scrolled true observers hear CurrentRecordChanged and AfterScroll is raised.
    void PlaceCursor(int row, bool scrolled);
    void SetModified(bool modified) { modified_ = modified; }
    void NotifyRecordChanged(int row);
    void NotifyRowsInserted(int first, int count);
    void NotifyRowsRemoved(int first, int count);
    void NotifyReloaded();
    void NotifyCurrentChanged();
    void RaiseAfterScroll();
    // Forgets every observer and the AfterScroll target (for destructors: a data set being
    // destroyed tells nobody).
    void DetachListeners() {
        observers_.clear();
        AfterScroll = nullptr;
    }

private:
    template <typename Call> void Broadcast(Call call);
    void MoveTo(int row, bool bof, bool eof, bool scrolled);
    int ReadRow() const { return paintRow_ >= 0 ? paintRow_ : currentRow_; }
    void CheckRow(int row) const;

    std::vector<std::unique_ptr<TField>> fields_;
    TDataSetState state_ = TDataSetState::dsInactive;
    int currentRow_ = -1;
    bool eof_ = true;
    bool bof_ = true;
    bool modified_ = false;
    mutable int paintRow_ = -1;
    int disableCount_ = 0;
    std::vector<TDataSetObserver*> observers_;
};

// Binds a data set to data-aware controls (a grid binds to the data source, not the data set).
// Does not own the data set.
class TDataSource {
public:
    explicit TDataSource(TDataSet* dataSet = nullptr) : dataSet_(dataSet) {}
    TDataSet* DataSet() const { return dataSet_; }
    void SetDataSet(TDataSet* dataSet) { dataSet_ = dataSet; }

private:
    TDataSet* dataSet_;
};

} // namespace kelvara

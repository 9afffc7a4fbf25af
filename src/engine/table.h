#pragma once
// TTable: a handle on one table file (".db", named by its full path), read and written record by
// record through a cursor, with an optional change cache ("cached updates").
//
// What the handle shows. Open reads the file; from then on the handle shows the file as of its
// open or its last Refresh (or its own last write), with its change cache laid over it: cached
// inserts are rows, cached edits show their new values, cached deletions are no rows. Rows come
// in primary-key order, cached inserts where they were made (Append: at the end; Insert: before
// the current row). Several handles may be open on one file in one process; a write through one
// is seen by another after that other's Refresh.
//
// Change cache. With CachedUpdates on, Post and Delete go into the cache, and only ApplyUpdates
// writes the file. With it off, each Post and Delete is written to the file at once, as its own
// crash-safe unit. ApplyUpdates writes every cached change as one crash-safe unit: either all of
// them reach the file or, on any failure, none does and the cache is kept as it was.
//
// Update modes (which records ApplyUpdates and a direct Post or Delete touch): each record is
// found by its primary key as it was read; then
//   upWhereAll:     every column of the record must still hold the value originally read,
//   upWhereChanged: the columns being changed must still hold their originally read values,
//   upWhereKeyOnly: the key alone is enough.
// When no record of the file matches (another handle or process changed or deleted it since),
// the write throws EDatabaseError naming the record, and nothing is written. A table without a
// primary key finds each record by its position as read and always checks every column (as
// upWhereAll), since a position alone does not name a record.
//
// Errors are EDatabaseError with the message for the user; after any failure the handle is in
// a state the caller can go on from (documented per operation).

#include "engine/dataset.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelvara {

namespace paradox {
class ParadoxTable;
class RecordBuffer;
struct CommitResult;
enum class FieldType : std::uint8_t;
} // namespace paradox
class TChangeCache;
struct TCachedEdit;

enum class TTableType { ttDefault, ttParadox };
enum class TUpdateMode { upWhereAll, upWhereChanged, upWhereKeyOnly };

class TTable : public TDataSet {
public:
    TTable();
    ~TTable() override;

    // --- Binding. These throw EDatabaseError "Cannot perform this operation on an open dataset"
    // while the handle is open. An empty database name means TableName is a full file path (the
    // only form this engine knows; a non-empty database name is a folder the name is taken in).
    const std::string& TableName() const { return tableName_; }
    void SetTableName(std::string path);
    const std::string& DatabaseName() const { return databaseName_; }
    void SetDatabaseName(std::string name);
    TTableType TableType() const { return tableType_; }
    void SetTableType(TTableType type);
    // The file path the handle opens: DatabaseName joined with TableName.
    std::string FilePath() const;
    // Open options, read at Open. Exclusive keeps every other open of the file out (in this
    // process and in others) while this handle is open; ReadOnly refuses every change.
    bool Exclusive() const { return exclusive_; }
    void SetExclusive(bool exclusive);
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly);

    // --- Definitions. Filled by the caller before CreateTable; replaced by the file's own
    // definitions at Open (indexes: the primary index, if any, first).
    std::vector<TFieldDef>& FieldDefs() { return fieldDefs_; }
    const std::vector<TFieldDef>& FieldDefs() const { return fieldDefs_; }
    std::vector<TIndexDef>& IndexDefs() { return indexDefs_; }
    const std::vector<TIndexDef>& IndexDefs() const { return indexDefs_; }

    // Creates an empty table with FieldDefs and IndexDefs at FilePath(), replacing a table there
    // (with its blob and index files). The handle must be closed and stays closed. Throws when the
    // path is invalid, the file is open anywhere, or the definitions are unusable.
    void CreateTable();

    // Opens FilePath(). Throws EDatabaseError when the file is missing, locked, or no table; the
    // handle then stays closed. Opening an open handle does nothing. On success the first row is
    // current (AfterScroll raised when there is one), fields are fresh (no hooks, not read-only).
    void Open() override;
    // Drops the current edit and every unapplied cached change, releases the file. Closing a
    // closed handle does nothing. Never throws.
    void Close() override;

    // Re-reads the file and keeps the current record (the same record when it is still there,
    // else the same row number, clamped). Keeps the change cache: cached inserts, edits and
    // deletions still show. Keeps the fields with their hooks and flags.
    // In the edit or insert state the record is first posted when a field was written, and
    // cancelled when none was (an empty record being inserted is dropped). Raises AfterScroll.
    void Refresh();

    // --- Editing (see TDataSet). CanModify is false when opened ReadOnly.
    //   Edit: the current record (throws "Cannot perform this operation on an empty dataset" when
    //     there is none). Edit in the edit or insert state does nothing.
    //   Append / Insert: leave the edit state as moving does (post), then add a new empty row at
    //     the end / before the current row, current, in the insert state. The autoincrement column
    //     stays NULL until the record is first stored in the file.
    //   Post: with the cache on, into the cache; with it off, to the file (errors: the record stays
    //     in its state with its typed values, and the file is unchanged). A posted edit whose
    //     values all equal what was read leaves nothing in the cache.
    //   Cancel: drops the typed values; an inserted row disappears and the record that was current
    //     before Append or Insert is current again.
    //   Delete: cancels an insert (the new row disappears); else deletes the current record (into
    //     the cache, or from the file) and makes the next row current (or the new last row).
    bool CanModify() const override;
    void Edit() override;
    void Append() override;
    void Insert() override;
    void Post() override;
    void Cancel() override;
    void Delete() override;

    // --- Change cache.
    bool CachedUpdates() const { return cachedUpdates_; }
    // Switching off with updates pending, or in the edit or insert state, throws EDatabaseError
    // "Cannot change cached updates while updates are pending" (nothing is lost silently).
    void SetCachedUpdates(bool on);
    TUpdateMode UpdateMode() const { return updateMode_; }
    void SetUpdateMode(TUpdateMode mode) { updateMode_ = mode; }
    // True when the cache holds a posted insert, edit or deletion not yet applied. An unposted
    // edit of the current record does not count.
    bool UpdatesPending() const;
    // Writes every cached change to the file as one crash-safe unit, in the update mode (see the
    // top of this file); the handle then shows the file as written (inserted records have their
    // autoincrement numbers and stand in key order), the current record stays current, and
    // nothing is pending. In the edit or insert state the record is posted first. On any failure:
    // throws, and file and cache are exactly as before.
    void ApplyUpdates();
    // Confirms an ApplyUpdates. ApplyUpdates already empties the cache of what it wrote, so this
    // drops nothing; changes cached after the apply stay pending (nothing is lost silently).
    void CommitUpdates();
    // Drops every cached change and the current edit; saved values show again.
    void CancelUpdates();
    // Drops the current edit and the current record's cached change only: an edited record shows
    // its saved values again, a cached insert disappears. Other records keep their changes.
    void RevertRecord();

    // --- For TBatchMove, not for other callers. Values as posted (cache included, the unposted
    // edit of the current record not); the row being inserted is not posted.
    TFieldValue PostedValueAt(int row, int fieldIndex) const;
    bool RowIsPosted(int row) const;
    // Appends `count` records to the file as one crash-safe unit; fill(i, values) gives record i,
    // one value per column of this table (pre-filled with NULL). Autoincrement values given are
    // stored as they are and the table's counter is raised to the highest of them; records without
    // one get the following numbers. A number already in the table fails the whole append (as a
    // duplicate key). Leaves the edit state first; afterwards the handle shows the new records (as
    // after Refresh, cache kept).
    void AppendToFile(std::size_t count,
                      const std::function<void(std::size_t, std::vector<TFieldValue>&)>& fill);

protected:
    int RowCount() const override;
    TFieldValue RowValue(int row, int fieldIndex) const override;
    std::int64_t RowIdentity(int row) const override;
    int FindRowByIdentity(std::int64_t identity) const override;
    void CheckBrowseMode() override;
    void WriteFieldValue(int fieldIndex, TFieldValue value) override;

private:
    struct TRowRef;
    struct TEditBuffer;
    struct TFileWrite;
    enum class TIdentityScheme { IntegerKey, InternedKey, Position };

    void CheckInactive() const;
    void CheckEditable() const;
    void TakeStructure();
    TFieldValue ReadFrom(const paradox::ParadoxTable& table, std::uint32_t index, int field) const;
    TFieldValue ReadStored(std::uint32_t index, int field) const;
    std::vector<TFieldValue> StoredKey(std::uint32_t index) const;
    std::int64_t StoredIdentity(std::uint32_t index) const;
    void RebuildRows();
    std::vector<TFieldValue> ShownValues(int row) const;
    void BeginInsert(bool append);
    void LeaveEditState();
    void PostEditToCache(const TRowRef& ref);
    void PostToFile();
    void ReloadKeeping();
    std::optional<std::uint32_t> FindRecord(const paradox::ParadoxTable& table,
                                            const TCachedEdit& edit) const;
    std::string DescribeRecord(const TCachedEdit& edit) const;
    // Writes as one unit; *reloaded (when given) is set when the handle's view of the file had to
    // be re-read because another handle or process wrote since.
    paradox::CommitResult WriteToFile(const TFileWrite& write, bool* reloaded = nullptr);

    std::string tableName_;
    std::string databaseName_;
    TTableType tableType_ = TTableType::ttDefault;
    bool exclusive_ = false;
    bool readOnly_ = false;
    bool cachedUpdates_ = false;
    TUpdateMode updateMode_ = TUpdateMode::upWhereAll;
    std::vector<TFieldDef> fieldDefs_;
    std::vector<TIndexDef> indexDefs_;

    std::unique_ptr<paradox::ParadoxTable> store_;
    std::vector<paradox::FieldType> storeTypes_;
    int keyFieldCount_ = 0;
    TIdentityScheme identityScheme_ = TIdentityScheme::Position;
    mutable std::map<std::string, std::int64_t> internedKeys_;
    std::map<std::int64_t, std::int64_t> savedInserts_; // cached insert -> its stored identity
    std::unique_ptr<TChangeCache> cache_;
    std::vector<TRowRef> rows_;
    std::unique_ptr<TEditBuffer> edit_;
};

} // namespace kelvara

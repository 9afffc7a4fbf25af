#pragma once
// TBatchMove: copies every record of a source data set to the end of an open destination table
// (the mode "append"; it is the only mode).
//
// - Columns are matched by name (exact comparison); a source column the destination lacks is
//   skipped, a destination column the source lacks stays NULL.
// - Autoincrement values are copied as they are, and the destination's counter is raised to the
//   highest copied value, so that a copy of a table made this way has the same numbers and goes on
//   numbering after them. A source record without a number (a cached insert not yet applied) is
//   numbered by the destination after the highest copied one. A copied number the destination
//   already holds fails the whole copy.
// - A source table is read as it shows: its applied file state with its posted cached changes laid
//   over it (cached inserts and edits included, cached deletions left out); an unposted edit of its
//   current record is not copied. The source's cursor does not move, nothing is raised on it, and
//   its cache is neither applied nor dropped.
// - Values are converted to the destination's column types as TField::SetValue converts them; a
//   text longer than a destination character column is cut to its size.
// - All records reach the destination's file as one crash-safe unit: on any failure Execute throws
//   EDatabaseError and the destination file is as before.
//
// Neither data set is owned; both must outlive Execute.

#include "engine/dataset.h"
#include "engine/table.h"

namespace kelvara {

class TBatchMove {
public:
    TBatchMove() = default;
    TBatchMove(TDataSet* source, TTable* destination) : Source(source), Destination(destination) {}

    TDataSet* Source = nullptr;
    TTable* Destination = nullptr;

    // Throws EDatabaseError "Source table not assigned" / "Destination table not assigned", or when
    // the source or the destination is not open.
    void Execute();
    // Records appended by the last Execute.
    int MovedCount() const { return movedCount_; }

private:
    int movedCount_ = 0;
};

} // namespace kelvara

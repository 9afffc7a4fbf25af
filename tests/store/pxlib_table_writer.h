#pragma once
// Test helper: writes Paradox tables with Debian's pxlib, an implementation independent of ours,
// so that tests can check what our engine and data module make of tables written elsewhere.

#include <optional>
#include <string>
#include <vector>

namespace kelvara::testing {

// A column as pxlib is told it. Type is the Paradox field type letter: 'A' alpha (size =
// length), '+' autoincrement, 'I' long integer, 'B' binary object and 'M' memo (size = the part
// kept in the record, 10 for language tables).
struct PxColumn {
    std::string Name;
    char Type;
    int Size = 0;
};

// One record, a value per column in column order; nothing means null. Integers and
// autoincrement values are given as decimal text; a null autoincrement value takes the number
// after the highest one so far. Records are written in the order given (callers give keyed
// tables their records in key order). pxlib does not raise the table's autoincrement counter for
// records it is given whole, so tables that must take further records need none of this.
using PxRecord = std::vector<std::optional<std::string>>;

// Writes the table at path (a ".db" path; the blob file goes beside it with ".mb") with the given
// columns and records, replacing the files there. With keyFields > 0 the table is keyed on its
// first keyFields columns and pxlib also writes the primary index file (".px"). Throws
// std::runtime_error with pxlib's message when pxlib fails.
void WritePxlibTable(const std::string& path, const std::vector<PxColumn>& columns,
                     const std::vector<PxRecord>& records, int keyFields = 1);

// The columns of a language table: Index_No, the three key columns, Native, then the given
// language columns (all binary objects of size 10).
std::vector<PxColumn> LanguageTableColumns(const std::vector<std::string>& languages);

// Every name of the creation list, without the given ones, in creation order.
std::vector<std::string> CreationLanguagesWithout(const std::vector<std::string>& left_out);

} // namespace kelvara::testing

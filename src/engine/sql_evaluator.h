#pragma once
// Runs a parsed statement against its table file.
//
// Meaning of the language:
// - The table is the file the statement names (see ResolveSqlTablePath); it is read through
//   SqlSourceCache, so a file read once is not read again while it is unchanged.
// - Column names are found exactly, or else ignoring ASCII case; an unknown one fails with
//   "Field 'name' not found". select * gives every column in table order.
// - A comparison is true only when neither side is null: a null (empty) value satisfies neither
//   = nor like, as in SQL. = compares the exact bytes; like is the case-blind pattern match of
//   sql_like.h. Comparisons see text: the stored bytes of text and BLOB columns, the display text
//   of others.
// - Records come in file order, or, with order by, sorted ascending by the listed columns (text by
//   its bytes, numbers, dates and times by value, null first), ties kept in file order.

#include "engine/sql_source.h"
#include "engine/sql_statement.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara {

// The records a statement selects, as references into its loaded source, which the result keeps
// alive.
struct SqlResult {
    std::shared_ptr<const SqlSourceTable> source;
    std::vector<int> fields;         // the source field of each result column
    std::vector<std::uint32_t> rows; // source records, in result order
};

// databaseName: the directory relative table paths are taken from; empty for the working
// directory. Throws ESqlError for an unknown column and the storage's error when the table file
// is missing, locked or broken.
SqlResult RunSqlStatement(const SqlStatement& statement, std::string_view databaseName,
                          SqlSourceCache& cache = SqlSourceCache::Shared());

// Parses and runs a statement text.
SqlResult RunSql(std::string_view text, std::string_view databaseName,
                 SqlSourceCache& cache = SqlSourceCache::Shared());

} // namespace kelvara

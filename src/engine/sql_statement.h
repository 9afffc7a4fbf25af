#pragma once
// The parsed form of a query statement: what ParseSqlStatement (sql_parser.h) produces and the
// evaluator runs. Plain values; a statement owns everything in it.

#include "engine/sql_tokenizer.h"

#include <optional>
#include <string>
#include <vector>

namespace kelvara {

// A column as the statement names it. qualifier is the alias before the full stop, empty for a
// bare name.
struct SqlColumnRef {
    std::string qualifier;
    std::string name;
    SqlPosition position;
};

// One side of a comparison: a column of the record, or a literal text.
struct SqlOperand {
    bool isColumn = false;
    SqlColumnRef column;
    std::string literal;
};

enum class SqlCompareOp { Equal, Like };

// A condition tree. Or and And hold two or more operands, in the order written; Compare holds
// left, op and right.
struct SqlExpression {
    enum class Kind { Or, And, Compare };
    Kind kind = Kind::Compare;
    std::vector<SqlExpression> operands;
    SqlOperand left;
    SqlCompareOp op = SqlCompareOp::Equal;
    SqlOperand right;
};

struct SqlStatement {
    bool selectAll = false;            // select *
    std::vector<SqlColumnRef> columns; // the select list otherwise, in order
    std::string tablePath;             // from "path"
    SqlPosition tablePosition;
    std::string alias; // empty when none is given
    std::optional<SqlExpression> where;
    std::vector<SqlColumnRef> orderBy; // empty when there is no order by
};

} // namespace kelvara

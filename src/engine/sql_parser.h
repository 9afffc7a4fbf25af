#pragma once
// The recursive-descent parser of the query language.
//
//   statement  := SELECT select-list FROM "path" [alias] [WHERE condition]
//                 [ORDER BY column {, column}]
//   select-list:= * | column {, column}
//   column     := name | alias . name | "name"       (in the select list and order by)
//   condition  := conjunct {OR conjunct}
//   conjunct   := primary {AND primary}
//   primary    := ( condition ) | operand (= | LIKE) operand
//   operand    := name | alias . name                 (a column)
//               | "text"                             (a literal)
//   name       := word | "quoted name" (after an alias only)
//
// Keywords (select, from, where, and, or, like, order, by) are read in any letter case and are not
// names. Inside a condition a text in double quotes is always a literal; a column is named bare or
// qualified by the alias. In the select list and order by, where no literal can stand, a lone
// quoted name is a column too, so that a column with a blank in its name can be named without an
// alias. A qualifier must be the alias the from clause gives.

#include "engine/sql_statement.h"

#include <string_view>

namespace kelvara {

// Throws ESqlError naming the position and what was expected.
SqlStatement ParseSqlStatement(std::string_view text);

// How deeply parentheses may nest; deeper statements are refused, which bounds the recursion of
// both the parser and the evaluator.
inline constexpr int kSqlMaxNesting = 64;

} // namespace kelvara

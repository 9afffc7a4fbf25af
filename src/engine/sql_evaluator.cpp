#include "engine/sql_evaluator.h"

#include "engine/sql_like.h"
#include "engine/sql_parser.h"

#include <algorithm>
#include <fmt/format.h>
#include <iterator>
#include <optional>

namespace kelvara {
namespace {

// A condition with its columns looked up in the source.
struct BoundOperand {
    int field = -1; // -1 for a literal
    std::string literal;
};

struct BoundCondition {
    SqlExpression::Kind kind = SqlExpression::Kind::Compare;
    std::vector<BoundCondition> operands;
    BoundOperand left;
    SqlCompareOp op = SqlCompareOp::Equal;
    BoundOperand right;
};

// Candidate records in ascending order; nothing stands for every record.
using Candidates = std::optional<std::vector<std::uint32_t>>;

int BindColumn(const SqlSourceTable& source, const SqlColumnRef& column) {
    const int field = source.FindField(column.name);
    if (field < 0) {
        throw ESqlError(fmt::format("Field '{}' not found", column.name));
    }
    return field;
}

BoundOperand BindOperand(const SqlSourceTable& source, const SqlOperand& operand) {
    BoundOperand bound;
    if (operand.isColumn) {
        bound.field = BindColumn(source, operand.column);
    } else {
        bound.literal = operand.literal;
    }
    return bound;
}

BoundCondition Bind(const SqlSourceTable& source, const SqlExpression& condition) {
    BoundCondition bound;
    bound.kind = condition.kind;
    if (condition.kind == SqlExpression::Kind::Compare) {
        bound.left = BindOperand(source, condition.left);
        bound.op = condition.op;
        bound.right = BindOperand(source, condition.right);
        return bound;
    }
    for (const SqlExpression& operand : condition.operands) {
        bound.operands.push_back(Bind(source, operand));
    }
    return bound;
}

class Evaluator {
public:
    explicit Evaluator(const SqlSourceTable& source) : source_(source) {}

    bool Holds(const BoundCondition& condition, std::uint32_t row) const {
        switch (condition.kind) {
        case SqlExpression::Kind::Or:
            return std::any_of(condition.operands.begin(), condition.operands.end(),
                               [&](const BoundCondition& c) { return Holds(c, row); });
        case SqlExpression::Kind::And:
            return std::all_of(condition.operands.begin(), condition.operands.end(),
                               [&](const BoundCondition& c) { return Holds(c, row); });
        case SqlExpression::Kind::Compare:
            break;
        }
        if (IsNull(condition.left, row) || IsNull(condition.right, row)) {
            return false;
        }
        const std::string_view left = Text(condition.left, row);
        const std::string_view right = Text(condition.right, row);
        return condition.op == SqlCompareOp::Equal ? left == right : SqlLikeMatches(left, right);
    }

    // The records that can satisfy the condition, found through the folded-text index of the
    // filtered column; every candidate is still tested with Holds.
    Candidates Plan(const BoundCondition& condition) const {
        switch (condition.kind) {
        case SqlExpression::Kind::Or:
            return PlanEither(condition);
        case SqlExpression::Kind::And:
            return PlanBoth(condition);
        case SqlExpression::Kind::Compare:
            break;
        }
        const BoundOperand* column = nullptr;
        const BoundOperand* literal = nullptr;
        if (condition.left.field >= 0 && condition.right.field < 0) {
            column = &condition.left;
            literal = &condition.right;
        } else if (condition.op == SqlCompareOp::Equal && condition.left.field < 0 &&
                   condition.right.field >= 0) {
            column = &condition.right;
            literal = &condition.left;
        } else {
            return std::nullopt;
        }
        if (condition.op == SqlCompareOp::Equal) {
            return source_.RowsWithFoldedText(column->field, AsciiLowerCase(literal->literal),
                                              true);
        }
        const std::string_view prefix = SqlLikeFixedPrefix(literal->literal);
        if (prefix.size() == literal->literal.size()) {
            return source_.RowsWithFoldedText(column->field, AsciiLowerCase(prefix), true);
        }
        if (prefix.empty()) {
            return std::nullopt;
        }
        return source_.RowsWithFoldedText(column->field, AsciiLowerCase(prefix), false);
    }

private:
    bool IsNull(const BoundOperand& operand, std::uint32_t row) const {
        return operand.field >= 0 && source_.IsNull(operand.field, row);
    }

    std::string_view Text(const BoundOperand& operand, std::uint32_t row) const {
        return operand.field >= 0 ? source_.Text(operand.field, row)
                                  : std::string_view(operand.literal);
    }

    Candidates PlanEither(const BoundCondition& condition) const {
        std::vector<std::uint32_t> all;
        for (const BoundCondition& operand : condition.operands) {
            Candidates part = Plan(operand);
            if (!part) {
                return std::nullopt;
            }
            std::vector<std::uint32_t> merged;
            merged.reserve(all.size() + part->size());
            std::set_union(all.begin(), all.end(), part->begin(), part->end(),
                           std::back_inserter(merged));
            all = std::move(merged);
        }
        return all;
    }

    Candidates PlanBoth(const BoundCondition& condition) const {
        Candidates smallest;
        for (const BoundCondition& operand : condition.operands) {
            Candidates part = Plan(operand);
            if (part && (!smallest || part->size() < smallest->size())) {
                smallest = std::move(part);
            }
        }
        return smallest;
    }

    const SqlSourceTable& source_;
};

} // namespace

SqlResult RunSqlStatement(const SqlStatement& statement, std::string_view databaseName,
                          SqlSourceCache& cache) {
    SqlResult result;
    result.source = cache.Get(ResolveSqlTablePath(statement.tablePath, databaseName));
    const SqlSourceTable& source = *result.source;

    if (statement.selectAll) {
        for (int f = 0; f < source.FieldCount(); ++f) {
            result.fields.push_back(f);
        }
    } else {
        for (const SqlColumnRef& column : statement.columns) {
            result.fields.push_back(BindColumn(source, column));
        }
    }
    std::optional<BoundCondition> condition;
    if (statement.where) {
        condition = Bind(source, *statement.where);
    }
    std::vector<int> orderFields;
    for (const SqlColumnRef& column : statement.orderBy) {
        orderFields.push_back(BindColumn(source, column));
    }

    const Evaluator evaluator(source);
    const Candidates candidates = condition ? evaluator.Plan(*condition) : std::nullopt;
    const auto take = [&](std::uint32_t row) {
        if (!condition || evaluator.Holds(*condition, row)) {
            result.rows.push_back(row);
        }
    };
    if (candidates) {
        std::for_each(candidates->begin(), candidates->end(), take);
    } else {
        for (std::uint32_t row = 0; row < source.RecordCount(); ++row) {
            take(row);
        }
    }

    if (!orderFields.empty()) {
        std::stable_sort(result.rows.begin(), result.rows.end(),
                         [&](std::uint32_t a, std::uint32_t b) {
                             for (const int field : orderFields) {
                                 const int order = source.Compare(field, a, b);
                                 if (order != 0) {
                                     return order < 0;
                                 }
                             }
                             return false;
                         });
    }
    return result;
}

SqlResult RunSql(std::string_view text, std::string_view databaseName, SqlSourceCache& cache) {
    return RunSqlStatement(ParseSqlStatement(text), databaseName, cache);
}

} // namespace kelvara

#include "engine/sql_parser.h"

#include "engine/sql_like.h"

#include <array>
#include <fmt/format.h>

namespace kelvara {
namespace {

constexpr std::array<std::string_view, 8> kKeywords = {"select", "from", "where", "and",
                                                       "or",     "like", "order", "by"};

bool IsKeyword(const SqlToken& token) {
    if (token.kind != SqlTokenKind::Word) {
        return false;
    }
    for (const std::string_view keyword : kKeywords) {
        if (AsciiEqualIgnoringCase(token.text, keyword)) {
            return true;
        }
    }
    return false;
}

class Parser {
public:
    explicit Parser(std::vector<SqlToken> tokens) : tokens_(std::move(tokens)) {}

    SqlStatement Run() {
        SqlStatement statement;
        ExpectKeyword("select");
        if (Current().kind == SqlTokenKind::Star) {
            statement.selectAll = true;
            Take();
        } else {
            statement.columns = ColumnList("a column name or '*'");
        }
        ExpectKeyword("from");
        if (Current().kind != SqlTokenKind::Quoted || Current().text.empty()) {
            Fail("the table's path in double quotes");
        }
        statement.tablePosition = Current().position;
        statement.tablePath = Take().text;
        if (Current().kind == SqlTokenKind::Word && !IsKeyword(Current())) {
            statement.alias = Take().text;
        }
        if (AtKeyword("where")) {
            Take();
            statement.where = Condition(0);
        }
        if (AtKeyword("order")) {
            Take();
            ExpectKeyword("by");
            statement.orderBy = ColumnList("a column name");
        }
        if (Current().kind != SqlTokenKind::End) {
            Fail(Expectation(statement));
        }
        CheckQualifiers(statement);
        return statement;
    }

private:
    const SqlToken& Current() const { return tokens_[index_]; }
    const SqlToken& Take() {
        const SqlToken& token = tokens_[index_];
        if (index_ + 1 < tokens_.size()) {
            ++index_;
        }
        return token;
    }

    bool AtKeyword(std::string_view keyword) const {
        return Current().kind == SqlTokenKind::Word &&
               AsciiEqualIgnoringCase(Current().text, keyword);
    }

    void ExpectKeyword(std::string_view keyword) {
        if (!AtKeyword(keyword)) {
            Fail(fmt::format("'{}'", keyword));
        }
        Take();
    }

    [[noreturn]] void Fail(std::string_view expected) const {
        throw ESqlError(fmt::format("SQL syntax error at {}: expected {}, found {}",
                                    DescribeSqlPosition(Current().position), expected,
                                    DescribeSqlToken(Current())));
    }

    // What may follow the part of the statement already read, for the final error message.
    static std::string Expectation(const SqlStatement& statement) {
        if (!statement.orderBy.empty()) {
            return "',' or end of statement";
        }
        if (statement.where) {
            return "'and', 'or', 'order by' or end of statement";
        }
        if (!statement.alias.empty()) {
            return "'where', 'order by' or end of statement";
        }
        return "an alias, 'where', 'order by' or end of statement";
    }

    std::vector<SqlColumnRef> ColumnList(std::string_view expected) {
        std::vector<SqlColumnRef> columns;
        columns.push_back(ListColumn(expected));
        while (Current().kind == SqlTokenKind::Comma) {
            Take();
            columns.push_back(ListColumn("a column name"));
        }
        return columns;
    }

    SqlColumnRef ListColumn(std::string_view expected) {
        if (Current().kind == SqlTokenKind::Quoted) {
            SqlColumnRef column;
            column.position = Current().position;
            column.name = Take().text;
            return column;
        }
        if (Current().kind != SqlTokenKind::Word || IsKeyword(Current())) {
            Fail(expected);
        }
        return WordColumn();
    }

    // A column that begins with a word: bare, or qualified by the alias.
    SqlColumnRef WordColumn() {
        SqlColumnRef column;
        column.position = Current().position;
        column.name = Take().text;
        if (Current().kind == SqlTokenKind::Dot) {
            Take();
            const bool isName = Current().kind == SqlTokenKind::Quoted ||
                                (Current().kind == SqlTokenKind::Word && !IsKeyword(Current()));
            if (!isName) {
                Fail("a column name after the full stop");
            }
            column.qualifier = std::move(column.name);
            column.name = Take().text;
        }
        return column;
    }

    SqlExpression Condition(int depth) {
        SqlExpression first = Conjunct(depth);
        if (!AtKeyword("or")) {
            return first;
        }
        SqlExpression either;
        either.kind = SqlExpression::Kind::Or;
        either.operands.push_back(std::move(first));
        while (AtKeyword("or")) {
            Take();
            either.operands.push_back(Conjunct(depth));
        }
        return either;
    }

    SqlExpression Conjunct(int depth) {
        SqlExpression first = Primary(depth);
        if (!AtKeyword("and")) {
            return first;
        }
        SqlExpression both;
        both.kind = SqlExpression::Kind::And;
        both.operands.push_back(std::move(first));
        while (AtKeyword("and")) {
            Take();
            both.operands.push_back(Primary(depth));
        }
        return both;
    }

    SqlExpression Primary(int depth) {
        if (Current().kind == SqlTokenKind::LeftParen) {
            if (depth >= kSqlMaxNesting) {
                throw ESqlError(fmt::format("SQL syntax error at {}: parentheses nested deeper "
                                            "than {} levels",
                                            DescribeSqlPosition(Current().position),
                                            kSqlMaxNesting));
            }
            Take();
            SqlExpression inner = Condition(depth + 1);
            if (Current().kind != SqlTokenKind::RightParen) {
                Fail("')', 'and' or 'or'");
            }
            Take();
            return inner;
        }
        SqlExpression comparison;
        comparison.kind = SqlExpression::Kind::Compare;
        comparison.left = Operand("a column name, a text in double quotes or '('");
        if (Current().kind == SqlTokenKind::Equals) {
            comparison.op = SqlCompareOp::Equal;
        } else if (AtKeyword("like")) {
            comparison.op = SqlCompareOp::Like;
        } else {
            Fail("'=' or 'like'");
        }
        Take();
        comparison.right = Operand("a column name or a text in double quotes");
        return comparison;
    }

    SqlOperand Operand(std::string_view expected) {
        SqlOperand operand;
        if (Current().kind == SqlTokenKind::Quoted) {
            operand.literal = Take().text;
            return operand;
        }
        if (Current().kind != SqlTokenKind::Word || IsKeyword(Current())) {
            Fail(expected);
        }
        operand.isColumn = true;
        operand.column = WordColumn();
        return operand;
    }

    static void CheckQualifier(const SqlStatement& statement, const SqlColumnRef& column) {
        if (column.qualifier.empty() || AsciiEqualIgnoringCase(column.qualifier, statement.alias)) {
            return;
        }
        if (statement.alias.empty()) {
            throw ESqlError(fmt::format("SQL error at {}: unknown table alias '{}'; the table "
                                        "has no alias",
                                        DescribeSqlPosition(column.position), column.qualifier));
        }
        throw ESqlError(fmt::format("SQL error at {}: unknown table alias '{}'; the table's "
                                    "alias is '{}'",
                                    DescribeSqlPosition(column.position), column.qualifier,
                                    statement.alias));
    }

    static void CheckQualifiers(const SqlStatement& statement, const SqlExpression& condition) {
        if (condition.kind != SqlExpression::Kind::Compare) {
            for (const SqlExpression& operand : condition.operands) {
                CheckQualifiers(statement, operand);
            }
            return;
        }
        for (const SqlOperand* side : {&condition.left, &condition.right}) {
            if (side->isColumn) {
                CheckQualifier(statement, side->column);
            }
        }
    }

    static void CheckQualifiers(const SqlStatement& statement) {
        for (const SqlColumnRef& column : statement.columns) {
            CheckQualifier(statement, column);
        }
        for (const SqlColumnRef& column : statement.orderBy) {
            CheckQualifier(statement, column);
        }
        if (statement.where) {
            CheckQualifiers(statement, *statement.where);
        }
    }

    std::vector<SqlToken> tokens_;
    std::size_t index_ = 0;
};

} // namespace

SqlStatement ParseSqlStatement(std::string_view text) {
    return Parser(TokenizeSql(text)).Run();
}

} // namespace kelvara

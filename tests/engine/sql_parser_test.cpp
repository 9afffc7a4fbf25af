#include "engine/sql_parser.h"

#include <gtest/gtest.h>
#include <string>

namespace kelvara {
namespace {

std::string Render(const SqlColumnRef& column) {
    return column.qualifier.empty() ? column.name : column.qualifier + "." + column.name;
}

std::string Render(const SqlOperand& operand) {
    return operand.isColumn ? Render(operand.column) : "\"" + operand.literal + "\"";
}

// A compact picture of a condition tree, to compare against in one line.
std::string Render(const SqlExpression& e) {
    if (e.kind == SqlExpression::Kind::Compare) {
        return Render(e.left) + (e.op == SqlCompareOp::Like ? " like " : " = ") + Render(e.right);
    }
    std::string out = e.kind == SqlExpression::Kind::Or ? "or(" : "and(";
    for (std::size_t i = 0; i < e.operands.size(); ++i) {
        out += (i ? ", " : "") + Render(e.operands[i]);
    }
    return out + ")";
}

std::string RenderColumns(const std::vector<SqlColumnRef>& columns) {
    std::string out;
    for (const SqlColumnRef& column : columns) {
        out += (out.empty() ? "" : ", ") + Render(column);
    }
    return out;
}

// The merge's statement for one target form, exactly as its builder writes the lines.
std::string MergeStatement(const std::string& whereLine) {
    return "select\nForm_Name,\nComponent_Name,\nProperty_Name,\nlangtable.\"English\",\n"
           "langtable.\"German\"\nfrom \"/data/old tables/lang.db\" langtable\n" +
           whereLine + "\norder by\nForm_Name,\nComponent_Name,\nProperty_Name";
}

TEST(SqlParser, ReadsTheMergeStatement) {
    const SqlStatement s = ParseSqlStatement(MergeStatement("where Form_Name like \"MainForm\""));
    EXPECT_FALSE(s.selectAll);
    EXPECT_EQ(RenderColumns(s.columns),
              "Form_Name, Component_Name, Property_Name, langtable.English, langtable.German");
    EXPECT_EQ(s.tablePath, "/data/old tables/lang.db");
    EXPECT_EQ(s.alias, "langtable");
    ASSERT_TRUE(s.where);
    EXPECT_EQ(Render(*s.where), "Form_Name like \"MainForm\"");
    EXPECT_EQ(RenderColumns(s.orderBy), "Form_Name, Component_Name, Property_Name");
    EXPECT_EQ(s.columns[3].position.line, 5u);
    EXPECT_EQ(s.columns[3].position.column, 1u);
}

TEST(SqlParser, ReadsConditions) {
    const std::pair<std::string, std::string> cases[] = {
        {"where Form_Name like \"DiagnosticMessageModule\" or (Form_Name = \"MessageString\" and "
         "Component_Name = \"Diagnostics\")",
         "or(Form_Name like \"DiagnosticMessageModule\", and(Form_Name = \"MessageString\", "
         "Component_Name = \"Diagnostics\"))"},
        // A keyword straight after a closing quote.
        {"where Form_Name like \"OldMessagesModule\"or Form_Name = \"MessageString\"",
         "or(Form_Name like \"OldMessagesModule\", Form_Name = \"MessageString\")"},
        {"where a = \"1\" or b = \"2\" and c = \"3\"", "or(a = \"1\", and(b = \"2\", c = \"3\"))"},
        {"where (a = \"1\" or b = \"2\") and c = \"3\"",
         "and(or(a = \"1\", b = \"2\"), c = \"3\")"},
        {"where a = \"1\" and b = \"2\" and c = \"3\"", "and(a = \"1\", b = \"2\", c = \"3\")"},
        {"where ((a = \"1\"))", "a = \"1\""},
        {"where \"x\" = langtable.\"Native\"", "\"x\" = langtable.Native"},
        {"where langtable.Native like Form_Name", "langtable.Native like Form_Name"},
        {"where a like \"say \"\"hi\"\"\"", "a like \"say \"hi\"\""},
        {"wHeRe a LIKE \"x\" OR b = \"y\" AnD c = \"z\"",
         "or(a like \"x\", and(b = \"y\", c = \"z\"))"},
    };
    for (const auto& [where, rendered] : cases) {
        const SqlStatement s = ParseSqlStatement(MergeStatement(where));
        ASSERT_TRUE(s.where) << where;
        EXPECT_EQ(Render(*s.where), rendered) << where;
    }
}

TEST(SqlParser, ReadsTheMessageStatement) {
    const SqlStatement s = ParseSqlStatement(
        "SELECT * FROM \"C:\\Tables\\Lang \"\"new\"\".db\"\nWHERE Form_Name = \"MessageString\"");
    EXPECT_TRUE(s.selectAll);
    EXPECT_TRUE(s.columns.empty());
    EXPECT_EQ(s.tablePath, "C:\\Tables\\Lang \"new\".db");
    EXPECT_EQ(s.alias, "");
    ASSERT_TRUE(s.where);
    EXPECT_EQ(Render(*s.where), "Form_Name = \"MessageString\"");
    EXPECT_TRUE(s.orderBy.empty());
}

TEST(SqlParser, ReadsSelectListsAndOrder) {
    const SqlStatement s = ParseSqlStatement(
        "Select \"French (Belgium)\", t.Native, T.\"English\" From \"x.db\" t Order By "
        "\"French (Belgium)\", t.Native");
    EXPECT_EQ(RenderColumns(s.columns), "French (Belgium), t.Native, T.English");
    EXPECT_FALSE(s.where);
    EXPECT_EQ(RenderColumns(s.orderBy), "French (Belgium), t.Native");
}

struct ErrorCase {
    std::string statement;
    std::string message;
};

TEST(SqlParser, ReportsWhereAndWhatWasExpected) {
    const ErrorCase cases[] = {
        {"", "SQL syntax error at line 1, column 1: expected 'select', found end of statement"},
        {"delete from \"x\"", "line 1, column 1: expected 'select', found 'delete'"},
        {"select", "line 1, column 7: expected a column name or '*', found end of statement"},
        {"select from \"x\"", "line 1, column 8: expected a column name or '*', found 'from'"},
        {"select a,", "line 1, column 10: expected a column name, found end of statement"},
        {"select a b", "line 1, column 10: expected 'from', found 'b'"},
        {"select a from b", "line 1, column 15: expected the table's path in double quotes, "
                            "found 'b'"},
        {"select a from \"\" t", "line 1, column 15: expected the table's path in double "
                                 "quotes, found \"\""},
        {"select a from \"x", "SQL syntax error at line 1, column 15: the text in double quotes "
                              "is not closed"},
        {"select a from \"x\" where", "line 1, column 24: expected a column name, a text in "
                                      "double quotes or '(', found end of statement"},
        {"select a from \"x\" where a", "line 1, column 26: expected '=' or 'like', found end"},
        {"select a from \"x\" where a =", "expected a column name or a text in double quotes"},
        {"select a from \"x\" where (a = \"1\"", "expected ')', 'and' or 'or', found end"},
        {"select a from \"x\" where a = \"1\" b", "line 1, column 33: expected 'and', 'or', "
                                                  "'order by' or end of statement, found 'b'"},
        {"select a from \"x\" t u", "line 1, column 21: expected 'where', 'order by' or end"},
        {"select a from \"x\" where or = \"1\"", "expected a column name, a text in double "
                                                 "quotes or '(', found 'or'"},
        {"select a from \"x\" order a", "line 1, column 25: expected 'by', found 'a'"},
        {"select a from \"x\" order by a b", "expected ',' or end of statement, found 'b'"},
        {"select a. from \"x\"", "line 1, column 11: expected a column name after the full "
                                 "stop, found 'from'"},
        {"select a;", "line 1, column 9: unexpected character ';'"},
        {"select a from \"x\" where a <> \"1\"", "line 1, column 27: unexpected character '<'"},
        {"select a\nfrom \"x\"\n  where a = 1", "line 3, column 13: unexpected character '1'"},
        {"select\ta from \"x\"\x01", "line 1, column 18: unexpected character '\\x01'"},
        {"select t.a from \"x\"", "SQL error at line 1, column 8: unknown table alias 't'; the "
                                  "table has no alias"},
        {"select a from \"x\" u where t.a = \"1\"", "unknown table alias 't'; the table's alias "
                                                    "is 'u'"},
        {"select * from \"x\" u order by v.\"a\"", "unknown table alias 'v'"},
    };
    for (const ErrorCase& c : cases) {
        try {
            ParseSqlStatement(c.statement);
            ADD_FAILURE() << "accepted: " << c.statement;
        } catch (const ESqlError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << c.statement << "\n  gave: " << e.what();
        }
    }
}

TEST(SqlParser, RefusesDeepNestingButTakesItsLimit) {
    auto nested = [](int depth) {
        return "select a from \"x\" where " + std::string(depth, '(') + "a = \"1\"" +
               std::string(depth, ')');
    };
    EXPECT_NO_THROW(ParseSqlStatement(nested(kSqlMaxNesting)));
    EXPECT_THROW(ParseSqlStatement(nested(kSqlMaxNesting + 1)), ESqlError);
    EXPECT_THROW(ParseSqlStatement(nested(100000)), ESqlError);
}

} // namespace
} // namespace kelvara

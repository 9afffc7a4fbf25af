#include "engine/paradox_table.h"
#include "engine/query.h"
#include "engine/sql_like.h"
#include "engine/table.h"
#include "query_fixture.h"

#include <array>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace kelvara {
namespace {

using testing::QueryRow;
using Rows = std::vector<std::vector<std::string>>;

// The lines the merge writes for one source and one target form name.
std::vector<std::string> MergeLines(const std::string& path, const std::string& whereLine) {
    return {"select",
            "Form_Name,",
            "Component_Name,",
            "Property_Name,",
            "langtable.\"English\",",
            "langtable.\"German\"",
            "from \"" + path + "\" langtable",
            whereLine,
            "order by",
            "Form_Name,",
            "Component_Name,",
            "Property_Name"};
}

// Every record of an open query, each value as its stored text.
Rows ReadAll(TQuery& query) {
    Rows rows;
    for (query.First(); !query.Eof(); query.Next()) {
        std::vector<std::string> values;
        for (int i = 0; i < query.FieldCount(); ++i) {
            values.push_back(query.FieldAt(i).AsString());
        }
        rows.push_back(values);
    }
    return rows;
}

Rows RunLines(std::vector<std::string> lines) {
    TQuery query;
    query.SetSQL(std::move(lines));
    query.Open();
    return ReadAll(query);
}

class QueryStatements : public testing::QueryTableFolder {
protected:
    void SetUp() override {
        QueryTableFolder::SetUp();
        // Form, component, property, Native, English, German.
        source_ =
            MakeTable("source.db", {"English", "German"},
                      {
                          {"MainForm", "Button1", "Caption", "Abbrechen", "Cancel", "Abbrechen"},
                          {"OtherForm", "Label1", "Caption", "x", "x-en", ""},
                          {"mainform", "Label1", "Caption", "Titel", "Title", ""},
                          {"MainForm", "Button1", "Caption", "Abbrechen", "Cancel later", ""},
                          {"MainFormX", "Label2", "Caption", "y", "y-en", ""},
                          {"MainForm", "Alpha", "Hint", "Hilfe", "Help", "Hilfe"},
                          {"DiagnosticMessageModule", "Diagnostic12", "Caption", "d", "d-en", ""},
                          {"MessageString", "Diagnostics", "12", "m12", "m12-en", ""},
                          {"MessageString", "Errors", "File not found", "nf", "nf-en", ""},
                          {"messagestring", "Diagnostics", "13", "m13", "m13-en", ""},
                          {"OldMessagesModule", "ErrorsFile_not_found", "Caption", "o", "o-en", ""},
                          {"MESSAGESTRING", "Errors", "Gone", "g", "g-en", ""},
                      });
    }

    std::string source_;
};

TEST_F(QueryStatements, MergeStatementSelectsTheFormInKeyOrder) {
    TQuery query;
    query.SetSQL(MergeLines(source_, "where Form_Name like \"MainForm\""));
    query.Open();
    EXPECT_EQ(query.FieldDefNames(),
              (std::vector<std::string>{"Form_Name", "Component_Name", "Property_Name", "English",
                                        "German"}));
    // like ignores letter case; the two records with equal keys stay in file order; 'M' sorts
    // before 'm' by its byte.
    EXPECT_EQ(ReadAll(query), (Rows{
                                  {"MainForm", "Alpha", "Hint", "Help", "Hilfe"},
                                  {"MainForm", "Button1", "Caption", "Cancel", "Abbrechen"},
                                  {"MainForm", "Button1", "Caption", "Cancel later", ""},
                                  {"mainform", "Label1", "Caption", "Title", ""},
                              }));
}

TEST_F(QueryStatements, DiagnosticMessageModuleTakesTheDiagnosticMessages) {
    EXPECT_EQ(RunLines(MergeLines(source_, "where Form_Name like \"DiagnosticMessageModule\" or "
                                           "(Form_Name = \"MessageString\" and Component_Name = "
                                           "\"Diagnostics\")")),
              (Rows{
                  {"DiagnosticMessageModule", "Diagnostic12", "Caption", "d-en", ""},
                  {"MessageString", "Diagnostics", "12", "m12-en", ""},
              }));
}

TEST_F(QueryStatements, OldMessagesModuleTakesEveryMessageRecord) {
    // The builder writes "or" straight after the closing quote.
    EXPECT_EQ(
        RunLines(MergeLines(source_, "where Form_Name like \"OldMessagesModule\"or Form_Name = "
                                     "\"MessageString\"")),
        (Rows{
            {"MessageString", "Diagnostics", "12", "m12-en", ""},
            {"MessageString", "Errors", "File not found", "nf-en", ""},
            {"OldMessagesModule", "ErrorsFile_not_found", "Caption", "o-en", ""},
        }));
}

TEST_F(QueryStatements, MessageStatementGivesEveryColumnInFileOrder) {
    TQuery query;
    query.AddSQL("SELECT * FROM \"" + source_ + "\"");
    query.AddSQL("WHERE Form_Name = \"MessageString\"");
    query.Open();
    EXPECT_EQ(query.FieldDefNames(),
              (std::vector<std::string>{"Index_No", "Form_Name", "Component_Name", "Property_Name",
                                        "Native", "English", "German"}));
    EXPECT_EQ(query.RecordCount(), 2);
    EXPECT_EQ(ReadAll(query),
              (Rows{
                  {"8", "MessageString", "Diagnostics", "12", "m12", "m12-en", ""},
                  {"9", "MessageString", "Errors", "File not found", "nf", "nf-en", ""},
              }));
}

TEST_F(QueryStatements, WildcardsInFormNamesWidenTheResult) {
    const std::string path = MakeTable("wild.db", {"English", "German"},
                                       {{"Save_Dlg", "A", "Caption"},
                                        {"SaveXDlg", "B", "Caption"},
                                        {"Save__Dlg", "C", "Caption"},
                                        {"Save%Dlg", "D", "Caption"}});
    const auto components = [&](const std::string& pattern) {
        std::string out;
        for (const auto& row :
             RunLines(MergeLines(path, "where Form_Name like \"" + pattern + "\""))) {
            out += row[1];
        }
        return out;
    };
    // In form-name order: '%' < 'X' < '_' by their bytes.
    EXPECT_EQ(components("Save_Dlg"), "DBA");
    EXPECT_EQ(components("Save%Dlg"), "DBAC");
    EXPECT_EQ(components("save%"), "DBAC");
    EXPECT_EQ(components("%dlg"), "DBAC");
    EXPECT_EQ(components("Save__Dlg"), "C");
}

TEST_F(QueryStatements, DoubledQuotesReachPathAndLiteral) {
    const std::string path =
        MakeTable("say \"hi\".db", {"English", "German"},
                  {{"My\"Form", "A", "Caption", "n", "quoted"}, {"MyForm", "B", "Caption"}});
    std::string escaped;
    for (const char c : path) {
        escaped += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    EXPECT_EQ(RunLines(MergeLines(escaped, "where Form_Name like \"My\"\"Form\"")),
              (Rows{{"My\"Form", "A", "Caption", "quoted", ""}}));
}

TEST_F(QueryStatements, OrderByIsStableAndSortsNumbersByValue) {
    std::vector<QueryRow> rows;
    for (int i = 0; i < 12; ++i) {
        rows.push_back({i % 2 ? "B" : "A", "c" + std::to_string(i), "Caption"});
    }
    const std::string path = MakeTable("order.db", {}, rows);
    const Rows byForm =
        RunLines({"select Form_Name, Component_Name from \"" + path + "\"", "order by Form_Name"});
    ASSERT_EQ(byForm.size(), 12u);
    for (int i = 0; i < 12; ++i) {
        const int expected = i < 6 ? 2 * i : 2 * (i - 6) + 1; // file order within each form
        EXPECT_EQ(byForm[i][1], "c" + std::to_string(expected)) << i;
    }
    const Rows byNumber = RunLines({"select Index_No from \"" + path + "\" order by Index_No"});
    ASSERT_EQ(byNumber.size(), 12u);
    EXPECT_EQ(byNumber[8][0], "9");
    EXPECT_EQ(byNumber[9][0], "10");
}

TEST_F(QueryStatements, NullValuesSatisfyNoComparison) {
    const std::string path =
        MakeTable("nulls.db", {"English"}, {{"F", "", "Caption", "n"}, {"F", "C", "Caption", ""}});
    const auto count = [&](const std::string& where) {
        return RunLines({"select Form_Name from \"" + path + "\" " + where}).size();
    };
    EXPECT_EQ(count("where Component_Name like \"%\""), 1u);
    EXPECT_EQ(count("where Native = \"\""), 0u);
    EXPECT_EQ(count("where English like \"%\" or Native like \"%\""), 1u);
    EXPECT_EQ(count("where Form_Name = \"F\""), 2u);
    EXPECT_EQ(count("where \"a\" = \"a\""), 2u);
    EXPECT_EQ(count("where \"a\" = \"b\""), 0u);
    EXPECT_EQ(count("where Form_Name = Form_Name and Property_Name like \"caption\""), 2u);
}

TEST_F(QueryStatements, EqualsComparesExactBytes) {
    const auto components = [&](const std::string& where) {
        std::string out;
        for (const auto& row :
             RunLines({"select Property_Name from \"" + source_ + "\" " + where})) {
            out += row[0] + ";";
        }
        return out;
    };
    EXPECT_EQ(components("where Form_Name = \"messagestring\""), "13;");
    EXPECT_EQ(components("where Form_Name like \"messagestring\""), "12;File not found;13;Gone;");
    EXPECT_EQ(components("where \"MESSAGESTRING\" = Form_Name"), "Gone;");
}

TEST_F(QueryStatements, ColumnNamesIgnoreCaseAndKeepTheTablesSpelling) {
    TQuery query;
    query.AddSQL("select form_name, \"ENGLISH\" from \"" + source_ +
                 "\" t where t.FORM_NAME = "
                 "\"OtherForm\" order by t.english");
    query.Open();
    EXPECT_EQ(query.FieldDefNames(), (std::vector<std::string>{"Form_Name", "English"}));
    EXPECT_EQ(ReadAll(query), (Rows{{"OtherForm", "x-en"}}));
}

// The index the evaluator filters through must give exactly what a plain walk over every record
// gives: patterns with and without wildcards, in any letter case, combined with and, or and
// parentheses over two columns.
TEST_F(QueryStatements, IndexedFilterAgreesWithAPlainWalk) {
    std::mt19937 random(7);
    const std::string letters = "aAbB_%";
    const auto word = [&](std::size_t maxLength, bool wildcards) {
        std::string out;
        const std::size_t length = random() % (maxLength + 1);
        for (std::size_t i = 0; i < length; ++i) {
            out += letters[random() % (wildcards ? letters.size() : 4)];
        }
        return out;
    };
    std::vector<QueryRow> rows;
    std::vector<std::array<std::string, 2>> values; // Form_Name, Property_Name
    for (int i = 0; i < 300; ++i) {
        values.push_back({word(4, false), word(2, false)});
        rows.push_back({values.back()[0], std::to_string(i), values.back()[1]});
    }
    const std::string path = MakeTable("random.db", {}, rows);

    struct Condition {
        std::string text;
        std::function<bool(std::size_t)> holds;
    };
    const char* columns[] = {"Form_Name", "Property_Name"};
    std::function<Condition(int)> make = [&](int depth) -> Condition {
        if (depth == 0 || random() % 3 == 0) {
            const std::size_t column = random() % 2;
            const bool like = random() % 3 != 0;
            const std::string pattern = word(5, like);
            return {std::string(columns[column]) + (like ? " like \"" : " = \"") + pattern + "\"",
                    [&values, column, like, pattern](std::size_t row) {
                        const std::string& value = values[row][column];
                        return !value.empty() &&
                               (like ? SqlLikeMatches(value, pattern) : value == pattern);
                    }};
        }
        const bool both = random() % 2 == 0;
        std::vector<Condition> parts;
        for (std::size_t i = 0, count = 2 + random() % 2; i < count; ++i) {
            parts.push_back(make(depth - 1));
        }
        std::string text = "(";
        for (std::size_t i = 0; i < parts.size(); ++i) {
            text += (i ? (both ? " and " : " or ") : "") + parts[i].text;
        }
        return {text + ")", [parts, both](std::size_t row) {
                    for (const Condition& part : parts) {
                        if (part.holds(row) != both) {
                            return !both;
                        }
                    }
                    return both;
                }};
    };

    for (int round = 0; round < 300; ++round) {
        const Condition condition = make(round % 3);
        std::vector<std::string> expected;
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (condition.holds(i)) {
                expected.push_back(std::to_string(i));
            }
        }
        std::vector<std::string> got;
        for (const auto& row :
             RunLines({"select Component_Name from \"" + path + "\"", "where " + condition.text})) {
            got.push_back(row[0]);
        }
        EXPECT_EQ(got, expected) << condition.text;
    }
}

class QueryHandle : public testing::QueryTableFolder {
protected:
    void SetUp() override {
        QueryTableFolder::SetUp();
        path_ = MakeTable("lang.db", {"English"},
                          {{"F", "A", "Caption", "eins", "one"},
                           {"F", "B", "Caption", "zwei", ""},
                           {"G", "C", "Hint", "drei", "three"}});
    }

    std::string path_;
};

TEST_F(QueryHandle, ReadsLikeATable) {
    TQuery query;
    query.AddSQL("select Index_No, Component_Name, English from \"" + path_ + "\"");
    query.AddSQL("order by Component_Name");
    EXPECT_FALSE(query.Active());
    EXPECT_EQ(query.FieldCount(), 0);
    int scrolls = 0;
    query.AfterScroll = [&scrolls](TDataSet&) { ++scrolls; };
    query.Open();
    EXPECT_EQ(scrolls, 1);
    EXPECT_EQ(query.State(), TDataSetState::dsBrowse);
    EXPECT_EQ(query.FieldCount(), 3);
    EXPECT_EQ(query.RecordCount(), 3);
    EXPECT_EQ(query.RecNo(), 1);
    EXPECT_EQ(query.FieldAt(0).DataType(), TFieldType::ftAutoInc);
    EXPECT_EQ(query.FieldAt(2).DataType(), TFieldType::ftBlob);
    EXPECT_EQ(query.FieldByName("Index_No").Value(), TFieldValue(std::int64_t{1}));
    EXPECT_EQ(query.FieldByName("English").Value(), TFieldValue(std::string("one")));
    EXPECT_EQ(query.FindField("Native"), nullptr);
    EXPECT_THROW(query.FieldByName("Native"), EDatabaseError);
    query.Next();
    EXPECT_EQ(query.RecNo(), 2);
    EXPECT_TRUE(query.FieldByName("English").IsNull());
    EXPECT_EQ(query.FieldByName("English").AsString(), "");
    query.Next();
    query.Next();
    EXPECT_TRUE(query.Eof());
    EXPECT_EQ(query.FieldByName("Component_Name").AsString(), "C");
}

TEST_F(QueryHandle, IsReadOnly) {
    TQuery query;
    query.AddSQL("select * from \"" + path_ + "\"");
    query.Open();
    EXPECT_FALSE(query.CanModify());
    EXPECT_FALSE(query.FieldByName("English").CanModify());
    EXPECT_THROW(query.Edit(), EDatabaseError);
    EXPECT_THROW(query.Append(), EDatabaseError);
    EXPECT_THROW(query.Delete(), EDatabaseError);
    EXPECT_THROW(query.FieldByName("English").SetAsString("x"), EDatabaseError);
    EXPECT_EQ(query.FieldByName("English").AsString(), "one");
}

TEST_F(QueryHandle, AnEmptyResultIsAtItsEnd) {
    TQuery query;
    query.AddSQL("select * from \"" + path_ + "\" where Form_Name = \"none\"");
    query.Open();
    EXPECT_TRUE(query.Active());
    EXPECT_TRUE(query.Eof());
    EXPECT_EQ(query.RecordCount(), 0);
    EXPECT_EQ(query.FieldCount(), 6);
}

TEST_F(QueryHandle, CloseFreesAndOpenAgainReadsTheFileAnew) {
    TQuery query;
    query.AddSQL("select Component_Name from \"" + path_ + "\" where Form_Name = \"F\"");
    query.Open();
    EXPECT_EQ(query.RecordCount(), 2);
    testing::QueryTableFolder::AppendRows(path_, {{"F", "D", "Caption"}});
    EXPECT_EQ(query.RecordCount(), 2); // an open result is a copy
    query.Close();
    EXPECT_FALSE(query.Active());
    EXPECT_EQ(query.FieldCount(), 0);
    EXPECT_THROW(query.First(), EDatabaseError);
    query.Open();
    EXPECT_EQ(ReadAll(query), (Rows{{"A"}, {"B"}, {"D"}}));
}

TEST_F(QueryHandle, ChangingTheStatementClosesTheQuery) {
    TQuery query;
    query.AddSQL("select * from \"" + path_ + "\"");
    query.Open();
    query.ClearSQL();
    EXPECT_FALSE(query.Active());
    query.AddSQL("select Native from \"lang\"");
    query.SetDatabaseName(std::filesystem::path(path_).parent_path().string());
    query.Open();
    EXPECT_EQ(ReadAll(query), (Rows{{"eins"}, {"zwei"}, {"drei"}}));
}

TEST_F(QueryHandle, HoldsNoLockOnTheTable) {
    TQuery query;
    query.AddSQL("select * from \"" + path_ + "\"");
    query.Open();
    TTable exclusive;
    exclusive.SetTableName(path_);
    exclusive.SetExclusive(true);
    EXPECT_NO_THROW(exclusive.Open());
    exclusive.Close();
    EXPECT_EQ(query.RecordCount(), 3);
}

struct FailureCase {
    std::string statement; // $T stands for the table's path
    std::string message;   // a part of the message
};

TEST_F(QueryHandle, FailuresLeaveTheQueryClosed) {
    const std::string broken = PathOf("broken.db");
    {
        std::ofstream out(broken, std::ios::binary);
        out << std::string(3000, '\x5A');
    }
    const FailureCase cases[] = {
        {"select Turkish from \"$T\"", "Field 'Turkish' not found"},
        {"select * from \"$T\" where Turkish like \"x\"", "Field 'Turkish' not found"},
        {"select * from \"$T\" order by Form_Name, Turkish", "Field 'Turkish' not found"},
        {"select * from \"$T\" where Form_Name like F", "Field 'F' not found"},
        {"select * from \"$T\" where Form_Name like", "SQL syntax error at line 1, column"},
        {"select * form \"$T\"", "expected 'from', found 'form'"},
        {"select * from \"" + PathOf("missing.db") + "\"", "missing.db"},
        {"select * from \"" + broken + "\"", "broken.db"},
    };
    for (const FailureCase& c : cases) {
        std::string statement = c.statement;
        if (const auto at = statement.find("$T"); at != std::string::npos) {
            statement.replace(at, 2, path_);
        }
        TQuery query;
        query.AddSQL(statement);
        try {
            query.Open();
            ADD_FAILURE() << "accepted: " << statement;
        } catch (const EDatabaseError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
                << statement << "\n  gave: " << e.what();
        }
        EXPECT_FALSE(query.Active()) << statement;
        EXPECT_EQ(query.FieldCount(), 0) << statement;
    }
}

TEST_F(QueryHandle, AMissingTableFailsAsOpeningItWould) {
    const std::string missing = PathOf("missing.db");
    std::string tableMessage;
    try {
        TTable table;
        table.SetTableName(missing);
        table.Open();
    } catch (const EDatabaseError& e) {
        tableMessage = e.what();
    }
    ASSERT_FALSE(tableMessage.empty());
    TQuery query;
    query.AddSQL("select * from \"" + missing + "\"");
    try {
        query.Open();
        ADD_FAILURE() << "opened a missing table";
    } catch (const EDatabaseError& e) {
        EXPECT_EQ(e.what(), tableMessage);
    }
}

} // namespace
} // namespace kelvara

namespace kelvara {
namespace {

// A query over a whole table must read what a table handle reads from the same file: the same
// columns with the same types, the same records in the same order, every value equal. Over every
// real table of the corpus, each kind of column included; a file the table handle cannot open
// fails the query with the same message.
TEST(QueryOverCorpus, ReadsWhatATableHandleReads) {
    const std::filesystem::path folder = std::filesystem::path(KELVARA_CORPUS_DIR) / "paradox";
    if (!std::filesystem::is_directory(folder)) {
        GTEST_SKIP() << "corpus not found at " << folder;
    }
    int tables = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string ext = AsciiLowerCase(entry.path().extension().string());
        if (ext != ".db") {
            continue;
        }
        const std::string path = entry.path().string();
        SCOPED_TRACE(path);
        TTable table;
        table.SetTableName(path);
        table.SetReadOnly(true);
        TQuery query;
        query.AddSQL("select * from \"" + path + "\"");
        try {
            table.Open();
        } catch (const EDatabaseError& e) {
            try {
                query.Open();
                ADD_FAILURE() << "the query opened a table the handle cannot: " << e.what();
            } catch (const EDatabaseError& q) {
                EXPECT_STREQ(q.what(), e.what());
            }
            continue;
        }
        query.Open();
        ++tables;
        ASSERT_EQ(query.FieldCount(), table.FieldCount());
        for (int f = 0; f < table.FieldCount(); ++f) {
            EXPECT_EQ(query.FieldAt(f).FieldName(), table.FieldAt(f).FieldName());
            EXPECT_EQ(query.FieldAt(f).DataType(), table.FieldAt(f).DataType());
            EXPECT_EQ(query.FieldAt(f).Size(), table.FieldAt(f).Size());
        }
        ASSERT_EQ(query.RecordCount(), table.RecordCount());
        for (int row = 0; row < table.RecordCount(); ++row) {
            for (int f = 0; f < table.FieldCount(); ++f) {
                ASSERT_EQ(query.ValueAt(row, f), table.ValueAt(row, f))
                    << "row " << row << ", field " << table.FieldAt(f).FieldName();
                ASSERT_EQ(query.TextAt(row, f), table.TextAt(row, f));
            }
        }
    }
    EXPECT_GT(tables, 10);
}

} // namespace
} // namespace kelvara

#include "engine/paradox_table.h"
#include "engine/sql_evaluator.h"
#include "query_fixture.h"

#include <gtest/gtest.h>
#include <string>

namespace kelvara {
namespace {

class SqlSources : public testing::QueryTableFolder {};

TEST_F(SqlSources, AnUnchangedFileIsReadOnce) {
    const std::string path = MakeTable("a.db", {"English"}, {{"F", "A", "Caption"}});
    SqlSourceCache cache;
    const std::string statement = "select * from \"" + path + "\" where Form_Name like \"F\"";
    const SqlResult first = RunSql(statement, "", cache);
    const SqlResult second = RunSql(statement, "", cache);
    EXPECT_EQ(cache.Loads(), 1u);
    EXPECT_EQ(first.source, second.source);
    EXPECT_EQ(second.rows.size(), 1u);
}

TEST_F(SqlSources, AChangedFileIsReadAgainAndOldResultsStayValid) {
    const std::string path = MakeTable("a.db", {"English"}, {{"F", "A", "Caption"}});
    SqlSourceCache cache;
    const std::string statement = "select Component_Name from \"" + path + "\"";
    const SqlResult before = RunSql(statement, "", cache);
    testing::QueryTableFolder::AppendRows(path, {{"F", "B", "Caption"}});
    const SqlResult after = RunSql(statement, "", cache);
    EXPECT_EQ(cache.Loads(), 2u);
    EXPECT_EQ(before.rows.size(), 1u);
    EXPECT_EQ(before.source->Text(before.fields[0], before.rows[0]), "A");
    ASSERT_EQ(after.rows.size(), 2u);
    EXPECT_EQ(after.source->Text(after.fields[0], after.rows[1]), "B");
}

// File times may be too coarse to tell two writes apart; the header's counters still do.
TEST_F(SqlSources, AnEditThatKeepsEverySizeAndTimeIsSeen) {
    const std::string path = MakeTable("a.db", {}, {{"F", "A", "Caption"}});
    SqlSourceCache cache;
    const std::string statement = "select Component_Name from \"" + path + "\"";
    RunSql(statement, "", cache);
    std::vector<std::pair<std::filesystem::path, std::filesystem::file_time_type>> times;
    for (const auto& entry : std::filesystem::directory_iterator(PathOf(""))) {
        times.emplace_back(entry.path(), std::filesystem::last_write_time(entry.path()));
    }
    {
        const auto table = paradox::ParadoxTable::Open(path);
        paradox::Transaction transaction(*table);
        paradox::RecordBuffer record = table->EditRecord(0);
        record.Set(2, paradox::FieldValue::FromBytes("Z"));
        transaction.Update(0, std::move(record));
        transaction.Commit();
    }
    for (const auto& [file, time] : times) {
        if (std::filesystem::exists(file)) {
            std::filesystem::last_write_time(file, time);
        }
    }
    const SqlResult after = RunSql(statement, "", cache);
    EXPECT_EQ(cache.Loads(), 2u);
    EXPECT_EQ(after.source->Text(after.fields[0], after.rows[0]), "Z");
}

TEST_F(SqlSources, KeepsOnlyTheMostRecentTables) {
    SqlSourceCache cache;
    std::vector<std::string> paths;
    for (std::size_t i = 0; i <= SqlSourceCache::kCapacity; ++i) {
        paths.push_back(MakeTable("t" + std::to_string(i) + ".db", {}, {{"F", "A", "Caption"}}));
        RunSql("select * from \"" + paths.back() + "\"", "", cache);
    }
    EXPECT_EQ(cache.Loads(), SqlSourceCache::kCapacity + 1);
    RunSql("select * from \"" + paths.back() + "\"", "", cache);
    EXPECT_EQ(cache.Loads(), SqlSourceCache::kCapacity + 1);
    RunSql("select * from \"" + paths.front() + "\"", "", cache);
    EXPECT_EQ(cache.Loads(), SqlSourceCache::kCapacity + 2);
}

TEST_F(SqlSources, KeepsOnlyTheNewestTableBeyondTheMemoryBudget) {
    const std::string a = MakeTable("a.db", {}, {{"F", "A", "Caption"}});
    const std::string b = MakeTable("b.db", {}, {{"F", "A", "Caption"}});
    SqlSourceCache cache(SqlSourceCache::kCapacity, 1);
    RunSql("select * from \"" + a + "\"", "", cache);
    RunSql("select * from \"" + a + "\"", "", cache);
    EXPECT_EQ(cache.Loads(), 1u);
    RunSql("select * from \"" + b + "\"", "", cache);
    RunSql("select * from \"" + a + "\"", "", cache);
    EXPECT_EQ(cache.Loads(), 3u);
}

TEST(SqlTablePath, ResolvesAgainstTheDatabaseFolder) {
    const std::pair<std::pair<const char*, const char*>, std::filesystem::path> cases[] = {
        {{"/data/lang.db", ""}, "/data/lang.db"},
        {{"/data/lang.db", "/elsewhere"}, "/data/lang.db"},
        {{"lang.db", "/data"}, "/data/lang.db"},
        {{"sub/../lang", "/data"}, "/data/sub/../lang.db"},
        {{"lang.DB", ""}, "lang.DB"},
        {{"/data/v1.2/lang", ""}, "/data/v1.2/lang.db"},
        {{"/data/lang.v2", ""}, "/data/lang.v2"}, // an extension is kept as given
    };
    for (const auto& [given, expected] : cases) {
        EXPECT_EQ(ResolveSqlTablePath(given.first, given.second), expected) << given.first;
    }
}

TEST_F(SqlSources, OneFileNamedTwoWaysIsReadOnce) {
    const std::string path = MakeTable("a.db", {}, {{"F", "A", "Caption"}});
    const std::filesystem::path file(path);
    SqlSourceCache cache;
    RunSql("select * from \"" + path + "\"", "", cache);
    RunSql("select * from \"" + (file.parent_path() / "." / "a").string() + "\"", "", cache);
    RunSql("select * from \"a\"", file.parent_path().string(), cache);
    EXPECT_EQ(cache.Loads(), 1u);
}

} // namespace
} // namespace kelvara

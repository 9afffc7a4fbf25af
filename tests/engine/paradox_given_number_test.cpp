// New records that carry their autoincrement number (a faithful copy of another table): the number
// is stored as given, the counter rises past the highest one and never falls, and a number that
// is taken already refuses the whole commit.
#include "engine/paradox_table.h"
#include "paradox_test_support.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace kelvara::paradox {
namespace {

using test::ReadBytes;
using test::ScratchFolder;

// One record to append: a given number or none (the table numbers it), and its form name.
struct NewRow {
    std::optional<std::int64_t> number;
    std::string form;
};

CommitResult AppendRows(ParadoxTable& table, const std::vector<NewRow>& rows) {
    Transaction batch(table);
    for (const NewRow& row : rows) {
        RecordBuffer record = table.NewRecord();
        if (row.number) {
            record.SetAutoIncrement(0, *row.number);
        }
        record.Set(1, FieldValue::FromBytes(row.form));
        batch.Append(std::move(record));
    }
    return batch.Commit();
}

// Index_No and Form_Name of every record, in table order.
std::vector<std::pair<std::int64_t, std::string>> Rows(const ParadoxTable& table) {
    std::vector<std::pair<std::int64_t, std::string>> rows;
    for (std::uint32_t i = 0; i < table.RecordCount(); ++i) {
        rows.emplace_back(table.Read(i, 0).Integer(), table.Read(i, 1).Bytes());
    }
    return rows;
}

TableSchema UnkeyedSchema() {
    TableSchema schema = test::LanguageSchema(1);
    schema.indexes.clear();
    return schema;
}

TEST(ParadoxGivenNumber, StoredAsGivenAndTheCounterContinuesPastTheHighest) {
    struct Case {
        const char* name;
        TableSchema schema;
        std::vector<std::pair<std::int64_t, std::string>> expected;
    };
    // The same appends on a table keyed by Index_No (records in number order) and on an unkeyed
    // one (records in the order they were appended).
    const std::vector<Case> cases = {
        {"keyed",
         test::LanguageSchema(1),
         {{2, "low"}, {3, "A"}, {7, "B"}, {20, "C"}, {21, "D"}, {25, "F"}, {30, "E"}, {31, "G"}}},
        {"unkeyed",
         UnkeyedSchema(),
         {{7, "B"}, {3, "A"}, {20, "C"}, {21, "D"}, {30, "E"}, {31, "G"}, {25, "F"}, {2, "low"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        const auto path = folder / (std::string(c.name) + ".db");
        ParadoxTable::Create(path, c.schema);
        {
            auto table = ParadoxTable::Open(path);
            const CommitResult gaps = AppendRows(*table, {{7, "B"}, {3, "A"}, {20, "C"}});
            EXPECT_EQ(gaps.appendedAutoInc, (std::vector<std::int64_t>{7, 3, 20}));
            EXPECT_EQ(table->AutoIncrement(), 20);
        }
        auto table = ParadoxTable::Open(path);
        EXPECT_EQ(table->AutoIncrement(), 20) << "counter as stored in the file";
        EXPECT_EQ(AppendRows(*table, {{std::nullopt, "D"}}).appendedAutoInc,
                  (std::vector<std::int64_t>{21}));
        // Given and table numbers in one commit: the table's own numbers start above every number
        // given in the commit, wherever it stands in the batch.
        EXPECT_EQ(AppendRows(*table, {{30, "E"}, {std::nullopt, "G"}, {25, "F"}}).appendedAutoInc,
                  (std::vector<std::int64_t>{30, 31, 25}));
        EXPECT_EQ(table->AutoIncrement(), 31);
        // A number below the counter is stored; the counter does not fall.
        AppendRows(*table, {{2, "low"}});
        EXPECT_EQ(table->AutoIncrement(), 31);
        table.reset();
        table = ParadoxTable::Open(path);
        EXPECT_EQ(Rows(*table), c.expected);
        EXPECT_EQ(table->AutoIncrement(), 31);
        EXPECT_TRUE(table->Warnings().empty());
        if (!c.schema.indexes.empty()) {
            const auto faults =
                test::CheckIndexFiles(path, folder / (std::string(c.name) + ".px"), 4);
            EXPECT_TRUE(faults.empty()) << faults.front();
        }
    }
}

TEST(ParadoxGivenNumber, ANumberTakenAlreadyRefusesTheCommitAndChangesNothing) {
    ScratchFolder folder;
    const auto path = folder / "taken.db";
    ParadoxTable::Create(path, test::LanguageSchema(1));
    auto table = ParadoxTable::Open(path);
    AppendRows(*table, {{3, "A"}, {7, "B"}});
    const auto db = ReadBytes(path);
    const auto px = ReadBytes(folder / "taken.px");
    // Taken by a stored record, and taken by another record of the same batch.
    const std::vector<std::vector<NewRow>> batches = {
        {{40, "new"}, {7, "again"}},
        {{12, "one"}, {12, "two"}},
    };
    for (const auto& rows : batches) {
        Transaction batch(*table);
        for (const NewRow& row : rows) {
            RecordBuffer record = table->NewRecord();
            record.SetAutoIncrement(0, *row.number);
            record.Set(1, FieldValue::FromBytes(row.form));
            batch.Append(std::move(record));
        }
        EXPECT_THROW(batch.Commit(), EParadoxError) << rows.back().number.value();
        EXPECT_FALSE(batch.Empty());
        EXPECT_EQ(ReadBytes(path), db);
        EXPECT_EQ(ReadBytes(folder / "taken.px"), px);
        EXPECT_EQ(table->AutoIncrement(), 7);
        EXPECT_EQ(Rows(*table),
                  (std::vector<std::pair<std::int64_t, std::string>>{{3, "A"}, {7, "B"}}));
    }
    // The table still numbers on from its own counter.
    EXPECT_EQ(AppendRows(*table, {{std::nullopt, "C"}}).appendedAutoInc,
              (std::vector<std::int64_t>{8}));
}

TEST(ParadoxGivenNumber, OnlyANewRecordsAutoincrementFieldTakesANumberInRange) {
    ScratchFolder folder;
    const auto path = folder / "refused.db";
    ParadoxTable::Create(path, test::LanguageSchema(1));
    auto table = ParadoxTable::Open(path);
    AppendRows(*table, {{std::nullopt, "A"}});

    struct Case {
        const char* name;
        bool newRecord;
        int field;
        std::int64_t value;
        bool notWritable; // EFieldNotWritable rather than another EParadoxError
    };
    const Case cases[] = {
        {"zero", true, 0, 0, false},
        {"negative", true, 0, -5, false},
        {"above 32 bits", true, 0, 2147483648LL, false},
        {"not an autoincrement field", true, 1, 4, true},
        {"no such field", true, 99, 4, false},
        {"a stored record", false, 0, 4, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordBuffer record = c.newRecord ? table->NewRecord() : table->EditRecord(0);
        if (c.notWritable) {
            EXPECT_THROW(record.SetAutoIncrement(c.field, c.value), EFieldNotWritable);
        } else {
            EXPECT_THROW(record.SetAutoIncrement(c.field, c.value), EParadoxError);
        }
    }
    RecordBuffer largest = table->NewRecord();
    largest.SetAutoIncrement(0, 2147483647);
    EXPECT_EQ(largest.Get(0).Integer(), 2147483647);
    EXPECT_TRUE(largest.IsSet(0));
    // The number cannot reach a stored record through an update either.
    Transaction batch(*table);
    EXPECT_THROW(batch.Update(0, std::move(largest)), EFieldNotWritable);
    // Set still refuses the field: callers number records only through the dedicated call.
    RecordBuffer plain = table->NewRecord();
    EXPECT_THROW(plain.Set(0, FieldValue::FromInteger(4)), EFieldNotWritable);
}

} // namespace
} // namespace kelvara::paradox

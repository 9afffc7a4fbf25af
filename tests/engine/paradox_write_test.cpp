// Creating tables and committing changes: values of every writable type, BLOB placement and space,
// autoincrement, key order and the primary index, bytes that a change did not touch.
#include "engine/paradox_table.h"
#include "paradox_test_support.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <unistd.h>

namespace kelvara::paradox {
namespace {

using test::ReadBytes;
using test::ScratchFolder;
using test::Text;

std::unique_ptr<ParadoxTable> OpenWritable(const std::filesystem::path& path) {
    return ParadoxTable::Open(path, {});
}

void AppendLanguageRows(ParadoxTable& table, int count, std::size_t textLength) {
    Transaction batch(table);
    for (int i = 0; i < count; ++i) {
        RecordBuffer record = table.NewRecord();
        record.Set(1, FieldValue::FromBytes("Form" + std::to_string(i / 10)));
        record.Set(2, FieldValue::FromBytes("Button" + std::to_string(i)));
        record.Set(3, FieldValue::FromBytes("Caption"));
        record.Set(4, FieldValue::FromBytes(Text(textLength, i)));
        batch.Append(std::move(record));
    }
    batch.Commit();
}

std::filesystem::path CopyCorpusTable(const ScratchFolder& folder, const std::string& relative) {
    const auto source = test::CorpusDir() / relative;
    const auto stem = source.stem().string();
    for (const auto& entry : std::filesystem::directory_iterator(source.parent_path())) {
        const auto name = entry.path().filename().string();
        if (entry.path().stem().string() == stem && name.find(".dump") == std::string::npos) {
            std::filesystem::copy_file(entry.path(), folder / name);
            std::filesystem::permissions(folder / name, std::filesystem::perms::owner_write,
                                         std::filesystem::perm_options::add);
        }
    }
    return folder / source.filename().string();
}

TEST(ParadoxCreate, NewLanguageTableHasTheSchemaAndNumbersFromOne) {
    ScratchFolder folder;
    const auto path = folder / "lang.db";
    ParadoxTable::Create(path, test::LanguageSchema(38));
    EXPECT_TRUE(std::filesystem::exists(folder / "lang.px"));
    EXPECT_FALSE(std::filesystem::exists(folder / "lang.mb"));
    EXPECT_EQ(std::filesystem::file_size(path) % 0x800, 0u);

    auto table = OpenWritable(path);
    const TableInfo& info = table->Info();
    ASSERT_EQ(info.fields.size(), 43u);
    EXPECT_EQ(info.fields[0].def, (FieldDef{"Index_No", FieldType::AutoInc, 0}));
    EXPECT_EQ(info.fields[1].def, (FieldDef{"Form_Name", FieldType::Alpha, 60}));
    EXPECT_EQ(info.fields[4].def, (FieldDef{"Native", FieldType::Blob, 10}));
    EXPECT_EQ(info.fields[4].storedSize, 20);
    EXPECT_EQ(info.recordSize, 4 + 3 * 60 + 39 * 20);
    EXPECT_EQ(info.keyFieldCount, 1);
    EXPECT_EQ(info.fileVersion, 70);
    EXPECT_EQ(info.codePage, 1252);
    EXPECT_EQ(info.sortOrderName, "ascii");
    EXPECT_EQ(table->RecordCount(), 0u);
    EXPECT_TRUE(table->Warnings().empty());
    EXPECT_TRUE(test::CheckIndexFiles(path, folder / "lang.px", 4).empty());

    AppendLanguageRows(*table, 2, 5);
    EXPECT_EQ(table->Read(0, 0), FieldValue::FromInteger(1));
    EXPECT_EQ(table->Read(1, 0), FieldValue::FromInteger(2));
    table.reset(); // its last commit's journal is gone once the table is closed
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
        const auto ext = entry.path().extension().string();
        EXPECT_TRUE(ext == ".db" || ext == ".px") << entry.path();
    }
}

TEST(ParadoxCreate, InvalidSchemasAreRefusedNamingTheFault) {
    ScratchFolder folder;
    const struct {
        const char* what;
        std::vector<FieldDef> fields;
        const char* fault;
    } cases[] = {
        {"no fields", {}, "1 to 255 fields"},
        {"empty name", {{"", FieldType::Long, 0}}, "field name"},
        {"long name", {{std::string(26, 'n'), FieldType::Long, 0}}, "longer than 25"},
        {"duplicate name", {{"Name", FieldType::Long, 0}, {"NAME", FieldType::Short, 0}}, "twice"},
        {"alpha 0", {{"A", FieldType::Alpha, 0}}, "field 'A' of type alpha"},
        {"alpha 256", {{"A", FieldType::Alpha, 256}}, "size 256"},
        {"memo without leader", {{"M", FieldType::Memo, 0}}, "field 'M' of type memo"},
        {"leader too long", {{"B", FieldType::Blob, 241}}, "size 241"},
    };
    for (const auto& c : cases) {
        TableSchema schema;
        schema.fields = c.fields;
        try {
            ParadoxTable::Create(folder / "bad.db", schema);
            ADD_FAILURE() << c.what << " was accepted";
        } catch (const EParadoxError& error) {
            EXPECT_NE(std::string(error.what()).find(c.fault), std::string::npos)
                << c.what << ": " << error.what();
            EXPECT_NE(std::string(error.what()).find("bad.db"), std::string::npos);
        }
    }
    TableSchema keyed;
    keyed.fields = {{"A", FieldType::Long, 0}, {"B", FieldType::Long, 0}};
    IndexDef primary;
    primary.primary = true;
    primary.fields = {"B"};
    keyed.indexes = {primary};
    EXPECT_THROW(ParadoxTable::Create(folder / "bad.db", keyed), EParadoxError);
    EXPECT_FALSE(std::filesystem::exists(folder / "bad.db"));
}

TEST(ParadoxCreate, ReplacesTheTableAtThePath) {
    ScratchFolder folder;
    const auto path = folder / "t.db";
    ParadoxTable::Create(path, test::LanguageSchema(2));
    {
        auto table = OpenWritable(path);
        AppendLanguageRows(*table, 30, 300);
    }
    ASSERT_TRUE(std::filesystem::exists(folder / "t.mb"));
    TableSchema other;
    other.fields = {{"Name", FieldType::Alpha, 10}, {"Count", FieldType::Short, 0}};
    ParadoxTable::Create(path, other);
    EXPECT_FALSE(std::filesystem::exists(folder / "t.mb"));
    EXPECT_FALSE(std::filesystem::exists(folder / "t.px"));
    auto table = OpenWritable(path);
    EXPECT_EQ(table->RecordCount(), 0u);
    ASSERT_EQ(table->Info().fields.size(), 2u);
    EXPECT_EQ(table->Info().fields[0].def.name, "Name");
    EXPECT_EQ(table->Info().keyFieldCount, 0);
}

TEST(ParadoxWrite, EveryWritableTypeRoundTrips) {
    ScratchFolder folder;
    const auto path = folder / "types.db";
    TableSchema schema;
    schema.fields = {
        {"Alpha", FieldType::Alpha, 20},    {"Date", FieldType::Date, 0},
        {"Short", FieldType::Short, 0},     {"Long", FieldType::Long, 0},
        {"Money", FieldType::Currency, 0},  {"Number", FieldType::Number, 0},
        {"Flag", FieldType::Logical, 0},    {"Memo", FieldType::Memo, 5},
        {"Binary", FieldType::Blob, 0},     {"Formatted", FieldType::FormattedMemo, 3},
        {"Ole", FieldType::Ole, 2},         {"Time", FieldType::Time, 0},
        {"Stamp", FieldType::Timestamp, 0}, {"Bytes", FieldType::Bytes, 4},
    };
    ParadoxTable::Create(path, schema);
    using V = FieldValue;
    const std::vector<std::vector<V>> rows = {
        {V::FromBytes("plain"), V::FromDate(DayFromCivil(1970, 1, 1)), V::FromInteger(40),
         V::FromInteger(40), V::FromNumber(40), V::FromNumber(40), V::FromLogical(true),
         V::FromBytes("memo text longer than the leader"), V::FromBytes(std::string("\0\1\2", 3)),
         V::FromBytes("fm"), V::FromBytes(std::string(3000, 'o')), V::FromTime(1),
         V::FromTimestamp(DayFromCivil(1970, 1, 1) * 86400000.0 + 39600000),
         V::FromBytes("\1\2\3\4")},
        {V::FromBytes("\xc3\xa4 utf-8 \xe2\x82\xac"), V::FromDate(-5), V::FromInteger(-32767),
         V::FromInteger(-2147483647), V::FromNumber(-0.01), V::FromNumber(-1e300),
         V::FromLogical(false), V::FromBytes("x"), V::FromBytes("y"), V::FromBytes("\r\n"), V(),
         V::FromTime(86399999), V::FromTimestamp(0.5), V::FromBytes(std::string("\0\0\0\1", 4))},
        {V::FromBytes(std::string(20, 'z')), V::FromDate(1), V::FromInteger(0), V::FromInteger(0),
         V::FromNumber(0), V::FromNumber(0), V(), V(), V(), V(), V(), V::FromTime(0),
         V::FromTimestamp(1e15), V()},
        {V(), V(), V(), V(), V(), V(), V(), V(), V(), V(), V(), V(), V(), V()},
    };
    {
        auto table = OpenWritable(path);
        Transaction batch(*table);
        for (const auto& row : rows) {
            RecordBuffer record = table->NewRecord();
            for (std::size_t f = 0; f < row.size(); ++f) {
                record.Set(static_cast<int>(f), row[f]);
            }
            batch.Append(std::move(record));
        }
        batch.Commit();
    }
    auto table = ParadoxTable::Open(path, {false, true});
    ASSERT_EQ(table->RecordCount(), rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t f = 0; f < rows[r].size(); ++f) {
            EXPECT_EQ(table->Read(static_cast<std::uint32_t>(r), static_cast<int>(f)), rows[r][f])
                << "row " << r << " field " << schema.fields[f].name << ": "
                << table->Read(static_cast<std::uint32_t>(r), static_cast<int>(f)).DisplayText();
        }
    }
    // Zero is a value, not null: numbers flip the sign bit so that all-zero bytes stay free.
    EXPECT_FALSE(table->Record(2).IsNull(2));
    EXPECT_FALSE(table->Record(2).IsNull(5));
    EXPECT_TRUE(table->Record(3).IsNull(5));
    EXPECT_EQ(table->Record(2).Text(0), std::string(20, 'z'));
    EXPECT_EQ(DisplayText(FieldType::Currency, table->Read(1, 4)), "-0.01");
    EXPECT_EQ(table->Read(0, 1).DisplayText(), "1970-01-01");
    EXPECT_EQ(table->Read(0, 12).DisplayText(), "1970-01-01 11:00:00");
    EXPECT_EQ(table->Read(1, 11).DisplayText(), "23:59:59.999");
    EXPECT_EQ(table->Read(0, 6).DisplayText(), "True");
    EXPECT_EQ(table->Read(1, 5).DisplayText(), "-1e+300");
}

TEST(ParadoxWrite, ValuesThatDoNotFitAreRefusedNamingTheField) {
    ScratchFolder folder;
    const auto path = folder / "t.db";
    TableSchema schema;
    schema.fields = {{"Id", FieldType::AutoInc, 0},  {"Picture", FieldType::Graphic, 10},
                     {"Amount", FieldType::Bcd, 2},  {"Small", FieldType::Short, 0},
                     {"Name", FieldType::Alpha, 5},  {"When", FieldType::Time, 0},
                     {"Ratio", FieldType::Number, 0}};
    ParadoxTable::Create(path, schema);
    auto table = OpenWritable(path);
    RecordBuffer record = table->NewRecord();
    const struct {
        int field;
        FieldValue value;
        const char* message;
        bool notWritable;
    } cases[] = {
        {0, FieldValue::FromInteger(5), "field 'Id' of type autoincrement", true},
        {1, FieldValue::FromBytes("BM"), "field 'Picture' of type graphic cannot be written", true},
        {2, FieldValue::FromDecimal("1.50"), "field 'Amount' of type BCD cannot be written", true},
        {3, FieldValue::FromInteger(32768), "field 'Small' of type short", false},
        {3, FieldValue::FromBytes("12"), "field 'Small' of type short", false},
        {5, FieldValue::FromTime(86400000), "field 'When' of type time", false},
        {6, FieldValue::FromNumber(std::nan("")), "field 'Ratio' of type number", false},
    };
    for (const auto& c : cases) {
        try {
            record.Set(c.field, c.value);
            ADD_FAILURE() << c.message << " accepted";
        } catch (const EFieldNotWritable& error) {
            EXPECT_TRUE(c.notWritable) << error.what();
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        } catch (const EParadoxError& error) {
            EXPECT_FALSE(c.notWritable) << error.what();
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
    }
    // A refused value leaves the field as it was; a long text is cut to the field.
    record.Set(3, FieldValue::FromInteger(7));
    EXPECT_THROW(record.Set(3, FieldValue::FromInteger(99999)), EParadoxError);
    EXPECT_EQ(record.Get(3), FieldValue::FromInteger(7));
    record.Set(4, FieldValue::FromBytes("abcdefgh"));
    EXPECT_EQ(record.Get(4), FieldValue::FromBytes("abcde"));
}

// Descriptor of a BLOB field straight from the record bytes.
struct Descriptor {
    std::uint32_t location, length;
};
Descriptor DescriptorOf(const RecordView& record, const FieldInfo& field) {
    const std::uint8_t* p = record.Bytes().data() + field.offset + field.storedSize - 10;
    Descriptor d{};
    std::memcpy(&d.location, p, 4);
    std::memcpy(&d.length, p + 4, 4);
    return d;
}

TEST(ParadoxBlob, ValuesLiveInTheLeaderOrTheBlobFileByLength) {
    ScratchFolder folder;
    const auto path = folder / "blobs.db";
    TableSchema schema;
    schema.fields = {{"Id", FieldType::Long, 0},
                     {"Leader10", FieldType::Blob, 10},
                     {"NoLeader", FieldType::Blob, 0}};
    ParadoxTable::Create(path, schema);
    const std::size_t lengths[] = {
        0, 1, 9, 10, 11, 100, 2047, 2048, 2049, 4087, 4088, 70000, 5 * 1024 * 1024};
    {
        auto table = OpenWritable(path);
        Transaction batch(*table);
        for (std::size_t i = 0; i < std::size(lengths); ++i) {
            RecordBuffer record = table->NewRecord();
            record.Set(0, FieldValue::FromInteger(static_cast<std::int64_t>(i)));
            record.Set(1, FieldValue::FromBytes(Text(lengths[i], static_cast<unsigned>(i))));
            record.Set(2, FieldValue::FromBytes(Text(lengths[i], static_cast<unsigned>(i) + 100)));
            batch.Append(std::move(record));
        }
        batch.Commit();
    }
    const auto mb = ReadBytes(folder / "blobs.mb");
    EXPECT_EQ(mb.size() % 4096, 0u);
    auto table = ParadoxTable::Open(path, {false, true});
    const auto& fields = table->Info().fields;
    for (std::uint32_t i = 0; i < table->RecordCount(); ++i) {
        const RecordView record = table->Record(i);
        const std::size_t length = lengths[record.Value(0).Integer()];
        SCOPED_TRACE("length " + std::to_string(length));
        const std::string value = Text(length, static_cast<unsigned>(record.Value(0).Integer()));
        EXPECT_EQ(record.Value(1), length == 0 ? FieldValue() : FieldValue::FromBytes(value));
        const Descriptor d = DescriptorOf(record, fields[1]);
        EXPECT_EQ(d.length, length);
        EXPECT_EQ(d.location == 0, length <= 10);
        const auto leader = record.Bytes().subspan(fields[1].offset, 10);
        EXPECT_EQ(std::string(leader.begin(), leader.begin() + std::min<std::size_t>(length, 10)),
                  value.substr(0, 10));
        if (length > 10) {
            // Values over 2 KiB get blocks of their own, marked 0xFF; shorter ones a slot.
            EXPECT_EQ((d.location & 0xFF) == 0xFF, length > 2048);
            const std::uint32_t block = d.location & ~0xFFu;
            ASSERT_LT(block, mb.size());
            EXPECT_EQ(mb[block], length > 2048 ? 2 : 3);
            if (length > 2048) {
                EXPECT_EQ(test::U16(mb, block + 1), (9 + length + 4095) / 4096);
            }
        }
        const Descriptor none = DescriptorOf(record, fields[2]);
        EXPECT_EQ(none.location == 0, length == 0);
        EXPECT_EQ(record.Value(2).Bytes(),
                  Text(length, static_cast<unsigned>(record.Value(0).Integer()) + 100));
    }
}

// Freed values are known free only to the handle that freed them; a new handle learns it again
// from what the records point to. Either way the file stays bounded.
TEST(ParadoxBlob, ChangedAndDeletedValuesDoNotGrowTheBlobFile) {
    for (const bool newHandleEachRound : {false, true}) {
        SCOPED_TRACE(newHandleEachRound ? "a new handle each round" : "one handle");
        ScratchFolder folder;
        const auto path = folder / "space.db";
        ParadoxTable::Create(path, test::LanguageSchema(1));
        auto table = OpenWritable(path);
        AppendLanguageRows(*table, 200, 1500);
        const auto mbPath = folder / "space.mb";
        const auto initial = std::filesystem::file_size(mbPath);
        std::uintmax_t largest = initial;
        for (unsigned round = 0; round < 12; ++round) {
            if (newHandleEachRound) {
                table.reset();
                table = OpenWritable(path);
            }
            Transaction batch(*table);
            for (std::uint32_t i = 0; i < table->RecordCount(); ++i) {
                RecordBuffer record = table->EditRecord(i);
                record.Set(
                    4, FieldValue::FromBytes(Text(50 + (i * 37 + round * 101) % 3000, i + round)));
                record.Set(5, FieldValue::FromBytes(Text((i * 13 + round) % 2100, i * 3 + round)));
                batch.Update(i, std::move(record));
            }
            batch.Commit();
            largest = std::max(largest, std::filesystem::file_size(mbPath));
            EXPECT_EQ(std::filesystem::file_size(mbPath) % 4096, 0u);
        }
        EXPECT_LT(largest, initial * 3) << "initial " << initial << ", largest " << largest;
        const auto reader = ParadoxTable::Open(path, {false, true});
        for (std::uint32_t i = 0; i < reader->RecordCount(); ++i) {
            EXPECT_EQ(reader->Read(i, 4).Bytes(), Text(50 + (i * 37 + 11 * 101) % 3000, i + 11));
            EXPECT_EQ(reader->Read(i, 5).Bytes(), Text((i * 13 + 11) % 2100, i * 3 + 11));
        }
        if (newHandleEachRound) {
            table.reset();
            table = OpenWritable(path);
        }
        Transaction clear(*table);
        for (std::uint32_t i = 0; i < table->RecordCount(); ++i) {
            clear.Delete(i);
        }
        clear.Commit();
        EXPECT_EQ(std::filesystem::file_size(mbPath), 4096u);
        EXPECT_EQ(table->RecordCount(), 0u);
    }
}

TEST(ParadoxWrite, AutoIncrementRisesAndIsNeverReused) {
    ScratchFolder folder;
    const auto path = folder / "auto.db";
    ParadoxTable::Create(path, test::LanguageSchema(1));
    {
        auto table = OpenWritable(path);
        AppendLanguageRows(*table, 5, 3);
        Transaction batch(*table);
        batch.Delete(4);
        batch.Delete(3);
        batch.Commit();
        EXPECT_EQ(table->AutoIncrement(), 5);
    }
    auto table = OpenWritable(path);
    EXPECT_EQ(table->AutoIncrement(), 5);
    Transaction batch(*table);
    batch.Append(table->NewRecord());
    batch.Append(table->NewRecord());
    const CommitResult result = batch.Commit();
    EXPECT_EQ(result.appendedAutoInc, (std::vector<std::int64_t>{6, 7}));
    EXPECT_EQ(result.appendedIndexes, (std::vector<std::uint32_t>{3, 4}));
    std::vector<std::int64_t> numbers;
    for (std::uint32_t i = 0; i < table->RecordCount(); ++i) {
        numbers.push_back(table->Read(i, 0).Integer());
    }
    EXPECT_EQ(numbers, (std::vector<std::int64_t>{1, 2, 3, 6, 7}));
}

TEST(ParadoxWrite, KeyOrderAndPrimaryIndexHoldAfterEveryChange) {
    ScratchFolder folder;
    const auto path = folder / "keyed.db";
    const TableSchema schema = test::KeyedSchema({{"Key", FieldType::Long, 0},
                                                  {"Name", FieldType::Alpha, 100},
                                                  {"Note", FieldType::Memo, 8}});
    ParadoxTable::Create(path, schema);
    auto table = OpenWritable(path);
    std::minstd_rand random(7);
    std::set<std::int64_t> keys;
    for (int round = 0; round < 8; ++round) {
        Transaction batch(*table);
        // Inserts in random key order, some deletions, some keys changed.
        std::set<std::int64_t> added;
        for (int i = 0; i < 900; ++i) {
            const std::int64_t key = static_cast<std::int64_t>(random() % 1000000) - 500000;
            if (keys.count(key) || added.count(key)) {
                continue;
            }
            added.insert(key);
            RecordBuffer record = table->NewRecord();
            record.Set(0, FieldValue::FromInteger(key));
            record.Set(1, FieldValue::FromBytes("n" + std::to_string(key)));
            record.Set(2,
                       FieldValue::FromBytes(Text(static_cast<std::size_t>(std::abs(key) % 50 + 20),
                                                  static_cast<unsigned>(key))));
            batch.Append(std::move(record));
        }
        std::set<std::int64_t> removed;
        for (std::uint32_t i = round; i < table->RecordCount(); i += 17) {
            removed.insert(table->Read(i, 0).Integer());
            batch.Delete(i);
        }
        for (std::uint32_t i = round + 5; i < table->RecordCount(); i += 61) {
            const std::int64_t key = table->Read(i, 0).Integer();
            if (removed.count(key)) {
                continue;
            }
            const std::int64_t moved = key + 1000000 + round;
            RecordBuffer record = table->EditRecord(i);
            record.Set(0, FieldValue::FromInteger(moved));
            record.Set(1, FieldValue::FromBytes("n" + std::to_string(moved)));
            batch.Update(i, std::move(record));
            removed.insert(key);
            added.insert(moved);
        }
        batch.Commit();
        for (const auto key : removed) {
            keys.erase(key);
        }
        keys.insert(added.begin(), added.end());

        ASSERT_EQ(table->RecordCount(), keys.size());
        std::vector<std::int64_t> stored;
        for (std::uint32_t i = 0; i < table->RecordCount(); ++i) {
            stored.push_back(table->Read(i, 0).Integer());
            EXPECT_EQ(table->Read(i, 1).Bytes(), "n" + std::to_string(stored.back()));
        }
        EXPECT_EQ(stored, std::vector<std::int64_t>(keys.begin(), keys.end()));
        const auto faults = test::CheckIndexFiles(path, folder / "keyed.px", 4);
        EXPECT_TRUE(faults.empty()) << faults.front();
        for (const auto key : {*keys.begin(), *keys.rbegin(), stored[stored.size() / 2]}) {
            const auto found = table->FindByKey({FieldValue::FromInteger(key)});
            ASSERT_TRUE(found.has_value());
            EXPECT_EQ(table->Read(*found, 0).Integer(), key);
        }
        EXPECT_FALSE(table->FindByKey({FieldValue::FromInteger(5000000)}).has_value());
    }
    EXPECT_GE(test::ReadBytes(folder / "keyed.px").at(0x20), 2) << "expected a two-level index";
}

// Edits of records whose block the batch otherwise leaves alone are written record by record;
// the same batch may reshape that block or its neighbours. Keys 0, 10, ..., 990; 20 records a
// block, so block b holds keys 200 b to 200 b + 190.
TEST(ParadoxWrite, EditsBesideDeletionsInsertionsAndRemovedBlocksAllLand) {
    struct Case {
        const char* name;
        std::vector<std::int64_t> edits, deletions, insertions;
    };
    std::vector<std::int64_t> wholeBlock;
    for (std::int64_t key = 400; key < 600; key += 10) {
        wholeBlock.push_back(key);
    }
    const std::vector<Case> cases = {
        {"edits only", {30, 250, 470, 990}, {}, {}},
        {"edits and deletions in one block", {210, 230, 380}, {220, 300}, {}},
        {"edits in a block that splits", {410, 450, 590}, {}, {401, 403, 405, 407, 409, 411, 413}},
        {"edits around a removed block", {390, 600, 610, 0}, wholeBlock, {}},
        {"edit of the last record with appends", {990}, {}, {991, 995, 2000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchFolder folder;
        const auto path = folder / "mixed.db";
        const TableSchema schema =
            test::KeyedSchema({{"Key", FieldType::Long, 0}, {"Name", FieldType::Alpha, 200}});
        ParadoxTable::Create(path, schema);
        std::map<std::int64_t, std::string> expected;
        auto table = OpenWritable(path);
        {
            Transaction batch(*table);
            for (std::int64_t key = 0; key < 1000; key += 10) {
                RecordBuffer record = table->NewRecord();
                record.Set(0, FieldValue::FromInteger(key));
                record.Set(1, FieldValue::FromBytes("name " + std::to_string(key)));
                batch.Append(std::move(record));
                expected[key] = "name " + std::to_string(key);
            }
            batch.Commit();
        }
        ASSERT_EQ(table->Info().blockSize, 4096u);
        const auto indexOf = [&](std::int64_t key) {
            return *table->FindByKey({FieldValue::FromInteger(key)});
        };
        Transaction batch(*table);
        for (const std::int64_t key : c.edits) {
            RecordBuffer record = table->EditRecord(indexOf(key));
            record.Set(1, FieldValue::FromBytes("edited " + std::to_string(key)));
            batch.Update(indexOf(key), std::move(record));
            expected[key] = "edited " + std::to_string(key);
        }
        for (const std::int64_t key : c.deletions) {
            batch.Delete(indexOf(key));
            expected.erase(key);
        }
        for (const std::int64_t key : c.insertions) {
            RecordBuffer record = table->NewRecord();
            record.Set(0, FieldValue::FromInteger(key));
            record.Set(1, FieldValue::FromBytes("new " + std::to_string(key)));
            batch.Append(std::move(record));
            expected[key] = "new " + std::to_string(key);
        }
        batch.Commit();

        const auto stored = [](const ParadoxTable& t) {
            std::map<std::int64_t, std::string> values;
            for (std::uint32_t i = 0; i < t.RecordCount(); ++i) {
                values[t.Read(i, 0).Integer()] = t.Read(i, 1).Bytes();
            }
            return values;
        };
        EXPECT_EQ(stored(*table), expected);
        table.reset();
        EXPECT_EQ(stored(*ParadoxTable::Open(path, {false, true})), expected);
        const auto faults = test::CheckIndexFiles(path, folder / "mixed.px", 4);
        EXPECT_TRUE(faults.empty()) << faults.front();
    }
}

// A translator's edit writes the page that takes the new value and the header page, nothing else:
// the old value's slot is left as it is until its page is written anyway. A block that is at
// least half free takes the next values, also for a new handle, which learns the free space from
// the records.
TEST(ParadoxBlob, AnEditWritesOnlyThePageTakingTheNewValue) {
    ScratchFolder folder;
    const auto path = folder / "near.db";
    ParadoxTable::Create(path, test::LanguageSchema(1));
    const auto setText = [&](std::uint32_t index, const std::string& text) {
        auto table = OpenWritable(path);
        Transaction batch(*table);
        RecordBuffer record = table->EditRecord(index);
        record.Set(4, FieldValue::FromBytes(text));
        batch.Update(index, std::move(record));
        batch.Commit();
    };
    {
        // 7 chunks of 16 bytes each: 33 values fill a block (4 chunks left); two blocks.
        auto table = OpenWritable(path);
        AppendLanguageRows(*table, 66, 100);
    }
    const auto mbPath = folder / "near.mb";
    const auto changedPages = [](const std::vector<std::uint8_t>& before,
                                 const std::vector<std::uint8_t>& after) {
        std::vector<std::size_t> changed;
        const std::size_t common = std::min(before.size(), after.size()) / 4096;
        for (std::size_t page = 0; page < std::max(before.size(), after.size()) / 4096; ++page) {
            if (page >= common ||
                !std::equal(before.begin() + page * 4096, before.begin() + (page + 1) * 4096,
                            after.begin() + page * 4096)) {
                changed.push_back(page);
            }
        }
        return changed;
    };
    const auto original = ReadBytes(mbPath);
    ASSERT_EQ(original.size(), 3u * 4096);
    const std::string first = Text(120, 2), second = Text(120, 3);
    setText(39, first); // no block has room for 8 chunks: a new one
    const auto once = ReadBytes(mbPath);
    EXPECT_EQ(changedPages(original, once), (std::vector<std::size_t>{0, 3}));
    setText(40, second); // the new block is nearly empty and takes it
    const auto twice = ReadBytes(mbPath);
    EXPECT_EQ(changedPages(once, twice), (std::vector<std::size_t>{0, 3}));
    const auto table = ParadoxTable::Open(path, {false, true});
    EXPECT_EQ(table->Read(39, 4).Bytes(), first);
    EXPECT_EQ(table->Read(40, 4).Bytes(), second);
    EXPECT_EQ(table->Read(38, 4).Bytes(), Text(100, 38));
}

TEST(ParadoxWrite, DuplicateKeyIsRefusedAndNothingChanges) {
    ScratchFolder folder;
    const auto path = folder / "dup.db";
    const TableSchema schema =
        test::KeyedSchema({{"Code", FieldType::Alpha, 8}, {"Text", FieldType::Memo, 1}});
    ParadoxTable::Create(path, schema);
    auto table = OpenWritable(path);
    {
        Transaction batch(*table);
        RecordBuffer record = table->NewRecord();
        record.Set(0, FieldValue::FromBytes("B"));
        batch.Append(std::move(record));
        batch.Commit();
    }
    const auto db = ReadBytes(path);
    Transaction batch(*table);
    RecordBuffer a = table->NewRecord();
    a.Set(0, FieldValue::FromBytes("A"));
    a.Set(1, FieldValue::FromBytes(Text(3000, 1)));
    batch.Append(std::move(a));
    RecordBuffer b = table->NewRecord();
    b.Set(0, FieldValue::FromBytes("B"));
    batch.Append(std::move(b));
    try {
        batch.Commit();
        ADD_FAILURE() << "duplicate accepted";
    } catch (const EParadoxError& error) {
        EXPECT_NE(std::string(error.what()).find("the key B exists"), std::string::npos)
            << error.what();
    }
    EXPECT_EQ(ReadBytes(path), db);
    EXPECT_FALSE(std::filesystem::exists(folder / "dup.mb"));
    EXPECT_EQ(table->RecordCount(), 1u);
    EXPECT_FALSE(batch.Empty());
}

TEST(ParadoxWrite, BytesAChangeDidNotTouchStayExactly) {
    if (!std::filesystem::exists(test::CorpusDir())) {
        GTEST_SKIP() << "corpus not found";
    }
    ScratchFolder folder;
    // A real table with memos in the record, in shared blocks and in a block of their own, and
    // one with BCD and bytes fields this writer does not write.
    for (const char* relative :
         {"leonhad_paradoxdriver/db/CUSTOMER.DB", "celebithil_Rparadox/TypSammlung.DB"}) {
        SCOPED_TRACE(relative);
        const auto path = CopyCorpusTable(folder, relative);
        auto table = OpenWritable(path);
        const TableInfo info = table->Info();
        std::vector<std::vector<std::uint8_t>> before;
        std::vector<std::vector<FieldValue>> values;
        for (std::uint32_t i = 0; i < table->RecordCount(); ++i) {
            const auto bytes = table->Record(i).Bytes();
            before.emplace_back(bytes.begin(), bytes.end());
            values.emplace_back();
            for (std::size_t f = 0; f < info.fields.size(); ++f) {
                values.back().push_back(table->Read(i, static_cast<int>(f)));
            }
        }
        // The first alpha or short field after the key changes in the second record.
        int alpha = -1;
        for (std::size_t f = info.keyFieldCount; f < info.fields.size(); ++f) {
            if (info.fields[f].def.type == FieldType::Alpha ||
                info.fields[f].def.type == FieldType::Short) {
                alpha = static_cast<int>(f);
                break;
            }
        }
        ASSERT_GE(alpha, 0);
        Transaction batch(*table);
        RecordBuffer record = table->EditRecord(1);
        const FieldValue changedValue = info.fields[alpha].def.type == FieldType::Alpha
                                            ? FieldValue::FromBytes("Changed")
                                            : FieldValue::FromInteger(-123);
        record.Set(alpha, changedValue);
        batch.Update(1, std::move(record));
        batch.Commit();

        table.reset();
        auto reread = ParadoxTable::Open(path, {false, true});
        ASSERT_EQ(reread->RecordCount(), before.size());
        for (std::uint32_t i = 0; i < reread->RecordCount(); ++i) {
            const auto bytes = reread->Record(i).Bytes();
            for (std::size_t f = 0; f < info.fields.size(); ++f) {
                const FieldInfo& field = info.fields[f];
                const bool changed = i == 1 && static_cast<int>(f) == alpha;
                const std::vector<std::uint8_t> now(
                    bytes.begin() + field.offset, bytes.begin() + field.offset + field.storedSize);
                const std::vector<std::uint8_t> then(before[i].begin() + field.offset,
                                                     before[i].begin() + field.offset +
                                                         field.storedSize);
                EXPECT_EQ(now == then, !changed) << "record " << i << " field " << field.def.name;
                if (!changed) {
                    EXPECT_EQ(reread->Read(i, static_cast<int>(f)), values[i][f]);
                }
            }
        }
        EXPECT_EQ(reread->Read(1, alpha), changedValue);
        EXPECT_EQ(reread->Info().codePage, info.codePage);
        EXPECT_EQ(reread->Info().sortOrderName, info.sortOrderName);
        EXPECT_EQ(reread->Info().fileVersionId, info.fileVersionId);
    }
}

// An edit that moves no record writes only the records in a file laid out as this writer leaves
// it; in any other file it puts the layout in order as every change does.
TEST(ParadoxWrite, AnEditPutsAnUntidyDataFileInOrder) {
    ScratchFolder folder;
    const auto path = folder / "untidy.db";
    ParadoxTable::Create(
        path, test::KeyedSchema({{"Code", FieldType::Long, 0}, {"Name", FieldType::Alpha, 200}}));
    {
        auto table = OpenWritable(path);
        Transaction batch(*table);
        for (int i = 0; i < 60; ++i) {
            RecordBuffer record = table->NewRecord();
            record.Set(0, FieldValue::FromInteger(i));
            record.Set(1, FieldValue::FromBytes("Name " + std::to_string(i)));
            batch.Append(std::move(record));
        }
        batch.Commit();
    }
    const auto tidy = ReadBytes(path);
    const std::size_t headerSize = test::U16(tidy, 2), blockSize = tidy.at(5) * 1024u;
    ASSERT_GE(test::U16(tidy, 0x0C), 3u) << "the case needs three blocks";
    const auto backLink = [&](const std::vector<std::uint8_t>& bytes, std::size_t block) {
        return test::U16(bytes, headerSize + (block - 1) * blockSize + 2);
    };
    struct Case {
        const char* name;
        std::function<void(std::vector<std::uint8_t>&)> disorder;
    };
    const std::vector<Case> cases = {
        {"as written", [](std::vector<std::uint8_t>&) {}},
        {"a wrong back link",
         [&](std::vector<std::uint8_t>& bytes) {
             bytes[headerSize + blockSize + 2] = 7; // block 2 links back to block 7
         }},
        {"bytes past the last block",
         [](std::vector<std::uint8_t>& bytes) { bytes.resize(bytes.size() + 300, 0xAB); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> bytes = tidy;
        c.disorder(bytes);
        test::WriteBytes(path, bytes);
        {
            auto table = OpenWritable(path);
            Transaction batch(*table);
            RecordBuffer record = table->EditRecord(25);
            record.Set(1, FieldValue::FromBytes("Edited"));
            batch.Update(25, std::move(record));
            batch.Commit();
        }
        const auto after = ReadBytes(path);
        ASSERT_EQ(after.size(), tidy.size());
        EXPECT_EQ(backLink(after, 2), 1u);
        // Only the edited record and the header's update time differ from the tidy file.
        std::size_t differing = 0;
        for (std::size_t i = headerSize; i < after.size(); ++i) {
            differing += after[i] != tidy[i];
        }
        EXPECT_GT(differing, 0u);
        EXPECT_LE(differing, 7u); // "Name 25" became "Edited"
        const auto faults = test::CheckIndexFiles(path, folder / "untidy.px", 4);
        EXPECT_TRUE(faults.empty()) << faults.front();
        const auto table = ParadoxTable::Open(path, {false, true});
        EXPECT_EQ(table->Read(25, 1).Bytes(), "Edited");
        EXPECT_EQ(table->Read(26, 1).Bytes(), "Name 26");
    }
}

TEST(ParadoxWrite, StaleSecondaryIndexesAreRemovedByAChange) {
    if (!std::filesystem::exists(test::CorpusDir())) {
        GTEST_SKIP() << "corpus not found";
    }
    ScratchFolder folder;
    const auto path = CopyCorpusTable(folder, "leonhad_paradoxdriver/db/CUSTOMER.DB");
    ASSERT_TRUE(std::filesystem::exists(folder / "CUSTOMER.X06"));
    auto table = OpenWritable(path);
    Transaction batch(*table);
    RecordBuffer record = table->NewRecord();
    record.Set(1, FieldValue::FromBytes("New"));
    batch.Append(std::move(record));
    batch.Commit();
    EXPECT_FALSE(std::filesystem::exists(folder / "CUSTOMER.X06"));
    EXPECT_FALSE(std::filesystem::exists(folder / "CUSTOMER.Y06"));
    EXPECT_TRUE(std::filesystem::exists(folder / "CUSTOMER.PX"));
    EXPECT_TRUE(test::CheckIndexFiles(path, folder / "CUSTOMER.PX", 4).empty());
    ASSERT_FALSE(table->Warnings().empty());
    EXPECT_NE(table->Warnings().back().find("secondary index removed"), std::string::npos);
    // The appended record got the number after the table's counter, not after its largest key.
    EXPECT_EQ(table->Read(table->RecordCount() - 1, 0).Integer(), 45);
}

TEST(ParadoxWrite, ACommitOnAStaleSnapshotIsRefused) {
    ScratchFolder folder;
    const auto path = folder / "two.db";
    ParadoxTable::Create(path, test::LanguageSchema(1));
    auto first = OpenWritable(path);
    auto second = OpenWritable(path);
    AppendLanguageRows(*first, 3, 20);
    EXPECT_FALSE(first->ChangedOnDisk());
    EXPECT_TRUE(second->ChangedOnDisk());
    Transaction batch(*second);
    batch.Append(second->NewRecord());
    EXPECT_THROW(batch.Commit(), ETableChanged);
    RecordBuffer stale = second->NewRecord();
    second->Reload();
    EXPECT_FALSE(second->ChangedOnDisk());
    EXPECT_EQ(second->RecordCount(), 3u);
    Transaction again(*second);
    again.Append(std::move(stale));
    EXPECT_THROW(again.Commit(), EParadoxError) << "a record composed before the reload";
    Transaction fresh(*second);
    fresh.Append(second->NewRecord());
    fresh.Commit();
    EXPECT_EQ(second->Read(3, 0).Integer(), 4);
}

TEST(ParadoxWrite, BlobsChangedByAnotherHandleAreNotMixedIntoAnOlderSnapshot) {
    ScratchFolder folder;
    const auto path = folder / "mix.db";
    ParadoxTable::Create(path, test::LanguageSchema(1));
    {
        auto writer = OpenWritable(path);
        AppendLanguageRows(*writer, 5, 100);
    }
    auto reader = ParadoxTable::Open(path, {false, true});
    auto writer = OpenWritable(path);
    Transaction batch(*writer);
    RecordBuffer record = writer->EditRecord(0);
    record.Set(4, FieldValue::FromBytes(Text(300, 99)));
    batch.Update(0, std::move(record));
    batch.Commit();
    // The reader's .db says where its values were; the .mb now holds other ones.
    EXPECT_THROW(reader->Read(1, 4), ETableChanged);
    reader->Reload();
    EXPECT_EQ(reader->Read(0, 4).Bytes(), Text(300, 99));
    EXPECT_EQ(reader->Read(1, 4).Bytes(), Text(100, 1));
}

TEST(ParadoxWrite, ReadOnlyTablesRefuseCommitsAndStayUnchanged) {
    ScratchFolder folder;
    const auto path = folder / "ro.db";
    ParadoxTable::Create(path, test::LanguageSchema(1));
    {
        auto table = ParadoxTable::Open(path, {false, true});
        Transaction batch(*table);
        batch.Append(table->NewRecord());
        EXPECT_THROW(batch.Commit(), EParadoxError);
    }
    if (::geteuid() == 0) {
        GTEST_SKIP() << "file permissions do not bind the superuser";
    }
    std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    const auto db = ReadBytes(path);
    auto table = OpenWritable(path);
    Transaction batch(*table);
    batch.Append(table->NewRecord());
    try {
        batch.Commit();
        ADD_FAILURE() << "commit to a read-only file succeeded";
    } catch (const EParadoxError& error) {
        EXPECT_NE(std::string(error.what()).find("read-only"), std::string::npos) << error.what();
    }
    EXPECT_EQ(ReadBytes(path), db);
}

} // namespace
} // namespace kelvara::paradox

// Cross-checks with an independent implementation, Debian's pxlib: tables it writes read the same
// through ours, and tables we write read the same through it. (pxlib 0.6.8 aborts on opening an
// existing .mb, so it reads our .db without its .mb; our BLOBs are checked by our reader.)
#include <gtest/gtest.h>

#ifdef KELVARA_HAVE_PXLIB

#include <cstring>
extern "C" {
#include <paradox.h>
}

#include "engine/paradox_table.h"
#include "paradox_test_support.h"

namespace kelvara::paradox {
namespace {

using test::ScratchFolder;
using test::Text;

void CollectError(pxdoc_t*, int, const char* message, void* data) {
    static_cast<std::vector<std::string>*>(data)->push_back(message);
}

// A pxlib document with its errors collected.
class PxDoc {
public:
    PxDoc() {
        static const int booted = (PX_boot(), 0);
        (void)booted;
        doc_ = PX_new3(CollectError, nullptr, nullptr, nullptr, &errors_);
    }
    ~PxDoc() {
        PX_close(doc_);
        PX_delete(doc_);
    }
    pxdoc_t* operator->() const { return doc_; }
    pxdoc_t* get() const { return doc_; }
    char* Copy(const std::string& text) const {
        auto* copy = static_cast<char*>(doc_->malloc(doc_, text.size() + 1, "test"));
        std::memcpy(copy, text.c_str(), text.size() + 1);
        return copy;
    }
    const std::vector<std::string>& Errors() const { return errors_; }

private:
    std::vector<std::string> errors_;
    pxdoc_t* doc_;
};

struct Row {
    std::string name;
    short count;
    long total;
    double ratio;
    bool flag;
    long day;
    std::string memo;
    std::string binary;
};

std::vector<Row> SampleRows() {
    std::vector<Row> rows;
    for (int i = 0; i < 45; ++i) {
        rows.push_back(Row{"name " + std::to_string(i) + (i % 5 == 0 ? " \xe4\xf6" : ""),
                           static_cast<short>(i * 300 - 7000), 100000L * i - 3, i * 0.25 - 3.5,
                           i % 2 == 0, 719163 + i * 31, Text(i % 9 == 0 ? 0 : i * 53, i),
                           Text(i % 4 == 0 ? 5 : i * 97, i + 500)});
    }
    return rows;
}

TEST(ParadoxPxlib, TablesPxlibWritesReadTheSame) {
    ScratchFolder folder;
    const auto path = folder / "bypx.db";
    const auto rows = SampleRows();
    {
        PxDoc doc;
        const int n = 8;
        auto* fields = static_cast<pxfield_t*>(doc->malloc(doc.get(), n * sizeof(pxfield_t), "t"));
        const struct {
            const char* name;
            char type;
            int size;
        } layout[n] = {{"Name", pxfAlpha, 30},    {"Count", pxfShort, 2},  {"Total", pxfLong, 4},
                       {"Ratio", pxfNumber, 8},   {"Flag", pxfLogical, 1}, {"Day", pxfDate, 4},
                       {"Memo", pxfMemoBLOb, 20}, {"Binary", pxfBLOb, 15}};
        for (int i = 0; i < n; ++i) {
            fields[i].px_fname = doc.Copy(layout[i].name);
            fields[i].px_ftype = layout[i].type;
            fields[i].px_flen = layout[i].size;
            fields[i].px_fdc = 0;
        }
        ASSERT_EQ(PX_create_file(doc.get(), fields, n, path.c_str(), pxfFileTypNonIndexDB), 0);
        ASSERT_EQ(PX_set_blob_file(doc.get(), (folder / "bypx.mb").c_str()), 0);
        std::vector<char> record(PX_get_recordsize(doc.get()));
        for (const Row& row : rows) {
            std::fill(record.begin(), record.end(), 0);
            char* at = record.data();
            PX_put_data_alpha(doc.get(), at, 30, const_cast<char*>(row.name.c_str()));
            PX_put_data_short(doc.get(), at + 30, 2, row.count);
            PX_put_data_long(doc.get(), at + 32, 4, static_cast<int>(row.total));
            PX_put_data_double(doc.get(), at + 36, 8, row.ratio);
            at[44] = static_cast<char>(row.flag ? 0x81 : 0x80);
            PX_put_data_long(doc.get(), at + 45, 4, static_cast<int>(row.day));
            if (!row.memo.empty()) {
                PX_put_data_blob(doc.get(), at + 49, 20, const_cast<char*>(row.memo.data()),
                                 static_cast<int>(row.memo.size()));
            }
            PX_put_data_blob(doc.get(), at + 69, 15, const_cast<char*>(row.binary.data()),
                             static_cast<int>(row.binary.size()));
            ASSERT_GE(PX_put_record(doc.get(), record.data()), 0);
        }
    }
    auto table = ParadoxTable::Open(path, {false, true});
    ASSERT_EQ(table->RecordCount(), rows.size());
    EXPECT_EQ(table->Info().fields[6].def, (FieldDef{"Memo", FieldType::Memo, 10}));
    EXPECT_EQ(table->Info().fields[7].def, (FieldDef{"Binary", FieldType::Blob, 5}));
    for (std::uint32_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE("record " + std::to_string(i));
        EXPECT_EQ(table->Read(i, 0), FieldValue::FromBytes(row.name));
        EXPECT_EQ(table->Read(i, 1), FieldValue::FromInteger(row.count));
        EXPECT_EQ(table->Read(i, 2), FieldValue::FromInteger(row.total));
        EXPECT_EQ(table->Read(i, 3), FieldValue::FromNumber(row.ratio));
        EXPECT_EQ(table->Read(i, 4), FieldValue::FromLogical(row.flag));
        EXPECT_EQ(table->Read(i, 5), FieldValue::FromDate(static_cast<std::int32_t>(row.day)));
        EXPECT_EQ(table->Read(i, 6).Bytes(), row.memo);
        EXPECT_EQ(table->Read(i, 7).Bytes(), row.binary);
    }

    // Our writer continues a pxlib table: the .mb it left unpadded comes out a multiple of 4 KiB.
    {
        auto writable = ParadoxTable::Open(path);
        Transaction batch(*writable);
        RecordBuffer record = writable->EditRecord(3);
        record.Set(7, FieldValue::FromBytes(Text(6000, 1)));
        batch.Update(3, std::move(record));
        batch.Append(writable->NewRecord());
        batch.Commit();
    }
    EXPECT_EQ(std::filesystem::file_size(folder / "bypx.mb") % 4096, 0u);
    table = ParadoxTable::Open(path, {false, true});
    EXPECT_EQ(table->Read(3, 7).Bytes(), Text(6000, 1));
    EXPECT_EQ(table->Read(4, 7).Bytes(), rows[4].binary);
    EXPECT_EQ(table->RecordCount(), rows.size() + 1);
}

TEST(ParadoxPxlib, TablesWeWriteReadTheSameInPxlib) {
    ScratchFolder folder;
    const auto path = folder / "ours.db";
    TableSchema schema;
    schema.fields = {{"Id", FieldType::AutoInc, 0},   {"Name", FieldType::Alpha, 30},
                     {"Count", FieldType::Short, 0},  {"Total", FieldType::Long, 0},
                     {"Ratio", FieldType::Number, 0}, {"Day", FieldType::Date, 0},
                     {"Native", FieldType::Blob, 10}};
    IndexDef primary;
    primary.primary = true;
    primary.fields = {"Id"};
    schema.indexes = {primary};
    ParadoxTable::Create(path, schema);
    const auto rows = SampleRows();
    {
        auto table = ParadoxTable::Open(path);
        // Many records, in several commits, with deletions: several blocks, a free block.
        for (int round = 0; round < 3; ++round) {
            Transaction batch(*table);
            for (const Row& row : rows) {
                RecordBuffer record = table->NewRecord();
                record.Set(1, FieldValue::FromBytes(row.name));
                record.Set(2, FieldValue::FromInteger(row.count));
                record.Set(3, FieldValue::FromInteger(row.total));
                record.Set(4, FieldValue::FromNumber(row.ratio));
                record.Set(5, FieldValue::FromDate(static_cast<std::int32_t>(row.day)));
                record.Set(6, FieldValue::FromBytes(row.binary));
                batch.Append(std::move(record));
            }
            batch.Commit();
        }
        Transaction deletions(*table);
        for (std::uint32_t i = 50; i < 100; ++i) {
            deletions.Delete(i);
        }
        deletions.Commit();
    }
    auto ours = ParadoxTable::Open(path, {false, true});

    PxDoc doc;
    ASSERT_EQ(PX_open_file(doc.get(), path.c_str()), 0);
    const pxhead_t* head = doc->px_head;
    EXPECT_EQ(head->px_numrecords, static_cast<int>(ours->RecordCount()));
    EXPECT_EQ(head->px_recordsize, ours->Info().recordSize);
    EXPECT_EQ(head->px_numfields, 7);
    EXPECT_EQ(head->px_fileversion, 70);
    EXPECT_EQ(head->px_doscodepage, 1252);
    EXPECT_EQ(head->px_primarykeyfields, 1);
    EXPECT_EQ(head->px_autoinc, 135);
    EXPECT_EQ(head->px_filetype, pxfFileTypIndexDB);
    for (int f = 0; f < 7; ++f) {
        const pxfield_t* field = PX_get_field(doc.get(), f);
        EXPECT_EQ(std::string(field->px_fname), schema.fields[f].name);
        EXPECT_EQ(field->px_ftype, static_cast<char>(schema.fields[f].type));
        EXPECT_EQ(field->px_flen, StoredFieldSize(schema.fields[f]));
    }
    std::vector<char> record(head->px_recordsize);
    for (int i = 0; i < head->px_numrecords; ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        ASSERT_NE(PX_get_record(doc.get(), i, record.data()), nullptr);
        const Row& row = rows[(i < 50 ? i : i + 50) % rows.size()];
        long id = 0, total = 0, day = 0;
        short count = 0;
        double ratio = 0;
        char* name = nullptr;
        ASSERT_EQ(PX_get_data_long(doc.get(), record.data(), 4, &id), 1);
        EXPECT_EQ(id, (i < 50 ? i : i + 50) + 1);
        ASSERT_EQ(PX_get_data_alpha(doc.get(), record.data() + 4, 30, &name), 1);
        EXPECT_EQ(std::string(name), row.name);
        doc->free(doc.get(), name);
        ASSERT_EQ(PX_get_data_short(doc.get(), record.data() + 34, 2, &count), 1);
        EXPECT_EQ(count, row.count);
        ASSERT_EQ(PX_get_data_long(doc.get(), record.data() + 36, 4, &total), 1);
        EXPECT_EQ(total, row.total);
        ASSERT_EQ(PX_get_data_double(doc.get(), record.data() + 40, 8, &ratio), 1);
        EXPECT_EQ(ratio, row.ratio);
        ASSERT_EQ(PX_get_data_long(doc.get(), record.data() + 48, 4, &day), 1);
        EXPECT_EQ(day, row.day);
    }
    EXPECT_TRUE(doc.Errors().empty()) << doc.Errors().front();

    // pxlib reads our primary index: one entry per data block, counts summing to the table.
    PxDoc index;
    ASSERT_EQ(PX_open_file(index.get(), (folder / "ours.px").c_str()), 0);
    EXPECT_EQ(index->px_head->px_filetype, pxfFileTypPrimIndex);
    EXPECT_EQ(index->px_head->px_recordsize, 10);
    EXPECT_EQ(PX_read_primary_index(index.get()), 0);
    const auto db = test::ReadBytes(path);
    EXPECT_EQ(index->px_head->px_numrecords, test::U16(db, 0x0A)); // data blocks in use
    EXPECT_LT(test::U16(db, 0x0A), test::U16(db, 0x0C)) << "expected a free block in the file";
    EXPECT_TRUE(index.Errors().empty()) << index.Errors().front();
}

// Numbers given to new records (a copy keeping its source's numbers) and the counter raised past
// them are what pxlib reads too.
TEST(ParadoxPxlib, GivenAutoincrementNumbersReadTheSameInPxlib) {
    ScratchFolder folder;
    const auto path = folder / "given.db";
    TableSchema schema;
    schema.fields = {{"Id", FieldType::AutoInc, 0}, {"Name", FieldType::Alpha, 10}};
    IndexDef primary;
    primary.primary = true;
    primary.fields = {"Id"};
    schema.indexes = {primary};
    ParadoxTable::Create(path, schema);
    {
        auto table = ParadoxTable::Open(path);
        Transaction batch(*table);
        for (const long given : {5L, 2L, 0L, 9L}) {
            RecordBuffer record = table->NewRecord();
            if (given != 0) {
                record.SetAutoIncrement(0, given);
            }
            record.Set(1, FieldValue::FromBytes("n" + std::to_string(given)));
            batch.Append(std::move(record));
        }
        batch.Commit();
    }
    PxDoc doc;
    ASSERT_EQ(PX_open_file(doc.get(), path.c_str()), 0);
    EXPECT_EQ(doc->px_head->px_autoinc, 10);
    ASSERT_EQ(doc->px_head->px_numrecords, 4);
    const std::pair<long, std::string> expected[] = {{2, "n2"}, {5, "n5"}, {9, "n9"}, {10, "n0"}};
    std::vector<char> record(doc->px_head->px_recordsize);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE("record " + std::to_string(i));
        ASSERT_NE(PX_get_record(doc.get(), i, record.data()), nullptr);
        long id = 0;
        char* name = nullptr;
        ASSERT_EQ(PX_get_data_long(doc.get(), record.data(), 4, &id), 1);
        EXPECT_EQ(id, expected[i].first);
        ASSERT_EQ(PX_get_data_alpha(doc.get(), record.data() + 4, 10, &name), 1);
        EXPECT_EQ(std::string(name), expected[i].second);
        doc->free(doc.get(), name);
    }
    EXPECT_TRUE(doc.Errors().empty()) << doc.Errors().front();
}

} // namespace
} // namespace kelvara::paradox

#else

TEST(ParadoxPxlib, NeedsPxlib) {
    GTEST_SKIP() << "pxlib was not found when this was built";
}

#endif

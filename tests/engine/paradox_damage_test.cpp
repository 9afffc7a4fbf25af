// Damaged files: every fault gives an exception that names the file and the fault, never a crash,
// a hang or a read outside the file.
#include "engine/paradox_table.h"
#include "paradox_test_support.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <random>

namespace kelvara::paradox {
namespace {

using test::ReadBytes;
using test::ScratchFolder;
using test::Text;
using test::WriteBytes;

void Put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value);
    bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    Put16(bytes, at, static_cast<std::uint16_t>(value));
    Put16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

class ParadoxDamage : public ::testing::Test {
protected:
    void SetUp() override {
        ParadoxTable::Create(path_, test::LanguageSchema(1));
        auto table = ParadoxTable::Open(path_);
        Transaction batch(*table);
        for (unsigned i = 0; i < 40; ++i) {
            RecordBuffer record = table->NewRecord();
            record.Set(1, FieldValue::FromBytes("Form"));
            record.Set(4, FieldValue::FromBytes(Text(i == 0 ? 30 : i == 1 ? 3000 : 12 + i, i)));
            batch.Append(std::move(record));
        }
        batch.Commit();
        db_ = ReadBytes(path_);
        mb_ = ReadBytes(mbPath_);
        const auto table2 = ParadoxTable::Open(path_, {false, true});
        recordSize_ = table2->Info().recordSize;
        nativeOffset_ = table2->Info().fields[4].offset;
    }

    // Offset of record 0's Native descriptor in the .db (the first data block follows the header).
    std::size_t Descriptor(std::size_t record = 0) const {
        return 0x800 + 6 + record * recordSize_ + nativeOffset_ + 10;
    }

    ScratchFolder folder_;
    std::filesystem::path path_ = folder_ / "damaged.db";
    std::filesystem::path mbPath_ = folder_ / "damaged.mb";
    std::vector<std::uint8_t> db_, mb_;
    std::size_t recordSize_ = 0, nativeOffset_ = 0;
};

TEST_F(ParadoxDamage, BrokenDataFilesAreRefusedNamingTheFault) {
    using Bytes = std::vector<std::uint8_t>;
    const struct {
        const char* fault;
        std::function<void(Bytes&)> damage;
    } cases[] = {
        {"too short", [](Bytes& b) { b.resize(50); }},
        {"not a Paradox table", [](Bytes& b) { b[0x04] = 9; }},
        {"index file", [](Bytes& b) { b[0x04] = 1; }},
        {"block size", [](Bytes& b) { b[0x05] = 0; }},
        {"block size", [](Bytes& b) { b[0x05] = 33; }},
        {"unknown file version", [](Bytes& b) { b[0x39] = 0x20; }},
        {"field count", [](Bytes& b) { Put16(b, 0x21, 0); }},
        {"key field count", [](Bytes& b) { Put16(b, 0x23, 300); }},
        {"record size", [](Bytes& b) { Put16(b, 0x00, 100); }},
        {"header size", [](Bytes& b) { Put16(b, 0x02, 0xFFFF); }},
        {"unknown type 0x30", [](Bytes& b) { b[0x78 + 2] = 0x30; }},
        {"impossible size", [](Bytes& b) { b[0x78 + 1] = 3; }},
        {"field names run past",
         [](Bytes& b) { std::fill(b.begin() + 0x1A0, b.begin() + 0x800, 'n'); }},
        {"truncated", [](Bytes& b) { b.resize(b.size() - 100); }},
        {"truncated", [](Bytes& b) { Put16(b, 0x0C, 0xFFFF); }},
        {"beyond the", [](Bytes& b) { Put16(b, 0x0E, 999); }},
        {"loops back", [](Bytes& b) { Put16(b, 0x800, 1); }},
        {"impossible amount of data", [](Bytes& b) { Put16(b, 0x804, 0x7FFF); }},
        {"impossible amount of data", [](Bytes& b) { Put16(b, 0x804, 0x8000); }},
        {"encrypted", [](Bytes& b) { Put32(b, 0x5C, 0x1234); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Bytes bytes = db_;
        c.damage(bytes);
        WriteBytes(path_, bytes);
        try {
            ParadoxTable::Open(path_, {false, true});
            ADD_FAILURE() << "opened";
        } catch (const EParadoxError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(path_.string()), std::string::npos) << message;
            EXPECT_NE(message.find(c.fault), std::string::npos) << message;
        }
    }
}

TEST_F(ParadoxDamage, AHugeDeclaredRecordCountIsReportedNotBelieved) {
    Put32(db_, 0x06, 0xFFFFFFF0u);
    WriteBytes(path_, db_);
    auto table = ParadoxTable::Open(path_, {false, true});
    EXPECT_EQ(table->RecordCount(), 40u);
    ASSERT_EQ(table->Warnings().size(), 1u);
    EXPECT_NE(table->Warnings()[0].find("the blocks hold 40"), std::string::npos);
}

TEST_F(ParadoxDamage, AnOutOfDateIndexIsReportedAndRewrittenByTheNextChange) {
    const auto pxPath = folder_ / "damaged.px";
    auto px = ReadBytes(pxPath);
    // The root entry's record count (the short after the 4-byte key and the block number).
    px[0x800 + 6 + 4 + 2] ^= 0x01;
    WriteBytes(pxPath, px);
    {
        auto table = ParadoxTable::Open(path_);
        ASSERT_EQ(table->Warnings().size(), 1u);
        EXPECT_NE(table->Warnings()[0].find("damaged.px: the primary index counts"),
                  std::string::npos)
            << table->Warnings()[0];
        Transaction batch(*table);
        batch.Delete(0);
        batch.Commit();
    }
    EXPECT_TRUE(test::CheckIndexFiles(path_, pxPath, 4).empty());
    EXPECT_TRUE(ParadoxTable::Open(path_)->Warnings().empty());
}

TEST_F(ParadoxDamage, BrokenBlobPointersFailOnlyTheirValue) {
    using Bytes = std::vector<std::uint8_t>;
    const std::size_t slotRecord = 0, blockRecord = 1;
    const struct {
        const char* fault;
        std::size_t record;
        std::function<void(Bytes& db, Bytes& mb, std::size_t descriptor)> damage;
    } cases[] = {
        {"out of range", slotRecord,
         [](Bytes& db, Bytes&, std::size_t d) { Put32(db, d, 0x7FFF0000u | 0x3F); }},
        {"out of range", slotRecord,
         [](Bytes& db, Bytes&, std::size_t d) { Put32(db, d, 0x0F3F); }},
        {"missing slot", slotRecord, [](Bytes& db, Bytes&, std::size_t d) { db[d] = 0x50; }},
        {"block of type 4", blockRecord,
         [](Bytes& db, Bytes& mb, std::size_t d) { mb[test::U32(db, d) & ~0xFFu] = 4; }},
        {"slot is empty", slotRecord,
         [](Bytes& db, Bytes& mb, std::size_t d) {
             const std::size_t block = test::U32(db, d) & ~0xFFu;
             std::memset(mb.data() + block + 12 + 5 * db[d], 0, 5);
         }},
        {"differs from the record", slotRecord,
         [](Bytes& db, Bytes&, std::size_t d) { Put32(db, d + 4, 31); }},
        {"differs from the record", blockRecord,
         [](Bytes& db, Bytes&, std::size_t d) { Put32(db, d + 4, 2999); }},
        {"longer than its blocks", blockRecord,
         [](Bytes& db, Bytes& mb, std::size_t d) {
             const std::size_t block = test::U32(db, d) & ~0xFFu;
             Put32(mb, block + 3, 90000);
             Put32(db, d + 4, 90000);
         }},
        {"points to no BLOB", slotRecord,
         [](Bytes& db, Bytes&, std::size_t d) { Put32(db, d, 0); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Bytes db = db_, mb = mb_;
        c.damage(db, mb, Descriptor(c.record));
        WriteBytes(path_, db);
        WriteBytes(mbPath_, mb);
        auto table = ParadoxTable::Open(path_, {false, true});
        try {
            table->Read(static_cast<std::uint32_t>(c.record), 4);
            ADD_FAILURE() << "read";
        } catch (const EParadoxError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find("damaged."), std::string::npos) << message;
            EXPECT_NE(message.find(c.fault), std::string::npos) << message;
            EXPECT_NE(message.find("Native"), std::string::npos) << message;
        }
        EXPECT_NO_THROW(table->Read(static_cast<std::uint32_t>(2), 4)); // the others still read
    }
    std::filesystem::remove(mbPath_);
    WriteBytes(path_, db_);
    auto table = ParadoxTable::Open(path_, {false, true});
    EXPECT_THROW(table->Read(1, 4), EParadoxError);
}

// A commit that frees and stores BLOBs learns the free space from what the records point to: when
// that is impossible, it refuses and leaves the files as they were.
TEST_F(ParadoxDamage, ACommitOverImpossibleBlobPointersIsRefused) {
    using Bytes = std::vector<std::uint8_t>;
    const struct {
        const char* fault;
        std::function<void(Bytes& db, Bytes& mb)> damage;
    } cases[] = {
        {"another value holds",
         [this](Bytes& db, Bytes&) {
             std::memcpy(db.data() + Descriptor(3), db.data() + Descriptor(2), 10);
         }},
        {"outside the file",
         [this](Bytes& db, Bytes&) { Put32(db, Descriptor(2), 0x7FFF0000u | 0x3F); }},
        {"holds no BLOB of its own",
         [this](Bytes& db, Bytes& mb) { mb[test::U32(db, Descriptor(1)) & ~0xFFu] = 3; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Bytes db = db_, mb = mb_;
        c.damage(db, mb);
        WriteBytes(path_, db);
        WriteBytes(mbPath_, mb);
        auto table = ParadoxTable::Open(path_);
        Transaction batch(*table);
        RecordBuffer record = table->EditRecord(5);
        record.Set(4, FieldValue::FromBytes(Text(200, 1)));
        batch.Update(5, std::move(record));
        try {
            batch.Commit();
            ADD_FAILURE() << "committed";
        } catch (const EParadoxError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find("damaged.mb"), std::string::npos) << message;
            EXPECT_NE(message.find(c.fault), std::string::npos) << message;
        }
        EXPECT_EQ(ReadBytes(path_), db);
        EXPECT_EQ(ReadBytes(mbPath_), mb);
    }
}

// Whatever the damage, a commit that replaces, adds and deletes BLOBs lands or is refused with an
// EParadoxError, and what it wrote reads back.
TEST_F(ParadoxDamage, CommitsOverRandomDamageLandOrAreRefused) {
    std::mt19937 random(5);
    for (int round = 0; round < 150; ++round) {
        std::vector<std::uint8_t> db = db_, mb = mb_;
        const int flips = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < flips; ++i) {
            if (random() % 2 == 0) {
                mb[random() % mb.size()] = static_cast<std::uint8_t>(random());
            } else {
                const std::size_t record = random() % 40;
                db[Descriptor(record) + random() % 10] = static_cast<std::uint8_t>(random());
            }
        }
        WriteBytes(path_, db);
        WriteBytes(mbPath_, mb);
        try {
            auto table = ParadoxTable::Open(path_);
            Transaction batch(*table);
            for (std::uint32_t r = 2; r < 12; ++r) {
                RecordBuffer record = table->EditRecord(r);
                record.Set(4, FieldValue::FromBytes(Text(r * 40, r + round)));
                batch.Update(r, std::move(record));
            }
            RecordBuffer added = table->NewRecord();
            added.Set(4, FieldValue::FromBytes(Text(2500, 7)));
            batch.Append(std::move(added));
            batch.Delete(30);
            batch.Commit();
            for (std::uint32_t r = 2; r < 12; ++r) {
                EXPECT_EQ(table->Read(r, 4).Bytes(), Text(r * 40, r + round));
            }
        } catch (const EParadoxError&) {
        }
    }
}

constexpr std::uint32_t kLargeRecords = 30000;

// A table large enough to be walked for the BLOB space while the caller goes on: a long key and
// a memo of 20 to 69 bytes (in the .mb, past its 1-byte leader).
void CreateLargeTable(const std::filesystem::path& path) {
    ParadoxTable::Create(
        path, test::KeyedSchema({{"Code", FieldType::Long, 0}, {"Text", FieldType::Memo, 1}}));
    auto table = ParadoxTable::Open(path);
    Transaction batch(*table);
    for (std::uint32_t i = 0; i < kLargeRecords; ++i) {
        RecordBuffer record = table->NewRecord();
        record.Set(0, FieldValue::FromInteger(i));
        record.Set(1, FieldValue::FromBytes(Text(20 + i % 50, i)));
        batch.Append(std::move(record));
    }
    batch.Commit();
}

// A large table that may be changed has its records walked for the BLOB space while the caller
// goes on (from the moment the load reads the blocks), and the commit that needs the result waits
// for it: what the records point to is checked all the same, and the first record at fault is
// named.
TEST(ParadoxDamageLarge, TheWalkOfALargeTableChecksEveryRecord) {
    ScratchFolder folder;
    const auto path = folder / "large.db";
    CreateLargeTable(path);
    constexpr std::uint32_t kRecords = kLargeRecords;
    const auto changeSome = [&](ParadoxTable& table) {
        Transaction batch(table);
        for (std::uint32_t i = 0; i < kRecords; i += 97) {
            RecordBuffer record = table.EditRecord(i);
            record.Set(1, FieldValue::FromBytes(Text(30 + i % 70, i + 1)));
            batch.Update(i, std::move(record));
        }
        batch.Delete(kRecords - 1);
        batch.Commit();
    };
    const auto pristine = ReadBytes(path);
    // Record 25001 is given the descriptor of record 12001.
    std::vector<std::uint8_t> damaged = pristine;
    {
        const auto table = ParadoxTable::Open(path, {false, true});
        const auto at = [&](std::uint32_t index) {
            const auto record = table->Record(index).Bytes();
            const auto found =
                std::search(damaged.begin(), damaged.end(), record.begin(), record.end());
            return static_cast<std::size_t>(found - damaged.begin()) + 4 + 1;
        };
        std::memcpy(damaged.data() + at(25000), damaged.data() + at(12000), 10);
    }
    WriteBytes(path, damaged);
    {
        auto table = ParadoxTable::Open(path);
        try {
            changeSome(*table);
            ADD_FAILURE() << "committed";
        } catch (const EParadoxError& error) {
            EXPECT_NE(std::string(error.what()).find("large.mb: record 25001 points to a BLOB"),
                      std::string::npos)
                << error.what();
        }
    }
    EXPECT_EQ(ReadBytes(path), damaged);

    WriteBytes(path, pristine);
    for (int i = 0; i < 3; ++i) {
        ParadoxTable::Open(path); // closed while its walk runs
    }
    changeSome(*ParadoxTable::Open(path));
    const auto table = ParadoxTable::Open(path, {false, true});
    ASSERT_EQ(table->RecordCount(), kRecords - 1);
    for (std::uint32_t i = 0; i < kRecords - 1; ++i) {
        ASSERT_EQ(table->Read(i, 1).Bytes(),
                  i % 97 == 0 ? Text(30 + i % 70, i + 1) : Text(20 + i % 50, i));
    }
}

// A block left outside the chain (as other writers leave freed blocks) still holds records; what
// they point to is not in use. Here one of them points where a record of the table does: the
// commit must not take that for two records sharing a value.
TEST(ParadoxDamageLarge, RecordsOfBlocksOutsideTheChainHoldNoBlobSpace) {
    ScratchFolder folder;
    const auto path = folder / "large.db";
    CreateLargeTable(path);
    std::vector<std::uint8_t> bytes = ReadBytes(path);
    const std::size_t headerSize = test::U16(bytes, 2), blockSize = bytes.at(5) * 1024u;
    const std::size_t recordSize = test::U16(bytes, 0);
    const auto blockAt = [&](std::size_t block) { return headerSize + (block - 1) * blockSize; };
    const std::uint16_t first = test::U16(bytes, 0x0E);
    const std::uint16_t second = test::U16(bytes, blockAt(first));
    const std::uint16_t third = test::U16(bytes, blockAt(second));
    const auto secondCount = static_cast<std::uint32_t>(
        static_cast<std::int16_t>(test::U16(bytes, blockAt(second) + 4)) / recordSize + 1);
    // The second block leaves the chain; its first record takes the memo descriptor of the
    // table's first record.
    Put16(bytes, blockAt(first), third);
    Put16(bytes, blockAt(third) + 2, first);
    const std::uint32_t records = test::U32(bytes, 6) - secondCount;
    Put32(bytes, 6, records);
    const std::size_t memo = 6 + 4 + 1; // block header, the long, the memo's leader
    std::memcpy(bytes.data() + blockAt(second) + memo, bytes.data() + blockAt(first) + memo, 10);
    WriteBytes(path, bytes);

    {
        auto table = ParadoxTable::Open(path);
        ASSERT_EQ(table->RecordCount(), records);
        Transaction batch(*table);
        for (std::uint32_t i = 0; i < records; i += 101) {
            RecordBuffer record = table->EditRecord(i);
            record.Set(1, FieldValue::FromBytes(Text(40 + i % 30, i + 7)));
            batch.Update(i, std::move(record));
        }
        batch.Commit();
    }
    const auto table = ParadoxTable::Open(path, {false, true});
    ASSERT_EQ(table->RecordCount(), records);
    for (std::uint32_t i = 0; i < records; ++i) {
        const auto code = static_cast<std::uint32_t>(table->Read(i, 0).Integer());
        ASSERT_EQ(table->Read(i, 1).Bytes(),
                  i % 101 == 0 ? Text(40 + i % 30, i + 7) : Text(20 + code % 50, code));
    }
}

TEST_F(ParadoxDamage, RandomDamageNeverEscapesAsAnythingElse) {
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> db = db_, mb = mb_;
        const int flips = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < flips; ++i) {
            auto& target = random() % 3 == 0 ? mb : db;
            // Mostly the header and the first block, where the structure lives.
            const std::size_t limit =
                std::min<std::size_t>(target.size(), random() % 2 ? 0x1000 : target.size());
            target[random() % limit] = static_cast<std::uint8_t>(random());
        }
        if (random() % 10 == 0) {
            db.resize(random() % db.size());
        }
        WriteBytes(path_, db);
        WriteBytes(mbPath_, mb);
        try {
            auto table = ParadoxTable::Open(path_, {false, true});
            for (std::uint32_t r = 0; r < table->RecordCount(); ++r) {
                for (std::size_t f = 0; f < table->Info().fields.size(); ++f) {
                    try {
                        table->Read(r, static_cast<int>(f)).DisplayText();
                    } catch (const EParadoxError&) {
                    }
                }
            }
        } catch (const EParadoxError&) {
        }
    }
}

} // namespace
} // namespace kelvara::paradox

// A commit is one unit: a process that dies at any write of it, or a write that fails, leaves the
// whole old state or the whole new one, and a failed commit leaves the files byte for byte as they
// were. The writes of a commit include its flush to disk, which runs on a thread of its own.
#include "engine/paradox_table.h"
#include "engine/platform.h"
#include "paradox_test_support.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <string_view>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kelvara::paradox {
namespace {

using test::ReadBytes;
using test::ScratchFolder;
using test::Text;

// Every value of every record, as one text.
std::string Contents(const std::filesystem::path& path) {
    auto table = ParadoxTable::Open(path, {});
    std::string text = std::to_string(table->RecordCount()) + " records, counter " +
                       std::to_string(table->AutoIncrement()) + "\n";
    for (std::uint32_t i = 0; i < table->RecordCount(); ++i) {
        for (std::size_t f = 0; f < table->Info().fields.size(); ++f) {
            text += table->Read(i, static_cast<int>(f)).DisplayText() + "\t";
        }
        text += "\n";
    }
    return text;
}

void Populate(const std::filesystem::path& path) {
    ParadoxTable::Create(path, test::LanguageSchema(2));
    auto table = ParadoxTable::Open(path, {});
    Transaction batch(*table);
    for (unsigned i = 0; i < 60; ++i) {
        RecordBuffer record = table->NewRecord();
        record.Set(1, FieldValue::FromBytes("Form" + std::to_string(i % 4)));
        record.Set(2, FieldValue::FromBytes("Label" + std::to_string(i)));
        record.Set(4, FieldValue::FromBytes(Text(i % 7 == 0 ? 3000 : 40 + i, i)));
        record.Set(5, FieldValue::FromBytes(Text(i % 3 == 0 ? 5 : 200, i + 1000)));
        batch.Append(std::move(record));
    }
    batch.Commit();
}

// The batch every case commits: updates that move BLOBs between shared slots and blocks of their
// own, deletions that empty blocks, appends that need new blocks.
void CommitTheBatch(ParadoxTable& table) {
    Transaction batch(table);
    for (std::uint32_t i = 0; i < 60; i += 6) {
        RecordBuffer record = table.EditRecord(i);
        record.Set(3, FieldValue::FromBytes("Hint"));
        record.Set(4, FieldValue::FromBytes(Text(i % 12 == 0 ? 30 : 300, i + 7)));
        batch.Update(i, std::move(record));
    }
    // The records holding the last values of blocks of their own go, so the .mb gets shorter
    // (the old state still needs what is cut off).
    for (const std::uint32_t i : {20u, 21u, 22u, 23u, 24u, 25u, 26u, 27u, 28u, 29u, 30u,
                                  31u, 32u, 33u, 34u, 35u, 36u, 37u, 38u, 39u, 49u, 56u}) {
        batch.Delete(i);
    }
    for (unsigned i = 0; i < 25; ++i) {
        RecordBuffer record = table.NewRecord();
        record.Set(1, FieldValue::FromBytes("Added"));
        record.Set(5, FieldValue::FromBytes(Text(i % 4 == 0 ? 2 * i : 8, i + 99)));
        batch.Append(std::move(record));
    }
    batch.Commit();
}

void CommitTheBatch(const std::filesystem::path& path) {
    auto table = ParadoxTable::Open(path, {});
    CommitTheBatch(*table);
}

void CopyFolder(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::filesystem::remove_all(to);
    std::filesystem::create_directories(to);
    for (const auto& entry : std::filesystem::directory_iterator(from)) {
        std::filesystem::copy_file(entry.path(), to / entry.path().filename());
    }
}

std::map<std::string, std::vector<std::uint8_t>> FolderBytes(const std::filesystem::path& folder) {
    std::map<std::string, std::vector<std::uint8_t>> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        files[entry.path().filename().string()] = ReadBytes(entry.path());
    }
    return files;
}

// The failure point hook for one case: the nth operation fails (or the process ends there).
struct FailAt {
    int target;
    bool die;
    std::shared_ptr<std::atomic<int>> seen = std::make_shared<std::atomic<int>>(0);
    void operator()(const char*) const {
        if (++*seen == target) {
            if (die) {
                ::_exit(0);
            }
            throw EParadoxError("injected failure");
        }
    }
};

class ParadoxCrash : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = folder_ / "base";
        std::filesystem::create_directories(base_);
        Populate(base_ / "t.db");
        oldContents_ = Contents(base_ / "t.db");
        CopyFolder(base_, folder_ / "expected");
        CommitTheBatch(folder_ / "expected" / "t.db");
        newContents_ = Contents(folder_ / "expected" / "t.db");
        ASSERT_NE(oldContents_, newContents_);
        ASSERT_LT(std::filesystem::file_size(folder_ / "expected" / "t.mb"),
                  std::filesystem::file_size(base_ / "t.mb"));
    }
    void TearDown() override { platform::SetFailurePointHook({}); }

    void ExpectSoundTable(const std::filesystem::path& folder) {
        EXPECT_FALSE(std::filesystem::exists(folder / "t.db-journal"));
        EXPECT_EQ(std::filesystem::file_size(folder / "t.mb") % 4096, 0u);
        const auto faults = test::CheckIndexFiles(folder / "t.db", folder / "t.px", 4);
        EXPECT_TRUE(faults.empty()) << faults.front();
    }

    ScratchFolder folder_;
    std::filesystem::path base_;
    std::string oldContents_, newContents_;
};

TEST_F(ParadoxCrash, DyingAtAnyWriteLeavesTheOldOrTheNewState) {
    const auto work = folder_ / "work";
    int oldSeen = 0, newSeen = 0;
    for (int point = 1; point < 200; ++point) {
        SCOPED_TRACE("process ends at failure point " + std::to_string(point));
        CopyFolder(base_, work);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            platform::SetFailurePointHook(FailAt{point, true});
            try {
                CommitTheBatch(work / "t.db");
            } catch (...) {
                ::_exit(2);
            }
            ::_exit(3);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        ASSERT_NE(WEXITSTATUS(status), 2) << "the commit failed instead of dying";
        const std::string contents = Contents(work / "t.db");
        const bool isOld = contents == oldContents_;
        const bool isNew = contents == newContents_;
        EXPECT_TRUE(isOld || isNew) << contents;
        // Once the journal is on disk the commit holds, wherever the process ends afterwards.
        EXPECT_FALSE(isOld && newSeen > 0);
        oldSeen += isOld;
        newSeen += isNew;
        ExpectSoundTable(work);
        if (WEXITSTATUS(status) == 3) {
            EXPECT_TRUE(isNew);
            break;
        }
    }
    EXPECT_GE(oldSeen, 1); // while the journal is written; once it is whole, the commit holds
    EXPECT_GT(newSeen, 3); // writing the files, flushing them, removing the journal
}

TEST_F(ParadoxCrash, AFailedWriteLeavesTheFilesAsTheyWere) {
    const auto work = folder_ / "work";
    const auto original = FolderBytes(base_);
    int failures = 0;
    for (int point = 1; point < 200; ++point) {
        SCOPED_TRACE("failure at point " + std::to_string(point));
        CopyFolder(base_, work);
        auto table = ParadoxTable::Open(work / "t.db", {});
        platform::SetFailurePointHook(FailAt{point, false});
        bool failed = false;
        try {
            CommitTheBatch(*table);
        } catch (const EParadoxError& error) {
            failed = true;
            EXPECT_NE(std::string(error.what()).find("injected failure"), std::string::npos);
        }
        platform::SetFailurePointHook({});
        if (!failed) {
            EXPECT_EQ(Contents(work / "t.db"), newContents_);
            break;
        }
        ++failures;
        EXPECT_EQ(FolderBytes(work), original);
        // The handle keeps the old state and can commit the same changes later.
        EXPECT_FALSE(table->ChangedOnDisk());
        EXPECT_EQ(table->RecordCount(), 60u);
        if (point % 10 == 0) {
            CommitTheBatch(*table);
            EXPECT_EQ(Contents(work / "t.db"), newContents_);
        }
    }
    EXPECT_GT(failures, 5);
}

// A journal of the kind earlier versions wrote holds the old bytes of a commit that died half-way:
// opening the table puts them back.
TEST_F(ParadoxCrash, AnEarlierKindOfJournalIsRolledBack) {
    const auto work = folder_ / "work";
    CopyFolder(base_, work);
    const auto original = FolderBytes(work);
    auto db = ReadBytes(work / "t.db");
    auto mb = ReadBytes(work / "t.mb");
    // The half-done commit: a block of the .db overwritten, the .mb cut short.
    std::vector<std::uint8_t> journal = {'K', 'V', 'J', 'R', 'N', 'L', '0', '1'};
    const auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            journal.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    };
    const auto u64 = [&](std::uint64_t v) {
        u32(static_cast<std::uint32_t>(v));
        u32(static_cast<std::uint32_t>(v >> 32));
    };
    const auto file = [&](const std::string& name, const std::vector<std::uint8_t>& bytes,
                          std::size_t offset, std::size_t length) {
        u32(static_cast<std::uint32_t>(name.size()));
        journal.insert(journal.end(), name.begin(), name.end());
        journal.push_back(1);
        u64(bytes.size());
        u32(1);
        u64(offset);
        u32(static_cast<std::uint32_t>(length));
        journal.insert(journal.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                       bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
    };
    u32(2);
    file("t.db", db, 0x800, 64);
    const std::size_t cut = mb.size() / 2 / 4096 * 4096;
    file("t.mb", mb, cut, mb.size() - cut);
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const std::uint8_t byte : journal) {
        hash = (hash ^ byte) * 0x100000001b3u;
    }
    u64(hash);
    std::fill(db.begin() + 0x800, db.begin() + 0x840, std::uint8_t{0xEE});
    mb.resize(cut);
    test::WriteBytes(work / "t.db", db);
    test::WriteBytes(work / "t.mb", mb);
    test::WriteBytes(work / "t.db-journal", journal);

    EXPECT_EQ(Contents(work / "t.db"), oldContents_);
    EXPECT_EQ(FolderBytes(work), original);
}

// The flush after a commit fails, so its journal stays: the same handle's next commit finishes
// the first one and goes on from its snapshot, another handle would too.
TEST_F(ParadoxCrash, AFailedFlushIsFinishedByTheNextCommit) {
    const auto work = folder_ / "work";
    const auto expected = folder_ / "expected-again";
    CopyFolder(folder_ / "expected", expected);
    const auto editAgain = [](ParadoxTable& table) {
        Transaction batch(table);
        RecordBuffer record = table.EditRecord(1);
        record.Set(2, FieldValue::FromBytes("Again"));
        record.Set(4, FieldValue::FromBytes(Text(700, 3)));
        batch.Update(1, std::move(record));
        batch.Commit();
    };
    editAgain(*ParadoxTable::Open(expected / "t.db", {}));
    const std::string expectedContents = Contents(expected / "t.db");

    for (const bool sameHandle : {true, false}) {
        SCOPED_TRACE(sameHandle ? "the same handle" : "another handle");
        CopyFolder(base_, work);
        auto table = ParadoxTable::Open(work / "t.db", {});
        platform::SetFailurePointHook([](const char* operation) {
            if (std::string_view(operation) == "remove") {
                throw EParadoxError("injected failure");
            }
        });
        CommitTheBatch(*table);
        EXPECT_FALSE(table->ChangedOnDisk()); // waits for the flush
        platform::SetFailurePointHook({});
        EXPECT_TRUE(std::filesystem::exists(work / "t.db-journal"));
        EXPECT_EQ(table->RecordCount(), 63u);
        if (!sameHandle) {
            table = ParadoxTable::Open(work / "t.db", {});
        }
        editAgain(*table);
        table.reset();
        EXPECT_EQ(Contents(work / "t.db"), expectedContents);
        ExpectSoundTable(work);
    }
}

// A real full disk (a file system of 1 MiB, where this machine lets the tests mount one): the
// commit either lands or reports the full disk, and then the table's files are as they were,
// whether the journal or the files themselves found no room.
TEST(ParadoxDiskFull, AFullDiskFailsTheCommitAndChangesNothing) {
    ScratchFolder folder;
    const auto disk = folder / "small";
    std::filesystem::create_directories(disk);
    if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0) {
        GTEST_SKIP() << "no small file system can be mounted here";
    }
    struct Unmount {
        std::filesystem::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};
    const auto tableFiles = [&] {
        std::map<std::string, std::vector<std::uint8_t>> files;
        for (const char* name : {"t.db", "t.mb", "t.px"}) {
            files[name] = ReadBytes(disk / name);
        }
        return files;
    };
    int journalFull = 0, filesFull = 0, landed = 0;
    for (std::size_t room = 0; room <= 480 * 1024; room += 12 * 1024) {
        SCOPED_TRACE("room left: " + std::to_string(room));
        for (const auto& entry : std::filesystem::directory_iterator(disk)) {
            std::filesystem::remove(entry.path());
        }
        Populate(disk / "t.db");
        const auto before = tableFiles();
        // Fill the disk, then give back the room.
        {
            std::FILE* filler = std::fopen((disk / "filler").c_str(), "wb");
            ASSERT_NE(filler, nullptr);
            const std::vector<char> chunk(4096, 'f');
            while (std::fwrite(chunk.data(), 1, chunk.size(), filler) == chunk.size() &&
                   std::fflush(filler) == 0) {
            }
            std::fclose(filler);
            const auto size = std::filesystem::file_size(disk / "filler");
            std::filesystem::resize_file(disk / "filler", size > room ? size - room : 0);
        }
        auto table = ParadoxTable::Open(disk / "t.db", {});
        Transaction batch(*table);
        for (unsigned i = 0; i < 30; ++i) {
            RecordBuffer record = table->NewRecord();
            record.Set(1, FieldValue::FromBytes("Grown"));
            record.Set(4, FieldValue::FromBytes(Text(2500, i)));
            batch.Append(std::move(record));
        }
        try {
            batch.Commit();
            ++landed;
            table.reset();
            EXPECT_EQ(ParadoxTable::Open(disk / "t.db", {})->RecordCount(), 90u);
            continue;
        } catch (const EParadoxError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find("No space left"), std::string::npos) << message;
            (message.find("t.db-journal") != std::string::npos ? journalFull : filesFull) += 1;
        }
        table.reset();
        EXPECT_EQ(tableFiles(), before);
        EXPECT_FALSE(std::filesystem::exists(disk / "t.db-journal"));
        EXPECT_EQ(ParadoxTable::Open(disk / "t.db", {})->RecordCount(), 60u);
    }
    EXPECT_GT(journalFull, 0);
    EXPECT_GT(filesFull, 0);
    EXPECT_GT(landed, 0);
}

TEST_F(ParadoxCrash, KilledWhileCommittingAgainAndAgain) {
    const auto work = folder_ / "work";
    CopyFolder(base_, work);
    for (int round = 0; round < 12; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i) {
                try {
                    auto table = ParadoxTable::Open(work / "t.db", {});
                    Transaction batch(*table);
                    for (std::uint32_t r = 0; r < table->RecordCount(); r += 3) {
                        RecordBuffer record = table->EditRecord(r);
                        record.Set(4, FieldValue::FromBytes(Text(100 + (i * 911 + r) % 4000, i)));
                        batch.Update(r, std::move(record));
                    }
                    batch.Append(table->NewRecord());
                    batch.Commit();
                } catch (...) {
                    ::_exit(2);
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(15 + round * 7));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the committing process failed by itself";
        auto table = ParadoxTable::Open(work / "t.db", {});
        EXPECT_TRUE(table->Warnings().empty());
        std::int64_t previous = 0;
        for (std::uint32_t r = 0; r < table->RecordCount(); ++r) {
            EXPECT_GT(table->Read(r, 0).Integer(), previous);
            previous = table->Read(r, 0).Integer();
            for (int f = 1; f < 7; ++f) {
                table->Read(r, f);
            }
        }
        EXPECT_EQ(table->AutoIncrement(), previous);
        table.reset();
        ExpectSoundTable(work);
    }
}

} // namespace
} // namespace kelvara::paradox

// Locking: exclusive opens keep every other open out, in this process and in others; shared
// opens coexist; closing one handle does not drop another's lock; a table open anywhere cannot be
// replaced.
#include "engine/paradox_table.h"
#include "paradox_test_support.h"

#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvara::paradox {
namespace {

using test::ScratchFolder;

const OpenOptions kShared{false, false};
const OpenOptions kExclusive{true, false};
const OpenOptions kSharedReadOnly{false, true};
const OpenOptions kExclusiveReadOnly{true, true};

char ModeLetter(OpenOptions options) {
    return options.exclusive ? (options.readOnly ? 'X' : 'x') : (options.readOnly ? 's' : 'S');
}

// A separate process (this test program started again, so it shares nothing with this one) that
// holds the table open until told to go.
class OtherProcess {
public:
    OtherProcess(const std::filesystem::path& path, OpenOptions options) {
        int ready[2], go[2];
        if (::pipe(ready) != 0 || ::pipe(go) != 0) {
            throw std::runtime_error("pipe");
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            ::close(go[1]);
            ::setenv("KELVARA_LOCK_CHILD_PATH", path.c_str(), 1);
            ::setenv("KELVARA_LOCK_CHILD_MODE", std::string(1, ModeLetter(options)).c_str(), 1);
            ::setenv("KELVARA_LOCK_CHILD_READY", std::to_string(ready[1]).c_str(), 1);
            ::setenv("KELVARA_LOCK_CHILD_GO", std::to_string(go[0]).c_str(), 1);
            const int quiet = ::open("/dev/null", O_WRONLY);
            ::dup2(quiet, 1);
            ::dup2(quiet, 2);
            ::execl("/proc/self/exe", "test_engine", "--gtest_filter=ParadoxLockChild.OpenAndHold",
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(ready[1]);
        ::close(go[0]);
        go_ = go[1];
        char result = 'e';
        (void)!::read(ready[0], &result, 1);
        ::close(ready[0]);
        opened_ = result;
    }
    ~OtherProcess() {
        ::close(go_);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    // 'y' opened, 'n' refused as in use, 'e' another failure.
    char Opened() const { return opened_; }

private:
    pid_t pid_ = -1;
    int go_ = -1;
    char opened_ = 'e';
};

// The other process's side; skipped when run on its own.
TEST(ParadoxLockChild, OpenAndHold) {
    const char* path = std::getenv("KELVARA_LOCK_CHILD_PATH");
    if (path == nullptr) {
        GTEST_SKIP() << "runs only as the other process of a locking test";
    }
    const char mode = std::getenv("KELVARA_LOCK_CHILD_MODE")[0];
    const int ready = std::atoi(std::getenv("KELVARA_LOCK_CHILD_READY"));
    const int go = std::atoi(std::getenv("KELVARA_LOCK_CHILD_GO"));
    char result = 'y';
    std::unique_ptr<ParadoxTable> table;
    try {
        table = ParadoxTable::Open(path, {mode == 'x' || mode == 'X', mode == 's' || mode == 'X'});
    } catch (const ETableInUse&) {
        result = 'n';
    } catch (...) {
        result = 'e';
    }
    (void)!::write(ready, &result, 1);
    char ignored;
    (void)!::read(go, &ignored, 1);
    ::_exit(0);
}

class ParadoxLock : public ::testing::Test {
protected:
    void SetUp() override { ParadoxTable::Create(path_, test::LanguageSchema(1)); }
    ScratchFolder folder_;
    std::filesystem::path path_ = folder_ / "locked.db";
};

TEST_F(ParadoxLock, OpensConflictAsTheirModesSay) {
    const struct {
        OpenOptions first, second;
        bool coexist;
    } cases[] = {
        {kShared, kShared, true},
        {kShared, kSharedReadOnly, true},
        {kShared, kExclusive, false},
        {kExclusive, kShared, false},
        {kExclusive, kSharedReadOnly, false},
        {kExclusive, kExclusive, false},
        {kExclusiveReadOnly, kShared, false},
        {kSharedReadOnly, kExclusiveReadOnly, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.first.exclusive ? "exclusive" : "shared") + " then " +
                     (c.second.exclusive ? "exclusive" : "shared"));
        auto first = ParadoxTable::Open(path_, c.first);
        // In this process...
        if (c.coexist) {
            EXPECT_NO_THROW(ParadoxTable::Open(path_, c.second));
        } else {
            try {
                ParadoxTable::Open(path_, c.second);
                ADD_FAILURE() << "second open succeeded";
            } catch (const ETableInUse& error) {
                EXPECT_NE(std::string(error.what()).find(path_.string()), std::string::npos);
                EXPECT_NE(std::string(error.what()).find("in use"), std::string::npos);
            }
        }
        // ...and in another.
        EXPECT_EQ(OtherProcess(path_, c.second).Opened(), c.coexist ? 'y' : 'n');
        first.reset();
        EXPECT_EQ(OtherProcess(path_, c.second).Opened(), 'y') << "the lock outlived its handle";
    }
}

TEST_F(ParadoxLock, ClosingOneHandleKeepsTheOthersLock) {
    auto kept = ParadoxTable::Open(path_, kShared);
    ParadoxTable::Open(path_, kShared).reset(); // a probe, opened and closed again
    EXPECT_EQ(OtherProcess(path_, kExclusive).Opened(), 'n');
    auto exclusive = OtherProcess(path_, kShared);
    EXPECT_EQ(exclusive.Opened(), 'y');
}

TEST_F(ParadoxLock, ExclusiveOpenInAnotherProcessKeepsThisOneOut) {
    {
        OtherProcess other(path_, kExclusive);
        ASSERT_EQ(other.Opened(), 'y');
        EXPECT_THROW(ParadoxTable::Open(path_, kShared), ETableInUse);
        EXPECT_THROW(ParadoxTable::Open(path_, kSharedReadOnly), ETableInUse);
        try {
            ParadoxTable::Create(path_, test::LanguageSchema(1));
            ADD_FAILURE() << "replaced a table open in another process";
        } catch (const ETableInUse& error) {
            EXPECT_NE(std::string(error.what()).find(path_.string()), std::string::npos);
        }
    }
    EXPECT_NO_THROW(ParadoxTable::Open(path_, kExclusive));
}

TEST_F(ParadoxLock, ATableOpenHereCannotBeReplaced) {
    {
        auto table = ParadoxTable::Open(path_, kSharedReadOnly);
        ASSERT_EQ(table->Info().fields.size(), 6u);
        TableSchema other;
        other.fields = {{"Only", FieldType::Long, 0}};
        try {
            ParadoxTable::Create(path_, other);
            ADD_FAILURE() << "replaced an open table";
        } catch (const ETableInUse& error) {
            EXPECT_NE(std::string(error.what()).find(path_.string()), std::string::npos);
            EXPECT_NE(std::string(error.what()).find("cannot be replaced"), std::string::npos);
        }
        EXPECT_FALSE(table->ChangedOnDisk());
    }
    auto table = ParadoxTable::Open(path_, kShared);
    EXPECT_EQ(table->Info().fields.size(), 6u);
}

TEST_F(ParadoxLock, MissingFilesAndNonTablesFailWithTheirName) {
    const auto missing = folder_ / "missing.db";
    try {
        ParadoxTable::Open(missing);
        ADD_FAILURE();
    } catch (const EParadoxError& error) {
        EXPECT_NE(std::string(error.what()).find("missing.db: the table does not exist"),
                  std::string::npos)
            << error.what();
    }
    const auto text = folder_ / "notes.db";
    test::WriteBytes(text, std::vector<std::uint8_t>(100, 'x'));
    EXPECT_THROW(ParadoxTable::Open(text), EParadoxError);
}

} // namespace
} // namespace kelvara::paradox

#pragma once
// Inside the table storage: what an open table holds (its snapshot, locks and allocation state),
// shared by the reading and the committing parts.

#include "engine/paradox_blob.h"
#include "engine/paradox_format.h"
#include "engine/paradox_table.h"
#include "engine/platform.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kelvara::paradox::detail {

// This process's table of open table files: an exclusive open excludes every other, in this
// process as across processes (the file locks do the latter).
class OpenRegistration {
public:
    OpenRegistration() = default;
    // Throws ETableInUse naming path when the registration conflicts.
    OpenRegistration(const platform::FileId& id, bool exclusive, const std::string& path);
    ~OpenRegistration();
    OpenRegistration(OpenRegistration&& other) noexcept;
    OpenRegistration& operator=(OpenRegistration&& other) noexcept;

    static bool IsOpen(const platform::FileId& id);

private:
    void Release() noexcept;
    std::optional<platform::FileId> id_;
    bool exclusive_ = false;
};

// The .mb or .px beside a .db: same stem, the extension in the case of the .db's.
std::filesystem::path CompanionPath(const std::filesystem::path& dbPath, std::string_view ext);
// Secondary index files beside a .db (.Xnn, .Ynn, .XGn, .YGn of its stem).
std::vector<std::filesystem::path> SecondaryIndexFiles(const std::filesystem::path& dbPath);

ChangeStamp ReadStamp(const platform::File& db, const std::filesystem::path& mbPath,
                      const std::filesystem::path& pxPath);

// Compares the primary keys of two records (the bytes of the key fields in order).
int CompareKeys(const TableInfo& info, const std::uint8_t* a, const std::uint8_t* b);

} // namespace kelvara::paradox::detail

namespace kelvara::paradox {

struct ParadoxTable::State {
    std::filesystem::path dbPath, mbPath, pxPath;
    std::string name; // dbPath for messages
    OpenOptions options;
    std::unique_ptr<platform::File> dbFile; // holds the open lock
    detail::OpenRegistration registration;

    platform::ByteBuffer db, px;
    // The .mb is read when a BLOB value or a commit first needs it.
    mutable platform::ByteBuffer mb;
    mutable bool mbLoaded = false;
    bool commitLockHeld = false; // while a commit runs
    bool mbExists = false;
    bool pxExists = false;
    detail::DbHeader header;
    std::vector<detail::ChainBlock> chain;
    // Every block of the file is in the chain, none of them empty, each linked back to the one
    // before, and the file ends with the last block: as a commit that moves no record leaves it.
    bool chainTidy = false;
    std::vector<std::uint32_t> recordOffsets; // in db, of each record in chain order
    std::optional<detail::MbSpace> mbSpace;   // built at the first commit that needs it
    ChangeStamp stamp;
    std::uint64_t generation = 1;
    std::vector<std::string> warnings;

    // The last commit's flush to disk, on a thread of its own that holds the commit lock until
    // the journal is gone. Whatever touches the files waits for it first (AwaitFlush).
    mutable std::thread flusher;
    std::uint64_t lastCommitId = 0; // of the last commit of this handle

    // What the records point to in the .mb, gathered on a thread of its own for the first commit
    // that frees or stores BLOBs of a large table that may be changed. The walk begins while the
    // load reads the .db, block by block as they arrive (dbRead bytes so far, under readMutex);
    // when the chain turns out not to hold every block of the file, it begins again after the
    // load, and then records are taken in pieces from walkNext, by the walker and by the commit
    // that needs the result. The walker reads the snapshot only; whatever changes the snapshot
    // stops it first.
    mutable std::thread walker;
    std::optional<detail::MbReferences> walked;
    std::uint64_t walkedMbSize = 0;
    std::atomic<std::uint32_t> walkNext{0};
    std::atomic<bool> walkStop{false};
    std::mutex readMutex;
    std::condition_variable readMore;
    std::uint64_t dbRead = 0;
    bool walkBroken = false;     // the walker failed (read after it is joined)
    std::uint32_t walkFault = 0; // below the record count when a record points somewhere impossible

    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() {
        StopWalk();
        AwaitFlush();
    }
    void AwaitFlush() const {
        if (flusher.joinable()) {
            flusher.join();
        }
    }
    // Ends the walk, if any, and forgets what it found.
    void StopWalk();
    // Whether a table of these fields and records that may be changed is large enough to be
    // walked ahead of its first commit.
    bool WalkAhead(const TableInfo& info, std::uint64_t records) const;
    // Sets up walked and runs walk on the walker; false when no thread can be had. next is the
    // first piece left for a commit to take part in.
    bool LaunchWalk(std::uint32_t next, std::function<void()> walk);
    // After a load: walks a large table that may be changed.
    void StartWalk();
    // During a load, once the .db header is in db: walks the blocks as they are read, for a large
    // table that may be changed. Load calls ReadSoFar as it reads.
    void StartWalkAlongsideRead();
    void ReadSoFar(std::uint64_t bytes);
    // The walk alongside the read: every record of blocks 1 to the header's block count.
    void WalkBlocks(const detail::DbHeader& early, detail::MbReferences& into,
                    std::uint32_t& fault);
    // What the records point to in a .mb of mbSize bytes: the walk's result (taking part in it),
    // or a walk now. Throws EParadoxError naming the first record that points outside the file
    // or where another does.
    detail::MbReferences References(std::uint64_t mbSize);
    // Adds what records from..to point to in the .mb; returns the first record pointing outside
    // the file or where another value does, or to.
    std::uint32_t Gather(std::uint32_t from, std::uint32_t to, detail::MbReferences& inUse) const;
    // Gathers pieces of the walk until none is left, the walk is stopped, or a piece holds a
    // fault (lowering fault to it).
    void WalkPieces(detail::MbReferences& into, std::uint32_t& fault);

    bool Writable() const { return dbFile->Writable(); }
    std::span<const std::uint8_t> RecordBytes(std::uint32_t index) const {
        return {db.data() + recordOffsets[index], header.info.recordSize};
    }
    // Loads the files (recovering an unfinished commit first); dbFile is open.
    void Load();
    void ReadDb(); // into db, the walk alongside begun
    // The .mb of the snapshot; throws ETableChanged when it changed on disk since the load. The
    // caller of a commit holds the commit lock already (lockHeld).
    const platform::ByteBuffer& Mb(bool lockHeld = false) const {
        return mbLoaded || !mbExists ? mb : LoadMb(lockHeld);
    }
    const platform::ByteBuffer& LoadMb(bool lockHeld) const;
    void Index(); // header, chain and record offsets from db
};

} // namespace kelvara::paradox

#pragma once
// Inside the table storage: what an open table holds (its snapshot, locks and allocation state),
// shared by the reading and the committing parts.

#include "engine/paradox_blob.h"
#include "engine/paradox_format.h"
#include "engine/paradox_table.h"
#include "engine/platform.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
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
    std::vector<std::uint32_t> recordOffsets; // in db, of each record in chain order
    std::optional<detail::MbSpace> mbSpace;   // built at the first commit that needs it
    ChangeStamp stamp;
    std::uint64_t generation = 1;
    std::vector<std::string> warnings;

    bool Writable() const { return dbFile->Writable(); }
    std::span<const std::uint8_t> RecordBytes(std::uint32_t index) const {
        return {db.data() + recordOffsets[index], header.info.recordSize};
    }
    // Loads the files (recovering an unfinished commit first); dbFile is open.
    void Load();
    // The .mb of the snapshot; throws ETableChanged when it changed on disk since the load. The
    // caller of a commit holds the commit lock already (lockHeld).
    const platform::ByteBuffer& Mb(bool lockHeld = false) const {
        return mbLoaded || !mbExists ? mb : LoadMb(lockHeld);
    }
    const platform::ByteBuffer& LoadMb(bool lockHeld) const;
    void Index(); // header, chain and record offsets from db
};

} // namespace kelvara::paradox

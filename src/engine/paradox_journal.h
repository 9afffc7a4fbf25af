#pragma once
// Inside the table storage: writing a set of changes to the files of one table as one unit. The
// new bytes of every change (and the files' new lengths) go to a journal beside the table, flushed
// to disk; that is the moment of commit. Then the changes are written to the files. Flushing the
// files and removing the journal can wait (see PendingFlush): until the journal is gone, the next
// open or commit writes its changes again, so a commit that was interrupted after the journal
// reached the disk is completed, and one interrupted before is as if it never began.
// docs/formats/paradox.md, "Journal", has its layout.

#include "engine/platform.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

namespace kelvara::paradox::detail {

struct FileWrite {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

// The changes to one file of the table.
struct FileChange {
    std::filesystem::path path;
    platform::File* file = nullptr; // open for writing; null when the file does not exist
    std::uint64_t oldSize = 0;
    // Fills bytes with the file's current bytes at offset (within oldSize).
    std::function<void(std::uint64_t offset, std::span<std::uint8_t> bytes)> readOld;
    std::uint64_t newSize = 0;
    std::vector<FileWrite> writes;
};

// The journal of a table's .db file.
std::filesystem::path JournalPathFor(const std::filesystem::path& dbPath);

// A commit that is in the files and safe in its journal, whose files are not yet flushed to disk.
class PendingFlush {
public:
    PendingFlush() = default;
    PendingFlush(std::filesystem::path journal, std::vector<std::filesystem::path> files,
                 bool created)
        : journal_(std::move(journal)), files_(std::move(files)), created_(created) {}

    // Flushes the files to disk, then removes the journal. Throws EParadoxError; the journal then
    // stays and the next open or commit finishes the change. The caller holds the commit lock.
    void Complete() const;

private:
    std::filesystem::path journal_;
    std::vector<std::filesystem::path> files_;
    bool created_ = false;
};

// Writes every change, or none: on failure it restores what it wrote, removes the journal and
// throws. A file that did not exist is created (and removed again on failure). commitId is kept
// in the journal (see RecoverJournal). The caller holds the commit lock until the returned flush
// is complete.
PendingFlush WriteAtomically(const std::filesystem::path& journalPath,
                             std::vector<FileChange>& changes, std::uint64_t commitId);

// The hash that ends a journal, of the bytes before it.
std::uint64_t JournalHash(std::span<const std::uint8_t> bytes);

// A number for a commit that no other commit of any process is likely to have.
std::uint64_t NewCommitId();

struct Recovery {
    bool found = false;     // there was a journal
    bool completed = false; // its commit was written again (else it had not begun)
    std::uint64_t commitId = 0;
};

// Finishes the commit of a journal left behind (by a process that died, or a flush that failed):
// a complete journal's changes are written again, flushed, and the journal removed; an incomplete
// one (its commit had not touched the table) is removed. A journal of the earlier kind, holding
// the old bytes, is rolled back. Throws EParadoxError when the files cannot be written. The caller
// holds the commit lock.
Recovery RecoverJournal(const std::filesystem::path& journalPath);

} // namespace kelvara::paradox::detail

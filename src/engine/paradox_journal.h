#pragma once
// Inside the table storage: writing a set of changes to the files of one table as one unit. Before
// any table file is touched, the bytes the changes overwrite or cut off (and the files' old
// lengths) go to a rollback journal beside the table, flushed to disk; then the changes are written
// and flushed; removing the journal is the moment of commit. A journal found later belongs to a
// commit that did not finish and is rolled back. docs/formats/paradox.md, "Rollback journal", has
// its layout.

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

// Writes every change, or none: on failure it restores what it wrote and throws. A file that did
// not exist is created (and removed again on failure). The caller holds the commit lock.
void WriteAtomically(const std::filesystem::path& journalPath, std::vector<FileChange>& changes);

// Rolls back a journal left by a commit that did not finish; true when there was one. A journal
// that was never completely written is removed (its commit had not touched the table). Throws
// EParadoxError when the files cannot be restored. The caller holds the commit lock.
bool RecoverJournal(const std::filesystem::path& journalPath);

} // namespace kelvara::paradox::detail

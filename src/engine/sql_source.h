#pragma once
// The tables that queries read: a table file loaded once into columns of text, kept while its
// files are unchanged, with an ordered index over a column built when a condition first filters on
// it.
//
// A loaded source holds no file open and no lock: it is a copy of the table as it was when loaded,
// so queries never keep other users or handles from opening, creating or locking the file.

#include "engine/paradox_table.h"

#include <cstdint>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara {

// What a table's files looked like: sizes and modification times of the data, BLOB and index
// files and a hash of the data file's header, whose counters change with every write. Equal stamps
// mean unchanged files.
struct SqlFileStamp {
    std::uint64_t dbSize = 0, mbSize = 0, pxSize = 0;
    std::int64_t dbTime = 0, mbTime = 0, pxTime = 0;
    std::uint64_t headerHash = 0;

    // Throws nothing; a missing file gives zero size and time.
    static SqlFileStamp Of(const std::filesystem::path& dbPath);
    bool operator==(const SqlFileStamp&) const = default;
};

// One table file, loaded. Immutable after Load except for the lazily built indexes, which are
// built under a lock, so a source may be shared between threads.
class SqlSourceTable {
public:
    // Reads every record of the table at dbPath. Throws the storage's error (EParadoxError and its
    // kinds) when the file is missing, locked or no table.
    static std::shared_ptr<const SqlSourceTable> Load(const std::filesystem::path& dbPath);

    const std::filesystem::path& Path() const { return path_; }
    const SqlFileStamp& Stamp() const { return stamp_; }

    int FieldCount() const { return static_cast<int>(fields_.size()); }
    const paradox::FieldDef& Field(int field) const;
    // The field of this name: exact bytes first, then ignoring ASCII case; -1 when there is none.
    int FindField(std::string_view name) const;

    std::uint32_t RecordCount() const { return recordCount_; }
    bool IsNull(int field, std::uint32_t row) const;
    // Text and BLOB fields: the stored bytes. Other types: their display text. "" when null.
    std::string_view Text(int field, std::uint32_t row) const;
    // The decoded value (bytes of text and BLOB fields unchanged).
    paradox::FieldValue Value(int field, std::uint32_t row) const;
    // Orders two records by a field, ascending: null first, text by its bytes, numbers, dates and
    // times by value. Negative, zero or positive.
    int Compare(int field, std::uint32_t a, std::uint32_t b) const;

    // The records whose field is not null and whose text, ignoring ASCII case, equals folded (when
    // wholeText) or begins with it; folded must already be folded. In ascending record order.
    std::vector<std::uint32_t> RowsWithFoldedText(int field, std::string_view folded,
                                                  bool wholeText) const;

    // The bytes the loaded copy and its built indexes take, roughly.
    std::size_t MemoryBytes() const;

    ~SqlSourceTable();

private:
    struct Column;
    SqlSourceTable() = default;
    const std::vector<std::uint32_t>& FoldedIndex(int field) const;

    std::filesystem::path path_;
    SqlFileStamp stamp_;
    std::uint32_t recordCount_ = 0;
    std::vector<std::unique_ptr<Column>> fields_;
    mutable std::mutex indexLock_;
    mutable std::size_t memoryBytes_ = 0; // grows as indexes are built, under indexLock_
};

// The loaded sources of this process, newest use first: at most kCapacity of them, and older ones
// are dropped while all together take more than kMemoryBudget bytes (the newest always stays).
// Get gives the loaded copy while the file's stamp is unchanged and loads it again otherwise.
// Sources handed out stay valid for their holders after they leave the cache.
class SqlSourceCache {
public:
    static constexpr std::size_t kCapacity = 4;
    static constexpr std::size_t kMemoryBudget = std::size_t{512} << 20;

    explicit SqlSourceCache(std::size_t capacity = kCapacity,
                            std::size_t memoryBudget = kMemoryBudget)
        : capacity_(capacity), memoryBudget_(memoryBudget) {}

    // The one cache that queries use.
    static SqlSourceCache& Shared();

    std::shared_ptr<const SqlSourceTable> Get(const std::filesystem::path& dbPath);
    // Forgets every loaded source (their memory is freed once no result holds them).
    void Clear();
    std::size_t Loads() const; // how many times a file was read, for tests and benchmarks

private:
    void TrimLocked();

    const std::size_t capacity_;
    const std::size_t memoryBudget_;
    mutable std::mutex lock_;
    // Each source under its path made absolute and normal.
    std::list<std::pair<std::filesystem::path, std::shared_ptr<const SqlSourceTable>>> entries_;
    std::size_t loads_ = 0;
};

// The file a statement's table names, by the rule table handles follow: a relative path is taken
// in directory (the query's database name) when that is not empty, else in the working directory;
// a path without an extension gets ".db".
std::filesystem::path ResolveSqlTablePath(std::string_view tablePath, std::string_view directory);

} // namespace kelvara

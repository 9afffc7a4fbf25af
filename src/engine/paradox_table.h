#pragma once
// Storage of Paradox tables: the .db data file, its .mb BLOB file and its .px primary index.
// The byte layouts are described in docs/formats/paradox.md.
//
// A ParadoxTable is one open table: a snapshot of its files loaded into memory, read without
// further file access, and changed only through a Transaction, which writes a batch of appends,
// updates and deletes as one crash-safe unit (a journal beside the table). Values are the
// stored bytes: code page and sort order of a file are reported, never applied.
//
// Threads: one table object is used by one thread at a time. The table of files open in this
// process is guarded, so different tables may be opened and closed from different threads. A
// table runs threads of its own, which it waits for before it changes or closes: after a commit,
// the flush of the files to disk (the commit lock stays taken meanwhile); after loading a large
// table that may be changed, a walk over its records for the BLOB space of the first commit.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::paradox {

// Every failure of the storage. The message names the file and the fault, e.g.
// "/data/lang.db: block 7 links to block 900 beyond the 12 blocks of the file".
class EParadoxError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// The file is open elsewhere in a way that excludes the requested open, create or commit
// ("/data/lang.db: the table is in use (opened exclusively by another user)").
class ETableInUse : public EParadoxError {
public:
    using EParadoxError::EParadoxError;
};
// A commit was refused because the files changed on disk after this table loaded its snapshot
// (another handle or process committed). Reload, re-apply the changes, commit again.
class ETableChanged : public EParadoxError {
public:
    using EParadoxError::EParadoxError;
};
// A value was written to a field whose type this engine does not write, or is assigned by the
// table itself ("field 'Picture' of type graphic cannot be written").
class EFieldNotWritable : public EParadoxError {
public:
    using EParadoxError::EParadoxError;
};

// Field types with their codes in the file.
enum class FieldType : std::uint8_t {
    Alpha = 0x01,
    Date = 0x02,
    Short = 0x03,
    Long = 0x04,
    Currency = 0x05,
    Number = 0x06,
    Logical = 0x09,
    Memo = 0x0C,
    Blob = 0x0D, // binary BLOB
    FormattedMemo = 0x0E,
    Ole = 0x0F,
    Graphic = 0x10,
    Time = 0x14,
    Timestamp = 0x15,
    AutoInc = 0x16,
    Bcd = 0x17,
    Bytes = 0x18,
};

// The type for a code of the file, or nothing for a code no known type has.
std::optional<FieldType> FieldTypeFromCode(std::uint8_t code);
// Lower-case English name used in messages: "alpha", "binary", "autoincrement", ...
std::string_view FieldTypeName(FieldType type);
// The one-character symbol of the type: 'A', 'D', 'S', 'I', '$', 'N', 'L', 'M', 'B', 'F', 'O',
// 'G', 'T', '@', '+', '#', 'Y'.
char FieldTypeSymbol(FieldType type);
// Memo, binary, formatted memo, OLE and graphic.
constexpr bool IsBlobType(FieldType type) {
    return type == FieldType::Memo || type == FieldType::Blob || type == FieldType::FormattedMemo ||
           type == FieldType::Ole || type == FieldType::Graphic;
}
// Types a RecordBuffer can set: alpha, date, short, long, currency, number, logical, memo, binary,
// formatted memo, OLE, time, timestamp, bytes. Not graphic or BCD; autoincrement is assigned by
// the table (a new record may carry a given number: RecordBuffer::SetAutoIncrement).
bool IsWritableType(FieldType type);

// A field as the caller of Create gives it and as Open reports it.
struct FieldDef {
    std::string name; // stored bytes, 1 to 25 bytes, no NUL; names are unique ignoring ASCII case
    FieldType type = FieldType::Alpha;
    // Alpha and bytes: the length in bytes, 1..255. BLOB types: the number of bytes of each value
    // kept in the record itself (the leader), 0..240 (memo and formatted memo at least 1); the
    // field occupies size + 10 bytes in the record. BCD: the number of decimals, 0..32. Every
    // other type: ignored by Create, reported as 0.
    int size = 0;

    bool operator==(const FieldDef&) const = default;
};

// Bytes a field of this definition occupies in a record (fixed sizes, alpha/bytes size, BLOB
// leader + 10, BCD 17).
std::uint16_t StoredFieldSize(const FieldDef& field);

struct IndexDef {
    std::string name;                // empty for the primary index
    std::vector<std::string> fields; // field names in key order, matched exactly
    bool primary = false;            // the primary key: must be the leading fields, in order
    bool unique = false;
    bool caseInsensitive = false;
    bool descending = false;
};

struct CreateOptions {
    std::uint16_t codePage = 1252;   // written to the header, never applied to values
    std::string sortOrder = "ascii"; // sort order id: "ascii" (binary byte order) or "ANSIINTL"...
};

struct TableSchema {
    std::vector<FieldDef> fields;
    // At most one primary index. Secondary indexes are checked (name given, fields exist) but no
    // secondary index files are written; see docs/formats/paradox.md, "Secondary indexes".
    std::vector<IndexDef> indexes;
    CreateOptions options;
};

// A field of an open table.
struct FieldInfo {
    FieldDef def;
    std::uint16_t offset = 0;     // byte offset in the record
    std::uint16_t storedSize = 0; // bytes in the record
};

struct TableInfo {
    std::uint8_t fileVersionId =
        0x0C;                   // header byte: 3 = 3.0, 4 = 3.5, 5..9 = 4.x, 10..11 = 5, 12 = 7
    int fileVersion = 70;       // 30, 35, 40, 50 or 70
    std::uint16_t codePage = 0; // 0 when the file names none (3.x tables)
    std::uint8_t sortOrder = 0; // the sort order byte
    std::string sortOrderName;  // the sort order id ("ascii", "ANSIINTL"); empty in 3.x
    std::uint16_t recordSize = 0;
    std::uint16_t headerSize = 0;
    std::uint32_t blockSize = 0;
    int keyFieldCount = 0; // leading fields forming the primary key; 0 for an unkeyed table
    std::vector<FieldInfo> fields;

    // Index of the field with this name (exact byte comparison), or -1.
    int FieldIndex(std::string_view name) const;
};

// A decoded value. Text, BLOB and bytes values are the stored bytes, unchanged.
class FieldValue {
public:
    enum class Kind : std::uint8_t {
        Null,
        Bytes,     // alpha (without its NUL padding), BLOB types, bytes
        Integer,   // short, long, autoincrement
        Number,    // number, currency
        Logical,   //
        Date,      // days, day 1 = 0001-01-01 (proleptic Gregorian)
        Time,      // milliseconds since midnight
        Timestamp, // milliseconds since 0001-01-01 00:00 minus one day (days * 86400000 + ms)
        Decimal,   // BCD, as decimal text ("-12.50")
        Invalid,   // stored bytes that do not decode (a BCD nibble above 9); Bytes() holds them
    };

    FieldValue() = default; // null
    static FieldValue FromBytes(std::string bytes);
    static FieldValue FromInteger(std::int64_t value);
    static FieldValue FromNumber(double value);
    static FieldValue FromLogical(bool value);
    static FieldValue FromDate(std::int32_t day);
    static FieldValue FromTime(std::int32_t millisecondsOfDay);
    static FieldValue FromTimestamp(double milliseconds);
    static FieldValue FromDecimal(std::string text);
    static FieldValue FromInvalid(std::string rawBytes);

    Kind GetKind() const { return kind_; }
    bool IsNull() const { return kind_ == Kind::Null; }
    // Bytes, Decimal (its text) and Invalid (the raw bytes); empty for other kinds.
    const std::string& Bytes() const { return bytes_; }
    // Integer, Date (the day) and Time (the milliseconds); Logical as 0/1; Number truncated.
    std::int64_t Integer() const;
    // Number and Timestamp; Integer, Date and Time converted.
    double Number() const;
    bool Logical() const { return integer_ != 0; }

    // The text shown for the value: "" for null, bytes unchanged, integers in decimal, numbers in
    // the shortest form that reads back the same ("0.1", "40", "1e+300"), "True"/"False", dates
    // "YYYY-MM-DD", times "HH:MM:SS" (".mmm" appended when the milliseconds are not 0),
    // timestamps "YYYY-MM-DD HH:MM:SS[.mmm]", decimals as stored text, "(invalid)" for Invalid.
    std::string DisplayText() const;

    bool operator==(const FieldValue& other) const;

private:
    Kind kind_ = Kind::Null;
    std::int64_t integer_ = 0;
    double number_ = 0;
    std::string bytes_;
};

// The display text of a value of a field of this type; like FieldValue::DisplayText except that
// currency shows two decimals ("12.50").
std::string DisplayText(FieldType type, const FieldValue& value);

struct CivilDate {
    int year = 1; // may be 0 or negative for dates before 0001-01-01
    int month = 1;
    int day = 1;
};
CivilDate CivilFromDay(std::int32_t day);
std::int32_t DayFromCivil(int year, int month, int day);

class ParadoxTable;

// One record of a table's loaded snapshot. Valid while the table lives and has not reloaded or
// committed since the view was taken.
class RecordView {
public:
    RecordView(const ParadoxTable& table, std::span<const std::uint8_t> bytes);

    std::span<const std::uint8_t> Bytes() const { return bytes_; }
    // True when the field holds no value (all zero bytes; a BLOB with length 0).
    bool IsNull(int field) const;
    // The decoded value; BLOB values are read in full from the snapshot of the .mb file.
    FieldValue Value(int field) const;
    // Alpha and bytes fields without copying: the stored bytes up to the first NUL (alpha) or all
    // of them (bytes). Throws for other types.
    std::string_view Text(int field) const;

private:
    const FieldInfo& Field(int field) const {
        if (field < 0 || static_cast<std::size_t>(field) >= info_->fields.size()) [[unlikely]] {
            NoSuchField(field);
        }
        return info_->fields[static_cast<std::size_t>(field)];
    }
    [[noreturn]] void NoSuchField(int field) const;
    bool IsNullStored(const FieldInfo& info) const;

    const ParadoxTable* table_;
    const TableInfo* info_;
    std::span<const std::uint8_t> bytes_;
};

// Inline: walks over many records ask this of every field.
inline bool RecordView::IsNull(int field) const {
    const FieldInfo& info = Field(field);
    if (IsBlobType(info.def.type)) {
        // The length in the descriptor.
        const std::uint8_t* length = bytes_.data() + info.offset + info.storedSize - 6;
        return (length[0] | length[1] | length[2] | length[3]) == 0;
    }
    return IsNullStored(info);
}

// A record being composed for a Transaction: the bytes of a stored record (or all null for a new
// one) plus the values set on it. Fields that are not set keep their stored bytes exactly,
// including BLOB descriptors. Holds a pointer to its table, which must outlive it.
class RecordBuffer {
public:
    // Sets a field. Alpha values longer than the field are cut to its size in bytes; a BLOB value
    // of 0 bytes is null. The value's kind must fit the type (Bytes for alpha, BLOB and bytes
    // fields; Integer for short and long; Number or Integer for number and currency; Logical;
    // Date; Time; Timestamp) or null; a short or long out of range throws EParadoxError.
    // Throws EFieldNotWritable for graphic, BCD and autoincrement fields.
    void Set(int field, const FieldValue& value);
    // Gives a new record (from NewRecord) its autoincrement number instead of the table's next one,
    // e.g. for a faithful copy of another table. The number is stored as given; the commit raises
    // the table's counter to at least it. value is 1 .. 2147483647. Throws EFieldNotWritable when
    // field is not of type autoincrement or the record is not new, EParadoxError for a value out
    // of range.
    void SetAutoIncrement(int field, std::int64_t value);
    void SetNull(int field) { Set(field, FieldValue()); }
    // The value the record will hold: a set value, else the stored one.
    FieldValue Get(int field) const;
    bool IsSet(int field) const;

private:
    friend class ParadoxTable;
    friend class Transaction;
    RecordBuffer(const ParadoxTable& table, std::span<const std::uint8_t> bytes,
                 std::int64_t origin);

    const ParadoxTable* table_;
    std::int64_t origin_;          // the record index it was made from, -1 for a new record
    std::uint64_t generation_ = 0; // of the table's snapshot it was made from
    std::vector<std::uint8_t> bytes_;
    // BLOB values set on the buffer (field, bytes), stored in the .mb when the transaction
    // commits. Few fields of a record are set at a time.
    std::vector<std::pair<int, std::string>> blobs_;
    const std::string* FindBlob(int field) const;
    std::vector<bool> set_;
    std::optional<std::int64_t> autoIncrement_; // a number given by SetAutoIncrement
};

struct CommitResult {
    // For each Append in call order: the record index after the commit and its autoincrement value
    // (0 when the table has no autoincrement field).
    std::vector<std::uint32_t> appendedIndexes;
    std::vector<std::int64_t> appendedAutoInc;
    // For each Update in call order: the record index after the commit.
    std::vector<std::uint32_t> updatedIndexes;
};

// A batch of changes to one table, written by Commit as one unit. Record indexes name records of
// the snapshot the table had when the transaction began. Holds a reference to its table, which
// must outlive it; the table must not reload or commit otherwise while it is pending.
class Transaction {
public:
    explicit Transaction(ParadoxTable& table);

    // A new record. Its autoincrement field gets the number given by SetAutoIncrement, else a
    // number of the table's counter: the counter is first raised to the highest number given in
    // this transaction (when above it), then each record without a given number gets the next one
    // in call order. The counter never falls.
    void Append(RecordBuffer record);
    // Replaces record index with record (made from this table). Updating one record twice keeps
    // the last; updating a deleted record throws, as does a record carrying a given
    // autoincrement number.
    void Update(std::uint32_t index, RecordBuffer record);
    void Delete(std::uint32_t index);
    bool Empty() const;

    // Writes every change as one unit and brings the table's snapshot to the new state; then the
    // transaction is empty. Keyed tables keep their records in key order; a duplicate primary key
    // throws. On any failure (ETableChanged, ETableInUse, a duplicate key, disk full, no
    // permission) it throws and the files and the snapshot are as they were, the changes stay in
    // the transaction. If the process dies during the commit, the next open restores the old state.
    CommitResult Commit();

private:
    friend class ParadoxTable;
    struct Change {
        enum class What : std::uint8_t { Append, Update, Delete } what;
        std::uint32_t index = 0;
        std::optional<RecordBuffer> record;
    };
    ParadoxTable* table_;
    std::vector<Change> changes_;
};

struct OpenOptions {
    // Exclusive: no other open of the file anywhere while this one lives, and this one fails when
    // any other exists. Shared opens coexist.
    bool exclusive = false;
    // No transactions; the files are opened for reading only.
    bool readOnly = false;
};

// What a snapshot was loaded from; two stamps are equal when the files have not changed.
struct ChangeStamp {
    std::uint64_t dbSize = 0, mbSize = 0, pxSize = 0;
    std::int64_t dbTime = 0, mbTime = 0;
    std::uint64_t headerHash = 0; // of the .db header's fixed part

    bool operator==(const ChangeStamp&) const = default;
};

class ParadoxTable {
public:
    // Opens the table at dbPath (the .db file; the .mb and .px beside it are found by extension,
    // matching the case of the .db extension or, failing that, any case). Throws EParadoxError
    // when the file is missing, no table, encrypted or damaged, ETableInUse when locked. A
    // journal left by an interrupted commit is finished first (this needs write access).
    static std::unique_ptr<ParadoxTable> Open(const std::filesystem::path& dbPath,
                                              OpenOptions options = {});
    // Creates an empty table at dbPath, replacing any table there (.db, .mb, .px and stale
    // secondary index files). Throws ETableInUse naming the file when it is open anywhere,
    // EParadoxError for an invalid schema (naming the field) or a failed write.
    static void Create(const std::filesystem::path& dbPath, const TableSchema& schema);

    ~ParadoxTable();
    ParadoxTable(const ParadoxTable&) = delete;
    ParadoxTable& operator=(const ParadoxTable&) = delete;

    const std::filesystem::path& Path() const;
    const TableInfo& Info() const;
    const OpenOptions& Options() const;
    std::uint32_t RecordCount() const;
    // The last autoincrement value assigned (the next record gets this + 1).
    std::int64_t AutoIncrement() const;
    // Faults found while loading that did not stop it (a record count that differs from the block
    // chain, an index file that is out of date), as messages naming the file.
    const std::vector<std::string>& Warnings() const;

    // Record index 0 .. RecordCount()-1, in block-chain order (key order for keyed tables).
    // Throws EParadoxError for an index out of range. O(1).
    RecordView Record(std::uint32_t index) const;
    FieldValue Read(std::uint32_t index, int field) const { return Record(index).Value(field); }
    // The full value of a BLOB field of a record view of this table ("" for null). Throws
    // EParadoxError naming the .mb and the field when the value cannot be read.
    std::string ReadBlob(const RecordView& record, int field) const;
    // The same without a copy: valid while the record view is.
    std::string_view BlobView(const RecordView& record, int field) const;

    // The record whose primary key equals key (one value per key field, Kinds as Set accepts;
    // alpha compared as stored bytes), or nothing. Throws EParadoxError for an unkeyed table.
    // O(log n); a linear search when an alpha key is ordered by a language sort order.
    std::optional<std::uint32_t> FindByKey(const std::vector<FieldValue>& key) const;

    RecordBuffer NewRecord() const;
    RecordBuffer EditRecord(std::uint32_t index) const;

    // The stamp of the loaded snapshot, and whether the files on disk now differ from it (a stat
    // of the files and a read of the header).
    const ChangeStamp& Stamp() const;
    bool ChangedOnDisk() const;
    // Loads the files again (after a change on disk); the structure may have changed.
    void Reload();

private:
    friend class RecordView;
    friend class RecordBuffer;
    friend class Transaction;
    struct State;
    explicit ParadoxTable(std::unique_ptr<State> state);
    CommitResult CommitChanges(const std::vector<Transaction::Change>& changes);

    std::unique_ptr<State> state_;
};

} // namespace kelvara::paradox

#include "engine/sql_source.h"

#include "engine/sql_like.h"
#include "text/utf8_path.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace kelvara {
namespace {

namespace fs = std::filesystem;
using paradox::FieldType;
using paradox::FieldValue;

// The fixed header and the start of the variable part, which hold the record count, the change
// counters and the update time.
constexpr std::size_t kHashedHeaderBytes = 0x78;

bool IsTextType(FieldType type) {
    return type == FieldType::Alpha || type == FieldType::Bytes || paradox::IsBlobType(type);
}

// A file beside the table: the extension in the letter case of the table's own, or else the other.
fs::path Companion(const fs::path& dbPath, std::string_view lower, std::string_view upper) {
    const std::string ext = dbPath.extension().string();
    const bool upperCase = !ext.empty() && ext.size() > 1 && ext[1] >= 'A' && ext[1] <= 'Z';
    fs::path first = dbPath;
    first.replace_extension(upperCase ? upper : lower);
    std::error_code error;
    if (fs::exists(first, error)) {
        return first;
    }
    fs::path second = dbPath;
    second.replace_extension(upperCase ? lower : upper);
    return second;
}

void StampFile(const fs::path& path, std::uint64_t& size, std::int64_t& time) {
    std::error_code error;
    const auto fileSize = fs::file_size(path, error);
    size = error ? 0 : static_cast<std::uint64_t>(fileSize);
    const auto writeTime = fs::last_write_time(path, error);
    time = error ? 0 : static_cast<std::int64_t>(writeTime.time_since_epoch().count());
}

std::uint64_t HashHeader(const fs::path& dbPath) {
    std::array<char, kHashedHeaderBytes> bytes{};
    std::ifstream in(dbPath, std::ios::binary);
    in.read(bytes.data(), bytes.size());
    const auto count = static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0));
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (std::size_t i = 0; i < count; ++i) {
        hash = (hash ^ static_cast<unsigned char>(bytes[i])) * 1099511628211ull;
    }
    return hash;
}

// Orders a text against an already folded one, ignoring ASCII case of the first.
int CompareFolded(std::string_view text, std::string_view folded) {
    const std::size_t common = std::min(text.size(), folded.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto a = static_cast<unsigned char>(AsciiLower(text[i]));
        const auto b = static_cast<unsigned char>(folded[i]);
        if (a != b) {
            return a < b ? -1 : 1;
        }
    }
    return text.size() < folded.size() ? -1 : (text.size() > folded.size() ? 1 : 0);
}

int CompareFoldedTexts(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(AsciiLower(a[i]));
        const auto y = static_cast<unsigned char>(AsciiLower(b[i]));
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

template <typename T> int Order(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareValues(const FieldValue& a, const FieldValue& b) {
    switch (a.GetKind()) {
    case FieldValue::Kind::Integer:
    case FieldValue::Kind::Logical:
    case FieldValue::Kind::Date:
    case FieldValue::Kind::Time:
        return Order(a.Integer(), b.Integer());
    case FieldValue::Kind::Number:
    case FieldValue::Kind::Timestamp:
        return Order(a.Number(), b.Number());
    case FieldValue::Kind::Decimal:
        return Order(std::strtod(a.Bytes().c_str(), nullptr),
                     std::strtod(b.Bytes().c_str(), nullptr));
    default:
        return a.Bytes().compare(b.Bytes());
    }
}

} // namespace

struct SqlSourceTable::Column {
    paradox::FieldDef def;
    bool isText = true;
    bool allNull = true;
    // The text of record r is arena[offsets[r], offsets[r + 1]); both stay empty while every
    // value is null, which is most language columns of most tables.
    std::string arena;
    std::vector<std::uint64_t> offsets;
    // Types other than text keep their decoded values too, for reading as value and ordering.
    std::vector<FieldValue> values;
    std::optional<std::vector<std::uint32_t>> foldedIndex;

    std::string_view TextAt(std::uint32_t row) const {
        if (allNull) {
            return {};
        }
        return std::string_view(arena).substr(offsets[row], offsets[row + 1] - offsets[row]);
    }
};

SqlFileStamp SqlFileStamp::Of(const fs::path& dbPath) {
    SqlFileStamp stamp;
    StampFile(dbPath, stamp.dbSize, stamp.dbTime);
    StampFile(Companion(dbPath, ".mb", ".MB"), stamp.mbSize, stamp.mbTime);
    StampFile(Companion(dbPath, ".px", ".PX"), stamp.pxSize, stamp.pxTime);
    stamp.headerHash = stamp.dbSize == 0 ? 0 : HashHeader(dbPath);
    return stamp;
}

SqlSourceTable::~SqlSourceTable() = default;

std::shared_ptr<const SqlSourceTable> SqlSourceTable::Load(const fs::path& dbPath) {
    std::shared_ptr<SqlSourceTable> source(new SqlSourceTable());
    source->path_ = dbPath;
    // Stamped before reading: a change that lands during the read makes the stamp differ next
    // time, so the copy is read again rather than kept stale.
    source->stamp_ = SqlFileStamp::Of(dbPath);
    const auto table = paradox::ParadoxTable::Open(dbPath, {.exclusive = false, .readOnly = true});
    const std::uint32_t count = table->RecordCount();
    source->recordCount_ = count;
    const auto& infos = table->Info().fields;
    for (std::size_t f = 0; f < infos.size(); ++f) {
        auto column = std::make_unique<Column>();
        column->def = infos[f].def;
        column->isText = IsTextType(column->def.type);
        column->offsets.reserve(count + std::size_t{1});
        column->offsets.push_back(0);
        if (!column->isText) {
            column->values.reserve(count);
        }
        source->fields_.push_back(std::move(column));
    }
    for (std::uint32_t row = 0; row < count; ++row) {
        const paradox::RecordView record = table->Record(row);
        for (std::size_t f = 0; f < infos.size(); ++f) {
            Column& column = *source->fields_[f];
            const int field = static_cast<int>(f);
            if (record.IsNull(field)) {
                if (!column.isText) {
                    column.values.emplace_back();
                }
            } else if (column.def.type == FieldType::Alpha || column.def.type == FieldType::Bytes) {
                column.arena += record.Text(field);
                column.allNull = false;
            } else if (column.isText) {
                column.arena += record.Value(field).Bytes();
                column.allNull = column.allNull && column.arena.empty();
            } else {
                FieldValue value = record.Value(field);
                column.arena += paradox::DisplayText(column.def.type, value);
                column.values.push_back(std::move(value));
                column.allNull = false;
            }
            column.offsets.push_back(column.arena.size());
        }
    }
    source->memoryBytes_ = sizeof(SqlSourceTable);
    for (auto& column : source->fields_) {
        if (column->allNull) {
            column->offsets = {};
            column->arena = {};
        }
        column->arena.shrink_to_fit();
        source->memoryBytes_ += sizeof(Column) + column->arena.capacity() +
                                column->offsets.capacity() * sizeof(std::uint64_t) +
                                column->values.capacity() * sizeof(FieldValue);
        for (const FieldValue& value : column->values) {
            source->memoryBytes_ += value.Bytes().capacity() > 15 ? value.Bytes().capacity() : 0;
        }
    }
    return source;
}

const paradox::FieldDef& SqlSourceTable::Field(int field) const {
    return fields_[field]->def;
}

int SqlSourceTable::FindField(std::string_view name) const {
    for (int f = 0; f < FieldCount(); ++f) {
        if (fields_[f]->def.name == name) {
            return f;
        }
    }
    for (int f = 0; f < FieldCount(); ++f) {
        if (AsciiEqualIgnoringCase(fields_[f]->def.name, name)) {
            return f;
        }
    }
    return -1;
}

bool SqlSourceTable::IsNull(int field, std::uint32_t row) const {
    const Column& column = *fields_[field];
    if (!column.isText) {
        return column.values[row].IsNull();
    }
    return column.TextAt(row).empty();
}

std::string_view SqlSourceTable::Text(int field, std::uint32_t row) const {
    return fields_[field]->TextAt(row);
}

FieldValue SqlSourceTable::Value(int field, std::uint32_t row) const {
    const Column& column = *fields_[field];
    if (!column.isText) {
        return column.values[row];
    }
    const std::string_view text = column.TextAt(row);
    return text.empty() ? FieldValue() : FieldValue::FromBytes(std::string(text));
}

int SqlSourceTable::Compare(int field, std::uint32_t a, std::uint32_t b) const {
    const Column& column = *fields_[field];
    if (column.isText) {
        const int order = column.TextAt(a).compare(column.TextAt(b));
        return Order(order, 0);
    }
    const FieldValue& x = column.values[a];
    const FieldValue& y = column.values[b];
    if (x.IsNull() || y.IsNull()) {
        return Order(!x.IsNull(), !y.IsNull());
    }
    return CompareValues(x, y);
}

const std::vector<std::uint32_t>& SqlSourceTable::FoldedIndex(int field) const {
    const std::lock_guard guard(indexLock_);
    Column& column = *fields_[field];
    if (!column.foldedIndex) {
        std::vector<std::uint32_t> rows;
        for (std::uint32_t row = 0; row < recordCount_; ++row) {
            if (!IsNull(field, row)) {
                rows.push_back(row);
            }
        }
        std::sort(rows.begin(), rows.end(), [&column](std::uint32_t a, std::uint32_t b) {
            const int order = CompareFoldedTexts(column.TextAt(a), column.TextAt(b));
            return order != 0 ? order < 0 : a < b;
        });
        memoryBytes_ += rows.capacity() * sizeof(std::uint32_t);
        column.foldedIndex = std::move(rows);
    }
    return *column.foldedIndex;
}

std::vector<std::uint32_t> SqlSourceTable::RowsWithFoldedText(int field, std::string_view folded,
                                                              bool wholeText) const {
    const std::vector<std::uint32_t>& index = FoldedIndex(field);
    const Column& column = *fields_[field];
    const auto begin = std::lower_bound(index.begin(), index.end(), folded,
                                        [&column](std::uint32_t row, std::string_view key) {
                                            return CompareFolded(column.TextAt(row), key) < 0;
                                        });
    const auto end = std::partition_point(begin, index.end(), [&](std::uint32_t row) {
        const std::string_view text = column.TextAt(row);
        if (wholeText) {
            return CompareFolded(text, folded) == 0;
        }
        return text.size() >= folded.size() &&
               CompareFolded(text.substr(0, folded.size()), folded) == 0;
    });
    std::vector<std::uint32_t> rows(begin, end);
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::size_t SqlSourceTable::MemoryBytes() const {
    const std::lock_guard guard(indexLock_);
    return memoryBytes_;
}

SqlSourceCache& SqlSourceCache::Shared() {
    static SqlSourceCache cache;
    return cache;
}

std::shared_ptr<const SqlSourceTable> SqlSourceCache::Get(const fs::path& dbPath) {
    // One file named in different ways is one entry; it is still opened by the name given, so
    // that errors name the file as the caller did.
    std::error_code error;
    fs::path key = fs::absolute(dbPath, error);
    key = (error ? dbPath : key).lexically_normal();
    const SqlFileStamp stamp = SqlFileStamp::Of(dbPath);
    {
        const std::lock_guard guard(lock_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->first != key) {
                continue;
            }
            if (it->second->Stamp() == stamp) {
                entries_.splice(entries_.begin(), entries_, it);
                // Indexes built since the last look may have pushed the total over the budget.
                TrimLocked();
                return entries_.front().second;
            }
            entries_.erase(it);
            break;
        }
    }
    auto source = SqlSourceTable::Load(dbPath);
    const std::lock_guard guard(lock_);
    ++loads_;
    entries_.emplace_front(std::move(key), source);
    TrimLocked();
    return source;
}

void SqlSourceCache::TrimLocked() {
    while (entries_.size() > capacity_) {
        entries_.pop_back();
    }
    std::size_t total = 0;
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        total += it->second->MemoryBytes();
        if (total > memoryBudget_ && it != entries_.begin()) {
            entries_.erase(it, entries_.end());
            return;
        }
    }
}

void SqlSourceCache::Clear() {
    const std::lock_guard guard(lock_);
    entries_.clear();
}

std::size_t SqlSourceCache::Loads() const {
    const std::lock_guard guard(lock_);
    return loads_;
}

fs::path ResolveSqlTablePath(std::string_view tablePath, std::string_view directory) {
    fs::path path = Utf8ToPath(tablePath);
    if (path.is_relative() && !directory.empty()) {
        path = Utf8ToPath(directory) / path;
    }
    if (!path.has_extension()) {
        path += ".db";
    }
    return path;
}

} // namespace kelvara

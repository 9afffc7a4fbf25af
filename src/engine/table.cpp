#include "engine/table.h"

#include "engine/change_cache.h"
#include "engine/paradox_table.h"
#include "text/utf8_path.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

namespace kelvara {

namespace px = paradox;

namespace {

// Row identities. Stored records of a table keyed on one integer column are named by that key;
// other keyed tables by a number given to each distinct key; tables without a key by their
// position. Cached inserts take numbers from 2^50 up (TChangeCache), far above all of these.
constexpr std::int64_t kNullKeyIdentity = std::int64_t{1} << 36;
constexpr std::int64_t kFirstInternedIdentity = std::int64_t{1} << 40;
// The row being inserted is not a stored record nor (yet) a cached one.
constexpr std::int32_t kCachedInsertRow = -1;
constexpr std::int32_t kProvisionalRow = -2;

TFieldType FromStorageType(px::FieldType type) {
    switch (type) {
    case px::FieldType::Alpha:
        return TFieldType::ftString;
    case px::FieldType::Date:
        return TFieldType::ftDate;
    case px::FieldType::Short:
        return TFieldType::ftSmallint;
    case px::FieldType::Long:
        return TFieldType::ftInteger;
    case px::FieldType::Currency:
        return TFieldType::ftCurrency;
    case px::FieldType::Number:
        return TFieldType::ftFloat;
    case px::FieldType::Logical:
        return TFieldType::ftBoolean;
    case px::FieldType::Memo:
        return TFieldType::ftMemo;
    case px::FieldType::Blob:
        return TFieldType::ftBlob;
    case px::FieldType::FormattedMemo:
        return TFieldType::ftFmtMemo;
    case px::FieldType::Ole:
        return TFieldType::ftOle;
    case px::FieldType::Graphic:
        return TFieldType::ftGraphic;
    case px::FieldType::Time:
        return TFieldType::ftTime;
    case px::FieldType::Timestamp:
        return TFieldType::ftDateTime;
    case px::FieldType::AutoInc:
        return TFieldType::ftAutoInc;
    case px::FieldType::Bcd:
        return TFieldType::ftBCD;
    case px::FieldType::Bytes:
        return TFieldType::ftBytes;
    }
    return TFieldType::ftUnknown;
}

px::FieldType ToStorageType(const TFieldDef& def) {
    switch (def.DataType) {
    case TFieldType::ftString:
        return px::FieldType::Alpha;
    case TFieldType::ftSmallint:
        return px::FieldType::Short;
    case TFieldType::ftInteger:
        return px::FieldType::Long;
    case TFieldType::ftAutoInc:
        return px::FieldType::AutoInc;
    case TFieldType::ftFloat:
        return px::FieldType::Number;
    case TFieldType::ftCurrency:
        return px::FieldType::Currency;
    case TFieldType::ftBCD:
        return px::FieldType::Bcd;
    case TFieldType::ftBoolean:
        return px::FieldType::Logical;
    case TFieldType::ftDate:
        return px::FieldType::Date;
    case TFieldType::ftTime:
        return px::FieldType::Time;
    case TFieldType::ftDateTime:
        return px::FieldType::Timestamp;
    case TFieldType::ftBytes:
        return px::FieldType::Bytes;
    case TFieldType::ftMemo:
        return px::FieldType::Memo;
    case TFieldType::ftBlob:
        return px::FieldType::Blob;
    case TFieldType::ftFmtMemo:
        return px::FieldType::FormattedMemo;
    case TFieldType::ftOle:
        return px::FieldType::Ole;
    case TFieldType::ftGraphic:
        return px::FieldType::Graphic;
    case TFieldType::ftUnknown:
        break;
    }
    throw EDatabaseError("Field '" + def.Name + "' has no type a table can store");
}

TFieldValue FromStorageValue(const px::FieldValue& value) {
    switch (value.GetKind()) {
    case px::FieldValue::Kind::Null:
        return std::monostate();
    case px::FieldValue::Kind::Bytes:
    case px::FieldValue::Kind::Decimal:
    case px::FieldValue::Kind::Invalid:
        return value.Bytes().empty() ? TFieldValue() : TFieldValue(value.Bytes());
    case px::FieldValue::Kind::Integer:
    case px::FieldValue::Kind::Date:
    case px::FieldValue::Kind::Time:
        return value.Integer();
    case px::FieldValue::Kind::Number:
    case px::FieldValue::Kind::Timestamp:
        return value.Number();
    case px::FieldValue::Kind::Logical:
        return value.Logical();
    }
    return std::monostate();
}

px::FieldValue ToStorageValue(const TFieldValue& value, const TFieldDef& def) {
    if (IsNullValue(value)) {
        return px::FieldValue();
    }
    const auto* text = std::get_if<std::string>(&value);
    const auto* integer = std::get_if<std::int64_t>(&value);
    const auto* number = std::get_if<double>(&value);
    const auto* logical = std::get_if<bool>(&value);
    switch (def.DataType) {
    case TFieldType::ftString:
    case TFieldType::ftBytes:
    case TFieldType::ftMemo:
    case TFieldType::ftBlob:
    case TFieldType::ftFmtMemo:
    case TFieldType::ftOle:
    case TFieldType::ftGraphic:
        if (text) {
            return px::FieldValue::FromBytes(*text);
        }
        break;
    case TFieldType::ftBCD:
        if (text) {
            return px::FieldValue::FromDecimal(*text);
        }
        break;
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
        if (integer) {
            return px::FieldValue::FromInteger(*integer);
        }
        break;
    case TFieldType::ftDate:
        if (integer) {
            return px::FieldValue::FromDate(static_cast<std::int32_t>(*integer));
        }
        break;
    case TFieldType::ftTime:
        if (integer) {
            return px::FieldValue::FromTime(static_cast<std::int32_t>(*integer));
        }
        break;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
        if (number) {
            return px::FieldValue::FromNumber(*number);
        }
        break;
    case TFieldType::ftDateTime:
        if (number) {
            return px::FieldValue::FromTimestamp(*number);
        }
        break;
    case TFieldType::ftBoolean:
        if (logical) {
            return px::FieldValue::FromLogical(*logical);
        }
        break;
    case TFieldType::ftUnknown:
        break;
    }
    return ToStorageValue(ConvertFieldValue(value, def), def);
}

std::vector<std::string> SplitFieldList(const std::string& list) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(';', start), list.size());
        if (end > start) {
            names.push_back(list.substr(start, end - start));
        }
        start = end + 1;
    }
    return names;
}

std::string JoinFieldList(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& name : names) {
        list += (list.empty() ? "" : ";") + name;
    }
    return list;
}

// Storage failures reach callers in the handle's own exception class, with the same message.
template <typename Body> auto Storage(Body body) -> decltype(body()) {
    try {
        return body();
    } catch (const EDatabaseError&) {
        throw;
    } catch (const px::EParadoxError& error) {
        throw EDatabaseError(error.what());
    } catch (const std::system_error& error) {
        throw EDatabaseError(error.what());
    }
}

[[noreturn]] void RecordChangedByOthers(const std::string& record) {
    throw EDatabaseError("Couldn't perform the edit because another user changed the record (" +
                         record + ")");
}

} // namespace

struct TTable::TRowRef {
    std::int64_t identity;
    std::int32_t storeIndex; // a record of the file, or kCachedInsertRow, or kProvisionalRow
};

struct TTable::TEditBuffer {
    std::vector<TFieldValue> values;
    std::vector<TFieldValue> originals;
    std::vector<bool> written;
    bool inserting = false;
    std::int64_t identity = 0;
    // Insert only: where the record goes in the cache, and which record to return to on Cancel.
    std::int64_t anchor = kAnchorEnd;
    std::optional<std::int64_t> beforeInsert;
    std::optional<std::int64_t> returnIdentity;
};

// One write to the file: updates and deletions of records as read, new records.
struct TTable::TFileWrite {
    struct TUpdate {
        std::int64_t identity = 0;
        const TCachedEdit* edit = nullptr;
    };
    std::vector<TUpdate> updates;
    std::vector<TUpdate> deletes;
    std::size_t insertCount = 0;
    // Fills the values of new record i (one per column).
    std::function<void(std::size_t, std::vector<TFieldValue>&)> insert;
    // Store the autoincrement values given for new records (copies); else the table numbers them.
    bool keepAutoIncrement = false;
};

TTable::TTable() : cache_(std::make_unique<TChangeCache>()) {}

TTable::~TTable() {
    DetachListeners();
    Close();
}

void TTable::CheckInactive() const {
    if (Active()) {
        throw EDatabaseError("Cannot perform this operation on an open dataset");
    }
}

void TTable::SetTableName(std::string path) {
    CheckInactive();
    tableName_ = std::move(path);
}

void TTable::SetDatabaseName(std::string name) {
    CheckInactive();
    databaseName_ = std::move(name);
}

void TTable::SetTableType(TTableType type) {
    CheckInactive();
    tableType_ = type;
}

void TTable::SetExclusive(bool exclusive) {
    CheckInactive();
    exclusive_ = exclusive;
}

void TTable::SetReadOnly(bool readOnly) {
    CheckInactive();
    readOnly_ = readOnly;
}

std::string TTable::FilePath() const {
    std::filesystem::path path = Utf8ToPath(tableName_);
    if (!databaseName_.empty() && path.is_relative()) {
        path = Utf8ToPath(databaseName_) / path;
    }
    if (!tableName_.empty() && !path.has_extension()) {
        path += ".db";
    }
    return PathToUtf8(path);
}

void TTable::CreateTable() {
    CheckInactive();
    if (tableName_.empty()) {
        throw EDatabaseError("Table name is missing");
    }
    px::TableSchema schema;
    for (const TFieldDef& def : fieldDefs_) {
        if (def.Required) {
            throw EDatabaseError("Field '" + def.Name +
                                 "': required columns cannot be created in this table format");
        }
        px::FieldDef field;
        field.name = def.Name;
        field.type = ToStorageType(def);
        field.size = def.Size;
        schema.fields.push_back(std::move(field));
    }
    for (const TIndexDef& def : indexDefs_) {
        px::IndexDef index;
        index.name = def.Name;
        index.fields = SplitFieldList(def.Fields);
        index.primary = (def.Options & ixPrimary) != 0;
        index.unique = (def.Options & ixUnique) != 0 || index.primary;
        index.caseInsensitive = (def.Options & ixCaseInsensitive) != 0;
        index.descending = (def.Options & ixDescending) != 0;
        schema.indexes.push_back(std::move(index));
    }
    Storage([&] { px::ParadoxTable::Create(Utf8ToPath(FilePath()), schema); });
}

void TTable::Open() {
    if (Active()) {
        return;
    }
    if (tableName_.empty()) {
        throw EDatabaseError("Table name is missing");
    }
    store_ = Storage([&] {
        return px::ParadoxTable::Open(Utf8ToPath(FilePath()),
                                      px::OpenOptions{exclusive_, readOnly_});
    });
    try {
        TakeStructure();
        cache_->Clear();
        internedKeys_.clear();
        RebuildRows();
    } catch (...) {
        store_.reset();
        DestroyFields();
        throw;
    }
    SetModified(false);
    SetState(TDataSetState::dsBrowse);
    PlaceCursor(rows_.empty() ? -1 : 0, false);
    NotifyReloaded();
    if (!rows_.empty()) {
        NotifyCurrentChanged();
        RaiseAfterScroll();
    }
}

void TTable::Close() {
    if (!Active()) {
        return;
    }
    edit_.reset();
    cache_->Clear();
    rows_.clear();
    internedKeys_.clear();
    savedInserts_.clear();
    store_.reset();
    DestroyFields();
    SetModified(false);
    PlaceCursor(-1, false);
    SetState(TDataSetState::dsInactive);
    NotifyReloaded();
}

void TTable::TakeStructure() {
    const px::TableInfo& info = store_->Info();
    fieldDefs_.clear();
    storeTypes_.clear();
    for (const px::FieldInfo& field : info.fields) {
        TFieldDef def;
        def.Name = field.def.name;
        def.DataType = FromStorageType(field.def.type);
        def.Size = field.def.size;
        fieldDefs_.push_back(def);
        storeTypes_.push_back(field.def.type);
    }
    keyFieldCount_ = info.keyFieldCount;
    indexDefs_.clear();
    if (keyFieldCount_ > 0) {
        std::vector<std::string> names;
        for (int i = 0; i < keyFieldCount_; ++i) {
            names.push_back(fieldDefs_[static_cast<std::size_t>(i)].Name);
        }
        indexDefs_.push_back(TIndexDef{"", JoinFieldList(names), ixPrimary | ixUnique});
    }
    const bool integerKey = keyFieldCount_ == 1 && (storeTypes_[0] == px::FieldType::Short ||
                                                    storeTypes_[0] == px::FieldType::Long ||
                                                    storeTypes_[0] == px::FieldType::AutoInc);
    identityScheme_ = integerKey           ? TIdentityScheme::IntegerKey
                      : keyFieldCount_ > 0 ? TIdentityScheme::InternedKey
                                           : TIdentityScheme::Position;
    BindFields(fieldDefs_);
}

TFieldValue TTable::ReadFrom(const px::ParadoxTable& table, std::uint32_t index, int field) const {
    const px::RecordView record = table.Record(index);
    const px::FieldType type = storeTypes_[static_cast<std::size_t>(field)];
    if (type == px::FieldType::Alpha) {
        const std::string_view text = record.Text(field);
        return text.empty() ? TFieldValue() : TFieldValue(std::string(text));
    }
    if (px::IsBlobType(type)) {
        if (record.IsNull(field)) {
            return std::monostate();
        }
        std::string bytes = table.ReadBlob(record, field);
        return bytes.empty() ? TFieldValue() : TFieldValue(std::move(bytes));
    }
    return FromStorageValue(record.Value(field));
}

TFieldValue TTable::ReadStored(std::uint32_t index, int field) const {
    return ReadFrom(*store_, index, field);
}

std::vector<TFieldValue> TTable::StoredKey(std::uint32_t index) const {
    std::vector<TFieldValue> key;
    for (int i = 0; i < keyFieldCount_; ++i) {
        key.push_back(ReadStored(index, i));
    }
    return key;
}

std::int64_t TTable::StoredIdentity(std::uint32_t index) const {
    switch (identityScheme_) {
    case TIdentityScheme::IntegerKey: {
        const px::FieldValue key = store_->Record(index).Value(0);
        return key.IsNull() ? kNullKeyIdentity : key.Integer();
    }
    case TIdentityScheme::InternedKey: {
        std::string text;
        for (const TFieldValue& value : StoredKey(index)) {
            text += std::to_string(value.index()) + ":" +
                    FieldValueToText(value, TFieldType::ftString) + '\0';
        }
        const auto [entry, made] = internedKeys_.try_emplace(
            std::move(text),
            kFirstInternedIdentity + static_cast<std::int64_t>(internedKeys_.size()));
        return entry->second;
    }
    case TIdentityScheme::Position:
        break;
    }
    return index;
}

void TTable::RebuildRows() {
    rows_.clear();
    const std::uint32_t count = store_->RecordCount();
    rows_.reserve(count + cache_->InsertCount());
    const bool anchored = cache_->HasAnchors();
    std::set<std::int64_t> anchorsSeen;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::int64_t identity = StoredIdentity(i);
        if (anchored) {
            for (const std::int64_t insert : cache_->InsertsBefore(identity)) {
                rows_.push_back(TRowRef{insert, kCachedInsertRow});
            }
            if (!cache_->InsertsBefore(identity).empty()) {
                anchorsSeen.insert(identity);
            }
        }
        if (!cache_->IsDeleted(identity)) {
            rows_.push_back(TRowRef{identity, static_cast<std::int32_t>(i)});
        }
    }
    if (!anchored) {
        return;
    }
    // Inserts made before a record that is no longer in the file, then those made at the end.
    for (const std::int64_t insert : cache_->InsertsInOrder()) {
        const std::int64_t anchor = cache_->FindInsert(insert)->anchor;
        if (anchor != kAnchorEnd && anchorsSeen.count(anchor) == 0) {
            rows_.push_back(TRowRef{insert, kCachedInsertRow});
        }
    }
    for (const std::int64_t insert : cache_->InsertsBefore(kAnchorEnd)) {
        rows_.push_back(TRowRef{insert, kCachedInsertRow});
    }
}

int TTable::RowCount() const {
    return static_cast<int>(rows_.size());
}

TFieldValue TTable::RowValue(int row, int fieldIndex) const {
    if (edit_ && row == CurrentRow()) {
        return edit_->values[static_cast<std::size_t>(fieldIndex)];
    }
    return PostedValueAt(row, fieldIndex);
}

TFieldValue TTable::PostedValueAt(int row, int fieldIndex) const {
    const TRowRef& ref = rows_.at(static_cast<std::size_t>(row));
    if (ref.storeIndex >= 0) {
        if (const auto* changed = cache_->ChangedFields(ref.identity)) {
            const auto found = changed->find(fieldIndex);
            if (found != changed->end()) {
                return found->second.posted;
            }
        }
        return ReadStored(static_cast<std::uint32_t>(ref.storeIndex), fieldIndex);
    }
    if (ref.storeIndex == kCachedInsertRow) {
        return cache_->FindInsert(ref.identity)->values.at(static_cast<std::size_t>(fieldIndex));
    }
    return std::monostate();
}

bool TTable::RowIsPosted(int row) const {
    return rows_.at(static_cast<std::size_t>(row)).storeIndex != kProvisionalRow;
}

std::int64_t TTable::RowIdentity(int row) const {
    return rows_.at(static_cast<std::size_t>(row)).identity;
}

int TTable::FindRowByIdentity(std::int64_t identity) const {
    // A record inserted through the cache and saved since goes by its stored identity now.
    const auto saved = savedInserts_.find(identity);
    if (saved != savedInserts_.end()) {
        identity = saved->second;
    }
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].identity == identity) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool TTable::CanModify() const {
    return Active() && !readOnly_;
}

void TTable::CheckEditable() const {
    CheckActive();
    if (!CanModify()) {
        throw EDatabaseError("Cannot modify a read-only dataset");
    }
}

std::vector<TFieldValue> TTable::ShownValues(int row) const {
    std::vector<TFieldValue> values;
    values.reserve(static_cast<std::size_t>(FieldCount()));
    for (int f = 0; f < FieldCount(); ++f) {
        values.push_back(PostedValueAt(row, f));
    }
    return values;
}

void TTable::Edit() {
    CheckEditable();
    if (State() != TDataSetState::dsBrowse) {
        return;
    }
    if (rows_.empty() || CurrentRow() < 0) {
        throw EDatabaseError("Cannot perform this operation on an empty dataset");
    }
    auto buffer = std::make_unique<TEditBuffer>();
    buffer->values = ShownValues(CurrentRow());
    buffer->originals = buffer->values;
    buffer->written.assign(buffer->values.size(), false);
    buffer->identity = RowIdentity(CurrentRow());
    edit_ = std::move(buffer);
    SetModified(false);
    SetState(TDataSetState::dsEdit);
}

void TTable::Append() {
    CheckEditable();
    CheckBrowseMode();
    BeginInsert(true);
}

void TTable::Insert() {
    CheckEditable();
    CheckBrowseMode();
    BeginInsert(false);
}

void TTable::BeginInsert(bool append) {
    auto buffer = std::make_unique<TEditBuffer>();
    buffer->values.assign(static_cast<std::size_t>(FieldCount()), TFieldValue());
    buffer->originals = buffer->values;
    buffer->written.assign(buffer->values.size(), false);
    buffer->inserting = true;
    buffer->identity = cache_->NewInsertIdentity();
    const int current = CurrentRow();
    if (current >= 0 && current < RowCount()) {
        buffer->returnIdentity = RowIdentity(current);
    }
    int position = RowCount();
    if (!append && current >= 0 && current < RowCount()) {
        position = current;
        const TRowRef& before = rows_[static_cast<std::size_t>(current)];
        if (before.storeIndex >= 0) {
            buffer->anchor = before.identity;
        } else {
            buffer->anchor = cache_->FindInsert(before.identity)->anchor;
            buffer->beforeInsert = before.identity;
        }
    }
    rows_.insert(rows_.begin() + position, TRowRef{buffer->identity, kProvisionalRow});
    edit_ = std::move(buffer);
    SetModified(false);
    SetState(TDataSetState::dsInsert);
    NotifyRowsInserted(position, 1);
    PlaceCursor(position, true);
}

void TTable::WriteFieldValue(int fieldIndex, TFieldValue value) {
    const auto index = static_cast<std::size_t>(fieldIndex);
    edit_->values[index] = std::move(value);
    edit_->written[index] = true;
}

void TTable::CheckBrowseMode() {
    if (State() == TDataSetState::dsEdit || State() == TDataSetState::dsInsert) {
        if (Modified()) {
            Post();
        } else {
            Cancel();
        }
    }
}

void TTable::LeaveEditState() {
    edit_.reset();
    SetModified(false);
    SetState(TDataSetState::dsBrowse);
}

void TTable::Post() {
    CheckActive();
    if (State() != TDataSetState::dsEdit && State() != TDataSetState::dsInsert) {
        return;
    }
    if (!cachedUpdates_) {
        PostToFile();
        return;
    }
    const int row = CurrentRow();
    TRowRef& ref = rows_[static_cast<std::size_t>(row)];
    if (edit_->inserting) {
        cache_->AddInsertAs(edit_->identity, std::move(edit_->values), edit_->anchor,
                            edit_->beforeInsert);
        ref.storeIndex = kCachedInsertRow;
    } else if (ref.storeIndex == kCachedInsertRow) {
        cache_->FindInsert(ref.identity)->values = std::move(edit_->values);
    } else {
        PostEditToCache(ref);
    }
    LeaveEditState();
    NotifyRecordChanged(row);
}

void TTable::PostEditToCache(const TRowRef& ref) {
    const auto storeIndex = static_cast<std::uint32_t>(ref.storeIndex);
    TCachedEdit* entry = cache_->FindEdit(ref.identity);
    for (std::size_t f = 0; f < edit_->values.size(); ++f) {
        if (!edit_->written[f]) {
            continue;
        }
        const int field = static_cast<int>(f);
        TFieldValue stored = ReadStored(storeIndex, field);
        if (edit_->values[f] == stored) {
            if (entry != nullptr) {
                entry->fields.erase(field);
            }
            continue;
        }
        if (entry == nullptr) {
            entry = &cache_->EditOf(ref.identity, StoredKey(storeIndex), storeIndex);
        }
        const auto found = entry->fields.find(field);
        if (found == entry->fields.end()) {
            entry->fields.emplace(field, TCachedEdit::TChange{std::move(stored), edit_->values[f]});
        } else {
            found->second.posted = edit_->values[f];
        }
    }
    if (entry != nullptr && entry->fields.empty() && !entry->deleted) {
        cache_->DropEdit(ref.identity);
    }
}

void TTable::PostToFile() {
    const int row = CurrentRow();
    const TRowRef ref = rows_[static_cast<std::size_t>(row)];
    TChangeCache single;
    TFileWrite write;
    std::vector<TFieldValue> inserted;
    if (edit_->inserting) {
        inserted = edit_->values;
        write.insertCount = 1;
        write.insert = [&](std::size_t, std::vector<TFieldValue>& values) { values = inserted; };
    } else {
        if (ref.storeIndex < 0) {
            throw EDatabaseError("Record not found");
        }
        const auto storeIndex = static_cast<std::uint32_t>(ref.storeIndex);
        TCachedEdit& edit = single.EditOf(ref.identity, StoredKey(storeIndex), storeIndex);
        for (std::size_t f = 0; f < edit_->values.size(); ++f) {
            if (edit_->written[f] && edit_->values[f] != edit_->originals[f]) {
                edit.fields.emplace(static_cast<int>(f),
                                    TCachedEdit::TChange{edit_->originals[f], edit_->values[f]});
            }
        }
        if (edit.fields.empty()) {
            LeaveEditState();
            NotifyRecordChanged(row);
            return;
        }
        write.updates.push_back({ref.identity, &edit});
    }
    bool reloaded = false;
    const px::CommitResult result = WriteToFile(write, &reloaded);
    std::int64_t identity = ref.identity;
    if (edit_->inserting && !result.appendedIndexes.empty()) {
        identity = StoredIdentity(result.appendedIndexes.front());
    }
    const bool inserting = edit_->inserting;
    LeaveEditState();
    // Posting record after record straight to the file (merge, appending messages) must not
    // re-read every row each time: when nothing but this record moved, only its row changes.
    if (!reloaded && !inserting && result.updatedIndexes.size() == 1 &&
        static_cast<std::int32_t>(result.updatedIndexes.front()) == ref.storeIndex) {
        NotifyRecordChanged(row);
        return;
    }
    if (!reloaded && inserting && result.appendedIndexes.size() == 1 &&
        result.appendedIndexes.front() + 1 == store_->RecordCount() && row + 1 == RowCount()) {
        rows_[static_cast<std::size_t>(row)] =
            TRowRef{identity, static_cast<std::int32_t>(result.appendedIndexes.front())};
        NotifyRecordChanged(row);
        return;
    }
    RebuildRows();
    const int placed = FindRowByIdentity(identity);
    PlaceCursor(placed >= 0 ? placed : std::min(row, RowCount() - 1), false);
    NotifyReloaded();
}

void TTable::Cancel() {
    CheckActive();
    if (State() == TDataSetState::dsBrowse) {
        return;
    }
    const int row = CurrentRow();
    if (edit_->inserting) {
        const std::optional<std::int64_t> back = edit_->returnIdentity;
        rows_.erase(rows_.begin() + row);
        LeaveEditState();
        NotifyRowsRemoved(row, 1);
        const int returnRow = back ? FindRowByIdentity(*back) : -1;
        PlaceCursor(returnRow >= 0 ? returnRow : std::min(row, RowCount() - 1), true);
        return;
    }
    LeaveEditState();
    NotifyRecordChanged(row);
}

void TTable::Delete() {
    CheckEditable();
    if (State() == TDataSetState::dsInsert) {
        Cancel();
        return;
    }
    if (rows_.empty() || CurrentRow() < 0) {
        throw EDatabaseError("Cannot perform this operation on an empty dataset");
    }
    const int row = CurrentRow();
    const TRowRef ref = rows_[static_cast<std::size_t>(row)];
    if (!cachedUpdates_ && ref.storeIndex >= 0) {
        const auto storeIndex = static_cast<std::uint32_t>(ref.storeIndex);
        TChangeCache single;
        TCachedEdit& edit = single.EditOf(ref.identity, StoredKey(storeIndex), storeIndex);
        edit.deleted = true;
        TFileWrite write;
        write.deletes.push_back({ref.identity, &edit});
        WriteToFile(write);
        LeaveEditState();
        RebuildRows();
        PlaceCursor(std::min(row, RowCount() - 1), false);
        NotifyReloaded();
        NotifyCurrentChanged();
        RaiseAfterScroll();
        return;
    }
    LeaveEditState();
    if (ref.storeIndex == kCachedInsertRow) {
        cache_->DropInsert(ref.identity);
    } else {
        const auto storeIndex = static_cast<std::uint32_t>(ref.storeIndex);
        cache_->EditOf(ref.identity, StoredKey(storeIndex), storeIndex).deleted = true;
    }
    rows_.erase(rows_.begin() + row);
    NotifyRowsRemoved(row, 1);
    PlaceCursor(std::min(row, RowCount() - 1), true);
}

void TTable::SetCachedUpdates(bool on) {
    if (on == cachedUpdates_) {
        return;
    }
    if (!on && Active() &&
        (!cache_->Empty() || State() == TDataSetState::dsEdit ||
         State() == TDataSetState::dsInsert)) {
        throw EDatabaseError("Cannot change cached updates while updates are pending");
    }
    cachedUpdates_ = on;
}

bool TTable::UpdatesPending() const {
    return Active() && !cache_->Empty();
}

void TTable::ApplyUpdates() {
    CheckActive();
    CheckBrowseMode();
    if (cache_->Empty()) {
        return;
    }
    TFileWrite write;
    for (const auto& [identity, edit] : cache_->EditsInOrder()) {
        if (edit->deleted) {
            write.deletes.push_back({identity, edit});
        } else if (!edit->fields.empty()) {
            write.updates.push_back({identity, edit});
        }
    }
    const std::vector<std::int64_t> inserts = cache_->InsertsInOrder();
    write.insertCount = inserts.size();
    write.insert = [&](std::size_t i, std::vector<TFieldValue>& values) {
        values = cache_->FindInsert(inserts[i])->values;
    };
    const px::CommitResult result = WriteToFile(write);

    // The handle now shows the file as written; the current record stays current.
    std::int64_t current = CurrentRow() >= 0 ? RowIdentity(CurrentRow()) : 0;
    for (std::size_t i = 0; i < inserts.size() && i < result.appendedIndexes.size(); ++i) {
        savedInserts_[inserts[i]] = StoredIdentity(result.appendedIndexes[i]);
    }
    if (const auto saved = savedInserts_.find(current); saved != savedInserts_.end()) {
        current = saved->second;
    }
    const int previousRow = CurrentRow();
    cache_->Clear();
    RebuildRows();
    const int placed = FindRowByIdentity(current);
    PlaceCursor(placed >= 0 ? placed : std::min(previousRow, RowCount() - 1), false);
    NotifyReloaded();
}

void TTable::CommitUpdates() {
    CheckActive();
}

void TTable::CancelUpdates() {
    CheckActive();
    if (State() != TDataSetState::dsBrowse) {
        Cancel();
    }
    if (cache_->Empty()) {
        return;
    }
    const int previousRow = CurrentRow();
    const std::int64_t current = previousRow >= 0 ? RowIdentity(previousRow) : 0;
    cache_->Clear();
    RebuildRows();
    const int placed = FindRowByIdentity(current);
    PlaceCursor(placed >= 0 ? placed : std::min(previousRow, RowCount() - 1), false);
    NotifyReloaded();
    NotifyCurrentChanged();
    RaiseAfterScroll();
}

void TTable::RevertRecord() {
    CheckActive();
    if (State() == TDataSetState::dsInsert) {
        Cancel();
        return;
    }
    if (State() == TDataSetState::dsEdit) {
        LeaveEditState();
    }
    const int row = CurrentRow();
    if (row < 0 || row >= RowCount()) {
        return;
    }
    const TRowRef ref = rows_[static_cast<std::size_t>(row)];
    if (ref.storeIndex == kCachedInsertRow) {
        cache_->DropInsert(ref.identity);
        rows_.erase(rows_.begin() + row);
        NotifyRowsRemoved(row, 1);
        PlaceCursor(std::min(row, RowCount() - 1), true);
        return;
    }
    cache_->DropEdit(ref.identity);
    NotifyRecordChanged(row);
    NotifyCurrentChanged();
    RaiseAfterScroll();
}

void TTable::Refresh() {
    CheckActive();
    CheckBrowseMode();
    ReloadKeeping();
    NotifyCurrentChanged();
    RaiseAfterScroll();
}

void TTable::ReloadKeeping() {
    const int previousRow = CurrentRow();
    const std::int64_t current = previousRow >= 0 ? RowIdentity(previousRow) : 0;
    if (Storage([&] { return store_->ChangedOnDisk(); })) {
        const std::vector<TFieldDef> before = fieldDefs_;
        Storage([&] { store_->Reload(); });
        const px::TableInfo& info = store_->Info();
        bool same = info.fields.size() == before.size() && info.keyFieldCount == keyFieldCount_;
        for (std::size_t i = 0; same && i < before.size(); ++i) {
            same = info.fields[i].def.name == before[i].Name &&
                   FromStorageType(info.fields[i].def.type) == before[i].DataType &&
                   info.fields[i].def.size == before[i].Size;
        }
        if (!same) {
            // Another table now stands at the path: what was cached belongs to the old one.
            cache_->Clear();
            internedKeys_.clear();
            TakeStructure();
        }
    }
    RebuildRows();
    const int placed = FindRowByIdentity(current);
    PlaceCursor(placed >= 0 ? placed : std::min(previousRow, RowCount() - 1), false);
    NotifyReloaded();
}

void TTable::AppendToFile(std::size_t count,
                          const std::function<void(std::size_t, std::vector<TFieldValue>&)>& fill) {
    CheckEditable();
    CheckBrowseMode();
    if (count == 0) {
        return;
    }
    TFileWrite write;
    write.insertCount = count;
    write.insert = fill;
    write.keepAutoIncrement = true;
    WriteToFile(write);
    const bool wasEmpty = rows_.empty();
    ReloadKeeping();
    if (wasEmpty && !rows_.empty()) {
        NotifyCurrentChanged();
        RaiseAfterScroll();
    }
}

std::optional<std::uint32_t> TTable::FindRecord(const px::ParadoxTable& table,
                                                const TCachedEdit& edit) const {
    if (keyFieldCount_ == 0) {
        return edit.positionAsRead < table.RecordCount()
                   ? std::optional<std::uint32_t>(edit.positionAsRead)
                   : std::nullopt;
    }
    std::vector<px::FieldValue> key;
    for (int i = 0; i < keyFieldCount_; ++i) {
        key.push_back(ToStorageValue(edit.key[static_cast<std::size_t>(i)],
                                     fieldDefs_[static_cast<std::size_t>(i)]));
    }
    return table.FindByKey(key);
}

std::string TTable::DescribeRecord(const TCachedEdit& edit) const {
    if (keyFieldCount_ == 0) {
        return "record " + std::to_string(edit.positionAsRead + 1);
    }
    std::string text;
    for (int i = 0; i < keyFieldCount_; ++i) {
        const TFieldDef& def = fieldDefs_[static_cast<std::size_t>(i)];
        text += (i > 0 ? ", " : "") + def.Name + " " +
                FieldValueToText(edit.key[static_cast<std::size_t>(i)], def.DataType);
    }
    return text;
}

px::CommitResult TTable::WriteToFile(const TFileWrite& write, bool* reloaded) {
    if (readOnly_) {
        throw EDatabaseError("Cannot modify a read-only dataset");
    }
    // Finds the record as read in `target`, which holds the file as it is now, and checks that
    // nobody changed what the update mode protects.
    const auto locate = [&](px::ParadoxTable& target, const TCachedEdit& edit) {
        const std::optional<std::uint32_t> index = FindRecord(target, edit);
        if (!index) {
            RecordChangedByOthers(DescribeRecord(edit));
        }
        const TUpdateMode mode = keyFieldCount_ == 0 ? TUpdateMode::upWhereAll : updateMode_;
        if (mode != TUpdateMode::upWhereKeyOnly) {
            for (const auto& [field, change] : edit.fields) {
                if (ReadFrom(target, *index, field) != change.original) {
                    RecordChangedByOthers(DescribeRecord(edit));
                }
            }
        }
        // With every column protected, the columns not changed here must still hold what this
        // handle read. When target is this handle's own file state that holds by itself.
        if (mode == TUpdateMode::upWhereAll && &target != store_.get()) {
            const std::optional<std::uint32_t> own = FindRecord(*store_, edit);
            for (int field = 0; field < FieldCount(); ++field) {
                if (edit.fields.count(field) == 0 &&
                    (!own || ReadFrom(target, *index, field) != ReadFrom(*store_, *own, field))) {
                    RecordChangedByOthers(DescribeRecord(edit));
                }
            }
        }
        return *index;
    };
    const auto attempt = [&](px::ParadoxTable& target) {
        px::Transaction transaction(target);
        for (const TFileWrite::TUpdate& update : write.updates) {
            const std::uint32_t index = locate(target, *update.edit);
            px::RecordBuffer record = target.EditRecord(index);
            for (const auto& [field, change] : update.edit->fields) {
                record.Set(field, ToStorageValue(change.posted,
                                                 fieldDefs_[static_cast<std::size_t>(field)]));
            }
            transaction.Update(index, std::move(record));
        }
        for (const TFileWrite::TUpdate& removal : write.deletes) {
            transaction.Delete(locate(target, *removal.edit));
        }
        std::vector<TFieldValue> values;
        for (std::size_t i = 0; i < write.insertCount; ++i) {
            values.assign(fieldDefs_.size(), TFieldValue());
            write.insert(i, values);
            px::RecordBuffer record = target.NewRecord();
            for (std::size_t f = 0; f < fieldDefs_.size() && f < values.size(); ++f) {
                if (IsNullValue(values[f])) {
                    continue;
                }
                if (fieldDefs_[f].DataType == TFieldType::ftAutoInc) {
                    if (write.keepAutoIncrement) {
                        if (const auto* number = std::get_if<std::int64_t>(&values[f])) {
                            record.SetAutoIncrement(static_cast<int>(f), *number);
                        }
                    }
                    continue;
                }
                record.Set(static_cast<int>(f), ToStorageValue(values[f], fieldDefs_[f]));
            }
            transaction.Append(std::move(record));
        }
        return transaction.Commit();
    };
    return Storage([&] {
        if (!store_->ChangedOnDisk()) {
            try {
                return attempt(*store_);
            } catch (const px::ETableChanged&) {
                // Another handle or process wrote in between: write against the file as it is.
            }
        }
        std::unique_ptr<px::ParadoxTable> current = px::ParadoxTable::Open(store_->Path());
        px::CommitResult result = attempt(*current);
        current.reset();
        store_->Reload();
        if (reloaded != nullptr) {
            *reloaded = true;
        }
        return result;
    });
}

} // namespace kelvara

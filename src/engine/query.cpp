#include "engine/query.h"

#include "engine/paradox_table.h"
#include "engine/sql_evaluator.h"

#include <system_error>

namespace kelvara {
namespace {

using paradox::FieldType;

TFieldType DataSetType(FieldType type) {
    switch (type) {
    case FieldType::Alpha:
        return TFieldType::ftString;
    case FieldType::Date:
        return TFieldType::ftDate;
    case FieldType::Short:
        return TFieldType::ftSmallint;
    case FieldType::Long:
        return TFieldType::ftInteger;
    case FieldType::Currency:
        return TFieldType::ftCurrency;
    case FieldType::Number:
        return TFieldType::ftFloat;
    case FieldType::Logical:
        return TFieldType::ftBoolean;
    case FieldType::Memo:
        return TFieldType::ftMemo;
    case FieldType::Blob:
        return TFieldType::ftBlob;
    case FieldType::FormattedMemo:
        return TFieldType::ftFmtMemo;
    case FieldType::Ole:
        return TFieldType::ftOle;
    case FieldType::Graphic:
        return TFieldType::ftGraphic;
    case FieldType::Time:
        return TFieldType::ftTime;
    case FieldType::Timestamp:
        return TFieldType::ftDateTime;
    case FieldType::AutoInc:
        return TFieldType::ftAutoInc;
    case FieldType::Bcd:
        return TFieldType::ftBCD;
    case FieldType::Bytes:
        return TFieldType::ftBytes;
    }
    return TFieldType::ftUnknown;
}

TFieldDef DataSetDef(const paradox::FieldDef& def) {
    TFieldDef out;
    out.Name = def.name;
    out.DataType = DataSetType(def.type);
    out.Size = def.size;
    return out;
}

TFieldValue DataSetValue(const paradox::FieldValue& value) {
    using Kind = paradox::FieldValue::Kind;
    switch (value.GetKind()) {
    case Kind::Null:
        return std::monostate{};
    case Kind::Bytes:
    case Kind::Decimal:
    case Kind::Invalid:
        return value.Bytes().empty() ? TFieldValue() : TFieldValue(value.Bytes());
    case Kind::Integer:
    case Kind::Date:
    case Kind::Time:
        return value.Integer();
    case Kind::Number:
    case Kind::Timestamp:
        return value.Number();
    case Kind::Logical:
        return value.Logical();
    }
    return std::monostate{};
}

bool IsTextValueType(FieldType type) {
    return type == FieldType::Alpha || type == FieldType::Bytes || paradox::IsBlobType(type);
}

} // namespace

TQuery::TQuery() = default;

TQuery::~TQuery() {
    Close();
}

void TQuery::ClearSQL() {
    Close();
    sql_.clear();
}

void TQuery::AddSQL(std::string line) {
    Close();
    sql_.push_back(std::move(line));
}

void TQuery::SetSQL(std::vector<std::string> lines) {
    Close();
    sql_ = std::move(lines);
}

std::string TQuery::StatementText() const {
    std::string text;
    for (std::size_t i = 0; i < sql_.size(); ++i) {
        if (i > 0) {
            text += '\n';
        }
        text += sql_[i];
    }
    return text;
}

void TQuery::SetDatabaseName(std::string name) {
    Close();
    databaseName_ = std::move(name);
}

void TQuery::Open() {
    if (Active()) {
        return;
    }
    std::unique_ptr<SqlResult> result;
    try {
        result = std::make_unique<SqlResult>(RunSql(StatementText(), databaseName_));
    } catch (const EDatabaseError&) {
        throw;
    } catch (const paradox::EParadoxError& e) {
        // Callers of the handles meet the engine's errors as one class, with the same message.
        throw EDatabaseError(e.what());
    } catch (const std::system_error& e) {
        throw EDatabaseError(e.what());
    }
    std::vector<TFieldDef> defs;
    for (const int field : result->fields) {
        defs.push_back(DataSetDef(result->source->Field(field)));
    }
    BindFields(defs);
    result_ = std::move(result);
    SetModified(false);
    SetState(TDataSetState::dsBrowse);
    const bool empty = result_->rows.empty();
    PlaceCursor(empty ? -1 : 0, false);
    NotifyReloaded();
    if (!empty) {
        NotifyCurrentChanged();
        RaiseAfterScroll();
    }
}

void TQuery::Close() {
    if (!Active()) {
        return;
    }
    result_.reset();
    DestroyFields();
    PlaceCursor(-1, false);
    SetState(TDataSetState::dsInactive);
    NotifyReloaded();
}

int TQuery::RowCount() const {
    return result_ ? static_cast<int>(result_->rows.size()) : 0;
}

TFieldValue TQuery::RowValue(int row, int fieldIndex) const {
    const SqlSourceTable& source = *result_->source;
    const int field = result_->fields[fieldIndex];
    const std::uint32_t record = result_->rows[row];
    if (IsTextValueType(source.Field(field).type)) {
        if (source.IsNull(field, record)) {
            return std::monostate{};
        }
        return std::string(source.Text(field, record));
    }
    return DataSetValue(source.Value(field, record));
}

} // namespace kelvara

#include "app/language_grid_model.h"

#include "components/qt_text.h"
#include "components/qt_user_interaction.h"

#include <QApplication>
#include <QPalette>
#include <exception>

namespace kelvara {
namespace {

const std::array<const char*, TLanguageGridModel::kColumnCount> kDefaultFields = {
    "Index_No", "Form_Name", "Component_Name", "Property_Name", "Native", "English"};

// Titles of their own for columns 0 to 3; columns 4 and 5 are titled by their field name.
const std::array<const char16_t*, 4> kTitles = {u"Index", u"Form Name", u"Component Name",
                                                u"Property Name"};

// Counts the relaying of one change of the data set to the views.
class TRelay {
public:
    explicit TRelay(int& depth) : FDepth(depth) { ++FDepth; }
    ~TRelay() { --FDepth; }
    TRelay(const TRelay&) = delete;
    TRelay& operator=(const TRelay&) = delete;

private:
    int& FDepth;
};

} // namespace

TLanguageGridModel::TLanguageGridModel(TDataSet& dataSet, TQtUserInteraction* user, QObject* parent)
    : QAbstractTableModel(parent), FDataSet(dataSet), FUser(user) {
    for (int column = 0; column < kColumnCount; ++column) {
        FFieldNames[static_cast<std::size_t>(column)] =
            kDefaultFields[static_cast<std::size_t>(column)];
    }
    FFieldIndex.fill(-1);
    ResolveFields();
    FRowCount = DataSetRows();
    FDataSet.AddObserver(*this);
}

TLanguageGridModel::~TLanguageGridModel() {
    FDataSet.RemoveObserver(*this);
}

const std::string& TLanguageGridModel::ColumnFieldName(int column) const {
    return FFieldNames.at(static_cast<std::size_t>(column));
}

void TLanguageGridModel::SetColumnFieldName(int column, const std::string& fieldName) {
    FFieldNames.at(static_cast<std::size_t>(column)) = fieldName;
    ResolveFields();
    emit headerDataChanged(Qt::Horizontal, column, column);
    if (FRowCount > 0) {
        emit dataChanged(index(0, column), index(FRowCount - 1, column));
    }
}

TField* TLanguageGridModel::ColumnField(int column) const {
    const int fieldIndex = FFieldIndex.at(static_cast<std::size_t>(column));
    if (fieldIndex < 0 || !FDataSet.Active() || fieldIndex >= FDataSet.FieldCount()) {
        return nullptr;
    }
    return &FDataSet.FieldAt(fieldIndex);
}

void TLanguageGridModel::SetColumnReadOnly(int column, bool readOnly) {
    FColumnReadOnly.at(static_cast<std::size_t>(column)) = readOnly;
}

bool TLanguageGridModel::ColumnReadOnly(int column) const {
    return FColumnReadOnly.at(static_cast<std::size_t>(column));
}

int TLanguageGridModel::CurrentRow() const {
    if (!FDataSet.Active() || FDataSet.IsEmpty()) {
        return -1;
    }
    return FDataSet.RecNo() - 1;
}

void TLanguageGridModel::MoveToRow(int row) {
    if (!FDataSet.Active() || row < 0) {
        return;
    }
    int target = row;
    if (FDataSet.State() == TDataSetState::dsInsert && !FDataSet.Modified()) {
        const int inserted = CurrentRow();
        if (inserted == target) {
            return;
        }
        FDataSet.Cancel();
        if (target > inserted) {
            --target;
        }
    }
    if (target != CurrentRow() && target < FDataSet.RecordCount()) {
        FDataSet.SetRecNo(target + 1);
    }
}

int TLanguageGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : FRowCount;
}

int TLanguageGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

int TLanguageGridModel::DataSetRows() const {
    return FDataSet.Active() ? FDataSet.RecordCount() : 0;
}

int TLanguageGridModel::DataSetRow(int row) const {
    if (FShift == 0 || row < FShiftFirst) {
        return row;
    }
    if (FShift < 0 && row < FShiftFirst - FShift) {
        return -1;
    }
    return row + FShift;
}

QString TLanguageGridModel::CellText(int modelRow, int column, bool forEditing) const {
    const int row = DataSetRow(modelRow);
    if (row < 0) {
        return {};
    }
    const int fieldIndex = FFieldIndex[static_cast<std::size_t>(column)];
    if (fieldIndex < 0 || !FDataSet.Active() || row >= FDataSet.RecordCount()) {
        return {};
    }
    // A get-text hook that fails reports through the user interaction; while painting that
    // report waits until the paint is over.
    TDeferredErrors painting(FUser);
    try {
        if (forEditing && row == CurrentRow()) {
            return ToQString(FDataSet.FieldAt(fieldIndex).Text());
        }
        return ToQString(FDataSet.DisplayTextAt(row, fieldIndex));
    } catch (const std::exception& failure) {
        if (FUser != nullptr) {
            FUser->ShowError(failure.what());
        }
        return {};
    }
}

QVariant TLanguageGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= FRowCount || index.column() >= kColumnCount) {
        return {};
    }
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        return CellText(index.row(), column, false);
    case Qt::EditRole:
        return CellText(index.row(), column, true);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(
            Qt::Alignment((column == 0 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    case Qt::BackgroundRole:
        if (column < kLanguageColumn) {
            return QApplication::palette().color(QPalette::ToolTipBase);
        }
        return {};
    case Qt::ForegroundRole:
        if (column < kLanguageColumn) {
            return QApplication::palette().color(QPalette::ToolTipText);
        }
        return {};
    default:
        return {};
    }
}

bool TLanguageGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || Relaying() ||
        !(flags(index) & Qt::ItemIsEditable)) {
        return false;
    }
    try {
        const QString typed = value.toString();
        // Only the current record takes typing; the grid moves the data set before it edits.
        if (index.row() != CurrentRow()) {
            return false;
        }
        if (typed == CellText(index.row(), index.column(), true)) {
            return false;
        }
        TField* field = ColumnField(index.column());
        if (field == nullptr) {
            return false;
        }
        if (FDataSet.State() == TDataSetState::dsBrowse) {
            FDataSet.Edit();
        }
        field->SetText(ToUtf8(typed));
        emit dataChanged(this->index(index.row(), 0), this->index(index.row(), kColumnCount - 1));
        return true;
    } catch (const std::exception& failure) {
        emit EditFailed(ToQString(failure.what()));
        return false;
    }
}

QVariant TLanguageGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    if (role == Qt::DisplayRole) {
        if (section < static_cast<int>(kTitles.size())) {
            return QString::fromUtf16(kTitles[static_cast<std::size_t>(section)]);
        }
        return ToQString(FFieldNames[static_cast<std::size_t>(section)]);
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(
            Qt::Alignment((section == 0 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    }
    return {};
}

Qt::ItemFlags TLanguageGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    Qt::ItemFlags result = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    const TField* field = ColumnField(index.column());
    if (field != nullptr && field->CanModify() &&
        !FColumnReadOnly[static_cast<std::size_t>(index.column())]) {
        result |= Qt::ItemIsEditable;
    }
    return result;
}

void TLanguageGridModel::ResolveFields() {
    for (int column = 0; column < kColumnCount; ++column) {
        int fieldIndex = -1;
        if (FDataSet.Active()) {
            if (const TField* field =
                    FDataSet.FindField(FFieldNames[static_cast<std::size_t>(column)])) {
                fieldIndex = field->Index();
            }
        }
        FFieldIndex[static_cast<std::size_t>(column)] = fieldIndex;
    }
}

void TLanguageGridModel::Reload() {
    TRelay relay(FRelaying);
    beginResetModel();
    ResolveFields();
    FRowCount = DataSetRows();
    endResetModel();
    if (FUser != nullptr) {
        FUser->ForgetPaintErrors();
    }
    emit CurrentRecordMoved(CurrentRow());
}

void TLanguageGridModel::CurrentRecordChanged(TDataSet&) {
    if (FSuspended) {
        return;
    }
    TRelay relay(FRelaying);
    emit CurrentRecordMoved(CurrentRow());
}

void TLanguageGridModel::RecordChanged(TDataSet&, int row) {
    if (FSuspended || row < 0 || row >= FRowCount) {
        return;
    }
    emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
}

void TLanguageGridModel::RowsInserted(TDataSet&, int first, int count) {
    if (FSuspended || count <= 0) {
        return;
    }
    if (first < 0 || first > FRowCount || FRowCount + count != DataSetRows()) {
        Reload();
        return;
    }
    TRelay relay(FRelaying);
    FShiftFirst = first;
    FShift = count;
    beginInsertRows(QModelIndex(), first, first + count - 1);
    FShift = 0;
    FRowCount += count;
    endInsertRows();
}

void TLanguageGridModel::RowsRemoved(TDataSet&, int first, int count) {
    if (FSuspended || count <= 0) {
        return;
    }
    if (first < 0 || first + count > FRowCount || FRowCount - count != DataSetRows()) {
        Reload();
        return;
    }
    TRelay relay(FRelaying);
    FShiftFirst = first;
    FShift = -count;
    beginRemoveRows(QModelIndex(), first, first + count - 1);
    FShift = 0;
    FRowCount -= count;
    endRemoveRows();
}

void TLanguageGridModel::DataReloaded(TDataSet&) {
    if (!FSuspended) {
        Reload();
    }
}

void TLanguageGridModel::StateChanged(TDataSet&) {
    if (FSuspended) {
        return;
    }
    // Whether cells can be edited depends on the state (a closed data set has no fields).
    if (!FDataSet.Active()) {
        Reload();
    }
}

void TLanguageGridModel::DisplaySuspended(TDataSet&) {
    FSuspended = true;
    emit DisplaySuspendedChanged(true);
}

void TLanguageGridModel::DisplayResumed(TDataSet&) {
    FSuspended = false;
    Reload();
    emit DisplaySuspendedChanged(false);
}

} // namespace kelvara

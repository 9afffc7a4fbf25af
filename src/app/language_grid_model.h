#pragma once
// The Qt model of the main grid: six columns over the rows of one data set (MasterLang), read
// straight from the data set while painting. Nothing is copied and nothing polls: the data set's
// observer interface tells the model about every change, and the model tells its views.
//
// Columns are bound to fields by name (Index_No, Form_Name, Component_Name, Property_Name,
// Native, and the current language in column 5). A name the open table lacks gives empty,
// read-only cells. Titles are fixed for columns 0 to 3; columns 4 and 5 show their field name.
//
// The data set must outlive the model; the model removes itself as observer when destroyed.

#include "engine/dataset.h"

#include <QAbstractTableModel>
#include <array>
#include <string>

namespace kelvara {

class TQtUserInteraction;

class TLanguageGridModel : public QAbstractTableModel, private TDataSetObserver {
    Q_OBJECT
public:
    static constexpr int kColumnCount = 6;
    static constexpr int kLanguageColumn = 5;

    // `user` (may be null) holds back the errors of get-text hooks while the grid paints.
    TLanguageGridModel(TDataSet& dataSet, TQtUserInteraction* user, QObject* parent = nullptr);
    ~TLanguageGridModel() override;

    TDataSet& DataSet() const { return FDataSet; }

    // The field name column `column` shows; column 5 is rebound by Select Language.
    const std::string& ColumnFieldName(int column) const;
    void SetColumnFieldName(int column, const std::string& fieldName);
    // The field shown in `column` of the open table, or null when it has none.
    TField* ColumnField(int column) const;

    // A lock on the grid column itself, independent of the field's own access.
    void SetColumnReadOnly(int column, bool readOnly);
    bool ColumnReadOnly(int column) const;

    // The row of the data set's current record, or -1.
    int CurrentRow() const;

    // Makes `row` the data set's current record. An inserted record nobody typed into is
    // cancelled first (rows below it move up; the target is adjusted). Throws the data set's
    // errors (a post that fails leaves the record where it was).
    void MoveToRow(int row);

    // True while the model relays a change of the data set to its views: the views must then
    // follow the data set, not move it.
    bool Relaying() const { return FRelaying > 0; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Writes typed text into the current record (putting it into the edit state); refuses any
    // other row and a text equal to what the cell shows.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // The data set's current record is now `row` (-1: none). Views follow it.
    void CurrentRecordMoved(int row);
    // The data set stopped (true) or resumed (false) its display.
    void DisplaySuspendedChanged(bool suspended);
    // A value typed into a cell could not be stored; the message is for the user.
    void EditFailed(const QString& message);

private:
    void CurrentRecordChanged(TDataSet&) override;
    void RecordChanged(TDataSet&, int row) override;
    void RowsInserted(TDataSet&, int first, int count) override;
    void RowsRemoved(TDataSet&, int first, int count) override;
    void DataReloaded(TDataSet&) override;
    void StateChanged(TDataSet&) override;
    void DisplaySuspended(TDataSet&) override;
    void DisplayResumed(TDataSet&) override;

    void Reload();
    void ResolveFields();
    int DataSetRows() const;
    // The data set's row for a row of the model. The data set tells about inserted and removed
    // rows after the fact; while the views hear "about to", the model still shows the rows as
    // they were (a removed row reads as -1).
    int DataSetRow(int row) const;
    QString CellText(int row, int column, bool forEditing) const;

    TDataSet& FDataSet;
    TQtUserInteraction* FUser;
    std::array<std::string, kColumnCount> FFieldNames;
    std::array<int, kColumnCount> FFieldIndex{};
    std::array<bool, kColumnCount> FColumnReadOnly{};
    int FRowCount = 0;
    int FShiftFirst = 0;
    int FShift = 0;
    int FRelaying = 0;
    bool FSuspended = false;
};

} // namespace kelvara

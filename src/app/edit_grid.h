#pragma once
// The main grid EditGrid: a table view over TLanguageGridModel that behaves like a data grid.
//
// - The grid's current row and the data set's current record are always the same record: moving
//   in the grid moves the data set (posting an edit, cancelling an inserted record nobody typed
//   into), and a move of the data set moves the grid.
// - The current cell is always open for editing where the cell accepts typing; the language
//   column's editor carries an ellipsis button.
// - Insert inserts an empty record, Down on the last row appends one, Ctrl+Delete deletes the
//   current record after "Delete record?"; an inserted record left unchanged is cancelled when
//   the focus leaves the grid.
// - Text is drawn in its own reading direction.

#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableView>
#include <functional>

namespace kelvara {

class TLanguageGridModel;

class TGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit TGridDelegate(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

    // The column whose editor has the ellipsis button.
    void SetEllipsisColumn(int column) { FEllipsisColumn = column; }

signals:
    void EllipsisClicked() const;
    void EditorCreated(QWidget* editor) const;

private:
    int FEllipsisColumn = -1;
};

class TEditGrid : public QTableView {
    Q_OBJECT
public:
    explicit TEditGrid(QWidget* parent = nullptr);
    ~TEditGrid() override;

    void SetGridModel(TLanguageGridModel* model);
    TLanguageGridModel* GridModel() const { return FModel; }

    // Writes a cell editor's changed text into its record (as leaving the cell would), so that a
    // command that follows sees what the user typed. Nothing when no text was changed.
    void PostEditorText();
    // The open cell editor's line edit, or null.
    class QLineEdit* CellEditor() const;
    // Opens the editor on the current cell again (after the cell's access changed).
    void ReopenEditor();

    int SelectedColumn() const;
    void SetSelectedColumn(int column);

    // Asks before Ctrl+Delete deletes; true to delete. Default: "Delete record?" with OK and
    // Cancel.
    std::function<bool()> ConfirmDelete;
    // Called with each key that goes down in the grid or its cell editor, before the grid
    // handles it.
    std::function<void(QKeyEvent*)> OnKeyDown;

signals:
    void EllipsisClicked();
    // The grid (or its editor) received the focus from outside.
    void GridEntered();

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;

private:
    void FollowDataSet(int row);
    void OpenEditorSoon();
    void OpenEditor();
    bool HandleRecordKey(QKeyEvent* event);
    void FocusChanged(QWidget* old, QWidget* now);
    bool OwnsWidget(const QWidget* widget) const;
    void ShowFailure(const QString& message);
    void Run(const std::function<void()>& action);

    TLanguageGridModel* FModel = nullptr;
    TGridDelegate* FDelegate;
    QPointer<QWidget> FEditor;
    bool FFollowing = false;
    // The column of the current cell, kept across resets of the model (which clear the view's
    // current cell).
    int FColumn = 0;
    bool FOpenPending = false;
};

} // namespace kelvara

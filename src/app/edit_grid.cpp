#include "app/edit_grid.h"

#include "app/language_grid_model.h"
#include "components/command_guard.h"
#include "components/qt_text.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QTextOption>
#include <QTimer>

namespace kelvara {
namespace {

QIcon EllipsisIcon() {
    QIcon icon(QStringLiteral(":/icons/ellipsis.svg"));
    return icon;
}

} // namespace

TGridDelegate::TGridDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void TGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    QStyleOptionViewItem item(option);
    initStyleOption(&item, index);
    const QString text = item.text;
    item.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
    if (text.isEmpty()) {
        return;
    }
    // The alignment is the caller's; only the reading order follows the text, so a Hebrew or
    // Arabic value reads right-to-left while the cells beside it read left-to-right.
    const QRect textRect = item.rect.adjusted(3, 0, -3, 0);
    QTextOption layout(Qt::Alignment(item.displayAlignment) | Qt::AlignAbsolute);
    layout.setWrapMode(QTextOption::NoWrap);
    layout.setTextDirection(TextLayoutDirection(text));
    const bool selected = (item.state & QStyle::State_Selected) != 0;
    painter->save();
    painter->setFont(item.font);
    painter->setPen(selected ? item.palette.color(QPalette::Active, QPalette::HighlightedText)
                             : item.palette.color(QPalette::Text));
    if (!selected) {
        const QVariant foreground = index.data(Qt::ForegroundRole);
        if (foreground.canConvert<QColor>()) {
            painter->setPen(foreground.value<QColor>());
        }
    }
    painter->setClipRect(item.rect);
    painter->drawText(QRectF(textRect), text, layout);
    painter->restore();
}

QWidget* TGridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                     const QModelIndex& index) const {
    auto* editor = new QLineEdit(parent);
    editor->setFrame(false);
    if (index.column() == FEllipsisColumn) {
        QAction* ellipsis = editor->addAction(EllipsisIcon(), QLineEdit::TrailingPosition);
        ellipsis->setObjectName(QStringLiteral("EllipsisButton"));
        ellipsis->setToolTip(QStringLiteral("Multiple Line Editor"));
        connect(ellipsis, &QAction::triggered, this, &TGridDelegate::EllipsisClicked);
    }
    emit EditorCreated(editor);
    return editor;
}

void TGridDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* line = qobject_cast<QLineEdit*>(editor);
    if (line == nullptr) {
        QStyledItemDelegate::setEditorData(editor, index);
        return;
    }
    const QString text = index.data(Qt::EditRole).toString();
    if (line->text() != text) {
        line->setText(text);
    }
    line->setLayoutDirection(TextLayoutDirection(text));
    line->setAlignment(Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt()) |
                       Qt::AlignAbsolute);
}

void TGridDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                 const QModelIndex& index) const {
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
        model->setData(index, line->text(), Qt::EditRole);
        return;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
}

void TGridDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                         const QModelIndex&) const {
    editor->setGeometry(option.rect);
}

TEditGrid::TEditGrid(QWidget* parent) : QTableView(parent), FDelegate(new TGridDelegate(this)) {
    setObjectName(QStringLiteral("EditGrid"));
    setItemDelegate(FDelegate);
    FDelegate->SetEllipsisColumn(TLanguageGridModel::kLanguageColumn);
    connect(FDelegate, &TGridDelegate::EllipsisClicked, this, &TEditGrid::EllipsisClicked);
    connect(FDelegate, &TGridDelegate::EditorCreated, this, [this](QWidget* editor) {
        FEditor = editor;
        editor->installEventFilter(this);
    });

    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::CurrentChanged | QAbstractItemView::AllEditTriggers);
    setTabKeyNavigation(true);
    setShowGrid(true);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsMovable(false);
    viewport()->setCursor(Qt::IBeamCursor);

    // The selection stays visible when the grid has no focus.
    QPalette colours = palette();
    colours.setColor(QPalette::Inactive, QPalette::Highlight,
                     colours.color(QPalette::Active, QPalette::Highlight));
    colours.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     colours.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(colours);

    ConfirmDelete = [this] {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Kelvara"),
                        QStringLiteral("Delete record?"), QMessageBox::Ok | QMessageBox::Cancel,
                        this);
        box.setDefaultButton(QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok;
    };
    connect(qApp, &QApplication::focusChanged, this, &TEditGrid::FocusChanged);
}

TEditGrid::~TEditGrid() {
    // The focus moves while the base class destroys the editor; this class is gone by then.
    disconnect(qApp, &QApplication::focusChanged, this, &TEditGrid::FocusChanged);
}

void TEditGrid::SetGridModel(TLanguageGridModel* model) {
    FModel = model;
    setModel(model);
    if (model != nullptr) {
        connect(model, &TLanguageGridModel::CurrentRecordMoved, this, &TEditGrid::FollowDataSet);
        // A reset takes the open editor with it.
        connect(model, &QAbstractItemModel::modelAboutToBeReset, this, [this] { FEditor.clear(); });
        connect(model, &TLanguageGridModel::DisplaySuspendedChanged, this,
                [this](bool suspended) { viewport()->setUpdatesEnabled(!suspended); });
        connect(model, &TLanguageGridModel::EditFailed, this, &TEditGrid::ShowFailure,
                Qt::QueuedConnection);
        FollowDataSet(model->CurrentRow());
    }
}

QLineEdit* TEditGrid::CellEditor() const {
    return qobject_cast<QLineEdit*>(FEditor.data());
}

void TEditGrid::PostEditorText() {
    if (!FEditor.isNull() && state() == QAbstractItemView::EditingState) {
        commitData(FEditor.data());
    }
}

void TEditGrid::ReopenEditor() {
    if (!FEditor.isNull() && state() == QAbstractItemView::EditingState) {
        closeEditor(FEditor.data(), QAbstractItemDelegate::NoHint);
    }
    OpenEditor();
}

int TEditGrid::SelectedColumn() const {
    return FColumn;
}

void TEditGrid::SetSelectedColumn(int column) {
    if (FModel == nullptr || column < 0 || column >= TLanguageGridModel::kColumnCount) {
        return;
    }
    FColumn = column;
    const int row = currentIndex().isValid() ? currentIndex().row() : FModel->CurrentRow();
    if (row >= 0) {
        setCurrentIndex(FModel->index(row, column));
    }
}

void TEditGrid::FollowDataSet(int row) {
    if (FModel == nullptr) {
        return;
    }
    const int column = FColumn;
    const QModelIndex target = row >= 0 ? FModel->index(row, column) : QModelIndex();
    if (target == currentIndex()) {
        return;
    }
    FFollowing = true;
    if (!FEditor.isNull() && state() == QAbstractItemView::EditingState) {
        // The record the editor belonged to is no longer current; what it holds was posted
        // or dropped by the data set's own move.
        closeEditor(FEditor.data(), QAbstractItemDelegate::NoHint);
    }
    if (target.isValid()) {
        selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
    } else {
        selectionModel()->clearCurrentIndex();
    }
    FFollowing = false;
}

void TEditGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    const bool userMove = !FFollowing && FModel != nullptr && !FModel->Relaying() &&
                          current.isValid() && current.row() != FModel->CurrentRow();
    if (userMove) {
        // What the editor holds belongs to the record being left; it goes in before the move
        // posts that record.
        if (!FEditor.isNull() && previous.isValid() && state() == QAbstractItemView::EditingState) {
            commitData(FEditor.data());
            closeEditor(FEditor.data(), QAbstractItemDelegate::NoHint);
        }
        const int wanted = current.row();
        const bool moved = RunCommand(this, [&] { FModel->MoveToRow(wanted); });
        if (!moved || FModel->CurrentRow() != wanted) {
            // The data set stayed (a failed post) or the rows moved under the target (a
            // cancelled insert): the grid follows the data set.
            const int row = FModel->CurrentRow();
            QTimer::singleShot(0, this, [this, row] { FollowDataSet(row); });
            if (!moved) {
                return;
            }
        }
    }
    // A reset of the model puts Qt's current cell on the first column; only the user's moves
    // choose the column.
    if (current.isValid() && !FFollowing && (FModel == nullptr || !FModel->Relaying())) {
        FColumn = current.column();
    }
    QTableView::currentChanged(current, previous);
}

void TEditGrid::OpenEditorSoon() {
    if (FOpenPending) {
        return;
    }
    FOpenPending = true;
    QTimer::singleShot(0, this, [this] {
        FOpenPending = false;
        OpenEditor();
    });
}

void TEditGrid::OpenEditor() {
    const QModelIndex current = currentIndex();
    if (!current.isValid() || state() == QAbstractItemView::EditingState || !isVisible()) {
        return;
    }
    if (current.flags() & Qt::ItemIsEditable) {
        edit(current, QAbstractItemView::AllEditTriggers, nullptr);
    }
}

bool TEditGrid::HandleRecordKey(QKeyEvent* event) {
    if (FModel == nullptr || !FModel->DataSet().Active()) {
        return false;
    }
    TDataSet& data = FModel->DataSet();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Insert && modifiers == Qt::NoModifier) {
        Run([&] {
            PostEditorText();
            data.Insert();
        });
        return true;
    }
    if (event->key() == Qt::Key_Down && modifiers == Qt::NoModifier) {
        const bool onLastRow = FModel->CurrentRow() == data.RecordCount() - 1;
        const bool blankInsert =
            data.State() == TDataSetState::dsInsert && !data.Modified() &&
            (FEditor.isNull() || CellEditor() == nullptr || CellEditor()->text().isEmpty());
        if (onLastRow && !blankInsert && data.CanModify()) {
            Run([&] {
                PostEditorText();
                data.Append();
            });
            return true;
        }
        return false;
    }
    if (event->key() == Qt::Key_Delete && modifiers == Qt::ControlModifier) {
        if (data.IsEmpty()) {
            return true;
        }
        if (ConfirmDelete && ConfirmDelete()) {
            if (!FEditor.isNull() && state() == QAbstractItemView::EditingState) {
                closeEditor(FEditor.data(), QAbstractItemDelegate::RevertModelCache);
            }
            Run([&] { data.Delete(); });
        }
        return true;
    }
    if (event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier) {
        QLineEdit* editor = CellEditor();
        const bool editorUnchanged =
            editor == nullptr || editor->text() == currentIndex().data(Qt::EditRole).toString();
        if (editorUnchanged && data.State() != TDataSetState::dsBrowse) {
            Run([&] { data.Cancel(); });
            return true;
        }
    }
    return false;
}

void TEditGrid::keyPressEvent(QKeyEvent* event) {
    if (OnKeyDown) {
        OnKeyDown(event);
    }
    if (HandleRecordKey(event)) {
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

bool TEditGrid::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FEditor.data() && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Down) { // Down reaches keyPressEvent through the viewport
            if (OnKeyDown) {
                OnKeyDown(key);
            }
            if (HandleRecordKey(key)) {
                return true;
            }
        }
    }
    return QTableView::eventFilter(watched, event);
}

void TEditGrid::focusInEvent(QFocusEvent* event) {
    QTableView::focusInEvent(event);
    OpenEditorSoon();
}

void TEditGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    if (editor == FEditor.data()) {
        FEditor.clear();
    }
    QTableView::closeEditor(editor, hint);
    // The editor is always shown: after Enter or Escape the same cell opens again.
    if (OwnsWidget(QApplication::focusWidget()) || QApplication::focusWidget() == nullptr) {
        OpenEditorSoon();
    }
}

bool TEditGrid::OwnsWidget(const QWidget* widget) const {
    return widget != nullptr && (widget == this || isAncestorOf(widget));
}

void TEditGrid::FocusChanged(QWidget* old, QWidget* now) {
    const bool left =
        OwnsWidget(old) && now != nullptr && !OwnsWidget(now) && now->window() == window();
    const bool entered = !OwnsWidget(old) && OwnsWidget(now);
    if (entered) {
        emit GridEntered();
    }
    if (!left || FModel == nullptr) {
        return;
    }
    TDataSet& data = FModel->DataSet();
    const bool typed = CellEditor() != nullptr &&
                       CellEditor()->text() != currentIndex().data(Qt::EditRole).toString();
    if (data.Active() && data.State() == TDataSetState::dsInsert && !data.Modified() && !typed) {
        Run([&] { data.Cancel(); });
    }
}

void TEditGrid::ShowFailure(const QString& message) {
    ShowCommandError(this, ToUtf8(message));
}

void TEditGrid::Run(const std::function<void()>& action) {
    RunCommand(this, action);
}

} // namespace kelvara

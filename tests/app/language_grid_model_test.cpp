// The grid over the open table: columns, values through the display hooks, edits, and the grid
// and the table following each other. Every model here runs under QAbstractItemModelTester.
#include "app/app_test_support.h"
#include "app/edit_grid.h"
#include "app/language_grid_model.h"
#include "components/qt_test_support.h"
#include "components/qt_user_interaction.h"
#include "engine/dataset_error.h"
#include "engine/table.h"
#include "store/data_module.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPalette>
#include <QScrollBar>
#include <QTest>
#include <memory>

using namespace kelvara;
using namespace kelvara::test;

namespace {

// One open table in a data module, its model under the tester, and a grid showing it.
struct TGridFixture {
    QTemporaryDir folder;
    TQtUserInteraction user;
    TDMLanguage data{user};
    std::unique_ptr<TLanguageGridModel> model;
    std::unique_ptr<QAbstractItemModelTester> tester;
    std::unique_ptr<QWidget> window;
    TEditGrid* grid = nullptr;
    QLineEdit* elsewhere = nullptr;

    explicit TGridFixture(const std::vector<TRow>& rows = SampleRows()) {
        const std::string path = MakeLanguageTable(folder, "lang.db", rows);
        if (!data.OpenLanguageTable(&data.MasterLang(), path, "")) {
            qFatal("the fixture table does not open");
        }
        model = std::make_unique<TLanguageGridModel>(data.MasterLang(), &user);
        tester = std::make_unique<QAbstractItemModelTester>(
            model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    void Show() {
        window = std::make_unique<QWidget>();
        grid = new TEditGrid(window.get());
        grid->setGeometry(0, 0, 800, 300);
        elsewhere = new QLineEdit(window.get());
        elsewhere->setGeometry(0, 310, 100, 20);
        grid->SetGridModel(model.get());
        window->resize(800, 340);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        grid->setFocus();
        QApplication::processEvents();
    }

    TTable& Table() { return data.MasterLang(); }
    int Rows() { return model->rowCount(); }
    QString Cell(int row, int column, int role = Qt::DisplayRole) {
        return model->data(model->index(row, column), role).toString();
    }
};

} // namespace

class TLanguageGridModelTest : public QObject {
    Q_OBJECT
private slots:
    void ColumnsTitlesAndValues() {
        TGridFixture f;
        QCOMPARE(f.model->columnCount(), 6);
        QCOMPARE(f.Rows(), 5);
        const QStringList titles = {
            QStringLiteral("Index"),          QStringLiteral("Form Name"),
            QStringLiteral("Component Name"), QStringLiteral("Property Name"),
            QStringLiteral("Native"),         QStringLiteral("English")};
        for (int column = 0; column < 6; ++column) {
            QCOMPARE(f.model->headerData(column, Qt::Horizontal).toString(), titles[column]);
        }
        QCOMPARE(f.Cell(0, 0), QStringLiteral("1"));
        QCOMPARE(f.Cell(1, 1), QStringLiteral("MainForm"));
        QCOMPARE(f.Cell(1, 5), QStringLiteral("Main window"));
        QCOMPARE(f.Cell(2, 4), QStringLiteral("Open Table"));
        // Line breaks show as their codes, through the data module's display conversion.
        QCOMPARE(f.Cell(3, 4), QStringLiteral("Two#13#10lines"));
        QCOMPARE(f.Cell(4, 4), QStringLiteral("שלום"));

        const auto alignment = [&](int column) {
            return Qt::Alignment(
                       f.model->data(f.model->index(0, column), Qt::TextAlignmentRole).toInt()) &
                   Qt::AlignHorizontal_Mask;
        };
        QCOMPARE(alignment(0), Qt::AlignRight);
        QCOMPARE(alignment(4), Qt::AlignLeft);
        const QColor info = QApplication::palette().color(QPalette::ToolTipBase);
        for (int column = 0; column < 5; ++column) {
            QCOMPARE(f.model->data(f.model->index(0, column), Qt::BackgroundRole).value<QColor>(),
                     info);
        }
        QVERIFY(!f.model->data(f.model->index(0, 5), Qt::BackgroundRole).isValid());
    }

    void LanguageColumnFollowsItsFieldName() {
        TGridFixture f;
        f.model->SetColumnFieldName(5, "German");
        QCOMPARE(f.model->headerData(5, Qt::Horizontal).toString(), QStringLiteral("German"));
        QCOMPARE(f.Cell(2, 5), QStringLiteral("Tabelle öffnen"));
        f.model->SetColumnFieldName(5, "Native");
        QCOMPARE(f.Cell(1, 5), f.Cell(1, 4));
    }

    // A field the table lacks: empty cells that cannot be edited, and no message at all.
    void MissingFieldGivesEmptyReadOnlyCells() {
        TGridFixture f;
        TModalAnswerer answerer;
        answerer.ThenMessageBox(QMessageBox::Ok);
        f.model->SetColumnFieldName(5, "Maori");
        QCOMPARE(f.model->headerData(5, Qt::Horizontal).toString(), QStringLiteral("Maori"));
        for (int row = 0; row < f.Rows(); ++row) {
            QCOMPARE(f.Cell(row, 5), QString());
            QVERIFY(!(f.model->flags(f.model->index(row, 5)) & Qt::ItemIsEditable));
        }
        QVERIFY(!f.model->setData(f.model->index(1, 5), QStringLiteral("x")));
        QTest::qWait(50);
        QCOMPARE(answerer.Handled(), 0);
    }

    void FieldAccessDecidesWhatCanBeTyped() {
        TGridFixture f;
        const auto editable = [&](int column) {
            return bool(f.model->flags(f.model->index(1, column)) & Qt::ItemIsEditable);
        };
        QVERIFY(!editable(0)); // Index_No is numbered by the table
        QVERIFY(editable(4));
        f.Table().FieldByName("Native").SetReadOnly(true);
        QVERIFY(!editable(4));
        QVERIFY(editable(5));
        f.model->SetColumnReadOnly(5, true);
        QVERIFY(!editable(5));
    }

    void TypedTextGoesIntoTheRecordAndMovingPostsIt() {
        TGridFixture f;
        f.model->MoveToRow(2);
        QCOMPARE(f.Table().RecNo(), 3);
        QVERIFY(f.model->setData(f.model->index(2, 5), QStringLiteral("Open#13#10table")));
        QCOMPARE(f.Table().State(), TDataSetState::dsEdit);
        QCOMPARE(f.Cell(2, 5), QStringLiteral("Open#13#10table"));
        f.model->MoveToRow(0);
        QCOMPARE(f.Table().State(), TDataSetState::dsBrowse);
        QVERIFY(f.Table().UpdatesPending());
        f.Table().SetRecNo(3);
        QCOMPARE(f.Table().FieldByName("English").AsString(), std::string("Open\r\ntable"));
        // The same text again is no change.
        QVERIFY(!f.model->setData(f.model->index(2, 5), QStringLiteral("Open#13#10table")));
        QCOMPARE(f.Table().State(), TDataSetState::dsBrowse);
    }

    void FollowsEveryChangeOfTheTable() {
        TGridFixture f;
        f.Table().Append();
        QCOMPARE(f.Rows(), 6);
        f.Table().Cancel();
        QCOMPARE(f.Rows(), 5);
        f.Table().SetRecNo(2);
        f.Table().Delete();
        QCOMPARE(f.Rows(), 4);
        QCOMPARE(f.Cell(1, 4), QStringLiteral("Open Table"));
        f.Table().CancelUpdates();
        QCOMPARE(f.Rows(), 5);
        QCOMPARE(f.Cell(1, 4), QStringLiteral("Hauptfenster"));
        f.Table().Refresh();
        QCOMPARE(f.Rows(), 5);
        f.data.CloseTable();
        QCOMPARE(f.Rows(), 0);
    }

    void GridAndTableKeepTheSameRecord() {
        TGridFixture f;
        f.Show();
        f.grid->setCurrentIndex(f.model->index(3, 5));
        QCOMPARE(f.Table().RecNo(), 4);
        f.Table().SetRecNo(2);
        QCOMPARE(f.grid->currentIndex().row(), 1);
        QCOMPARE(f.grid->currentIndex().column(), 5);
        f.Table().Last();
        QCOMPARE(f.grid->currentIndex().row(), 4);
        QTest::keyClick(f.grid->CellEditor() ? static_cast<QWidget*>(f.grid->CellEditor()) : f.grid,
                        Qt::Key_Up);
        QCOMPARE(f.Table().RecNo(), 4);
        QCOMPARE(f.grid->currentIndex().row(), 3);
    }

    // The current cell is always open for typing; moving to another row posts what was typed.
    void TypingInTheCellThenMovingPosts() {
        TGridFixture f;
        f.Show();
        f.grid->setCurrentIndex(f.model->index(2, 5));
        QTRY_VERIFY(f.grid->CellEditor() != nullptr);
        QLineEdit* editor = f.grid->CellEditor();
        editor->selectAll();
        QTest::keyClicks(editor, QStringLiteral("Open#10the table"));
        QTest::keyClick(editor, Qt::Key_Down);
        QCOMPARE(f.Table().RecNo(), 4);
        QCOMPARE(f.Table().State(), TDataSetState::dsBrowse);
        QVERIFY(f.Table().UpdatesPending());
        QCOMPARE(f.Cell(2, 5), QStringLiteral("Open#10the table"));
        f.Table().SetRecNo(3);
        QCOMPARE(f.Table().FieldByName("English").AsString(), std::string("Open\nthe table"));
    }

    // A command that follows typing sees the typed text (the editor is written back first).
    void PostEditorTextWritesTheOpenEditor() {
        TGridFixture f;
        f.Show();
        f.grid->setCurrentIndex(f.model->index(1, 5));
        QTRY_VERIFY(f.grid->CellEditor() != nullptr);
        f.grid->CellEditor()->setText(QStringLiteral("Main window (changed)"));
        f.grid->PostEditorText();
        QCOMPARE(f.Table().State(), TDataSetState::dsEdit);
        f.data.SaveTable();
        // Saving reloads the rows; the grid stays on the same record and column.
        QCOMPARE(f.grid->currentIndex().row(), 1);
        QCOMPARE(f.grid->currentIndex().column(), 5);
        f.Table().Refresh();
        f.Table().SetRecNo(2);
        QCOMPARE(f.Table().FieldByName("English").AsString(), std::string("Main window (changed)"));
    }

    void RecordKeys() {
        TGridFixture f;
        f.Show();
        f.grid->setCurrentIndex(f.model->index(2, 5));
        QTRY_VERIFY(f.grid->CellEditor() != nullptr);

        // Insert: an empty record before the current one; leaving the grid cancels it unchanged.
        QTest::keyClick(f.grid->CellEditor(), Qt::Key_Insert);
        QCOMPARE(f.Table().State(), TDataSetState::dsInsert);
        QCOMPARE(f.Rows(), 6);
        QCOMPARE(f.grid->currentIndex().row(), f.Table().RecNo() - 1);
        f.elsewhere->setFocus();
        QApplication::processEvents();
        QCOMPARE(f.Table().State(), TDataSetState::dsBrowse);
        QCOMPARE(f.Rows(), 5);
        QVERIFY(!f.Table().UpdatesPending());

        // Down on the last row appends; moving up again drops the untouched record.
        f.grid->setFocus();
        f.Table().Last();
        QCOMPARE(f.grid->currentIndex().row(), 4);
        QTest::keyClick(f.grid, Qt::Key_Down);
        QCOMPARE(f.Table().State(), TDataSetState::dsInsert);
        QCOMPARE(f.Rows(), 6);
        QCOMPARE(f.grid->currentIndex().row(), 5);
        QTest::keyClick(f.grid, Qt::Key_Up);
        QCOMPARE(f.Table().State(), TDataSetState::dsBrowse);
        QCOMPARE(f.Rows(), 5);
        QCOMPARE(f.grid->currentIndex().row(), f.Table().RecNo() - 1);

        // Ctrl+Delete asks first; Cancel keeps the record, OK deletes it into the cache.
        int asked = 0;
        bool answer = false;
        f.grid->ConfirmDelete = [&] {
            ++asked;
            return answer;
        };
        f.Table().SetRecNo(2);
        QTest::keyClick(f.grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(asked, 1);
        QCOMPARE(f.Rows(), 5);
        answer = true;
        QTest::keyClick(f.grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(asked, 2);
        QCOMPARE(f.Rows(), 4);
        QVERIFY(f.Table().UpdatesPending());
        QCOMPARE(f.grid->currentIndex().row(), f.Table().RecNo() - 1);
    }

    void DeleteAsksWithTheDefaultQuestion() {
        TGridFixture f;
        f.Show();
        TModalAnswerer answerer;
        answerer.ThenMessageBox(QMessageBox::Cancel);
        f.Table().SetRecNo(2);
        QTest::keyClick(f.grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(answerer.Handled(), 1);
        QCOMPARE(answerer.Texts().at(0), QStringLiteral("Delete record?"));
        QCOMPARE(f.Rows(), 5);
    }

    // A cell whose text cannot be shown: empty while painting, one notice after the paint, and
    // no further notices from the repaints that follow.
    void FailingCellTextIsReportedOnceAfterThePaint() {
        TGridFixture f;
        f.Show();
        bool painting = false;
        int failures = 0;
        f.Table().FieldByName("Native").OnGetText = [&](TField&, std::string&, bool) {
            ++failures;
            if (painting) {
                // The notice must not open while the grid paints.
                QVERIFY(QApplication::activeModalWidget() == nullptr);
            }
            throw EDatabaseError("Cannot read the value");
        };
        TModalAnswerer answerer;
        answerer.ThenMessageBox(QMessageBox::Ok);
        answerer.ThenMessageBox(QMessageBox::Ok);
        painting = true;
        f.grid->viewport()->repaint();
        painting = false;
        QVERIFY(failures > 0);
        QCOMPARE(answerer.Handled(), 0);
        QCOMPARE(f.Cell(1, 4), QString());
        QTRY_COMPARE(answerer.Handled(), 1);
        QCOMPARE(answerer.Texts().at(0), QStringLiteral("Cannot read the value"));
        for (int i = 0; i < 3; ++i) {
            f.grid->viewport()->repaint();
            QTest::qWait(20);
        }
        QCOMPARE(answerer.Handled(), 1);
    }

    // Opening 100,000 rows is quick, and scrolling reads only the rows it shows.
    void LargeTableIsReadOnlyWhereShown() {
        QTemporaryDir folder;
        const std::string path = MakeLargeLanguageTable(folder, "large.db", 100000);
        TQtUserInteraction user;
        TDMLanguage data(user);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(data.OpenLanguageTable(&data.MasterLang(), path, ""));
        TLanguageGridModel model(data.MasterLang(), &user);
        QWidget window;
        auto* grid = new TEditGrid(&window);
        grid->setGeometry(0, 0, 900, 500);
        grid->SetGridModel(&model);
        window.resize(900, 500);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QApplication::processEvents();
        qInfo("opening and showing 100,000 rows: %lld ms", static_cast<long long>(clock.elapsed()));
        QCOMPARE(model.rowCount(), 100000);

        int reads = 0;
        data.MasterLang().FieldByName("Native").OnGetText = [&](TField&, std::string&, bool) {
            ++reads;
        };
        clock.restart();
        grid->scrollToBottom();
        grid->setCurrentIndex(model.index(99999, 5));
        grid->viewport()->repaint();
        QApplication::processEvents();
        qInfo("scrolling to the last row: %lld ms, %d values of Native read",
              static_cast<long long>(clock.elapsed()), reads);
        QCOMPARE(data.MasterLang().RecNo(), 100000);
        QVERIFY(reads > 0);
        QVERIFY2(reads < 2000, "scrolling read far more rows than it shows");
        QCOMPARE(model.data(model.index(99999, 4)).toString(), QStringLiteral("Native text 99999"));
    }
};
KELVARA_QT_TEST(TLanguageGridModelTest);

#include "language_grid_model_test.moc"

// The main window as the user meets it: start, maintainer mode, the File commands, the progress
// display, language selection and the scan road.
#include "app/app_test_support.h"
#include "app/edit_grid.h"
#include "app/language_grid_model.h"
#include "app/main_form.h"
#include "components/qt_test_support.h"
#include "components/qt_user_interaction.h"
#include "components/status_panels.h"
#include "components/step_progress_bar.h"
#include "dialogs/language_select_form.h"
#include "dialogs/scan_form.h"
#include "engine/table.h"
#include "store/data_module.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <memory>

using namespace kelvara;
using namespace kelvara::test;

namespace {

const QString kSaveQuestion = QStringLiteral("Do you want to save changes to current table first?");

struct TWindowFixture {
    QTemporaryDir folder;
    TQtUserInteraction user;
    TDMLanguage data{user};
    std::unique_ptr<TMainForm> form;
    std::unique_ptr<QAbstractItemModelTester> tester;

    explicit TWindowFixture(const QStringList& parameters = {}) {
        form = std::make_unique<TMainForm>(data, user, parameters);
        tester = std::make_unique<QAbstractItemModelTester>(
            form->GridModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get())) {
            qWarning("the main window was not exposed");
        }
    }

    // Opens a table the way New does after a scan.
    std::string Open(const std::string& name, const std::vector<TRow>& rows = SampleRows(),
                     const std::vector<std::string>& extra = {}) {
        const std::string path = MakeLanguageTable(folder, name, rows, extra);
        if (!data.OpenLanguageTable(&data.MasterLang(), path, "")) {
            qFatal("the table does not open");
        }
        form->RefreshState();
        return path;
    }

    QAction* Action(const char* name) { return form->Action(QString::fromLatin1(name)); }
    TTable& Table() { return data.MasterLang(); }
    TLanguageGridModel& Model() { return *form->GridModel(); }
    QString Title(int column) { return Model().headerData(column, Qt::Horizontal).toString(); }
};

// Answers a file dialog with a path.
TModalAnswerer::THandler ChooseFile(const std::string& path) {
    return [path](QWidget* widget) {
        auto* dialog = qobject_cast<QFileDialog*>(widget);
        QVERIFY2(dialog != nullptr, "a file dialog was expected");
        // The dialog takes a full path typed as the file name, as a user may type it.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name != nullptr);
        name->setText(QString::fromStdString(path));
        QMetaObject::invokeMethod(dialog, "accept");
    };
}

// Answers the language dialog by typing `language` and pressing OK.
TModalAnswerer::THandler ChooseLanguage(const QString& language, QStringList* offered = nullptr) {
    return [language, offered](QWidget* widget) {
        auto* dialog = qobject_cast<TLanguageSelectForm*>(widget);
        QVERIFY2(dialog != nullptr, "the language dialog was expected");
        if (offered != nullptr) {
            for (int i = 0; i < dialog->LanguageCombo()->count(); ++i) {
                offered->append(dialog->LanguageCombo()->itemText(i));
            }
        }
        dialog->LanguageCombo()->setEditText(language);
        if (dialog->OkBtn()->isEnabled()) {
            dialog->OkBtn()->click();
        } else {
            dialog->reject();
        }
    };
}

QStringList MenuItems(QMenu* menu) {
    QStringList items;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            items << QStringLiteral("-");
        } else {
            items << action->text() + QLatin1Char('|') + action->shortcut().toString();
        }
    }
    return items;
}

} // namespace

class TMainFormTest : public QObject {
    Q_OBJECT
private slots:
    void StartsWithoutATable() {
        TWindowFixture f;
        QCOMPARE(f.form->windowTitle(), QStringLiteral("Pelora Kelvara"));
        QVERIFY(!f.form->MaintainerMode());
        QVERIFY(!f.form->EditGrid()->isVisible());
        QVERIFY(!f.Action("NewProjectMenuItem")->isVisible());
        QVERIFY(!f.form->ToolButton(QStringLiteral("NewBtn"))->isVisible());
        QVERIFY(f.Action("OpenMenuItem")->isEnabled());
        QVERIFY(!f.Action("SaveMenuItem")->isEnabled());
        QVERIFY(!f.form->ToolButton(QStringLiteral("SaveBtn"))->isEnabled());
        QVERIFY(!f.Action("SelectLanguageMenuItem")->isEnabled());
        for (const char* hidden :
             {"AddRecordMenuItem", "ExtractMessagesMenuItem", "AppendMessagesMenuItem"}) {
            QVERIFY(!f.Action(hidden)->isVisible());
        }
        QCOMPARE(f.form->CurrentLanguage(), std::string("English"));

        // Ctrl+N does nothing in normal mode.
        TModalAnswerer answerer;
        answerer.Then([](QWidget* widget) { widget->close(); });
        QTest::keyClick(f.form.get(), Qt::Key_N, Qt::ControlModifier);
        QTest::qWait(100);
        QCOMPARE(answerer.Handled(), 0);

        QTRY_VERIFY(f.form->FirstPaintDone());
        QTRY_VERIFY(f.form->isMaximized());
    }

    void MaintainerMode_data() {
        QTest::addColumn<QStringList>("parameters");
        QTest::addColumn<bool>("maintainer");
        QTest::newRow("switch") << QStringList{QStringLiteral("-KXDW31EDIT")} << true;
        QTest::newRow("longer") << QStringList{QStringLiteral("-KXDW31EDITNOW")} << true;
        QTest::newRow("other case") << QStringList{QStringLiteral("-Kxdw31Edit")} << false;
    }
    void MaintainerMode() {
        QFETCH(QStringList, parameters);
        QFETCH(bool, maintainer);
        TWindowFixture f(parameters);
        QCOMPARE(f.form->MaintainerMode(), maintainer);
        QCOMPARE(f.Action("NewProjectMenuItem")->isVisible(), maintainer);
        QCOMPARE(f.form->ToolButton(QStringLiteral("NewBtn"))->isVisible(), maintainer);
        if (maintainer) {
            QVERIFY(f.Action("NewProjectMenuItem")->isEnabled());
        }
        for (const char* item :
             {"AddRecordMenuItem", "ExtractMessagesMenuItem", "AppendMessagesMenuItem"}) {
            QCOMPARE(f.Action(item)->isVisible(), maintainer);
            QVERIFY(!f.Action(item)->isEnabled()); // no table open
        }
        // Key fields and Native are writable in maintainer mode only; Index_No never.
        f.Open("lang.db");
        for (int column = 1; column <= 4; ++column) {
            QCOMPARE(bool(f.Model().flags(f.Model().index(1, column)) & Qt::ItemIsEditable),
                     maintainer);
        }
        QVERIFY(!(f.Model().flags(f.Model().index(1, 0)) & Qt::ItemIsEditable));
        QVERIFY(f.Model().flags(f.Model().index(1, 5)) & Qt::ItemIsEditable);
    }

    void MenusAndToolBar() {
        TWindowFixture f({QStringLiteral("-KXDW31EDIT")});
        const QList<QAction*> menus = f.form->menuBar()->actions();
        QStringList titles;
        for (QAction* menu : menus) {
            titles << menu->text();
        }
        QCOMPARE(titles, (QStringList{QStringLiteral("&File"), QStringLiteral("&Edit"),
                                      QStringLiteral("&Utilities"), QStringLiteral("&Help")}));
        QCOMPARE(MenuItems(menus[0]->menu()),
                 (QStringList{QStringLiteral("&New|Ctrl+N"), QStringLiteral("&Open|Ctrl+O"),
                              QStringLiteral("&Save|Ctrl+S"), QStringLiteral("&Close|"),
                              QStringLiteral("-"), QStringLiteral("Export|"), QStringLiteral("-"),
                              QStringLiteral("&Print|Ctrl+P"), QStringLiteral("Print S&etup|"),
                              QStringLiteral("-"), QStringLiteral("&Revert|"),
                              QStringLiteral("&Backup|"), QStringLiteral("-"),
                              QStringLiteral("E&xit|")}));
        QCOMPARE(
            MenuItems(menus[1]->menu()),
            (QStringList{QStringLiteral("&Select Language|Ctrl+L"), QStringLiteral("-"),
                         QStringLiteral("Cut|Ctrl+X"), QStringLiteral("Copy|Ctrl+C"),
                         QStringLiteral("Paste|Ctrl+V"), QStringLiteral("-"),
                         QStringLiteral("Font...|"), QStringLiteral("-"),
                         QStringLiteral("&Multiple Line Editor|F2"),
                         QStringLiteral("Copy &Default Text|F5"),
                         QStringLiteral("&Restore String|F6"), QStringLiteral("-"),
                         QStringLiteral("&Find|Ctrl+F"), QStringLiteral("Find &Again|F3"),
                         QStringLiteral("Replace|Ctrl+R"), QStringLiteral("Replace Again|F4")}));
        QCOMPARE(MenuItems(menus[2]->menu()),
                 (QStringList{QStringLiteral("&Merge|"), QStringLiteral("&Add Record|"),
                              QStringLiteral("&Extract Messages|"),
                              QStringLiteral("A&ppend Messages|")}));
        QCOMPARE(MenuItems(menus[3]->menu()),
                 (QStringList{QStringLiteral("&Contents|F1"), QStringLiteral("-"),
                              QStringLiteral("&About|")}));

        QStringList tools;
        for (QAction* action : f.form->ToolBar()->actions()) {
            if (action->isSeparator()) {
                tools << QStringLiteral("-");
                continue;
            }
            auto* button = qobject_cast<QToolButton*>(f.form->ToolBar()->widgetForAction(action));
            QVERIFY(button != nullptr);
            QCOMPARE(button->size(), QSize(25, 25));
            // The icons render (Qt's SVG image plugin is installed).
            QVERIFY(!action->icon().pixmap(16, 16).isNull());
            tools << button->objectName() + QLatin1Char('|') + action->toolTip();
        }
        QCOMPARE(tools, (QStringList{
                            QStringLiteral("NewBtn|Create New Table"),
                            QStringLiteral("OpenBtn|Open Table"),
                            QStringLiteral("SaveBtn|Save Table"), QStringLiteral("-"),
                            QStringLiteral("CutBtn|Cut Text"), QStringLiteral("CopyBtn|Copy Text"),
                            QStringLiteral("PasteBtn|Paste Text"), QStringLiteral("-"),
                            QStringLiteral("LanguageBtn|Select Language"), QStringLiteral("-"),
                            QStringLiteral("FindBtn|Find"), QStringLiteral("ReplaceBtn|Replace")}));
        QVERIFY(!f.Action("PrintMenu")->icon().isNull());
        QVERIFY(!f.Action("ContentsMenuItem")->icon().isNull());
    }

    void StatusBarPanels() {
        TWindowFixture f;
        TStatusPanels* bar = f.form->StatusBar();
        QCOMPARE(bar->PanelCount(), 7);
        QCOMPARE(bar->height(), 23);
        const int widths[] = {150, 85, 150, 100, 100, 200};
        for (int panel = 0; panel < 6; ++panel) {
            QCOMPARE(bar->PanelRect(panel).width(), widths[panel]);
        }
        QCOMPARE(bar->PanelText(0), QStringLiteral("Button Display Width 85"));
        QCOMPARE(bar->PanelText(2), QStringLiteral("Button Display Width 100"));
        // The progress bar lies over panel 5, one pixel larger on every side.
        QCOMPARE(f.form->ProgressBar()->parentWidget(), bar);
        QCOMPARE(f.form->ProgressBar()->geometry(), bar->PanelRect(5).adjusted(-1, -1, 1, 1));
        QVERIFY(f.form->ProgressBar()->maximum() > f.form->ProgressBar()->minimum());
    }

    void CaptionAfterOpenSaveAndClose() {
        TWindowFixture f;
        const std::string path = MakeLanguageTable(f.folder, "opened.db", SampleRows());
        TModalAnswerer answerer;
        answerer.Then(ChooseFile(path));
        f.Action("OpenMenuItem")->trigger();
        QCOMPARE(answerer.Handled(), 1);
        const QString withPath = QStringLiteral("Pelora Kelvara - ") + QString::fromStdString(path);
        QCOMPARE(f.form->windowTitle(), withPath);
        QVERIFY(f.form->EditGrid()->isVisible());
        QVERIFY(f.Action("SaveMenuItem")->isEnabled());
        QCOMPARE(f.Model().rowCount(), 5);

        f.Action("SaveMenuItem")->trigger();
        QCOMPARE(f.form->windowTitle(), withPath);

        f.Action("CloseMenuItem")->trigger();
        QCOMPARE(f.form->windowTitle(), QStringLiteral("Pelora Kelvara"));
        QVERIFY(!f.form->EditGrid()->isVisible());
        QVERIFY(!f.Action("SaveMenuItem")->isEnabled());
        QCOMPARE(f.Model().rowCount(), 0);
    }

    // With room to spare, the two text columns take it: the columns fill the grid but for the
    // 26 pixels of its frame and scroll bar.
    void GridResizeFillsTheWindow() {
        TWindowFixture f;
        f.form->showNormal();
        f.form->resize(1200, 600);
        QTRY_COMPARE(f.form->width(), 1200);
        f.Open("lang.db");
        TEditGrid* grid = f.form->EditGrid();
        int total = 0;
        for (int column = 0; column < 6; ++column) {
            total += grid->columnWidth(column);
        }
        QVERIFY2(std::abs(total - (grid->width() - 26)) <= 1,
                 qPrintable(QStringLiteral("columns %1, grid %2").arg(total).arg(grid->width())));
        // Both started at 150 (the window was too narrow when it was created) and grew alike.
        QCOMPARE(grid->columnWidth(4), grid->columnWidth(5));
        QCOMPARE(grid->columnWidth(0), 40);
        QCOMPARE(grid->columnWidth(3), 114);
    }

    void ProgressRunOfTen() {
        TWindowFixture f;
        TStepProgressBar* bar = f.form->ProgressBar();
        f.form->ProgressStart(10, "Scanning");
        QCOMPARE(f.form->StatusBar()->PanelText(4), QStringLiteral("Scanning"));
        QVERIFY(f.form->ProgressRunning());
        QVERIFY(!f.Action("OpenMenuItem")->isEnabled());
        for (int step = 0; step < 10; ++step) {
            f.form->ProgressStep();
        }
        QCOMPARE(bar->value(), 10);
        QCOMPARE(bar->value(), bar->maximum());
        f.form->ProgressStart(0, "");
        QCOMPARE(f.form->StatusBar()->PanelText(4), QString());
        QVERIFY(!f.form->ProgressRunning());
        QCOMPARE(bar->value(), bar->minimum());
        QVERIFY(bar->maximum() > bar->minimum());
        QVERIFY(f.Action("OpenMenuItem")->isEnabled());
    }

    void ClosingDuringAProgressRunWaitsForItsEnd() {
        TWindowFixture f;
        f.form->ProgressStart(3, "Merging");
        f.form->close();
        QApplication::processEvents();
        QVERIFY(f.form->isVisible());
        f.form->ProgressStep();
        QVERIFY(f.form->isVisible());
        f.form->ProgressStart(0, "");
        QTRY_VERIFY(!f.form->isVisible());
    }

    void ExitWithUnsavedChanges() {
        TWindowFixture f;
        f.Open("lang.db");
        f.Model().MoveToRow(2);
        QVERIFY(f.Model().setData(f.Model().index(2, 5), QStringLiteral("Open the table")));
        f.Model().MoveToRow(0);
        QVERIFY(f.Table().UpdatesPending());

        TModalAnswerer answerer;
        answerer.ThenMessageBox(QMessageBox::Cancel);
        f.Action("ExitMenuItem")->trigger();
        QCOMPARE(answerer.Handled(), 1);
        QCOMPARE(answerer.Texts().at(0), kSaveQuestion);
        QCOMPARE(answerer.Titles().at(0), QStringLiteral("Kelvara"));
        QVERIFY(f.form->isVisible());
        QVERIFY(f.Table().UpdatesPending());

        answerer.ThenMessageBox(QMessageBox::No);
        f.Action("ExitMenuItem")->trigger();
        QCOMPARE(answerer.Handled(), 2);
        QVERIFY(!f.form->isVisible());
    }

    // The text still in the cell editor counts as a change when the window closes.
    void ClosingAsksAboutTextStillInTheEditor() {
        TWindowFixture f;
        f.Open("lang.db");
        f.form->EditGrid()->setCurrentIndex(f.Model().index(1, 5));
        QTRY_VERIFY(f.form->EditGrid()->CellEditor() != nullptr);
        f.form->EditGrid()->CellEditor()->setText(QStringLiteral("typed"));
        TModalAnswerer answerer;
        answerer.ThenMessageBox(QMessageBox::Yes);
        f.form->close();
        QCOMPARE(answerer.Handled(), 1);
        QVERIFY(!f.form->isVisible());
        TTable check;
        check.SetTableName(f.Table().TableName());
        check.Open();
        check.SetRecNo(2);
        QCOMPARE(check.FieldByName("English").AsString(), std::string("typed"));
    }

    void LanguageChoiceLastsAcrossTables() {
        TWindowFixture f;
        f.Open("first.db");
        QCOMPARE(f.Title(5), QStringLiteral("English"));
        QStringList offered;
        TModalAnswerer answerer;
        answerer.Then(ChooseLanguage(QStringLiteral("German"), &offered));
        f.Action("SelectLanguageMenuItem")->trigger();
        QCOMPARE(answerer.Handled(), 1);
        QCOMPARE(f.form->CurrentLanguage(), std::string("German"));
        QCOMPARE(f.Title(5), QStringLiteral("German"));
        QCOMPARE(f.Model().data(f.Model().index(2, 5)).toString(),
                 QStringLiteral("Tabelle öffnen"));
        QCOMPARE(f.form->windowTitle().startsWith(QStringLiteral("Pelora Kelvara - ")), true);

        // The list is the table's own fields from the fifth on, sorted: Native among them.
        QCOMPARE(offered.size(), f.Table().FieldCount() - 4);
        QVERIFY(offered.contains(QStringLiteral("Native")));
        QStringList sorted = offered;
        std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
            return a.compare(b, Qt::CaseInsensitive) < 0;
        });
        QCOMPARE(offered, sorted);

        f.Open("second.db");
        QCOMPARE(f.form->CurrentLanguage(), std::string("German"));
        QCOMPARE(f.Title(5), QStringLiteral("German"));
        QCOMPARE(f.Model().data(f.Model().index(1, 5)).toString(), QStringLiteral("Hauptfenster"));
    }

    // A pending edit is posted before the dialog opens, even when it is cancelled.
    void SelectLanguagePostsAndCancelKeepsTheLanguage() {
        TWindowFixture f;
        f.Open("lang.db");
        f.Model().MoveToRow(1);
        QVERIFY(f.Model().setData(f.Model().index(1, 5), QStringLiteral("Main")));
        QCOMPARE(f.Table().State(), TDataSetState::dsEdit);
        TModalAnswerer answerer;
        answerer.Then([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
        f.Action("SelectLanguageMenuItem")->trigger();
        QCOMPARE(answerer.Handled(), 1);
        QCOMPARE(f.Table().State(), TDataSetState::dsBrowse);
        QVERIFY(f.Table().UpdatesPending());
        QCOMPARE(f.form->CurrentLanguage(), std::string("English"));
        QCOMPARE(f.Model().data(f.Model().index(1, 5)).toString(), QStringLiteral("Main"));
    }

    void NativeInNormalModeRefusesTyping() {
        TWindowFixture f;
        f.Open("lang.db");
        TModalAnswerer answerer;
        answerer.Then(ChooseLanguage(QStringLiteral("Native")));
        f.Action("SelectLanguageMenuItem")->trigger();
        QCOMPARE(f.Title(5), QStringLiteral("Native"));
        QCOMPARE(f.Model().data(f.Model().index(1, 5)).toString(),
                 f.Model().data(f.Model().index(1, 4)).toString());
        QVERIFY(!(f.Model().flags(f.Model().index(1, 5)) & Qt::ItemIsEditable));
        f.form->EditGrid()->setCurrentIndex(f.Model().index(1, 5));
        QApplication::processEvents();
        QVERIFY(f.form->EditGrid()->CellEditor() == nullptr);
        QTest::keyClicks(f.form->EditGrid(), QStringLiteral("xyz"));
        QCOMPARE(f.Table().State(), TDataSetState::dsBrowse);
        QCOMPARE(f.Model().data(f.Model().index(1, 5)).toString(), QStringLiteral("Hauptfenster"));
    }

    // A current language the next table lacks: empty, read-only cells and no message.
    void LanguageTheTableLacks() {
        TWindowFixture f;
        f.Open("maori.db", SampleRows(), {"Maori"});
        TModalAnswerer answerer;
        answerer.Then(ChooseLanguage(QStringLiteral("Maori")));
        f.Action("SelectLanguageMenuItem")->trigger();
        QCOMPARE(f.Title(5), QStringLiteral("Maori"));
        answerer.ThenMessageBox(QMessageBox::Ok);
        f.Open("standard.db");
        f.form->EditGrid()->viewport()->repaint();
        QTest::qWait(50);
        QCOMPARE(answerer.Handled(), 1);
        QCOMPARE(f.Title(5), QStringLiteral("Maori"));
        QCOMPARE(f.Model().data(f.Model().index(1, 5)).toString(), QString());
        QVERIFY(!(f.Model().flags(f.Model().index(1, 5)) & Qt::ItemIsEditable));
    }

    void RevertWithoutChangesSaysSo() {
        TWindowFixture f;
        f.Open("lang.db");
        TModalAnswerer answerer;
        answerer.ThenMessageBox(QMessageBox::Ok);
        f.Action("RevertMenuItem")->trigger();
        QCOMPARE(answerer.Handled(), 1);
        QCOMPARE(answerer.Texts().at(0), QStringLiteral("No changes made since last save"));
    }

    void BackupKeepsTheCurrentRecordAndTheChanges() {
        TWindowFixture f;
        f.Open("lang.db");
        f.Model().MoveToRow(1);
        QVERIFY(f.Model().setData(f.Model().index(1, 5), QStringLiteral("Main")));
        f.Model().MoveToRow(3);
        const std::string copy = f.folder.filePath(QStringLiteral("copy.db")).toStdString();
        TModalAnswerer answerer;
        answerer.Then(ChooseFile(copy));
        f.Action("BackupMenuItem")->trigger();
        QCOMPARE(answerer.Handled(), 1);
        QVERIFY(QFileInfo::exists(QString::fromStdString(copy)));
        QCOMPARE(f.Table().RecNo(), 4);
        QCOMPARE(f.form->EditGrid()->currentIndex().row(), 3);
        QVERIFY(f.Table().UpdatesPending());
    }

    void MissingManualIsReported() {
        TWindowFixture f;
        if (QFileInfo::exists(TMainForm::ManualPath())) {
            QSKIP("a manual lies beside the test program");
        }
        TModalAnswerer answerer;
        answerer.ThenMessageBox(QMessageBox::Ok);
        f.Action("ContentsMenuItem")->trigger();
        QCOMPARE(answerer.Handled(), 1);
        QCOMPARE(answerer.Titles().at(0), QStringLiteral("Kelvara"));
        QVERIFY(answerer.Texts().at(0).endsWith(QStringLiteral("is missing.")));
    }

    // New in maintainer mode: the scan of a file that is no executable reports the reader's
    // error, and the main window opens the new table with only the version stamp record.
    void NewScansAndOpensTheTable() {
        TWindowFixture f({QStringLiteral("-KXDW31EDIT")});
        const QString notAnExe = f.folder.filePath(QStringLiteral("notes.txt"));
        {
            QFile file(notAnExe);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("just text, no executable\n");
        }
        const QString table = f.folder.filePath(QStringLiteral("scanned.db"));
        TModalAnswerer answerer;
        answerer.Then([&](QWidget* widget) {
            auto* scan = qobject_cast<TScanForm*>(widget);
            QVERIFY2(scan != nullptr, "the scan dialog was expected");
            scan->ExecutableNameEdit()->setText(notAnExe);
            scan->TableNameEdit()->setText(table);
            scan->ScanButton()->click();
        });
        answerer.ThenMessageBox(QMessageBox::Ok);
        f.Action("NewProjectMenuItem")->trigger();
        QCOMPARE(answerer.Handled(), 2);
        QCOMPARE(answerer.Titles().at(0), QStringLiteral("Kelvara"));
        QVERIFY(!answerer.Texts().at(0).isEmpty());
        QCOMPARE(f.form->windowTitle(), QStringLiteral("Pelora Kelvara - ") + table);
        QCOMPARE(f.Model().rowCount(), 1);
        QCOMPARE(f.Model().data(f.Model().index(0, 1)).toString(),
                 QStringLiteral("Pelora Language Table"));
        QVERIFY(f.Model().data(f.Model().index(0, 3)).toString().startsWith(QStringLiteral(" - ")));
        QVERIFY(!f.form->ProgressRunning());
    }

    void CancelledNewChangesNothing() {
        TWindowFixture f({QStringLiteral("-KXDW31EDIT")});
        const std::string path = f.Open("lang.db");
        TModalAnswerer answerer;
        answerer.Then([](QWidget* widget) {
            auto* scan = qobject_cast<TScanForm*>(widget);
            QVERIFY(scan != nullptr);
            scan->CancelButton()->click();
        });
        f.Action("NewProjectMenuItem")->trigger();
        QCOMPARE(answerer.Handled(), 1);
        QCOMPARE(f.form->windowTitle(),
                 QStringLiteral("Pelora Kelvara - ") + QString::fromStdString(path));
        QCOMPARE(f.Model().rowCount(), 5);
    }

    // Closing the window while a scan runs: the window stays until the scan is over, Scan is
    // disabled meanwhile, and the handles the scan uses survive.
    void ClosingDuringAScan() {
        const QString exe = QStringLiteral(KELVARA_TEST_SOURCE_DIR "/fixtures/scan/app-i686.exe");
        if (!QFileInfo::exists(exe)) {
            QSKIP("the scanner's fixture executable is missing");
        }
        TWindowFixture f({QStringLiteral("-KXDW31EDIT")});
        const QString table = f.folder.filePath(QStringLiteral("scanned.db"));
        int steps = 0;
        bool visibleAfterClose = false;
        bool scanDisabled = false;
        QPointer<TScanForm> scan;
        connect(f.form->ProgressBar(), &QProgressBar::valueChanged, this, [&](int value) {
            if (value == 0) {
                return;
            }
            ++steps;
            f.form->close();
            visibleAfterClose = f.form->isVisible();
            scanDisabled = scan != nullptr && !scan->ScanButton()->isEnabled();
            if (scan != nullptr) {
                scan->CancelButton()->click(); // ignored while scanning
            }
        });
        TModalAnswerer answerer;
        answerer.Then([&](QWidget* widget) {
            scan = qobject_cast<TScanForm*>(widget);
            QVERIFY(scan != nullptr);
            scan->ExecutableNameEdit()->setText(exe);
            scan->TableNameEdit()->setText(table);
            scan->VersionEdit()->setText(QStringLiteral("48.1"));
            scan->ScanButton()->click();
        });
        f.Action("NewProjectMenuItem")->trigger();
        QVERIFY(steps > 0);
        QVERIFY(visibleAfterClose);
        QVERIFY(scanDisabled);
        QCOMPARE(f.form->windowTitle(), QStringLiteral("Pelora Kelvara - ") + table);
        QVERIFY(f.Model().rowCount() > 1);
        QTRY_VERIFY(!f.form->isVisible());
    }
};
KELVARA_QT_TEST(TMainFormTest);

#include "main_form_test.moc"

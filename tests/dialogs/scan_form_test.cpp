// The scan dialog: when Scan can be pressed, the file choices, and what a scan leaves behind.
#include "components/qt_test_support.h"
#include "dialogs/scan_form.h"
#include "engine/table.h"
#include "store/user_interaction.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <deque>

using namespace kelvara;
using kelvara::test::TModalAnswerer;

namespace {

// Answers file choices from a script and records what was asked.
class TScriptedFiles : public TUserInteraction {
public:
    std::deque<std::optional<std::string>> Answers;
    std::vector<std::string> Filters;
    std::vector<bool> OverwriteConfirmed;
    int BusyOn = 0;
    int BusyOff = 0;

    TAnswer AskYesNoCancel(const std::string&) override { return TAnswer::Cancel; }
    void ShowNotice(const std::string&) override {}
    void ShowError(const std::string&) override {}
    std::optional<std::string> ChooseFileToOpen(const TOpenFileRequest& request) override {
        Filters.push_back(request.Filter.Filter);
        return Next();
    }
    std::optional<std::string> ChooseFileToSave(const TSaveFileRequest& request) override {
        Filters.push_back(request.Filter.Filter);
        OverwriteConfirmed.push_back(request.ConfirmOverwrite);
        return Next();
    }
    void SetBusyCursor(bool busy) override { ++(busy ? BusyOn : BusyOff); }

private:
    std::optional<std::string> Next() {
        if (Answers.empty()) {
            return std::nullopt;
        }
        auto answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
};

struct TProgressLog {
    std::vector<std::pair<int, std::string>> Starts;
    int Steps = 0;
    TProgressCallbacks Callbacks() {
        return {[this](int maximum, const std::string& caption) {
                    Starts.emplace_back(maximum, caption);
                },
                [this] { ++Steps; }};
    }
};

QString WriteTextFile(const QTemporaryDir& folder, const QString& name) {
    const QString path = folder.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("MZ? no, just a text file\n");
    return path;
}

// The next widget Tab reaches from `widget`.
QWidget* NextTabStop(QWidget* widget) {
    QWidget* next = widget->nextInFocusChain();
    while (next != widget && !(next->focusPolicy() & Qt::TabFocus)) {
        next = next->nextInFocusChain();
    }
    return next;
}

int RecordCount(const QString& path, std::string* firstProperty = nullptr) {
    TTable table;
    table.SetTableName(path.toStdString());
    table.Open();
    if (firstProperty != nullptr && !table.IsEmpty()) {
        table.First();
        *firstProperty = table.FieldByName("Property_Name").AsString();
    }
    return table.RecordCount();
}

} // namespace

class TScanFormTest : public QObject {
    Q_OBJECT
private slots:
    void Layout() {
        TScriptedFiles files;
        TScanForm form(files, {});
        QCOMPARE(form.windowTitle(), QStringLiteral("String Scanner"));
        QCOMPARE(form.size(), QSize(361, 123));
        QCOMPARE(form.findChild<QLabel*>(QStringLiteral("ExecutableLabel"))->text(),
                 QStringLiteral("Delphi Executable to Scan:"));
        QCOMPARE(form.findChild<QLabel*>(QStringLiteral("LanguageTableLabel"))->text(),
                 QStringLiteral("Destination Table:"));
        QCOMPARE(form.findChild<QLabel*>(QStringLiteral("LanguageVersionLabel"))->text(),
                 QStringLiteral("Version Label:"));
        QCOMPARE(form.ScanButton()->text(), QStringLiteral("&Scan"));
        QCOMPARE(form.CancelButton()->text(), QStringLiteral("&Cancel"));
        QCOMPARE(form.ScanButton()->geometry(), QRect(176, 92, 85, 25));
        QCOMPARE(form.CancelButton()->geometry(), QRect(268, 92, 85, 25));
        QCOMPARE(form.ExecutableNameEdit()->geometry(), QRect(140, 8, 193, 21));
        QCOMPARE(form.VersionEdit()->geometry(), QRect(140, 64, 213, 21));
        QVERIFY(form.ScanButton()->isDefault());
        QVERIFY(!form.ScanButton()->isEnabled());
        // Tab order: the three edits with their browse buttons, then Scan and Cancel.
        QCOMPARE(NextTabStop(form.ExecutableNameEdit()), form.BrowseSourceButton());
        QCOMPARE(NextTabStop(form.BrowseSourceButton()), form.TableNameEdit());
        QCOMPARE(NextTabStop(form.TableNameEdit()), form.BrowseTableButton());
        QCOMPARE(NextTabStop(form.BrowseTableButton()), form.VersionEdit());
        QCOMPARE(NextTabStop(form.VersionEdit()), form.ScanButton());
        QCOMPARE(NextTabStop(form.ScanButton()), form.CancelButton());
    }

    void ScanNeedsBothPaths_data() {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("table");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("neither") << QString() << QString() << false;
        QTest::newRow("executable only") << QStringLiteral("a.exe") << QString() << false;
        QTest::newRow("table only") << QString() << QStringLiteral("a.db") << false;
        QTest::newRow("both") << QStringLiteral("a.exe") << QStringLiteral("a.db") << true;
    }
    void ScanNeedsBothPaths() {
        QFETCH(QString, executable);
        QFETCH(QString, table);
        QFETCH(bool, enabled);
        TScriptedFiles files;
        TScanForm form(files, {});
        QTest::keyClicks(form.ExecutableNameEdit(), executable);
        QTest::keyClicks(form.TableNameEdit(), table);
        QCOMPARE(form.ScanButton()->isEnabled(), enabled);
        form.ExecutableNameEdit()->clear();
        QVERIFY(!form.ScanButton()->isEnabled());
    }

    void BrowsingFillsTheEdits() {
        TScriptedFiles files;
        TScanForm form(files, {});
        files.Answers = {std::string("/apps/App.exe"), std::nullopt, std::string("/tables/new.db")};
        form.BrowseSourceButton()->click();
        QCOMPARE(form.ExecutableNameEdit()->text(), QStringLiteral("/apps/App.exe"));
        QCOMPARE(files.Filters.at(0), std::string("Delphi Executables|*.exe"));
        QVERIFY(!form.ScanButton()->isEnabled());

        form.BrowseTableButton()->click(); // cancelled: nothing changes
        QCOMPARE(form.TableNameEdit()->text(), QString());
        QCOMPARE(form.TableName, std::string());

        form.BrowseTableButton()->click();
        QCOMPARE(form.TableNameEdit()->text(), QStringLiteral("/tables/new.db"));
        QCOMPARE(form.TableName, std::string("/tables/new.db"));
        QCOMPARE(files.Filters.at(2), std::string("Paradox Tables|*.db"));
        QVERIFY(files.OverwriteConfirmed.at(1));
        QVERIFY(form.ScanButton()->isEnabled());

        // A path typed by hand reaches TableName only when Scan is pressed.
        form.TableNameEdit()->setText(QStringLiteral("/tables/typed.db"));
        QCOMPARE(form.TableName, std::string("/tables/new.db"));
    }

    // Scanning a file that is no executable: the reader's error is shown, and the dialog closes
    // with OK leaving a table with only the version stamp record.
    void ScanningANonExecutable() {
        QTemporaryDir folder;
        TScriptedFiles files;
        TProgressLog progress;
        TScanForm form(files, progress.Callbacks());
        const QString table = folder.filePath(QStringLiteral("new.db"));
        form.ExecutableNameEdit()->setText(WriteTextFile(folder, QStringLiteral("notes.txt")));
        form.TableNameEdit()->setText(table);
        TModalAnswerer answerer;
        answerer.Then([](QWidget* dialog) {
            QTest::keyClick(static_cast<TScanForm*>(dialog)->TableNameEdit(), Qt::Key_Return);
        });
        answerer.ThenMessageBox(QMessageBox::Ok);
        QCOMPARE(form.exec(), int(QDialog::Accepted));
        QCOMPARE(answerer.Handled(), 2);
        QCOMPARE(answerer.Titles().at(0), QStringLiteral("Kelvara"));
        QCOMPARE(form.TableName, table.toStdString());
        std::string property;
        QCOMPARE(RecordCount(table, &property), 1);
        QVERIFY(property.rfind(" - ", 0) == 0); // an empty version label
        QCOMPARE(files.BusyOn, 1);
        QCOMPARE(files.BusyOff, 1);
        QVERIFY(!progress.Starts.empty());
        QCOMPARE(progress.Starts.back(), std::make_pair(0, std::string()));
    }

    // A table that cannot be created: the engine's message, no scan, OK all the same, and
    // TableName keeps its earlier value.
    void TableThatCannotBeCreated() {
        QTemporaryDir folder;
        TScriptedFiles files;
        TProgressLog progress;
        TScanForm form(files, progress.Callbacks());
        form.ExecutableNameEdit()->setText(WriteTextFile(folder, QStringLiteral("notes.txt")));
        form.TableNameEdit()->setText(folder.filePath(QStringLiteral("missing/folder/new.db")));
        TModalAnswerer answerer;
        answerer.Then(
            [](QWidget* dialog) { static_cast<TScanForm*>(dialog)->ScanButton()->click(); });
        answerer.ThenMessageBox(QMessageBox::Ok);
        QCOMPARE(form.exec(), int(QDialog::Accepted));
        QCOMPARE(answerer.Handled(), 2);
        QVERIFY(!answerer.Texts().at(0).isEmpty());
        QCOMPARE(form.TableName, std::string());
        QVERIFY(progress.Starts.empty());
        QCOMPARE(files.BusyOff, 1);
    }

    void ExistingTableIsReplaced() {
        QTemporaryDir folder;
        TScriptedFiles files;
        const QString table = folder.filePath(QStringLiteral("new.db"));
        const QString notes = WriteTextFile(folder, QStringLiteral("notes.txt"));
        for (int round = 0; round < 2; ++round) {
            TScanForm form(files, {});
            form.ExecutableNameEdit()->setText(notes);
            form.TableNameEdit()->setText(table);
            form.VersionEdit()->setText(QStringLiteral("48.%1").arg(round));
            TModalAnswerer answerer;
            answerer.Then(
                [](QWidget* dialog) { static_cast<TScanForm*>(dialog)->ScanButton()->click(); });
            answerer.ThenMessageBox(QMessageBox::Ok);
            QCOMPARE(form.exec(), int(QDialog::Accepted));
        }
        std::string property;
        QCOMPARE(RecordCount(table, &property), 1);
        QVERIFY(property.rfind("48.1 - ", 0) == 0);
    }

    void CancelCreatesNothing() {
        QTemporaryDir folder;
        TScriptedFiles files;
        TScanForm form(files, {});
        const QString table = folder.filePath(QStringLiteral("new.db"));
        form.ExecutableNameEdit()->setText(QStringLiteral("x.exe"));
        form.TableNameEdit()->setText(table);
        TModalAnswerer answerer;
        answerer.Then(
            [](QWidget* dialog) { static_cast<TScanForm*>(dialog)->CancelButton()->click(); });
        QCOMPARE(form.exec(), int(QDialog::Rejected));
        QVERIFY(!QFileInfo::exists(table));
    }

    // During the scan Scan is disabled and Cancel is ignored; the dialog ends with OK.
    void CancelDuringTheScanIsIgnored() {
        const QString exe = QStringLiteral(KELVARA_TEST_SOURCE_DIR "/fixtures/scan/app-i686.exe");
        if (!QFileInfo::exists(exe)) {
            QSKIP("the scanner's fixture executable is missing");
        }
        QTemporaryDir folder;
        TScriptedFiles files;
        TScanForm* running = nullptr;
        int steps = 0;
        bool disabledDuringScan = true;
        TProgressCallbacks progress{{}, [&] {
                                        ++steps;
                                        disabledDuringScan = disabledDuringScan &&
                                                             !running->ScanButton()->isEnabled();
                                        running->CancelButton()->click();
                                        running->close();
                                    }};
        TScanForm form(files, progress);
        running = &form;
        const QString table = folder.filePath(QStringLiteral("app.db"));
        form.ExecutableNameEdit()->setText(exe);
        form.TableNameEdit()->setText(table);
        TModalAnswerer answerer;
        answerer.Then(
            [](QWidget* dialog) { static_cast<TScanForm*>(dialog)->ScanButton()->click(); });
        QCOMPARE(form.exec(), int(QDialog::Accepted));
        QVERIFY(steps > 0);
        QVERIFY(disabledDuringScan);
        QVERIFY(RecordCount(table) > 1);
    }
};
KELVARA_QT_TEST(TScanFormTest);

#include "scan_form_test.moc"

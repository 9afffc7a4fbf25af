#include "dialogs/scan_form.h"

#include "components/command_guard.h"
#include "components/qt_text.h"
#include "engine/table.h"
#include "scan/language_scanner.h"
#include "store/create_db.h"
#include "store/user_interaction.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kelvara {
namespace {

constexpr int kClientWidth = 361;
constexpr int kClientHeight = 123;

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setGeometry(geometry);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, QRect geometry) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(geometry);
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, QRect geometry) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    return button;
}

// Restores the default mouse cursor when the scan ends, however it ends.
class TScanCursor {
public:
    explicit TScanCursor(TUserInteraction& user) : FUser(user) { FUser.SetBusyCursor(true); }
    ~TScanCursor() { FUser.SetBusyCursor(false); }
    TScanCursor(const TScanCursor&) = delete;
    TScanCursor& operator=(const TScanCursor&) = delete;

private:
    TUserInteraction& FUser;
};

} // namespace

TScanForm::TScanForm(TUserInteraction& user, TProgressCallbacks progress, QWidget* parent)
    : QDialog(parent), FUser(user), FProgress(std::move(progress)) {
    setObjectName(QStringLiteral("ScanForm"));
    setWindowTitle(QStringLiteral("String Scanner"));
    setFont(DefaultDisplayFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    // The labels are right-aligned against their edits and centred on the edit's line. Each
    // reaches to the dialog's left edge, so that a display font wider than the design's still
    // shows the whole text ending where the design puts it.
    FExecutableLabel =
        MakeLabel(this, "ExecutableLabel", QStringLiteral("Delphi Executable to Scan:"),
                  QRect(0, 8, 133, 21));
    FExecutableNameEdit = MakeEdit(this, "ExecutableNameEdit", QRect(140, 8, 193, 21));
    FBrowseSourceButton =
        MakeButton(this, "BrowseSourceButton", QStringLiteral("..."), QRect(332, 8, 21, 21));
    FLanguageTableLabel = MakeLabel(this, "LanguageTableLabel",
                                    QStringLiteral("Destination Table:"), QRect(0, 36, 134, 21));
    FTableNameEdit = MakeEdit(this, "TableNameEdit", QRect(140, 36, 193, 21));
    FBrowseTableButton =
        MakeButton(this, "BrowseTableButton", QStringLiteral("..."), QRect(332, 36, 21, 21));
    FLanguageVersionLabel = MakeLabel(this, "LanguageVersionLabel",
                                      QStringLiteral("Version Label:"), QRect(0, 64, 133, 21));
    FVersionEdit = MakeEdit(this, "VersionEdit", QRect(140, 64, 213, 21));
    FScanButton = MakeButton(this, "ScanButton", QStringLiteral("&Scan"), QRect(176, 92, 85, 25));
    FScanButton->setDefault(true);
    FScanButton->setEnabled(false);
    FCancelButton =
        MakeButton(this, "CancelButton", QStringLiteral("&Cancel"), QRect(268, 92, 85, 25));

    setTabOrder(FExecutableNameEdit, FBrowseSourceButton);
    setTabOrder(FBrowseSourceButton, FTableNameEdit);
    setTabOrder(FTableNameEdit, FBrowseTableButton);
    setTabOrder(FBrowseTableButton, FVersionEdit);
    setTabOrder(FVersionEdit, FScanButton);
    setTabOrder(FScanButton, FCancelButton);
    FExecutableNameEdit->setFocus();

    connect(FExecutableNameEdit, &QLineEdit::textChanged, this, &TScanForm::EditBoxChange);
    connect(FTableNameEdit, &QLineEdit::textChanged, this, &TScanForm::EditBoxChange);
    connect(FBrowseSourceButton, &QPushButton::clicked, this,
            [this] { RunCommand(this, [this] { BrowseSourceButtonClick(); }); });
    connect(FBrowseTableButton, &QPushButton::clicked, this,
            [this] { RunCommand(this, [this] { BrowseTableButtonClick(); }); });
    connect(FScanButton, &QPushButton::clicked, this, &TScanForm::ScanButtonClick);
    connect(FCancelButton, &QPushButton::clicked, this, &TScanForm::reject);
}

void TScanForm::EditBoxChange() {
    FScanButton->setEnabled(!FScanning && !FExecutableNameEdit->text().isEmpty() &&
                            !FTableNameEdit->text().isEmpty());
}

void TScanForm::BrowseSourceButtonClick() {
    TOpenFileRequest request;
    request.Title = "Open";
    request.Filter = TFileFilter{"Delphi Executables|*.exe", 1};
    if (const auto chosen = FUser.ChooseFileToOpen(request)) {
        FExecutableNameEdit->setText(ToQString(*chosen));
        EditBoxChange();
    }
}

void TScanForm::BrowseTableButtonClick() {
    TSaveFileRequest request;
    request.Title = "Save As";
    request.Filter = TFileFilter{"Paradox Tables|*.db", 1};
    request.ConfirmOverwrite = true;
    if (const auto chosen = FUser.ChooseFileToSave(request)) {
        FTableNameEdit->setText(ToQString(*chosen));
        EditBoxChange();
        TableName = ToUtf8(FTableNameEdit->text());
    }
}

void TScanForm::ScanButtonClick() {
    if (FScanning || !FScanButton->isEnabled()) {
        return;
    }
    FScanning = true;
    EditBoxChange();
    // A failure is shown here, inside the dialog's modal loop; the dialog closes with OK all
    // the same, and the main window opens what the scan wrote.
    RunCommand(this, [this] { Scan(); });
    FScanning = false;
    done(QDialog::Accepted);
}

void TScanForm::Scan() {
    TScanCursor cursor(FUser);
    TTable table;
    const std::string path = ToUtf8(FTableNameEdit->text());
    CreateLanguageTable("", path);
    table.SetDatabaseName("");
    table.SetTableName(path);
    table.SetReadOnly(false);
    table.SetExclusive(true);
    table.Open();
    TableName = path;

    TLanguageScanner scanner;
    scanner.SetTable(&table);
    scanner.SetExeName(ToUtf8(FExecutableNameEdit->text()));
    scanner.SetVersionLabel(ToUtf8(FVersionEdit->text()));
    scanner.SetOnProgressStart(FProgress.Start);
    scanner.SetOnProgressStep(FProgress.Step);
    scanner.Scan();
}

void TScanForm::reject() {
    if (FScanning) {
        return;
    }
    QDialog::reject();
}

void TScanForm::closeEvent(QCloseEvent* event) {
    if (FScanning) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

} // namespace kelvara

#pragma once
// The scan dialog TScanForm ("String Scanner"): the user names an executable, the file of the new
// language table and a version label, and presses Scan. The dialog creates the empty language
// table, opens it exclusively, runs the string extractor over the executable, and closes with OK,
// also when a step failed (the failure is shown first). Cancel before a scan ends it with the
// cancel result and creates nothing.
//
// While the scan runs, Scan is disabled, and Cancel and closing the dialog are ignored: the
// dialog closes with OK when the scan ends.

#include <QDialog>
#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kelvara {

class TUserInteraction;

// The main window's progress display, handed to long loops.
struct TProgressCallbacks {
    std::function<void(int maximum, const std::string& caption)> Start;
    std::function<void()> Step;
};

class TScanForm : public QDialog {
    Q_OBJECT
public:
    // `user` chooses the files (and must outlive the dialog).
    TScanForm(TUserInteraction& user, TProgressCallbacks progress, QWidget* parent = nullptr);

    // The path of the table the scan created; read by the main window after OK.
    std::string TableName;

    bool Scanning() const { return FScanning; }

    QLineEdit* ExecutableNameEdit() const { return FExecutableNameEdit; }
    QLineEdit* TableNameEdit() const { return FTableNameEdit; }
    QLineEdit* VersionEdit() const { return FVersionEdit; }
    QPushButton* BrowseSourceButton() const { return FBrowseSourceButton; }
    QPushButton* BrowseTableButton() const { return FBrowseTableButton; }
    QPushButton* ScanButton() const { return FScanButton; }
    QPushButton* CancelButton() const { return FCancelButton; }

    void EditBoxChange();
    void BrowseSourceButtonClick();
    void BrowseTableButtonClick();
    void ScanButtonClick();

    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Scan();

    TUserInteraction& FUser;
    TProgressCallbacks FProgress;
    bool FScanning = false;

    QLabel* FExecutableLabel;
    QLineEdit* FExecutableNameEdit;
    QPushButton* FBrowseSourceButton;
    QLabel* FLanguageTableLabel;
    QLineEdit* FTableNameEdit;
    QPushButton* FBrowseTableButton;
    QLabel* FLanguageVersionLabel;
    QLineEdit* FVersionEdit;
    QPushButton* FScanButton;
    QPushButton* FCancelButton;
};

} // namespace kelvara

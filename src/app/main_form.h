#pragma once
// TMainForm: the application's main window over the one open language table of the data module.
//
// Menu, tool bar, the grid EditGrid in Panel1, and the status bar with seven panels and the
// progress bar in panel 5. Every command runs through one wrapper that shows what escapes it in
// the "Kelvara" error box. While a long operation runs (ProgressStart .. ProgressStart(0, ""), or
// a command that runs a scan), the commands that would open, close or replace the table are
// disabled and closing the window is deferred until the run ends: the loop's pending-event
// processing must not free handles the loop still uses.
//
// The data module and the user interaction must outlive the window.

#include "dialogs/scan_form.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QAction;
class QFrame;
class QMenu;
class QPrinter;
class QToolBar;
class QToolButton;

namespace kelvara {

class TDMLanguage;
class TEditGrid;
class TLanguageGridModel;
class TQtUserInteraction;
class TStatusPanels;
class TStepProgressBar;
class TTable;

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // `parameters`: the command-line parameters without the program name.
    TMainForm(TDMLanguage& data, TQtUserInteraction& user, const QStringList& parameters,
              QWidget* parent = nullptr);
    ~TMainForm() override;

    bool MaintainerMode() const { return FMaintainerMode; }
    bool FirstPaintDone() const { return FFirstPaintDone; }
    const std::string& CurrentLanguage() const { return FCurrentLanguage; }

    // Brings menu, tool bar, caption, grid and column widths in line with whether a table is open.
    void RefreshState();
    // Refits the widths of grid columns 4 and 5 to the grid.
    void GridResize();
    // Field write access and the maintainer-only commands.
    void ApplyFieldAccess();

    // Starts (maximum > 0 or a caption) or ends (0, "") a progress run.
    void ProgressStart(int maximum, const std::string& caption);
    // Advances the bar by one step and processes pending events.
    void ProgressStep();
    TProgressCallbacks ProgressCallbacks();
    // True while a progress run or a long command is on.
    bool ProgressRunning() const;

    // Runs `handler` when `action` is triggered, through the command wrapper. An action without a
    // handler stays disabled. Commands whose `lockedDuringRun` is true are disabled during a run.
    void BindCommand(QAction* action, std::function<void()> handler, bool lockedDuringRun = true);

    // The window's controls, by their names.
    QAction* Action(const QString& name) const;
    QToolButton* ToolButton(const QString& name) const;
    TEditGrid* EditGrid() const { return FEditGrid; }
    TLanguageGridModel* GridModel() const { return FGridModel.get(); }
    TStatusPanels* StatusBar() const { return FStatusBar; }
    TStepProgressBar* ProgressBar() const { return FProgressBar; }
    QToolBar* ToolBar() const { return FToolBar; }
    QPrinter& Printer();

    // The manual shipped beside the program.
    static QString ManualPath();

    // File and Help commands.
    void NewProjectMenuItemClick();
    void OpenMenuItemClick();
    void SaveMenuItemClick();
    void CloseMenuItemClick();
    void RevertMenuItemClick();
    void BackupMenuItemClick();
    void PrintSetupClick();
    void ExitMenuItemClick();
    void ContentsMenuItemClick();
    // Edit, Select Language.
    void SelectLanguageMenuItemClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    class TLongRun;

    void FormCreate(const QStringList& parameters);
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    QAction* MakeAction(const char* name, const QString& caption, const QKeySequence& shortcut = {},
                        const QString& icon = {}, const QString& hint = {});
    void RunMainCommand(QAction* action);
    void UpdateCommandAvailability();
    void EndOfRun();
    bool TableOpen() const;
    TTable& MasterLang() const;

    TDMLanguage& FData;
    TQtUserInteraction& FUser;
    bool FMaintainerMode = false;
    bool FFirstPaintDone = false;
    std::string FCurrentLanguage;

    std::map<QString, QAction*> FActions;
    struct TBinding {
        std::function<void()> Handler;
        bool LockedDuringRun = true;
    };
    std::map<QAction*, TBinding> FBindings;
    // Actions enabled only while a table is open.
    std::vector<QAction*> FTableActions;

    QToolBar* FToolBar = nullptr;
    QFrame* FPanel1 = nullptr;
    TEditGrid* FEditGrid = nullptr;
    std::unique_ptr<TLanguageGridModel> FGridModel;
    TStatusPanels* FStatusBar = nullptr;
    TStepProgressBar* FProgressBar = nullptr;
    std::unique_ptr<QPrinter> FPrinter;

    int FLongRuns = 0;
    bool FProgressActive = false;
    bool FCloseDeferred = false;
};

} // namespace kelvara

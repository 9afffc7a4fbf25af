#include "app/main_form.h"

#include "app/edit_grid.h"
#include "app/language_grid_model.h"
#include "app/main_window_rules.h"
#include "components/command_guard.h"
#include "components/qt_text.h"
#include "components/qt_user_interaction.h"
#include "components/status_panels.h"
#include "components/step_progress_bar.h"
#include "dialogs/language_select_form.h"
#include "engine/table.h"
#include "store/data_module.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QPageSetupDialog>
#include <QPrinter>
#include <QScreen>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <stdexcept>

// Resources of a static library are registered by hand.
static void InitIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace kelvara {
namespace {

const QString kCaption = QStringLiteral("Pelora Kelvara");
constexpr int kDesignClientWidth = 679;
constexpr int kDesignClientHeight = 362;
constexpr int kToolButtonSize = 25;

// The grid's six columns: default widths.
constexpr TGridColumnWidths kColumnWidths = {40, 125, 125, 114, 210, 238};

// Status panels: width and whether the panel has a bevel.
struct TPanelSpec {
    int Width;
    bool Bevel;
};
constexpr std::array<TPanelSpec, 7> kPanels = {
    TPanelSpec{150, true}, {85, true},   {150, true}, {100, true},
    {100, true},           {200, false}, {50, false}};
constexpr int kProgressPanel = 5;
constexpr int kProgressCaptionPanel = 4;

} // namespace

// Marks a command that runs a long loop; closing the window waits until it ends.
class TMainForm::TLongRun {
public:
    explicit TLongRun(TMainForm& form) : FForm(form) {
        ++FForm.FLongRuns;
        FForm.UpdateCommandAvailability();
    }
    ~TLongRun() {
        --FForm.FLongRuns;
        FForm.EndOfRun();
    }
    TLongRun(const TLongRun&) = delete;
    TLongRun& operator=(const TLongRun&) = delete;

private:
    TMainForm& FForm;
};

TMainForm::TMainForm(TDMLanguage& data, TQtUserInteraction& user, const QStringList& parameters,
                     QWidget* parent)
    : QMainWindow(parent), FData(data), FUser(user) {
    InitIconResources();
    setObjectName(QStringLiteral("MainForm"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/kelvara.svg")));
    setFont(DefaultDisplayFont());
    FUser.SetWindow(this);
    CreateActions();
    CreateMenus();
    CreateToolBar();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    FPanel1 = new QFrame(central);
    FPanel1->setObjectName(QStringLiteral("Panel1"));
    FPanel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    FPanel1->setLineWidth(1);
    auto* panelLayout = new QVBoxLayout(FPanel1);
    panelLayout->setContentsMargins(1, 1, 1, 1);
    FEditGrid = new TEditGrid(FPanel1);
    panelLayout->addWidget(FEditGrid);
    FGridModel = std::make_unique<TLanguageGridModel>(FData.MasterLang(), &FUser);
    FEditGrid->SetGridModel(FGridModel.get());
    for (int column = 0; column < TLanguageGridModel::kColumnCount; ++column) {
        FEditGrid->setColumnWidth(column, kColumnWidths[static_cast<std::size_t>(column)]);
    }
    FEditGrid->hide();
    connect(FEditGrid, &TEditGrid::GridEntered, this,
            [this] { FEditGrid->SetSelectedColumn(TLanguageGridModel::kLanguageColumn); });
    connect(FEditGrid, &TEditGrid::EllipsisClicked, this, [this] {
        QAction* editor = Action(QStringLiteral("MultilineEditMenuItem"));
        if (editor != nullptr && editor->isEnabled()) {
            editor->trigger();
        }
    });
    layout->addWidget(FPanel1, 1);
    CreateStatusBar();
    layout->addWidget(FStatusBar);
    setCentralWidget(central);

    resize(kDesignClientWidth, kDesignClientHeight + menuBar()->sizeHint().height());
    if (const QScreen* screen = this->screen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    FormCreate(parameters);
}

TMainForm::~TMainForm() {
    FUser.SetWindow(nullptr);
    // The view goes before the model it shows.
    delete FEditGrid;
    FEditGrid = nullptr;
}

void TMainForm::FormCreate(const QStringList& parameters) {
    FMaintainerMode = false;
    FFirstPaintDone = false;
    FCurrentLanguage = "English";
    std::vector<std::string> texts;
    for (const QString& parameter : parameters) {
        texts.push_back(ToUtf8(parameter));
    }
    FMaintainerMode = HasMaintainerSwitch(texts);
    RefreshState();
}

QAction* TMainForm::MakeAction(const char* name, const QString& caption,
                               const QKeySequence& shortcut, const QString& icon,
                               const QString& hint) {
    auto* action = new QAction(caption, this);
    const QString objectName = QString::fromLatin1(name);
    action->setObjectName(objectName);
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    if (!icon.isEmpty()) {
        action->setIcon(QIcon(QStringLiteral(":/icons/") + icon + QStringLiteral(".svg")));
    }
    if (!hint.isEmpty()) {
        action->setToolTip(hint);
    }
    action->setEnabled(false);
    connect(action, &QAction::triggered, this, [this, action] { RunMainCommand(action); });
    FActions[objectName] = action;
    return action;
}

void TMainForm::CreateActions() {
    using K = QKeySequence;
    MakeAction("NewProjectMenuItem", QStringLiteral("&New"), K(Qt::CTRL | Qt::Key_N),
               QStringLiteral("new"), QStringLiteral("Create New Table"));
    MakeAction("OpenMenuItem", QStringLiteral("&Open"), K(Qt::CTRL | Qt::Key_O),
               QStringLiteral("open"), QStringLiteral("Open Table"));
    MakeAction("SaveMenuItem", QStringLiteral("&Save"), K(Qt::CTRL | Qt::Key_S),
               QStringLiteral("save"), QStringLiteral("Save Table"));
    MakeAction("CloseMenuItem", QStringLiteral("&Close"));
    MakeAction("ExportMenuItem", QStringLiteral("Export"));
    MakeAction("PrintMenu", QStringLiteral("&Print"), K(Qt::CTRL | Qt::Key_P),
               QStringLiteral("print"));
    MakeAction("PrintSetup", QStringLiteral("Print S&etup"));
    MakeAction("RevertMenuItem", QStringLiteral("&Revert"));
    MakeAction("BackupMenuItem", QStringLiteral("&Backup"));
    MakeAction("ExitMenuItem", QStringLiteral("E&xit"));

    MakeAction("SelectLanguageMenuItem", QStringLiteral("&Select Language"),
               K(Qt::CTRL | Qt::Key_L), QStringLiteral("language"),
               QStringLiteral("Select Language"));
    MakeAction("CutMenuItem", QStringLiteral("Cut"), K(Qt::CTRL | Qt::Key_X), QStringLiteral("cut"),
               QStringLiteral("Cut Text"));
    MakeAction("CopyMenuItem", QStringLiteral("Copy"), K(Qt::CTRL | Qt::Key_C),
               QStringLiteral("copy"), QStringLiteral("Copy Text"));
    MakeAction("PasteMenuItem", QStringLiteral("Paste"), K(Qt::CTRL | Qt::Key_V),
               QStringLiteral("paste"), QStringLiteral("Paste Text"));
    MakeAction("FontMenuItem", QStringLiteral("Font..."));
    MakeAction("MultilineEditMenuItem", QStringLiteral("&Multiple Line Editor"), K(Qt::Key_F2));
    MakeAction("CopyDefaultMenuItem", QStringLiteral("Copy &Default Text"), K(Qt::Key_F5));
    MakeAction("RestoreStringMenuItem", QStringLiteral("&Restore String"), K(Qt::Key_F6));
    MakeAction("FindMenuItem", QStringLiteral("&Find"), K(Qt::CTRL | Qt::Key_F),
               QStringLiteral("find"), QStringLiteral("Find"));
    MakeAction("FindAgainMenuItem", QStringLiteral("Find &Again"), K(Qt::Key_F3));
    MakeAction("ReplaceMenuItem", QStringLiteral("Replace"), K(Qt::CTRL | Qt::Key_R),
               QStringLiteral("replace"), QStringLiteral("Replace"));
    MakeAction("ReplaceAgainMenuItem", QStringLiteral("Replace Again"), K(Qt::Key_F4));

    MakeAction("MergeMenuItem", QStringLiteral("&Merge"));
    MakeAction("AddRecordMenuItem", QStringLiteral("&Add Record"));
    MakeAction("ExtractMessagesMenuItem", QStringLiteral("&Extract Messages"));
    MakeAction("AppendMessagesMenuItem", QStringLiteral("A&ppend Messages"));

    MakeAction("ContentsMenuItem", QStringLiteral("&Contents"), K(Qt::Key_F1),
               QStringLiteral("contents"));
    MakeAction("AboutMenuItem", QStringLiteral("&About"));

    for (const char* name : {"SaveMenuItem",           "CloseMenuItem",
                             "ExportMenuItem",         "PrintMenu",
                             "RevertMenuItem",         "BackupMenuItem",
                             "SelectLanguageMenuItem", "CutMenuItem",
                             "CopyMenuItem",           "PasteMenuItem",
                             "MultilineEditMenuItem",  "CopyDefaultMenuItem",
                             "RestoreStringMenuItem",  "FindMenuItem",
                             "FindAgainMenuItem",      "ReplaceMenuItem",
                             "ReplaceAgainMenuItem",   "AddRecordMenuItem",
                             "MergeMenuItem",          "ExtractMessagesMenuItem",
                             "AppendMessagesMenuItem"}) {
        FTableActions.push_back(Action(QString::fromLatin1(name)));
    }

    const auto bind = [this](const char* name, void (TMainForm::*command)(), bool locked) {
        BindCommand(
            Action(QString::fromLatin1(name)), [this, command] { (this->*command)(); }, locked);
    };
    bind("NewProjectMenuItem", &TMainForm::NewProjectMenuItemClick, true);
    bind("OpenMenuItem", &TMainForm::OpenMenuItemClick, true);
    bind("SaveMenuItem", &TMainForm::SaveMenuItemClick, true);
    bind("CloseMenuItem", &TMainForm::CloseMenuItemClick, true);
    bind("RevertMenuItem", &TMainForm::RevertMenuItemClick, true);
    bind("BackupMenuItem", &TMainForm::BackupMenuItemClick, true);
    bind("PrintSetup", &TMainForm::PrintSetupClick, false);
    bind("ExitMenuItem", &TMainForm::ExitMenuItemClick, false);
    bind("SelectLanguageMenuItem", &TMainForm::SelectLanguageMenuItemClick, true);
    bind("ContentsMenuItem", &TMainForm::ContentsMenuItemClick, false);
}

void TMainForm::CreateMenus() {
    const auto add = [this](QMenu* menu, std::initializer_list<const char*> names) {
        for (const char* name : names) {
            if (name == nullptr) {
                menu->addSeparator();
            } else {
                menu->addAction(Action(QString::fromLatin1(name)));
            }
        }
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("FileMenu"));
    add(file, {"NewProjectMenuItem", "OpenMenuItem", "SaveMenuItem", "CloseMenuItem", nullptr,
               "ExportMenuItem", nullptr, "PrintMenu", "PrintSetup", nullptr, "RevertMenuItem",
               "BackupMenuItem", nullptr, "ExitMenuItem"});
    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("EditMenu"));
    add(edit, {"SelectLanguageMenuItem", nullptr, "CutMenuItem", "CopyMenuItem", "PasteMenuItem",
               nullptr, "FontMenuItem", nullptr, "MultilineEditMenuItem", "CopyDefaultMenuItem",
               "RestoreStringMenuItem", nullptr, "FindMenuItem", "FindAgainMenuItem",
               "ReplaceMenuItem", "ReplaceAgainMenuItem"});
    QMenu* utilities = menuBar()->addMenu(QStringLiteral("&Utilities"));
    utilities->setObjectName(QStringLiteral("UtilitiesMenu"));
    add(utilities, {"MergeMenuItem", "AddRecordMenuItem", "ExtractMessagesMenuItem",
                    "AppendMessagesMenuItem"});
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("HelpMenu"));
    add(help, {"ContentsMenuItem", nullptr, "AboutMenuItem"});
}

void TMainForm::CreateToolBar() {
    FToolBar = addToolBar(QStringLiteral("Tools"));
    FToolBar->setObjectName(QStringLiteral("ToolBar"));
    FToolBar->setMovable(false);
    FToolBar->setFloatable(false);
    FToolBar->setIconSize(QSize(16, 16));
    FToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    FToolBar->toggleViewAction()->setVisible(false);
    setContextMenuPolicy(Qt::NoContextMenu);
    const auto add = [this](const char* action, const char* button) {
        QAction* command = Action(QString::fromLatin1(action));
        FToolBar->addAction(command);
        auto* tool = qobject_cast<QToolButton*>(FToolBar->widgetForAction(command));
        tool->setObjectName(QString::fromLatin1(button));
        tool->setAutoRaise(true);
        tool->setFixedSize(kToolButtonSize, kToolButtonSize);
    };
    add("NewProjectMenuItem", "NewBtn");
    add("OpenMenuItem", "OpenBtn");
    add("SaveMenuItem", "SaveBtn");
    FToolBar->addSeparator();
    add("CutMenuItem", "CutBtn");
    add("CopyMenuItem", "CopyBtn");
    add("PasteMenuItem", "PasteBtn");
    FToolBar->addSeparator();
    add("SelectLanguageMenuItem", "LanguageBtn");
    FToolBar->addSeparator();
    add("FindMenuItem", "FindBtn");
    add("ReplaceMenuItem", "ReplaceBtn");
}

void TMainForm::CreateStatusBar() {
    FStatusBar = new TStatusPanels(this);
    FStatusBar->setObjectName(QStringLiteral("StatusBar"));
    for (const TPanelSpec& panel : kPanels) {
        FStatusBar->AddPanel(panel.Width, panel.Bevel);
    }
    FStatusBar->SetPanelText(0, "Button Display Width 85");
    FStatusBar->SetPanelText(2, "Button Display Width 100");
    FProgressBar = new TStepProgressBar(FStatusBar);
    FProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    FProgressBar->StartSteps(0);
    FStatusBar->SetPanelContent(kProgressPanel, FProgressBar);
}

QAction* TMainForm::Action(const QString& name) const {
    const auto found = FActions.find(name);
    return found == FActions.end() ? nullptr : found->second;
}

QToolButton* TMainForm::ToolButton(const QString& name) const {
    return FToolBar->findChild<QToolButton*>(name);
}

QPrinter& TMainForm::Printer() {
    if (!FPrinter) {
        FPrinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    }
    return *FPrinter;
}

QString TMainForm::ManualPath() {
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QStringLiteral("manual/index.html"));
}

void TMainForm::BindCommand(QAction* action, std::function<void()> handler, bool lockedDuringRun) {
    if (action == nullptr) {
        return;
    }
    FBindings[action] = TBinding{std::move(handler), lockedDuringRun};
    UpdateCommandAvailability();
}

void TMainForm::RunMainCommand(QAction* action) {
    const auto binding = FBindings.find(action);
    if (binding == FBindings.end() || !action->isEnabled() || !action->isVisible()) {
        return;
    }
    if (binding->second.LockedDuringRun && ProgressRunning()) {
        QApplication::beep();
        return;
    }
    // What the user typed into the current cell belongs to the record before any command runs.
    FEditGrid->PostEditorText();
    const std::function<void()> handler = binding->second.Handler;
    RunCommand(this, handler);
}

bool TMainForm::TableOpen() const {
    return FData.MasterLang().Active();
}

TTable& TMainForm::MasterLang() const {
    return FData.MasterLang();
}

void TMainForm::UpdateCommandAvailability() {
    const bool open = TableOpen();
    const bool running = ProgressRunning();
    for (const auto& [name, action] : FActions) {
        const auto binding = FBindings.find(action);
        const bool bound = binding != FBindings.end();
        const bool needsTable =
            std::find(FTableActions.begin(), FTableActions.end(), action) != FTableActions.end();
        bool enabled = bound && (!needsTable || open);
        if (enabled && running && binding->second.LockedDuringRun) {
            enabled = false;
        }
        action->setEnabled(enabled);
    }
}

void TMainForm::RefreshState() {
    const bool open = TableOpen();
    UpdateCommandAvailability();
    FEditGrid->setVisible(open);
    if (open) {
        setWindowTitle(kCaption + QStringLiteral(" - ") + ToQString(MasterLang().TableName()));
        FEditGrid->setFocus();
    } else {
        setWindowTitle(kCaption);
    }
    ApplyFieldAccess();
    GridResize();
}

void TMainForm::ApplyFieldAccess() {
    if (TableOpen()) {
        for (const char* name : {"Form_Name", "Component_Name", "Property_Name", "Native"}) {
            // A table without one of these columns shows that column empty and read-only.
            if (TField* field = MasterLang().FindField(name)) {
                field->SetReadOnly(!FMaintainerMode);
            }
        }
        FEditGrid->ReopenEditor();
    }
    Action(QStringLiteral("NewProjectMenuItem"))->setVisible(FMaintainerMode);
    for (const char* name :
         {"AddRecordMenuItem", "ExtractMessagesMenuItem", "AppendMessagesMenuItem"}) {
        Action(QString::fromLatin1(name))->setVisible(FMaintainerMode);
    }
    // Hidden actions leave their tool buttons' room; the tool bar is one button wider in
    // maintainer mode.
    FToolBar->adjustSize();
}

void TMainForm::GridResize() {
    if (QLayout* layout = FPanel1->layout()) {
        layout->activate();
    }
    TGridColumnWidths widths{};
    for (int column = 0; column < TLanguageGridModel::kColumnCount; ++column) {
        widths[static_cast<std::size_t>(column)] = FEditGrid->columnWidth(column);
    }
    const TGridColumnWidths fitted = FitTextColumnWidths(widths, FEditGrid->width());
    FEditGrid->setColumnWidth(4, fitted[4]);
    FEditGrid->setColumnWidth(5, fitted[5]);
}

void TMainForm::ProgressStart(int maximum, const std::string& caption) {
    FProgressActive = maximum != 0 || !caption.empty();
    FProgressBar->StartSteps(maximum);
    FStatusBar->SetPanelText(kProgressCaptionPanel, caption);
    FStatusBar->repaint();
    if (FProgressActive) {
        UpdateCommandAvailability();
    } else {
        EndOfRun();
    }
}

void TMainForm::ProgressStep() {
    FProgressBar->StepIt();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

TProgressCallbacks TMainForm::ProgressCallbacks() {
    return TProgressCallbacks{
        [this](int maximum, const std::string& caption) { ProgressStart(maximum, caption); },
        [this] { ProgressStep(); }};
}

bool TMainForm::ProgressRunning() const {
    return FLongRuns > 0 || FProgressActive;
}

void TMainForm::EndOfRun() {
    UpdateCommandAvailability();
    if (!ProgressRunning() && FCloseDeferred) {
        FCloseDeferred = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

void TMainForm::NewProjectMenuItemClick() {
    if (!FMaintainerMode || !FData.ConfirmSaveChanges()) {
        return;
    }
    {
        TLongRun run(*this);
        RunCommand(this, [this] {
            TScanForm scan(FUser, ProgressCallbacks(), this);
            if (scan.exec() == QDialog::Accepted) {
                FData.OpenLanguageTable(&MasterLang(), scan.TableName, "");
            }
        });
    }
    RefreshState();
}

void TMainForm::OpenMenuItemClick() {
    if (!FData.ConfirmSaveChanges()) {
        return;
    }
    FData.BrowseAndOpenTable(&MasterLang());
    RefreshState();
}

void TMainForm::SaveMenuItemClick() {
    FData.SaveTable();
}

void TMainForm::CloseMenuItemClick() {
    if (!FData.ConfirmSaveChanges()) {
        return;
    }
    FData.CloseTable();
    RefreshState();
}

void TMainForm::RevertMenuItemClick() {
    FData.RevertTable();
}

void TMainForm::BackupMenuItemClick() {
    TTable& table = MasterLang();
    TBookmark bookmark = table.GetBookmark();
    try {
        FData.BackupTable(&table);
    } catch (...) {
        if (table.BookmarkValid(bookmark)) {
            table.GotoBookmark(bookmark);
        }
        table.FreeBookmark(bookmark);
        throw;
    }
    if (table.BookmarkValid(bookmark)) {
        table.GotoBookmark(bookmark);
    }
    table.FreeBookmark(bookmark);
}

void TMainForm::PrintSetupClick() {
    QPageSetupDialog dialog(&Printer(), this);
    dialog.exec();
}

void TMainForm::ExitMenuItemClick() {
    close();
}

void TMainForm::ContentsMenuItemClick() {
    const QString manual = ManualPath();
    if (!QFileInfo::exists(manual)) {
        throw std::runtime_error("The manual " + ToUtf8(QDir::toNativeSeparators(manual)) +
                                 " is missing");
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(manual))) {
        throw std::runtime_error("No viewer could open the manual " +
                                 ToUtf8(QDir::toNativeSeparators(manual)));
    }
}

void TMainForm::SelectLanguageMenuItemClick() {
    TTable& table = MasterLang();
    TLanguageSelectForm dialog(this);
    if (table.State() == TDataSetState::dsEdit) {
        table.Post();
    }
    dialog.ClearLanguages();
    for (int field = 4; field < table.FieldCount(); ++field) {
        dialog.AddLanguage(table.FieldAt(field).FieldName());
    }
    const bool chosen = dialog.exec() == QDialog::Accepted;
    if (chosen) {
        FCurrentLanguage = dialog.ChosenLanguage();
        FGridModel->SetColumnFieldName(TLanguageGridModel::kLanguageColumn, FCurrentLanguage);
    }
    table.Refresh();
    FEditGrid->ReopenEditor();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (ProgressRunning()) {
        // The running loop still uses the table and its handles; the window closes when it ends.
        FCloseDeferred = true;
        event->ignore();
        return;
    }
    FEditGrid->PostEditorText();
    bool mayClose = false;
    RunCommand(this, [&] { mayClose = FData.ConfirmSaveChanges(); });
    if (mayClose) {
        event->accept();
    } else {
        event->ignore();
    }
}

bool TMainForm::event(QEvent* event) {
    const bool handled = QMainWindow::event(event);
    // A top-level window paints on its update request; the first one maximises the window.
    if (event->type() == QEvent::UpdateRequest && !FFirstPaintDone) {
        FFirstPaintDone = true;
        QTimer::singleShot(0, this, &QWidget::showMaximized);
    }
    return handled;
}

} // namespace kelvara

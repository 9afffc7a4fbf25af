#include "components/qt_user_interaction.h"

#include "components/qt_text.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <vector>

namespace kelvara {
namespace {

const QString kTitle = QStringLiteral("Kelvara");

struct TFilterPair {
    QString Description;
    QString Patterns;
};

std::vector<TFilterPair> SplitFilter(const std::string& filter) {
    const QStringList parts = ToQString(filter).split(QLatin1Char('|'));
    std::vector<TFilterPair> pairs;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        pairs.push_back({parts[i], parts[i + 1]});
    }
    return pairs;
}

QString NameFilter(const TFilterPair& pair) {
    QString patterns = pair.Patterns;
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    return pair.Description + QStringLiteral(" (") + patterns + QLatin1Char(')');
}

// "*.db" gives "db"; a pattern with wildcards in its extension gives nothing.
QString DefaultSuffix(const TFileFilter& filter) {
    const auto pairs = SplitFilter(filter.Filter);
    const int index = filter.FilterIndex - 1;
    if (index < 0 || index >= static_cast<int>(pairs.size())) {
        return {};
    }
    const QString first =
        pairs[static_cast<std::size_t>(index)].Patterns.section(QLatin1Char(';'), 0, 0);
    if (!first.startsWith(QStringLiteral("*."))) {
        return {};
    }
    const QString suffix = first.mid(2);
    if (suffix.isEmpty() || suffix.contains(QLatin1Char('*')) ||
        suffix.contains(QLatin1Char('?'))) {
        return {};
    }
    return suffix;
}

void PrepareDialog(QFileDialog& dialog, const std::string& title, const TFileFilter& filter) {
    dialog.setWindowTitle(ToQString(title));
    dialog.setNameFilters(QtNameFilters(filter.Filter).split(QStringLiteral(";;")));
    const QString selected = QtSelectedFilter(filter);
    if (!selected.isEmpty()) {
        dialog.selectNameFilter(selected);
    }
    dialog.setOption(QFileDialog::ReadOnly, false);
}

std::optional<std::string> ChosenFile(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return ToUtf8(QFileInfo(dialog.selectedFiles().constFirst()).absoluteFilePath());
}

} // namespace

QString MessageBoxText(const std::string& text) {
    QString shown = ToQString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

QString QtNameFilters(const std::string& filter) {
    QStringList filters;
    for (const TFilterPair& pair : SplitFilter(filter)) {
        filters << NameFilter(pair);
    }
    return filters.join(QStringLiteral(";;"));
}

QString QtSelectedFilter(const TFileFilter& filter) {
    const auto pairs = SplitFilter(filter.Filter);
    const int index = filter.FilterIndex - 1;
    if (index < 0 || index >= static_cast<int>(pairs.size())) {
        return {};
    }
    return NameFilter(pairs[static_cast<std::size_t>(index)]);
}

TQtUserInteraction::TQtUserInteraction(QWidget* window) : FWindow(window) {}

TAnswer TQtUserInteraction::AskYesNoCancel(const std::string& text) {
    QMessageBox box(QMessageBox::Question, kTitle, MessageBoxText(text),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, FWindow);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return TAnswer::Yes;
    case QMessageBox::No:
        return TAnswer::No;
    default:
        return TAnswer::Cancel;
    }
}

void TQtUserInteraction::ShowNotice(const std::string& text) {
    QMessageBox box(QMessageBox::Information, kTitle, MessageBoxText(text), QMessageBox::Ok,
                    FWindow);
    box.exec();
}

void TQtUserInteraction::ShowError(const std::string& text) {
    if (FDeferDepth > 0 || FShowing) {
        if (FShownDuringPaint.insert(text).second) {
            FPending.push_back(text);
            ScheduleShowing();
        }
        return;
    }
    QMessageBox box(QMessageBox::Critical, kTitle, MessageBoxText(text), QMessageBox::Ok, FWindow);
    box.exec();
}

void TQtUserInteraction::ScheduleShowing() {
    if (FShowScheduled || FShowing) {
        return;
    }
    FShowScheduled = true;
    QTimer::singleShot(0, this, &TQtUserInteraction::ShowPendingPaintErrors);
}

void TQtUserInteraction::ShowPendingPaintErrors() {
    FShowScheduled = false;
    if (FShowing) {
        return;
    }
    FShowing = true;
    while (!FPending.empty()) {
        const std::string text = FPending.front();
        FPending.pop_front();
        QMessageBox box(QMessageBox::Critical, kTitle, MessageBoxText(text), QMessageBox::Ok,
                        FWindow);
        box.exec();
    }
    FShowing = false;
}

void TQtUserInteraction::ForgetPaintErrors() {
    FShownDuringPaint.clear();
}

std::optional<std::string> TQtUserInteraction::ChooseFileToOpen(const TOpenFileRequest& request) {
    QFileDialog dialog(FWindow);
    PrepareDialog(dialog, request.Title, request.Filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.FileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    return ChosenFile(dialog);
}

std::optional<std::string> TQtUserInteraction::ChooseFileToSave(const TSaveFileRequest& request) {
    QFileDialog dialog(FWindow);
    PrepareDialog(dialog, request.Title, request.Filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(DefaultSuffix(request.Filter));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.ConfirmOverwrite);
    return ChosenFile(dialog);
}

void TQtUserInteraction::SetBusyCursor(bool busy) {
    if (busy == FBusy) {
        return;
    }
    FBusy = busy;
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

TDeferredErrors::TDeferredErrors(TQtUserInteraction* user) : FUser(user) {
    if (FUser != nullptr) {
        ++FUser->FDeferDepth;
    }
}

TDeferredErrors::~TDeferredErrors() {
    if (FUser != nullptr) {
        --FUser->FDeferDepth;
    }
}

} // namespace kelvara

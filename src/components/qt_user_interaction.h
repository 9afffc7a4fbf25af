#pragma once
// The data module's questions, notices and file choices as Qt message boxes and file dialogs.
//
// Errors raised while the grid paints (a cell whose text cannot be shown) must not open a modal
// box from inside painting, where the box's own repaint would ask for the same cell again. Code
// that paints holds a TDeferredErrors scope; errors reported meanwhile are collected and shown
// after the paint, one box at a time, and a message already shown that way is not shown again
// until ForgetPaintErrors (called when the grid is given another table).

#include "store/user_interaction.h"

#include <QObject>
#include <QString>
#include <deque>
#include <set>
#include <string>

class QWidget;

namespace kelvara {

// A text that may use CR as a line break, as shown in a message box.
QString MessageBoxText(const std::string& text);

// A "Description|pattern|..." filter as a QFileDialog name filter list ("Description (pattern)").
QString QtNameFilters(const std::string& filter);
// The name filter selected first (FilterIndex counts from 1); empty when out of range.
QString QtSelectedFilter(const TFileFilter& filter);

class TQtUserInteraction : public QObject, public TUserInteraction {
    Q_OBJECT
public:
    // `window` parents the boxes and dialogs; it may be set later and may be null.
    explicit TQtUserInteraction(QWidget* window = nullptr);

    void SetWindow(QWidget* window) { FWindow = window; }

    TAnswer AskYesNoCancel(const std::string& text) override;
    void ShowNotice(const std::string& text) override;
    void ShowError(const std::string& text) override;
    std::optional<std::string> ChooseFileToOpen(const TOpenFileRequest& request) override;
    std::optional<std::string> ChooseFileToSave(const TSaveFileRequest& request) override;
    void SetBusyCursor(bool busy) override;

    void ForgetPaintErrors();
    // Errors collected during painting that are not yet shown.
    std::size_t PendingPaintErrors() const { return FPending.size(); }

    // Shows the collected errors now (normally done by a queued call after the paint).
    void ShowPendingPaintErrors();

private:
    friend class TDeferredErrors;
    void ScheduleShowing();

    QWidget* FWindow;
    int FDeferDepth = 0;
    bool FShowScheduled = false;
    bool FShowing = false;
    std::deque<std::string> FPending;
    std::set<std::string> FShownDuringPaint;
    bool FBusy = false;
};

// Holds back ShowError of an interaction for its lifetime (painting code). Nests.
class TDeferredErrors {
public:
    explicit TDeferredErrors(TQtUserInteraction* user);
    ~TDeferredErrors();
    TDeferredErrors(const TDeferredErrors&) = delete;
    TDeferredErrors& operator=(const TDeferredErrors&) = delete;

private:
    TQtUserInteraction* FUser;
};

} // namespace kelvara

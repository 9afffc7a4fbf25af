#pragma once
// A progress bar that counts steps of one, the way long loops report their progress.
//
// Unlike QProgressBar, a maximum of 0 shows an idle, empty bar (not Qt's busy animation), and a
// step past the maximum starts the bar again from 0, so a caller that steps more often than it
// announced never gets stuck at a full bar.

#include <QProgressBar>

namespace kelvara {

class TStepProgressBar : public QProgressBar {
    Q_OBJECT
public:
    explicit TStepProgressBar(QWidget* parent = nullptr);

    // Starts a run of `steps` steps at position 0; 0 or less shows the idle, empty bar.
    void StartSteps(int steps);
    // Advances by one step, wrapping to 0 past the maximum.
    void StepIt();

    int Steps() const { return FSteps; }
    int Position() const { return FPosition; }

private:
    void Show();

    int FSteps = 0;
    int FPosition = 0;
};

} // namespace kelvara
